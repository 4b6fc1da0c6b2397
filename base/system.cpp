// The log file. The source name of this unit ("system") is what a log
// failure's location shows.
#include "base/system.h"

#include <cerrno>
#include <memory>

#include "base/Exceptions.h"
#include "platform/platform.h"

namespace {
// The single instance: set once by the first GetInstance call, never
// replaced, destroyed (and its stream closed) at process exit.
std::unique_ptr<CLogFile>& Instance() {
    static std::unique_ptr<CLogFile> instance;
    return instance;
}
}  // namespace

CLogFile* CLogFile::GetInstance(const char* path) {
    std::unique_ptr<CLogFile>& instance = Instance();
    if (instance) return instance.get();
    FILE* fp = nullptr;
    if (path != nullptr) {
        // Binary: the callers' "\r\n" reaches the file as it is. A new run
        // empties the file.
        fp = std::fopen(path, "wb");
        if (fp == nullptr) {
            const int e = errno;
            THROW_AT(CFileIOerror, e, plat::ErrnoText(e).c_str());
        }
    }
    return Adopt(fp);
}

CLogFile* CLogFile::Adopt(FILE* fp) {
    std::unique_ptr<CLogFile>& instance = Instance();
    if (instance) {
        if (fp != nullptr) std::fclose(fp);
        return instance.get();
    }
    try {
        instance.reset(new CLogFile(fp));
    } catch (...) {
        if (fp != nullptr) std::fclose(fp);
        throw;
    }
    return instance.get();
}

void CLogFile::Write(const char* text) {
    if (m_fp == nullptr) return;
    std::lock_guard<std::mutex> hold(m_writeLock);
    if (std::fputs(text, m_fp) < 0) {
        const int e = errno;
        THROW_AT(CFileIOerror, e, plat::ErrnoText(e).c_str());
    }
    // Flushed at once, so the log is complete whatever ends the process.
    // With a flush after every write the bytes reach the file only here, so
    // a full disk shows up here and not in fputs: report it the same way.
    if (std::fflush(m_fp) != 0) {
        const int e = errno;
        std::clearerr(m_fp);
        THROW_AT(CFileIOerror, e, plat::ErrnoText(e).c_str());
    }
}

void WriteLog(const std::string& text) { CLogFile::GetInstance(nullptr)->Write(text.c_str()); }

CLogFile::~CLogFile() {
    if (m_fp != nullptr) std::fclose(m_fp);
}
