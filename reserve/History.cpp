#include "reserve/History.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "base/CLock.h"
#include "base/Cp932.h"
#include "base/Exceptions.h"
#include "platform/platform.h"

namespace history {

namespace {

// The outcomes' words in the file, in the order of Outcome.
constexpr const char* kOutcomeWords[] = {"failed", "sent", "stopped", "sending"};
// A line of the first form has no reason and no file.
constexpr size_t kShortFields = 7;
constexpr size_t kFields = 9;

bool (*g_replaceSeam)(const std::string& fresh) = nullptr;

// How long a change waits for its turn with the file before it gives up.
constexpr uint32_t kTurnWaitMs = 5000;

// A turn with the file at a path: runs at once (a browser that opens two
// downloads, each in a run of its own) take turns, each reading the file
// and writing it back whole, so that none loses another's line. The lock is
// named after a hash of the path, which may be longer than a lock's name.
// Throws what CLock throws (CTimeOut when the turn does not come).
class Turn {
public:
    explicit Turn(const std::string& path) : m_lock(1, Name(path).c_str()) { m_lock.Lock(true, kTurnWaitMs); }
    ~Turn() {
        try {
            m_lock.Unlock();
        } catch (...) {  // a lock that cannot be released only makes the next wait time out
        }
    }
    Turn(const Turn&) = delete;
    Turn& operator=(const Turn&) = delete;

private:
    static std::string Name(const std::string& path) {
        uint64_t hash = 14695981039346656037ull;  // FNV-1a
        for (const char c : path) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
        char name[48];
        std::snprintf(name, sizeof name, "Quorpa.history.%016llx", static_cast<unsigned long long>(hash));
        return name;
    }
    CLock m_lock;
};

std::string TimeText(const tm& t, bool seconds) {
    char text[64];
    if (seconds)
        std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                      t.tm_hour, t.tm_min, t.tm_sec);
    else
        std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                      t.tm_hour, t.tm_min);
    return text;
}

bool ReadTime(const std::string& text, tm& t, bool seconds) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char tail = 0;
    const int want = seconds ? 6 : 5;
    const int got = seconds ? std::sscanf(text.c_str(), "%4d/%2d/%2d %2d:%2d:%2d%c", &year, &month, &day, &hour,
                                          &minute, &second, &tail)
                            : std::sscanf(text.c_str(), "%4d/%2d/%2d %2d:%2d%c", &year, &month, &day, &hour,
                                          &minute, &tail);
    if (got != want || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 60)
        return false;
    t = tm{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return true;
}

bool SameMinute(const tm& a, const tm& b) {
    return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday && a.tm_hour == b.tm_hour &&
           a.tm_min == b.tm_min;
}

// A field never holds the separators: a tab or a line break in a title
// becomes a space (no second byte of a double-byte character is one). A
// longer text is cut at kMaxFieldBytes, never inside a character.
std::string Field(const std::string& text) {
    size_t length = 0;
    while (length < text.size()) {
        const size_t next = length + (cp932::IsLeadByte(static_cast<unsigned char>(text[length])) ? 2 : 1);
        if (next > kMaxFieldBytes || next > text.size()) break;
        length = next;
    }
    std::string field = text.substr(0, length);
    for (char& c : field) {
        if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    }
    return field;
}

bool ReadOutcome(const std::string& word, Outcome& outcome) {
    for (size_t i = 0; i < sizeof kOutcomeWords / sizeof kOutcomeWords[0]; ++i) {
        if (word == kOutcomeWords[i]) {
            outcome = static_cast<Outcome>(i);
            return true;
        }
    }
    return false;
}

// Reads the file at path, lets change change its entries and writes them
// back, keeping the most recent kMaxEntries, in one turn.
template <typename Change>
bool Rewrite(const std::string& path, Change change) {
    try {
        const Turn turn(path);
        std::vector<Entry> entries = Load(path);
        change(entries);
        if (entries.size() > kMaxEntries) entries.erase(entries.begin(), entries.end() - kMaxEntries);
        return plat::ReplaceWholeFile(path, Format(entries), g_replaceSeam);
    } catch (const CExceptionBase&) {  // no turn: the file stays as it was
        return false;
    }
}

