#include "reserve/History.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "base/Cp932.h"
#include "platform/platform.h"

namespace history {

namespace {

// The outcomes' words in the file, in the order of Outcome.
constexpr const char* kOutcomeWords[] = {"failed", "sent", "stopped", "sending"};
// A line of the first form has no reason and no file.
constexpr size_t kShortFields = 7;
constexpr size_t kFields = 9;

bool (*g_replaceSeam)(const std::string& fresh) = nullptr;

// What separates the extras (identity, programme) in the last field.
constexpr char kExtraMark = '*';
// The longest identity and program-id read or kept.
constexpr size_t kMaxIdBytes = 64;

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

// The year in long long: tm_year + 1900 can pass INT_MAX.
long long Year(const tm& t) { return static_cast<long long>(t.tm_year) + 1900; }

std::string TimeText(const tm& t, bool seconds) {
    char text[96];
    if (seconds)
        std::snprintf(text, sizeof text, "%04lld/%02d/%02d %02d:%02d:%02d", Year(t), t.tm_mon + 1, t.tm_mday,
                      t.tm_hour, t.tm_min, t.tm_sec);
    else
        std::snprintf(text, sizeof text, "%04lld/%02d/%02d %02d:%02d", Year(t), t.tm_mon + 1, t.tm_mday,
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

// The file's name as the last field holds it: a '*' (never in a Windows
// file name) would start the extras, so it becomes a blank.
std::string FileField(const std::string& name) {
    std::string field = Field(name);
    for (size_t i = 0; i < field.size(); ++i) {
        if (cp932::IsLeadByte(static_cast<unsigned char>(field[i])))
            ++i;
        else if (field[i] == kExtraMark)
            field[i] = ' ';
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

// Letters, digits, '.', '-' and '_', 1 to kMaxIdBytes of them: what an
// identity or a program-id may be, so that it never holds a separator.
bool IsToken(const std::string& text) {
    if (text.empty() || text.size() > kMaxIdBytes) return false;
    for (const char c : text) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter && !(c >= '0' && c <= '9') && c != '.' && c != '-' && c != '_') return false;
    }
    return true;
}

bool HasExtras(const Entry& e) { return !e.id.empty() || e.programme.known; }

// The extras that follow the file's name in the last field.
std::string Extras(const Entry& e) {
    std::string text;
    if (!e.id.empty()) text += std::string(1, kExtraMark) + "id=" + e.id;
    if (e.programme.known) {
        text += std::string(1, kExtraMark) + "from=" + TimeText(e.programme.start, false) + kExtraMark +
                "to=" + TimeText(e.programme.end, false);
        if (!e.programme.programId.empty()) text += std::string(1, kExtraMark) + "pid=" + e.programme.programId;
    }
    return text;
}

// Splits the last field into the file's name and the extras; an extra that
// does not read is left out, and the programme is known only with both times.
void ReadExtras(const std::string& field, Entry& entry) {
    const size_t mark = field.find(kExtraMark);
    entry.file = field.substr(0, mark);
    if (mark == std::string::npos) return;
    bool from = false, to = false;
    size_t begin = mark + 1;
    while (begin <= field.size()) {
        size_t next = field.find(kExtraMark, begin);
        if (next == std::string::npos) next = field.size();
        const std::string item = field.substr(begin, next - begin);
        const size_t equals = item.find('=');
        const std::string key = item.substr(0, equals);
        const std::string value = equals == std::string::npos ? std::string() : item.substr(equals + 1);
        if (key == "id" && IsToken(value))
            entry.id = value;
        else if (key == "from")
            from = ReadTime(value, entry.programme.start, false);
        else if (key == "to")
            to = ReadTime(value, entry.programme.end, false);
        else if (key == "pid" && IsToken(value))
            entry.programme.programId = value;
        begin = next + 1;
    }
    entry.programme.known = from && to;
    if (!entry.programme.known) entry.programme = Programme();
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

// Whether the channel field is a number from 1 to 2^32 - 1 written in
// digits only.
bool ReadChannel(const std::string& field, unsigned& channel) {
    if (field.empty() || field.size() > 10) return false;
    unsigned long long value = 0;
    for (const char c : field) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 0xFFFFFFFFull) return false;
    channel = static_cast<unsigned>(value);
    return true;
}

bool ParseLine(const std::string& line, Entry& entry) {
    std::vector<std::string> fields;
    size_t begin = 0;
    for (size_t tab; (tab = line.find('\t', begin)) != std::string::npos; begin = tab + 1)
        fields.push_back(line.substr(begin, tab - begin));
    fields.push_back(line.substr(begin));
    if (fields.size() != kShortFields && fields.size() != kFields) return false;
    if (!ReadChannel(fields[1], entry.channel)) return false;
    if (!ReadOutcome(fields[6], entry.outcome)) return false;
    if (!ReadTime(fields[0], entry.sent, true) || !ReadTime(fields[2], entry.start, false) ||
        !ReadTime(fields[3], entry.end, false))
        return false;
    entry.station = fields[4];
    entry.title = fields[5];
    if (fields.size() == kFields) {
        entry.reason = fields[7];
        ReadExtras(fields[8], entry);
    }
    return true;
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

std::vector<Entry> Parse(const std::string& text) {
    std::vector<Entry> entries;
    // A byte order mark that an editor saved before the first line.
    static const char kBom[] = "\xEF\xBB\xBF";
    size_t begin = text.compare(0, 3, kBom) == 0 ? 3 : 0;
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
        const bool sent = e.outcome == Outcome::kSent;
        const bool plain = sent || (e.outcome == Outcome::kFailed && e.reason.empty() && e.file.empty());
        if (!plain || HasExtras(e))
            text += '\t' + (sent ? std::string() : Field(e.reason)) + '\t' + (sent ? std::string() : FileField(e.file)) +
                    Extras(e);
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
    if (recorded.station != Field(wanted.station)) return false;
    const Programme& a = recorded.programme;
    const Programme& b = wanted.programme;
    if (!a.programId.empty() && !b.programId.empty()) return a.programId == b.programId;
    return SameMinute(a.start, b.start) && SameMinute(a.end, b.end);
}

std::string NewId() {
    static std::atomic<unsigned> count{0};
    char text[48];
    std::snprintf(text, sizeof text, "%lx-%lx-%x", static_cast<unsigned long>(plat::CurrentProcessId()),
                  static_cast<unsigned long>(std::time(nullptr)), ++count);
    return text;
}

bool CanHold(const tm& t) {
    const long long year = Year(t);
    return year >= 1900 && year <= 9999 && t.tm_mon >= 0 && t.tm_mon <= 11 && t.tm_mday >= 1 && t.tm_mday <= 31 &&
           t.tm_hour >= 0 && t.tm_hour <= 23 && t.tm_min >= 0 && t.tm_min <= 59 && t.tm_sec >= 0 && t.tm_sec <= 60;
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
