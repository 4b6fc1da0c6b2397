// The history of reservation mails: its lines, the search for an earlier
// send, the file kept whole and short, and its entries updated and removed.
#include "reserve/History.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
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

// ---- identity, the programme, hostile lines and files ----------------------

namespace {

const std::string kLine = "2026/12/07 19:05:09\t8\t2026/12/09 21:00\t2026/12/09 21:54\tＮＨＫ総合\tドラマ\t";

// An entry of this version: an identity and the programme as its file gave
// it (21:00-21:54, reserved with -1/+2 minutes).
history::Entry Identified(const std::string& id, const std::string& programId = "") {
    history::Entry e = MakeEntry(8, 9, true);
    e.start = MakeTm(2026, 12, 9, 20, 59);
    e.end = MakeTm(2026, 12, 9, 21, 56);
    e.id = id;
    EXPECT_TRUE(history::SetProgramme(e, MakeTm(2026, 12, 9, 21, 0), MakeTm(2026, 12, 9, 21, 54), programId));
    return e;
}

}  // namespace

TEST(History, HostileAndExtendedLinesRead) {
    const struct {
        std::string text;
        size_t entries;
        const char* id;
        bool programme;
        const char* programId;
        const char* file;
    } cases[] = {
        {"\xEF\xBB\xBF" + kLine + "sent\r\n", 1, "", false, "", ""},  // an editor's byte order mark
        {kLine + "sent\t\t*id=7b-1*from=2026/12/09 21:00*to=2026/12/09 21:54*pid=1234\r\n", 1, "7b-1", true, "1234", ""},
        {kLine + "failed\tSMTP error\tp.epg*id=a_b.C*from=2026/12/09 21:00*to=2026/12/09 21:54", 1, "a_b.C", true, "",
         "p.epg"},
        {kLine + "failed\t\tp.epg*zz=1*id=q", 1, "q", false, "", "p.epg"},                      // unknown key
        {kLine + "failed\t\tp.epg*id=a b*from=2026/12/09 21:00", 1, "", false, "", "p.epg"},  // half a programme
        {kLine + "sent\t\t*from=2026/12/09 21:00*to=2026/12/09 21:54*pid=\x83\x5C", 1, "", true, "", ""},
        {"99999/12/07 19:05:09\t8\t2026/12/09 21:00\t2026/12/09 21:54\tA\tT\tsent", 0, "", false, "", ""},
        {"2026/12/07 19:05:09\t-1\t2026/12/09 21:00\t2026/12/09 21:54\tA\tT\tsent", 0, "", false, "", ""},
        {"2026/12/07 19:05:09\t4294967296\t2026/12/09 21:00\t2026/12/09 21:54\tA\tT\tsent", 0, "", false, "", ""},
        {"2026/12/07 19:05:09\t4294967295\t2026/12/09 21:00\t2026/12/09 21:54\tA\tT\tsent", 1, "", false, "", ""},
        {"\xEF\xBB" + kLine + "sent", 0, "", false, "", ""},  // half a mark is damage
        {"2026/12/31 23:59:60\t8\t2026/12/31 23:59\t2027/01/01 00:00\tA\tT\tsent", 1, "", false, "", ""},
        {"2026/12/32 19:05:09\t8\t2026/12/09 21:00\t2026/12/09 21:54\tA\tT\tsent", 0, "", false, "", ""},
        {"2026/12/07 24:05:09\t8\t2026/12/09 21:00\t2026/12/09 21:54\tA\tT\tsent", 0, "", false, "", ""},
        {"2026/12/07 19:60:09\t8\t2026/12/09 21:00\t2026/12/09 21:54\tA\tT\tsent", 0, "", false, "", ""},
        {"2026/12/07 19:05:61\t8\t2026/12/09 21:00\t2026/12/09 21:54\tA\tT\tsent", 0, "", false, "", ""},
    };
    for (const auto& c : cases) {
        const std::vector<history::Entry> entries = history::Parse(c.text);
        ASSERT_EQ(entries.size(), c.entries) << c.text;
        if (c.entries == 0) continue;
        EXPECT_EQ(entries[0].id, c.id) << c.text;
        EXPECT_EQ(entries[0].programme.known, c.programme) << c.text;
        EXPECT_EQ(entries[0].programme.programId, c.programId) << c.text;
        EXPECT_EQ(entries[0].file, c.file) << c.text;
    }
    // What this version writes: the extras after the file's name ('*' in a
    // name becomes a blank), none of a sent line's reason and file.
    history::Entry failed = Identified("7b-1", "1234");
    failed.outcome = history::Outcome::kFailed;
    failed.reason = "SMTP error";
    failed.file = "a*b.epg";
    EXPECT_EQ(history::Format({Identified("7b-1"), failed}),
              "2026/12/07 19:05:09\t8\t2026/12/09 20:59\t2026/12/09 21:56\tＮＨＫ総合\tドラマ\tsent\t\t"
              "*id=7b-1*from=2026/12/09 21:00*to=2026/12/09 21:54\r\n"
              "2026/12/07 19:05:09\t8\t2026/12/09 20:59\t2026/12/09 21:56\tＮＨＫ総合\tドラマ\tfailed\tSMTP error\t"
              "a b.epg*id=7b-1*from=2026/12/09 21:00*to=2026/12/09 21:54*pid=1234\r\n");
}

