#include "reserve/History.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "platform/platform.h"
#include "reserve/HistoryLine.h"

namespace history {

namespace {

bool (*g_replaceSeam)(const std::string& fresh) = nullptr;

// A turn with the file at a path: runs at once (a browser that opens two
// downloads, each in a run of its own) take turns, each reading the file
// and writing it back whole, so that none loses another's line. The turn is
// the lock of a file beside it, which the system gives up with a run that
// dies, shared by every user of the folder.
class Turn {
public:
    explicit Turn(const std::string& path) {
        bool timedOut = false;
        m_lock = plat::TakeFileLock(path + ".lock", kTurnWaitMs, &timedOut);
    }
    ~Turn() { plat::ReleaseFileLock(m_lock); }
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;
    bool Taken() const { return m_lock != nullptr; }

private:
    plat::FileLock* m_lock = nullptr;
};

bool SameMinute(const tm& a, const tm& b) {
    return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday && a.tm_hour == b.tm_hour &&
           a.tm_min == b.tm_min;
}

// How reading the file in a turn ended.
enum class Read { kRead, kUnreadable };

// Reads the entries of the file at path and of a new file a replacement
// left beside it. In a turn (rotate) a file too large to read is moved
// aside first.
Read ReadEntries(const std::string& path, bool rotate, std::vector<Entry>& entries);

// Reads the file at path, lets change change its entries (false: leave the
// file as it is) and writes them back, keeping the most recent kMaxEntries,
// in one turn. Returns whether the file was written.
template <typename Change>
bool Rewrite(const std::string& path, Change change) {
    const Turn turn(path);
    if (!turn.Taken()) return false;  // no turn: the file stays as it was
    std::vector<Entry> entries;
    if (ReadEntries(path, true, entries) != Read::kRead) return false;  // never written over unread
    if (!change(entries)) return false;
    if (entries.size() > kMaxEntries) entries.erase(entries.begin(), entries.end() - kMaxEntries);
    return plat::ReplaceWholeFile(path, Format(entries), g_replaceSeam);
}

// Adds the entries of a new file that a replacement left (later than the
// file's own): each takes the place of the same send's, the rest follow.
void TakeUpLeftover(std::vector<Entry>& entries, const std::vector<Entry>& leftover) {
    for (const Entry& e : leftover) {
        auto same = entries.begin();
        while (same != entries.end() && !SameSend(*same, e)) ++same;
        if (same != entries.end())
            *same = e;
        else
            entries.push_back(e);
    }
}

// A name beside path that no file has yet, for a file moved aside.
bool MoveAside(const std::string& path) {
    constexpr int kNames = 100;
    for (int n = 1; n <= kNames; ++n) {
        const std::string aside = path + ".too-large" + (n == 1 ? std::string() : "." + std::to_string(n));
        if (plat::MoveFileAside(path, aside)) return true;
    }
    return false;
}

Read ReadEntries(const std::string& path, bool rotate, std::vector<Entry>& entries) {
    entries.clear();
    std::string text;
    switch (plat::ReadSharedFile(path, kMaxFileBytes, &text)) {
    case plat::SharedRead::kRead:
        entries = Parse(text);
        break;
    case plat::SharedRead::kMissing:
        break;
    case plat::SharedRead::kTooLarge:
        // Kept under another name, never deleted; the history starts anew.
        if (rotate && !MoveAside(path)) return Read::kUnreadable;
        break;
    case plat::SharedRead::kFailed:
        return Read::kUnreadable;
    }
    if (plat::ReadSharedFile(path + ".new", kMaxFileBytes, &text) == plat::SharedRead::kRead)
        TakeUpLeftover(entries, Parse(text));
    return Read::kRead;
}

bool TimesCanBeHeld(const Entry& e) {
    return CanHold(e.sent) && CanHold(e.start) && CanHold(e.end) &&
           (!e.programme.known || (CanHold(e.programme.start) && CanHold(e.programme.end)));
}

}  // namespace

const Entry* FindSent(const std::vector<Entry>& entries, unsigned channel, const tm& start, const tm& end) {
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        if (it->outcome == Outcome::kSent && it->channel == channel && SameMinute(it->start, start) &&
            SameMinute(it->end, end))
            return &*it;
    }
    return nullptr;
}

const Entry* FindSent(const std::vector<Entry>& entries, const Entry& wanted) {
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        if (it->outcome == Outcome::kSent && SameProgramme(*it, wanted)) return &*it;
    }
    return nullptr;
}

