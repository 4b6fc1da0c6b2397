// The history of reservation mails: its lines, the search for an earlier
// send, and the file kept whole and short.
#include "reserve/History.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "tests/support/Times.h"

namespace {

history::Entry MakeEntry(unsigned channel, int day, bool succeeded, const std::string& title = "ドラマ") {
    history::Entry e;
    e.sent = MakeTm(2026, 12, 7, 19, 5);
    e.sent.tm_sec = 9;
    e.channel = channel;
    e.start = MakeTm(2026, 12, day, 21, 0);
    e.end = MakeTm(2026, 12, day, 21, 54);
    e.station = "ＮＨＫ総合";
    e.title = title;
    e.succeeded = succeeded;
    return e;
}

// A file of its own under the test's temporary folder.
class HistoryFile : public ::testing::Test {
protected:
    void TearDown() override {
        std::remove(path.c_str());
        std::remove((path + ".new").c_str());
    }
    std::string path = ::testing::TempDir() + "history_test." + std::to_string(plat::CurrentProcessId()) + ".history";
};

}  // namespace

TEST(History, LinesRoundTripAndAFieldNeverHoldsASeparator) {
    const std::vector<history::Entry> entries = {MakeEntry(8, 9, true), MakeEntry(1, 10, false, "a\tb\r\nc")};
    const std::string text = history::Format(entries);
    EXPECT_EQ(text,
              "2026/12/07 19:05:09\t8\t2026/12/09 21:00\t2026/12/09 21:54\tＮＨＫ総合\tドラマ\tsent\r\n"
              "2026/12/07 19:05:09\t1\t2026/12/10 21:00\t2026/12/10 21:54\tＮＨＫ総合\ta b  c\tfailed\r\n");
    const std::vector<history::Entry> back = history::Parse(text);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(history::Format(back), text);
}

TEST(History, UnreadableLinesAreSkipped) {
    const std::string good = "2026/12/07 19:05:09\t8\t2026/12/09 21:00\t2026/12/09 21:54\tA\tT\tsent";
    const char* const bad[] = {
        "",
        "garbage",
        "2026/12/07 19:05:09\t8\t2026/12/09 21:00\t2026/12/09 21:54\tA\tT\tmaybe",
        "2026/12/07 19:05:09\t0\t2026/12/09 21:00\t2026/12/09 21:54\tA\tT\tsent",
        "2026/12/07 19:05:09\tx8\t2026/12/09 21:00\t2026/12/09 21:54\tA\tT\tsent",
        "2026/13/07 19:05:09\t8\t2026/12/09 21:00\t2026/12/09 21:54\tA\tT\tsent",
        "2026/12/07 19:05:09\t8\t2026/12/09 21:00\t2026/12/09 21:54\tA\tsent",
        "2026/12/07 19:05:09\t8\t2026/12/09 21:00\t2026/12/09 21:54\tA\tT\tsent\tX",
        "2026/12/07 19:05:09\t8\t2026/12/09 21:00x\t2026/12/09 21:54\tA\tT\tsent",
        "\x83\x41\x83",
    };
    for (const char* line : bad) {
        const std::vector<history::Entry> entries = history::Parse(line + std::string("\r\n") + good + "\n" + line);
        ASSERT_EQ(entries.size(), 1u) << line;
        EXPECT_EQ(entries[0].channel, 8u);
    }
}

TEST(History, TheLatestSuccessfulSendOfTheSameProgramme) {
    std::vector<history::Entry> entries = {MakeEntry(8, 9, true), MakeEntry(8, 9, false), MakeEntry(1, 9, true)};
    entries[0].sent.tm_hour = 7;
    const history::Entry wanted = MakeEntry(8, 9, true);
    const history::Entry* found = history::FindSent(entries, 8, wanted.start, wanted.end);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->sent.tm_hour, 7);  // the failed send after it does not count
    EXPECT_EQ(history::FindSent(entries, 6, wanted.start, wanted.end), nullptr);
    for (int tm::*field : {&tm::tm_min, &tm::tm_hour, &tm::tm_mday}) {
        tm later = wanted.end;
        ++(later.*field);
        EXPECT_EQ(history::FindSent(entries, 8, wanted.start, later), nullptr);
        EXPECT_EQ(history::FindSent(entries, 8, later, wanted.end), nullptr);
    }
    entries.push_back(MakeEntry(8, 9, true));
    EXPECT_EQ(history::FindSent(entries, 8, wanted.start, wanted.end), &entries.back());
}

TEST_F(HistoryFile, KeepsTheMostRecentEntriesAndLeavesNoNewFile) {
    EXPECT_TRUE(history::Load(path).empty());
    for (size_t i = 0; i < history::kMaxEntries + 5; ++i)
        ASSERT_TRUE(history::Append(path, MakeEntry(static_cast<unsigned>(i + 1), 9, true)));
    const std::vector<history::Entry> entries = history::Load(path);
    ASSERT_EQ(entries.size(), history::kMaxEntries);
    EXPECT_EQ(entries.front().channel, 6u);
    EXPECT_EQ(entries.back().channel, history::kMaxEntries + 5);
    std::string leftover;
    EXPECT_FALSE(plat::ReadWholeFile(path + ".new", &leftover));
}

TEST_F(HistoryFile, AFileThatCannotBeWrittenStaysAsItWas) {
    ASSERT_TRUE(history::Append(path, MakeEntry(4, 9, true)));
    const std::string missingFolder = path + ".missing/x.history";
    EXPECT_FALSE(history::Append(missingFolder, MakeEntry(4, 9, true)));
    // A folder where the file should be: the new file cannot replace it.
    ASSERT_TRUE(std::filesystem::create_directory(path + ".dir"));
    EXPECT_FALSE(plat::ReplaceWholeFile(path + ".dir", "x"));
    EXPECT_FALSE(std::filesystem::exists(path + ".dir.new"));
    std::filesystem::remove(path + ".dir");
    EXPECT_EQ(history::Load(path).size(), 1u);
}
