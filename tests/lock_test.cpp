#include "base/CLock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "base/Exceptions.h"
#include "platform/platform.h"
#include "reserve/History.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Process.h"

namespace {

// Lock names of this process only, so that parallel test runs never share a
// lock. The named locks' names outlive the processes on some systems; each
// test removes the ones it made.
class Names {
public:
    // A name of this process's own for what.
    std::string operator()(const std::string& what) {
        return Track("quorpa-test-" + std::to_string(plat::CurrentProcessId()) + "-" + what);
    }
    // Removes name (as the lock's platform side sees it: slashes) at the end.
    std::string Track(const std::string& name) {
        m_made.push_back(name);
        return name;
    }
    ~Names() {
        for (const std::string& name : m_made) plat::ForgetNamedLock(name.c_str());
    }

private:
    std::vector<std::string> m_made;
};

// Whether a mode-1 lock can be claimed at once; a claim is given back.
bool Free(CLock& lock) {
    try {
        lock.Lock(true, 0);
    } catch (const CTimeOut&) {
        return false;
    }
    lock.Unlock();
    return true;
}

const int kPeerClaimed = 0;
const int kPeerTaken = 3;

int PeerTry(const std::string& name) {
    return RunProgram({HelperProgramPath("lock_peer"), "try", name});
}

}  // namespace

TEST(Lock, BadModesAreRejected) {
    for (int32_t mode : {-1, 2, 3, INT32_MAX, INT32_MIN}) {
        try {
            CLock lock(mode, "x");
            ADD_FAILURE() << "mode " << mode << " accepted";
        } catch (const CIllegalParam& e) {
            EXPECT_STREQ(e.what(), "IllegalParam");
            EXPECT_EQ(e.GetErrorNo(), 0);
            EXPECT_EQ(std::string(e.GetLocation()).rfind("base/CLock.cpp(", 0), 0u);
        }
    }
}

TEST(Lock, NamedLockThatCannotBeCreatedIsAResourceFailure) {
    // Longer than any system allows for an object name.
    const std::string tooLong(40000, 'n');
    try {
        CLock lock(1, tooLong.c_str());
        ADD_FAILURE() << "a lock with a 40000-character name";
    } catch (const CNotEnoughResource& e) {
        EXPECT_STREQ(e.what(), "NotEnoughResource");
        EXPECT_EQ(e.GetErrorNo(), 0);
    }
}

TEST(Lock, CriticalSectionIsReentrantAndExcludesOtherThreads) {
    CLock lock(0, nullptr);
    lock.Lock();
    lock.Lock(false, 0);  // both arguments mean nothing in mode 0
    lock.Unlock();
    // Still held once: another thread must wait.
    std::atomic<bool> entered{false};
    std::thread other([&] {
        lock.Lock();
        entered = true;
        lock.Unlock();
    });
    plat::SleepMs(50);
    EXPECT_FALSE(entered);
    lock.Unlock();
    other.join();
    EXPECT_TRUE(entered);
}

TEST(Lock, TakenNamedLockTimesOut) {
    Names names;
    CLock holder(1, names("timeout").c_str());
    CLock waiter(1, names("timeout").c_str());
    holder.Lock(true, 0);
    for (uint32_t timeoutMs : {0u, 30u}) {
        try {
            waiter.Lock(true, timeoutMs);
            ADD_FAILURE() << "claimed a taken lock, time-out " << timeoutMs;
        } catch (const CTimeOut& e) {
            EXPECT_STREQ(e.what(), "TimeOut");
            EXPECT_EQ(e.GetErrorNo(), 0);
        }
    }
    // Waiting without taking also times out while it is taken.
    EXPECT_THROW(waiter.Lock(false, 0), CTimeOut);
    holder.Unlock();
    waiter.Lock(true, 30);
    waiter.Unlock();
}

TEST(Lock, WaitingWithoutTakeLeavesItFree) {
    Names names;
    CLock lock(1, names("notake").c_str());
    lock.Lock(false, 0);
    lock.Lock(false, plat::kInfinite);
    EXPECT_TRUE(Free(lock));
    // One claim, then it is taken.
    lock.Lock(true, 0);
    EXPECT_THROW(lock.Lock(true, 0), CTimeOut);
    lock.Unlock();
}

TEST(Lock, ReleasingAFreeLockLetsOnlyOneHolderIn) {
    Names names;
    CLock lock(1, names("double").c_str());
    lock.Unlock();  // already free: stays free, once
    lock.Lock(true, 0);
    lock.Unlock();
    lock.Unlock();
    lock.Lock(true, 0);
    EXPECT_THROW(lock.Lock(true, 0), CTimeOut);
    lock.Unlock();
}