bool SameProgramme(const Entry& recorded, const Entry& wanted) {
    if (!recorded.programme.known || !wanted.programme.known)
        return recorded.channel == wanted.channel && SameMinute(recorded.start, wanted.start) &&
               SameMinute(recorded.end, wanted.end);
    // A site may give every programme of a station one id, or reuse one:
    // the id only tells apart programmes of the same times.
    if (recorded.station != Field(wanted.station)) return false;
    const Programme& a = recorded.programme;
    const Programme& b = wanted.programme;
    if (!SameMinute(a.start, b.start) || !SameMinute(a.end, b.end)) return false;
    return a.programId.empty() || b.programId.empty() || a.programId == b.programId;
}

std::string NewId() {
    static std::atomic<unsigned> count{0};
    char text[48];
    std::snprintf(text, sizeof text, "%lx-%lx-%x", static_cast<unsigned long>(plat::CurrentProcessId()),
                  static_cast<unsigned long>(std::time(nullptr)), ++count);
    return text;
}

bool SetProgramme(Entry& entry, tm start, tm end, const std::string& programId) {
    entry.programme = Programme();
    if (!plat::NormaliseCalendarTime(start) || !plat::NormaliseCalendarTime(end) || !CanHold(start) ||
        !CanHold(end))
        return false;
    entry.programme.known = true;
    entry.programme.start = start;
    entry.programme.end = end;
    if (IsToken(programId)) entry.programme.programId = programId;
    return true;
}

std::vector<Entry> Load(const std::string& path) {
    std::vector<Entry> entries;
    if (ReadEntries(path, false, entries) != Read::kRead) return {};
    return entries;
}

bool HasStarted(const Entry& entry, time_t now) {
    tm start = entry.start;
    start.tm_isdst = -1;
    return std::mktime(&start) <= now;
}

bool SameSend(const Entry& a, const Entry& b) {
    return a.id == b.id && a.channel == b.channel && SameMinute(a.sent, b.sent) && a.sent.tm_sec == b.sent.tm_sec &&
           SameMinute(a.start, b.start) && SameMinute(a.end, b.end);
}

bool Append(const std::string& path, const Entry& entry) {
    return TimesCanBeHeld(entry) && Rewrite(path, [&](std::vector<Entry>& entries) {
               entries.push_back(entry);
               return true;
           });
}

bool Replace(const std::string& path, const Entry& was, const Entry& entry) {
    return TimesCanBeHeld(entry) && Rewrite(path, [&](std::vector<Entry>& entries) {
               auto it = entries.rbegin();
               while (it != entries.rend() && !SameSend(*it, was)) ++it;
               if (it != entries.rend())
                   *it = entry;
               else
                   entries.push_back(entry);
               return true;
           });
}

bool Remove(const std::string& path, const std::vector<Entry>& gone) {
    return Rewrite(path, [&](std::vector<Entry>& entries) {
        std::vector<Entry> kept;
        for (const Entry& e : entries) {
            bool remove = false;
            for (const Entry& g : gone) remove = remove || SameSend(e, g);
            if (!remove) kept.push_back(e);
        }
        entries = std::move(kept);
        return true;
    });
}

Recorded AppendUnlessSent(const std::string& path, const Entry& entry, time_t since, const Entry* asked,
                          Entry* found) {
    if (!TimesCanBeHeld(entry)) return Recorded::kNotWritten;
    bool duplicate = false;
    const bool written = Rewrite(path, [&](std::vector<Entry>& entries) {
        for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
            if (!SameProgramme(*it, entry)) continue;
            tm sent = it->sent;
            sent.tm_isdst = -1;
            const bool counts = it->outcome == Outcome::kSent ||
                                (it->outcome == Outcome::kSending && std::mktime(&sent) >= since);
            if (!counts) continue;
            // The latest that counts: the one already asked about lets the
            // send go on.
            if (asked != nullptr && SameSend(*it, *asked)) break;
            *found = *it;
            duplicate = true;
            return false;
        }
        entries.push_back(entry);
        return true;
    });
    if (duplicate) return Recorded::kAlreadySent;
    return written ? Recorded::kWritten : Recorded::kNotWritten;
}

void SetReplaceSeam(bool (*seam)(const std::string& fresh)) { g_replaceSeam = seam; }

}  // namespace history
