// The history file's lines: one entry a line, tab-separated fields in code
// page 932, CR LF at the end, as History.h describes them. Reading and
// writing lines; the file itself (its turn, its replacement) is History.cpp's.
#include "reserve/HistoryLine.h"

#include <cstdio>
#include <string>
#include <vector>

#include "base/Cp932.h"

namespace history {

namespace {

// The outcomes' words in the file, in the order of Outcome.
constexpr const char* kOutcomeWords[] = {"failed", "sent", "stopped", "sending"};
// A line of the first form has no reason and no file.
constexpr size_t kShortFields = 7;
constexpr size_t kFields = 9;
// What separates the extras (identity, programme) in the last field.
constexpr char kExtraMark = '*';
// The longest identity and program-id read or kept.
constexpr size_t kMaxIdBytes = 64;

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

}  // namespace

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

bool CanHold(const tm& t) {
    const long long year = Year(t);
    return year >= 1900 && year <= 9999 && t.tm_mon >= 0 && t.tm_mon <= 11 && t.tm_mday >= 1 && t.tm_mday <= 31 &&
           t.tm_hour >= 0 && t.tm_hour <= 23 && t.tm_min >= 0 && t.tm_min <= 59 && t.tm_sec >= 0 && t.tm_sec <= 60;
}

}  // namespace history