TEST(Lock, NamesDecideWhichLocksAreShared) {
    Names names;
    const std::string base = names("n");
    const struct {
        std::string first;
        std::string second;
        bool shared;
    } table[] = {
        {base + "\\a\\b", base + "/a/b", true},  // backslashes count as slashes
        {base + "ソ", base + "\x83/", false},    // ソ's second byte is no backslash
        {base + "/a", base + "/a", true},
        {base + "/a", base + "%2Fa", false},     // any escaping must stay unambiguous
        {base + "/a", base + "_a", false},
        {base + "//a", base + "/a", false},
        {base + "a", base + "A", false},
        {base + "-x", base + "-y", false},
    };
    for (const auto& row : table) {
        names.Track(row.first);
        names.Track(row.second);
        names.Track(base + "/a/b");
        CLock first(1, row.first.c_str());
        CLock second(1, row.second.c_str());
        first.Lock(true, 0);
        EXPECT_EQ(!Free(second), row.shared) << row.first << " and " << row.second;
        first.Unlock();
    }
}

TEST(Lock, UnnamedLocksAreNeverShared) {
    for (const char* name : {static_cast<const char*>(nullptr), ""}) {
        CLock a(1, name);
        CLock b(1, name);
        a.Lock(true, 0);
        EXPECT_TRUE(Free(b));
        EXPECT_FALSE(Free(a));
        a.Unlock();
    }
}

TEST(Lock, HolderReleasesWhenAnExceptionLeavesTheBlock) {
    Names names;
    CLock lock(1, names("holder").c_str());
    try {
        CLockHolder hold(&lock);
        EXPECT_FALSE(Free(lock));
        throw CSockClose();
    } catch (const CSockClose&) {
    }
    EXPECT_TRUE(Free(lock));
    CLockHolder nothing(nullptr);  // holds nothing, releases nothing
}

TEST(LockProcesses, ATakenNameExcludesAnotherProcess) {
    Names names;
    const std::string base = names("peer");
    names.Track(base + "/sub");
    CLock lock(1, (base + "\\sub").c_str());
    ASSERT_EQ(PeerTry(base + "/sub"), kPeerClaimed);
    lock.Lock(true, 0);
    // The other process sees it taken, through the other spelling too.
    EXPECT_EQ(PeerTry(base + "/sub"), kPeerTaken);
    EXPECT_EQ(PeerTry(base + "\\sub"), kPeerTaken);
    EXPECT_EQ(PeerTry(base + "/other"), kPeerClaimed);
    lock.Unlock();
    EXPECT_EQ(PeerTry(base + "/sub"), kPeerClaimed);
    // The peer gave it back.
    EXPECT_TRUE(Free(lock));
    names.Track(base + "/other");
}

TEST(LockProcesses, HoldersNeverInterleave) {
    Names names;
    const std::string name = names("append");
    const std::string file = "quorpa-lock-test-" + std::to_string(plat::CurrentProcessId()) + ".txt";
    std::remove(file.c_str());
    const int kRounds = 25;
    {
        // The peers wait on each other, not on this process.
        ChildProcess a({HelperProgramPath("lock_peer"), "append", name, file, "A",
                        std::to_string(kRounds)});
        ChildProcess b({HelperProgramPath("lock_peer"), "append", name, file, "B",
                        std::to_string(kRounds)});
        ASSERT_TRUE(a.Started() && b.Started());
        EXPECT_EQ(a.Wait(), 0);
        EXPECT_EQ(b.Wait(), 0);
    }
    const std::string text = ReadWholeFile(file);
    std::remove(file.c_str());
    // Every "<X" line is followed by its ">X" line.
    std::string expectedPair;
    int pairs[2] = {0, 0};
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find('\n', at);
        ASSERT_NE(end, std::string::npos);
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        ASSERT_EQ(line.size(), 2u) << text;
        if (expectedPair.empty()) {
            ASSERT_EQ(line[0], '<') << "a holder got in between:\n" << text;
            expectedPair = std::string(">") + line[1];
        } else {
            ASSERT_EQ(line, expectedPair) << "a holder got in between:\n" << text;
            ++pairs[line[1] == 'A' ? 0 : 1];
            expectedPair.clear();
        }
    }
    EXPECT_TRUE(expectedPair.empty());
    EXPECT_EQ(pairs[0], kRounds);
    EXPECT_EQ(pairs[1], kRounds);
}

// ---- the file lock, and the history's turn that uses it -------------------

