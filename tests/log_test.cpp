#include "base/system.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/Exceptions.h"
#include "platform/platform.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Process.h"

// The log object is created once per process. Tests that need the state
// before its creation run their body in a fresh copy of this program; the
// others share the process's log through LogCapture.

namespace {

bool FileExists(const std::string& path) {
    FILE* fp = std::fopen(path.c_str(), "rb");
    if (fp == nullptr) return false;
    std::fclose(fp);
    return true;
}

// A file name of this process's own in the working directory (relative, so
// that it means the same file natively and under Wine).
std::string OwnFile(const char* what) {
    return std::string("quorpa-log-test-") + what + "-" +
           std::to_string(plat::CurrentProcessId()) + ".log";
}

}  // namespace

TEST(Log, PiecesAndLineEndsPassUnchanged) {
    const struct {
        std::vector<const char*> pieces;
        const char* file;
    } table[] = {
        // A text without a line end leaves the next write on the same line.
        {{"I:InputFile <", "C:\\tmp\\番組.epg", ">\r\n"}, "I:InputFile <C:\\tmp\\番組.epg>\r\n"},
        // Binary: no translation of line ends in either direction.
        {{"R:250 ok\n"}, "R:250 ok\n"},
        {{"S:a\r", "\nS:b\r\r\n"}, "S:a\r\nS:b\r\r\n"},
        // An empty text writes nothing.
        {{"", "I:x\r\n", ""}, "I:x\r\n"},
    };
    for (const auto& row : table) {
        LogCapture capture;
        for (const char* piece : row.pieces) CLogFile::GetInstance(nullptr)->Write(piece);
        EXPECT_EQ(capture.Text(), row.file);
    }
}

TEST(Log, LaterGetInstanceIgnoresItsPath) {
    LogCapture::Path();  // the process's log exists from here on
    CLogFile* first = CLogFile::GetInstance(nullptr);
    const std::string other = OwnFile("other");
    EXPECT_EQ(CLogFile::GetInstance(other.c_str()), first);
    EXPECT_TRUE(first->IsOpen());
    EXPECT_FALSE(FileExists(other));
}

TEST(Log, EveryRunTruncatesTheFile) {
    const std::string path = GetEnvVar("QUORPA_LOG_PATH");
    if (FreshProcessRole() == "write") {
        CLogFile* log = CLogFile::GetInstance(path.c_str());
        log->Write(GetEnvVar("QUORPA_LOG_TEXT").c_str());
        return;
    }
    const std::string file = OwnFile("runs");
    ASSERT_EQ(RunInFreshProcess("write", {{"QUORPA_LOG_PATH", file},
                                          {"QUORPA_LOG_TEXT", "I:first run, a long line\r\n"}}),
              0);
    EXPECT_EQ(ReadWholeFile(file), "I:first run, a long line\r\n");
    ASSERT_EQ(RunInFreshProcess("write", {{"QUORPA_LOG_PATH", file},
                                          {"QUORPA_LOG_TEXT", "I:second\r\n"}}),
              0);
    EXPECT_EQ(ReadWholeFile(file), "I:second\r\n");
    std::remove(file.c_str());
}

TEST(Log, WithoutPathNothingIsWrittenEver) {
    const std::string path = GetEnvVar("QUORPA_LOG_PATH");
    if (FreshProcessRole() == "off") {
        CLogFile* log = CLogFile::GetInstance(nullptr);
        EXPECT_FALSE(log->IsOpen());
        log->Write("I:AplicationInitCompleted\r\n");
        // The start-up's path comes too late: logging stays off.
        EXPECT_EQ(CLogFile::GetInstance(path.c_str()), log);
        EXPECT_FALSE(log->IsOpen());
        return;
    }
    const std::string file = OwnFile("off");
    EXPECT_EQ(RunInFreshProcess("off", {{"QUORPA_LOG_PATH", file}}), 0);
    EXPECT_FALSE(FileExists(file));
}

TEST(Log, UnopenableFileThrowsAndCreatesNoInstance) {
    const std::string path = GetEnvVar("QUORPA_LOG_PATH");
    if (FreshProcessRole() == "unopenable") {
        const std::string missingDir = "no-such-directory-" + path + "/x.log";
        try {
            CLogFile::GetInstance(missingDir.c_str());
            ADD_FAILURE() << "no exception";
        } catch (const CFileIOerror& e) {
            EXPECT_EQ(e.GetErrorNo(), ENOENT);
            EXPECT_STREQ(e.what(), std::strerror(ENOENT));
            EXPECT_EQ(std::string(e.GetLocation()).rfind("base/system.cpp(", 0), 0u)
                << e.GetLocation();
        }
        // Nothing was created: the next call still opens its file.
        CLogFile* log = CLogFile::GetInstance(path.c_str());
        EXPECT_TRUE(log->IsOpen());
        log->Write("I:ok\r\n");
        return;
    }
    const std::string file = OwnFile("retry");
    EXPECT_EQ(RunInFreshProcess("unopenable", {{"QUORPA_LOG_PATH", file}}), 0);
    EXPECT_EQ(ReadWholeFile(file), "I:ok\r\n");
    std::remove(file.c_str());
}

TEST(Log, FailedWriteThrowsWithErrnoText) {
    // A device that is always full: the write fails once it reaches the file.
    const char* full = "/dev/full";
    if (FreshProcessRole() == "full") {
        CLogFile* log = CLogFile::GetInstance(full);
        try {
            log->Write("I:AplicationInitCompleted\r\n");
            ADD_FAILURE() << "no exception";
        } catch (const CFileIOerror& e) {
            EXPECT_EQ(e.GetErrorNo(), ENOSPC);
            EXPECT_STREQ(e.what(), std::strerror(ENOSPC));
        }
        return;
    }
    FILE* probe = std::fopen(full, "wb");
    if (probe == nullptr) GTEST_SKIP() << "no " << full << " on this system";
    std::fclose(probe);
    EXPECT_EQ(RunInFreshProcess("full"), 0);
}