TEST(History, OnlyTimesTheFileCanHoldAreWritten) {
    const struct {
        long long year;
        int month, day, hour;
        bool held;
    } cases[] = {
        {1899, 12, 31, 23, false}, {1900, 1, 1, 0, true},   {2026, 12, 9, 21, true}, {9999, 12, 31, 23, true},
        {10000, 1, 1, 0, false},   {99999, 1, 1, 0, false}, {2147483647, 1, 1, 0, false},
        {2026, 13, 9, 21, false},  {2026, 12, 0, 21, false}, {2026, 12, 9, 24, false},
    };
    for (const auto& c : cases) {
        tm t = MakeTm(2026, c.month, c.day, c.hour, 0);
        t.tm_year = static_cast<int>(c.year - 1900);
        EXPECT_EQ(history::CanHold(t), c.held) << c.year << "/" << c.month << "/" << c.day << " " << c.hour;
    }
    // The largest year a tm holds is formatted without overflow.
    history::Entry e = MakeEntry(8, 9, true);
    e.start.tm_year = INT_MAX;
    EXPECT_EQ(history::Format({e}).substr(0, 45), "2026/12/07 19:05:09\t8\t2147485547/12/09 21:00\t");
}

TEST(History, TheProgrammeDecidesTheDuplicateQuestion) {
    const history::Entry recorded = Identified("r", "");
    history::Entry old = MakeEntry(8, 9, true);  // a line of an earlier version
    old.start = recorded.start;
    old.end = recorded.end;
    const auto wanted = [](const std::function<void(history::Entry&)>& change) {
        history::Entry w = Identified("w");
        change(w);
        return w;
    };
    const struct {
        const char* what;
        history::Entry recorded;
        history::Entry wanted;
        bool same;
    } cases[] = {
        {"same file, other adjustments", recorded,
         wanted([](history::Entry& w) { w.start = MakeTm(2026, 12, 9, 21, 0), w.end = MakeTm(2026, 12, 9, 21, 54); }),
         true},
        {"other channel mapping", recorded, wanted([](history::Entry& w) { w.channel = 4; }), true},
        {"other station", recorded, wanted([](history::Entry& w) { w.station = "ＮＨＫＥテレ"; }), false},
        {"later start", recorded,
         wanted([](history::Entry& w) { w.programme.start = MakeTm(2026, 12, 9, 21, 1); }), false},
        {"same program-id, moved: another programme", Identified("r", "55"),
         wanted([](history::Entry& w) { w.programme.start.tm_hour = 22, w.programme.programId = "55"; }), false},
        {"same program-id, another day", Identified("r", "55"),
         wanted([](history::Entry& w) {
             w.programme.start = MakeTm(2027, 2, 15, 21, 0), w.programme.end = MakeTm(2027, 2, 15, 21, 54);
             w.programme.programId = "55";
         }),
         false},
        {"same program-id, later end", Identified("r", "55"),
         wanted([](history::Entry& w) { w.programme.end.tm_min = 55, w.programme.programId = "55"; }), false},
        {"same program-id, same times", Identified("r", "55"),
         wanted([](history::Entry& w) { w.programme.programId = "55"; }), true},
        {"a program-id on one side only", Identified("r", "55"), wanted([](history::Entry&) {}), true},
        {"other program-id, same times", Identified("r", "55"),
         wanted([](history::Entry& w) { w.programme.programId = "56"; }), false},
        {"earlier version's line", old, wanted([](history::Entry&) {}), true},
        {"earlier version's line, other adjustments", old,
         wanted([](history::Entry& w) { w.start = MakeTm(2026, 12, 9, 21, 0); }), false},
        {"earlier version's line, other channel", old, wanted([](history::Entry& w) { w.channel = 4; }), false},
        {"earlier version's line, a month before", old,
         wanted([](history::Entry& w) { w.start.tm_mon = w.end.tm_mon = 10; }), false},
        {"a month before", recorded,
         wanted([](history::Entry& w) { w.programme.start.tm_mon = w.programme.end.tm_mon = 10; }), false},
    };
    for (const auto& c : cases) EXPECT_EQ(history::SameProgramme(c.recorded, c.wanted), c.same) << c.what;
    const std::vector<history::Entry> entries = {recorded, MakeEntry(1, 9, true)};
    EXPECT_EQ(history::FindSent(entries, cases[0].wanted), &entries[0]);
}