namespace {

// Files of this process only under the test's temporary folder, removed at
// the end.
class LockFiles : public ::testing::Test {
protected:
    std::string Path(const std::string& what) {
        const std::string path =
            ::testing::TempDir() + "lock_test." + std::to_string(plat::CurrentProcessId()) + "." + what;
        for (const char* suffix : {"", ".lock", ".new", ".marker"}) m_made.push_back(path + suffix);
        return path;
    }
    void TearDown() override {
        for (const std::string& path : m_made) std::remove(path.c_str());
    }

private:
    std::vector<std::string> m_made;
};

const int kPeerDied = 5;

history::Entry Reservation(unsigned channel) {
    history::Entry e;
    e.sent = tm{};
    e.sent.tm_year = 126;
    e.sent.tm_mon = 11;
    e.sent.tm_mday = 7;
    e.channel = channel;
    e.start = e.sent;
    e.end = e.sent;
    e.station = "ST";
    e.title = "T";
    e.outcome = history::Outcome::kSent;
    return e;
}

// Waits up to 10 s for the file a peer creates once it is ready.
bool AppearsSoon(const std::string& path) {
    for (int i = 0; i < 1000; ++i) {
        std::string text;
        if (plat::ReadSharedFile(path, 100, &text) == plat::SharedRead::kRead) return true;
        plat::SleepMs(10);
    }
    return false;
}

}  // namespace

TEST_F(LockFiles, OneHolderAtATimeAndAWaitThatRunsOut) {
    const std::string path = Path("one");
    bool timedOut = true;
    plat::FileLock* first = plat::TakeFileLock(path, 0, &timedOut);
    ASSERT_NE(first, nullptr);
    EXPECT_FALSE(timedOut);
    for (uint32_t waitMs : {0u, 60u}) {
        const uint32_t before = plat::TickCount();
        EXPECT_EQ(plat::TakeFileLock(path, waitMs, &timedOut), nullptr) << waitMs;
        EXPECT_TRUE(timedOut);
        EXPECT_GE(plat::TickCount() - before, waitMs);
    }
    plat::ReleaseFileLock(first);
    plat::FileLock* second = plat::TakeFileLock(path, 0, &timedOut);
    EXPECT_NE(second, nullptr);
    plat::ReleaseFileLock(second);
    // A folder that does not exist: no lock, and no wait.
    EXPECT_EQ(plat::TakeFileLock(path + ".missing/x.lock", 1000, &timedOut), nullptr);
    EXPECT_FALSE(timedOut);
}

TEST_F(LockFiles, AHolderThatDiesCostsTheNextRunNothing) {
    // A run killed in its turn with the history, once its new file was
    // written, while this one waits for its turn: this one gets it as the
    // other dies and loses no line, its own or the dead run's.
    const std::string path = Path("died.history");
    ChildProcess dying({HelperProgramPath("lock_peer"), "die-in-turn", path, "300"});
    ASSERT_TRUE(dying.Started() && AppearsSoon(path + ".new"));
    const uint32_t before = plat::TickCount();
    EXPECT_TRUE(history::Append(path, Reservation(8)));
    EXPECT_LT(plat::TickCount() - before, history::kTurnWaitMs / 2);
    EXPECT_EQ(dying.Wait(), kPeerDied);
    const std::vector<history::Entry> entries = history::Load(path);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].station, "peer");
    EXPECT_EQ(entries[1].channel, 8u);
}

TEST_F(LockFiles, AHistoryHeldOpenByAnotherProgramLosesNoLine) {
    const struct {
        const char* what;
        int holdMs;
        bool writtenAtOnce;  // within the replacement's retries
    } cases[] = {{"short", 300, true}, {"long", 4000, false}};
    for (const auto& c : cases) {
        const std::string path = Path(std::string(c.what) + ".history");
        ASSERT_TRUE(history::Append(path, Reservation(1)));
        ChildProcess holder({HelperProgramPath("lock_peer"), "hold", path, path + ".marker",
                             std::to_string(c.holdMs)});
        ASSERT_TRUE(holder.Started() && AppearsSoon(path + ".marker")) << c.what;
        const bool written = history::Append(path, Reservation(2));
        // Where the system lets a held file be replaced (POSIX), every
        // write goes through; where it does not (Windows), a long hold keeps
        // the new file beside it, and the line stays in sight.
        if (c.writtenAtOnce) {
            EXPECT_TRUE(written) << c.what;
        }
        EXPECT_EQ(history::Load(path).size(), 2u) << c.what;
        std::string kept;
        EXPECT_EQ(plat::ReadSharedFile(path + ".new", 1000, &kept) == plat::SharedRead::kRead, !written) << c.what;
        EXPECT_EQ(holder.Wait(), 0);
        ASSERT_TRUE(history::Append(path, Reservation(3))) << c.what;
        const std::vector<history::Entry> entries = history::Load(path);
        ASSERT_EQ(entries.size(), 3u) << c.what;
        EXPECT_EQ(entries[1].channel, 2u) << c.what;
        EXPECT_EQ(plat::ReadSharedFile(path + ".new", 1000, &kept), plat::SharedRead::kMissing) << c.what;
    }
}