bool ParseLine(const std::string& line, Entry& entry) {
    std::vector<std::string> fields;
    size_t begin = 0;
    for (size_t tab; (tab = line.find('\t', begin)) != std::string::npos; begin = tab + 1)
        fields.push_back(line.substr(begin, tab - begin));
    fields.push_back(line.substr(begin));
    if (fields.size() != kShortFields && fields.size() != kFields) return false;
    char* end = nullptr;
    const unsigned long channel = std::strtoul(fields[1].c_str(), &end, 10);
    if (fields[1].empty() || *end != '\0' || channel == 0 || channel > 0xFFFFFFFFul) return false;
    if (!ReadOutcome(fields[6], entry.outcome)) return false;
    if (!ReadTime(fields[0], entry.sent, true) || !ReadTime(fields[2], entry.start, false) ||
        !ReadTime(fields[3], entry.end, false))
        return false;
    entry.channel = static_cast<unsigned>(channel);
    entry.station = fields[4];
    entry.title = fields[5];
    if (fields.size() == kFields) {
        entry.reason = fields[7];
        entry.file = fields[8];
    }
    return true;
}

}  // namespace

std::vector<Entry> Parse(const std::string& text) {
    std::vector<Entry> entries;
    size_t begin = 0;
    while (begin < text.size()) {
        size_t lf = text.find('\n', begin);
        if (lf == std::string::npos) lf = text.size();
        std::string line = text.substr(begin, lf - begin);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        Entry entry;
        if (ParseLine(line, entry)) entries.push_back(entry);
        begin = lf + 1;
    }
    return entries;
}

std::string Format(const std::vector<Entry>& entries) {
    std::string text;
    for (const Entry& e : entries) {
        text += TimeText(e.sent, true) + '\t' + std::to_string(e.channel) + '\t' + TimeText(e.start, false) + '\t' +
                TimeText(e.end, false) + '\t' + Field(e.station) + '\t' + Field(e.title) + '\t' +
                kOutcomeWords[static_cast<int>(e.outcome)];
        const bool plain = e.outcome == Outcome::kSent ||
                           (e.outcome == Outcome::kFailed && e.reason.empty() && e.file.empty());
        if (!plain) text += '\t' + Field(e.reason) + '\t' + Field(e.file);
        text += "\r\n";
    }
    return text;
}

const Entry* FindSent(const std::vector<Entry>& entries, unsigned channel, const tm& start, const tm& end) {
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        if (it->outcome == Outcome::kSent && it->channel == channel && SameMinute(it->start, start) &&
            SameMinute(it->end, end))
            return &*it;
    }
    return nullptr;
}

std::vector<Entry> Load(const std::string& path) {
    std::string text;
    if (!plat::ReadWholeFile(path, &text)) return {};
    return Parse(text);
}

bool HasStarted(const Entry& entry, time_t now) {
    tm start = entry.start;
    start.tm_isdst = -1;
    return std::mktime(&start) <= now;
}

bool SameSend(const Entry& a, const Entry& b) {
    return a.channel == b.channel && SameMinute(a.sent, b.sent) && a.sent.tm_sec == b.sent.tm_sec &&
           SameMinute(a.start, b.start) && SameMinute(a.end, b.end);
}

bool Append(const std::string& path, const Entry& entry) {
    return Rewrite(path, [&](std::vector<Entry>& entries) { entries.push_back(entry); });
}

bool Replace(const std::string& path, const Entry& was, const Entry& entry) {
    return Rewrite(path, [&](std::vector<Entry>& entries) {
        auto it = entries.rbegin();
        while (it != entries.rend() && !SameSend(*it, was)) ++it;
        if (it != entries.rend())
            *it = entry;
        else
            entries.push_back(entry);
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
    });
}

void SetReplaceSeam(bool (*seam)(const std::string& fresh)) { g_replaceSeam = seam; }

}  // namespace history
