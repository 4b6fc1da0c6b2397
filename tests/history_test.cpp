// The history of reservation mails: its lines, the search for an earlier
// send, the file kept whole and short, and its entries updated and removed.
#include "reserve/History.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>

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
    e.outcome = succeeded ? history::Outcome::kSent : history::Outcome::kFailed;
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

namespace {

// Texts whose double-byte characters end in 0x5C, the backslash: ソ, 表, 能.
const std::string kSo = "\x83\x5C";
const std::string kTrailBackslash = kSo + "\x95\x5C\x94\x5C";

void ExpectSameFields(const history::Entry& a, const history::Entry& b) {
    EXPECT_TRUE(history::SameSend(a, b));
    EXPECT_EQ(history::Format({a}), history::Format({b}));
    EXPECT_EQ(std::tie(a.station, a.title, a.outcome, a.reason, a.file),
              std::tie(b.station, b.title, b.outcome, b.reason, b.file));
}

}  // namespace

TEST(History, EveryFieldOfEveryOutcomeRoundTrips) {
    const std::string file = kSo + "\x83\x5C.epg";
    const struct {
        history::Outcome outcome;
        const char* reason;
        std::string tail;  // how the line ends
    } cases[] = {{history::Outcome::kSent, "", "\tsent\r\n"},  // the old line, without reason and file
                 {history::Outcome::kFailed, "SocketI/Oerror", "\tfailed\tSocketI/Oerror\t" + file + "\r\n"},
                 {history::Outcome::kFailed, "", "\tfailed\t\t" + file + "\r\n"},
                 {history::Outcome::kStopped, "Stopped by user", "\tstopped\tStopped by user\t" + file + "\r\n"},
                 {history::Outcome::kSending, "", "\tsending\t\t" + file + "\r\n"}};
    for (const auto& c : cases) {
        history::Entry e = MakeEntry(8, 9, true, kTrailBackslash + "\\");
        e.station = kTrailBackslash;
        e.outcome = c.outcome;
        e.reason = c.reason;
        e.file = file;
        const std::string text = history::Format({e});
        EXPECT_EQ(text.substr(text.size() - c.tail.size()), c.tail);
        const std::vector<history::Entry> back = history::Parse(text);
        ASSERT_EQ(back.size(), 1u) << c.tail;
        if (c.outcome == history::Outcome::kSent) e.file.clear();
        ExpectSameFields(back[0], e);
    }
}

TEST(History, AProgrammeHasStartedAtItsStart) {
    history::Entry e = MakeEntry(8, 9, true);
    tm start = e.start;
    start.tm_isdst = -1;
    const time_t at = std::mktime(&start);
    const struct {
        time_t now;
        bool started;
    } cases[] = {{at - 60, false}, {at, true}, {at + 60, true}};
    for (const auto& c : cases) EXPECT_EQ(history::HasStarted(e, c.now), c.started) << c.now - at;
}

TEST(History, ALongTextIsCutBetweenCharacters) {
    history::Entry e = MakeEntry(8, 9, true);
    for (size_t i = 0; i < history::kMaxFieldBytes; ++i) e.title += kSo;
    e.station = "a" + e.title;
    const history::Entry back = history::Parse(history::Format({e})).at(0);
    EXPECT_EQ(back.title, e.title.substr(0, history::kMaxFieldBytes));
    EXPECT_EQ(back.station, e.station.substr(0, history::kMaxFieldBytes - 1));
}

namespace {
std::string g_seenNew;
bool FailBeforeReplacing(const std::string& fresh) {
    plat::ReadWholeFile(fresh, &g_seenNew);
    return false;
}
}  // namespace

TEST_F(HistoryFile, AFailureBetweenWritingAndReplacingLeavesTheOldFileWhole) {
    ASSERT_TRUE(history::Append(path, MakeEntry(4, 9, true)));
    std::string before;
    ASSERT_TRUE(plat::ReadWholeFile(path, &before));
    history::SetReplaceSeam(FailBeforeReplacing);
    const bool written = history::Append(path, MakeEntry(5, 9, false));
    history::SetReplaceSeam(nullptr);
    EXPECT_FALSE(written);
    EXPECT_EQ(history::Parse(g_seenNew).size(), 2u);  // the new file was whole, only not yet in place
    std::string after;
    ASSERT_TRUE(plat::ReadWholeFile(path, &after));
    EXPECT_EQ(after, before);
    EXPECT_FALSE(std::filesystem::exists(path + ".new"));
}

TEST_F(HistoryFile, RunsAtOnceLoseNoLine) {
    constexpr unsigned kEach = 30;
    const auto append = [&](unsigned first) {
        for (unsigned channel = first; channel < first + kEach; ++channel)
            EXPECT_TRUE(history::Append(path, MakeEntry(channel, 9, true)));
    };
    std::thread other(append, 1);
    append(kEach + 1);
    other.join();
    EXPECT_EQ(history::Load(path).size(), 2 * kEach);
}

TEST_F(HistoryFile, AnEntryIsUpdatedInPlaceAndRemovedAlone) {
    history::Entry first = MakeEntry(8, 9, false);
    history::Entry second = first;  // the same programme, sent a second later
    second.sent.tm_sec += 1;
    second.outcome = history::Outcome::kSending;
    ASSERT_TRUE(history::Append(path, first));
    ASSERT_TRUE(history::Append(path, second));
    history::Entry done = second;
    done.outcome = history::Outcome::kSent;
    ASSERT_TRUE(history::Replace(path, second, done));
    std::vector<history::Entry> entries = history::Load(path);
    ASSERT_EQ(entries.size(), 2u);
    ExpectSameFields(entries[0], first);
    ExpectSameFields(entries[1], done);

    ASSERT_TRUE(history::Remove(path, {done}));
    entries = history::Load(path);
    ASSERT_EQ(entries.size(), 1u);
    ExpectSameFields(entries[0], first);
    // An entry no longer there (removed meanwhile) comes back at the end.
    ASSERT_TRUE(history::Replace(path, second, done));
    EXPECT_EQ(history::Load(path).size(), 2u);
}