TEST_F(HistoryFile, RunsInTheSameSecondKeepTheirOwnLines) {
    history::Entry first = Identified(history::NewId());
    history::Entry second = Identified(history::NewId());
    ASSERT_NE(first.id, second.id);
    first.outcome = second.outcome = history::Outcome::kSending;
    ASSERT_TRUE(history::Append(path, first));
    ASSERT_TRUE(history::Append(path, second));
    history::Entry sent = first, failed = second;
    sent.outcome = history::Outcome::kSent;
    failed.outcome = history::Outcome::kFailed;
    ASSERT_TRUE(history::Replace(path, second, failed));
    ASSERT_TRUE(history::Replace(path, first, sent));
    const std::vector<history::Entry> entries = history::Load(path);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].outcome, history::Outcome::kSent);
    EXPECT_EQ(entries[1].outcome, history::Outcome::kFailed);
}

TEST_F(HistoryFile, TheCheckAndTheRecordAreOneTurn) {
    history::Entry sent = Identified("x");
    history::Entry sending = Identified("y");
    sending.outcome = history::Outcome::kSending;
    tm at = sending.sent;
    at.tm_isdst = -1;
    const time_t sendingAt = std::mktime(&at);
    history::Entry unholdable = Identified("z");
    unholdable.start.tm_year = 99999 - 1900;
    const struct {
        const char* what;
        std::vector<history::Entry> file;
        history::Entry entry;
        time_t since;
        const history::Entry* asked;
        history::Recorded recorded;
        const char* found;
        size_t lines;  // after the call
    } cases[] = {
        {"sent before", {sent}, Identified("n"), sendingAt, nullptr, history::Recorded::kAlreadySent, "x", 1},
        {"sent before, asked", {sent}, Identified("n"), sendingAt, &sent, history::Recorded::kWritten, "", 2},
        {"sent before and being sent", {sent, sending}, Identified("n"), sendingAt, &sent,
         history::Recorded::kAlreadySent, "y", 2},
        {"being sent since", {sending}, Identified("n"), sendingAt, nullptr, history::Recorded::kAlreadySent, "y", 1},
        {"left sending by a run that died", {sending}, Identified("n"), sendingAt + 1, nullptr,
         history::Recorded::kWritten, "", 2},
        {"a time the file cannot hold", {}, unholdable, sendingAt, nullptr, history::Recorded::kNotWritten, "", 0},
    };
    for (const auto& c : cases) {
        std::remove(path.c_str());
        for (const history::Entry& e : c.file) ASSERT_TRUE(history::Append(path, e));
        history::Entry found;
        EXPECT_EQ(history::AppendUnlessSent(path, c.entry, c.since, c.asked, &found), c.recorded) << c.what;
        EXPECT_EQ(found.id, c.found) << c.what;
        EXPECT_EQ(history::Load(path).size(), c.lines) << c.what;
    }
}

TEST_F(HistoryFile, ATooLargeFileIsMovedAsideWhole) {
    // A file of exactly the bound is still read.
    const std::string line = kLine + "sent\r\n";
    ASSERT_TRUE(plat::ReplaceWholeFile(path, line + std::string(history::kMaxFileBytes - line.size(), 'x')));
    EXPECT_EQ(history::Load(path).size(), 1u);
    const std::string damaged = kLine + "sent\r\n" + std::string(history::kMaxFileBytes, 'x');
    const struct {
        const char* aside;
    } rounds[] = {{".too-large"}, {".too-large.2"}};
    for (const auto& r : rounds) {
        ASSERT_TRUE(plat::ReplaceWholeFile(path, damaged));
        EXPECT_TRUE(history::Load(path).empty());  // not read, not moved, outside a turn
        ASSERT_TRUE(history::Append(path, MakeEntry(4, 9, true)));
        EXPECT_EQ(history::Load(path).size(), 1u);
        std::string kept;
        EXPECT_EQ(plat::ReadSharedFile(path + r.aside, 2 * history::kMaxFileBytes, &kept), plat::SharedRead::kRead);
        EXPECT_EQ(kept, damaged) << r.aside;
    }
    for (const char* aside : {".too-large", ".too-large.2"}) std::remove((path + aside).c_str());
    // A history that cannot be read is never written over.
    std::remove(path.c_str());
    ASSERT_TRUE(std::filesystem::create_directory(path));
    EXPECT_FALSE(history::Append(path, MakeEntry(4, 9, true)));
    EXPECT_TRUE(std::filesystem::is_directory(path));
    std::filesystem::remove(path);
}

TEST_F(HistoryFile, ANewFileLeftBesideItCostsNoLine) {
    history::Entry sending = Identified("a");
    sending.outcome = history::Outcome::kSending;
    const history::Entry sent = Identified("a");
    // What a replacement that another program kept from its place leaves.
    ASSERT_TRUE(plat::ReplaceWholeFile(path, history::Format({sending})));
    ASSERT_TRUE(plat::ReplaceWholeFile(path + ".new", history::Format({sent, Identified("b")})));
    ASSERT_EQ(history::Load(path).size(), 2u);
    ASSERT_TRUE(history::Append(path, Identified("c")));
    std::string text;
    ASSERT_EQ(plat::ReadSharedFile(path, history::kMaxFileBytes, &text), plat::SharedRead::kRead);
    EXPECT_EQ(text, history::Format({sent, Identified("b"), Identified("c")}));
    EXPECT_FALSE(std::filesystem::exists(path + ".new"));
}
