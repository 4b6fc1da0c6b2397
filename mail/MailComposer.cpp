#include "mail/MailComposer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/Cp932.h"
#include "base/system.h"
#include "mail/MailAccount.h"
#include "mail/Base64.h"
#include "platform/platform.h"

namespace {

// Mail dates use the English names (RFC 5322 section 3.3), never the
// process locale's.
const char* const kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// A table entry for index i, or "???" when a broken-down time was never
// normalised and holds an out-of-range field.
const char* NameAt(const char* const* table, int size, int i) {
    return (i >= 0 && i < size) ? table[i] : "???";
}

void AppendHex(std::string& out, uint32_t value) {
    char digits[9];  // eight hexadecimal digits and the terminator
    std::snprintf(digits, sizeof digits, "%x", static_cast<unsigned>(value));
    out += digits;
}

// An encoded word: the prefix, Base64 and "?=" (RFC 2047 section 2).
constexpr char kWordPrefix[] = "=?Shift_JIS?B?";
constexpr size_t kWordFrame = sizeof kWordPrefix - 1 + 2;
// The shortest word that holds any character: its frame and one Base64
// group of up to three bytes.
constexpr size_t kSmallestWord = kWordFrame + 4;
// Every placeholder is six characters.
constexpr size_t kKeyLength = 6;

// The most bytes a word of at most room characters carries: whole Base64
// groups of four characters, three bytes each.
size_t WordBytes(size_t room) { return room < kWordFrame ? 0 : (room - kWordFrame) / 4 * 3; }

// The length of the character at value[at]: 2 for a lead byte that has its
// trail byte, else 1.
size_t CharLength(const std::string& value, size_t at) {
    return cp932::IsLeadByte(static_cast<unsigned char>(value[at])) && at + 1 < value.size() ? 2 : 1;
}

// The end of the longest run of whole characters from begin that holds at
// most maxBytes.
size_t WholeCharacters(const std::string& value, size_t begin, size_t maxBytes) {
    size_t end = begin;
    while (end < value.size()) {
        const size_t length = CharLength(value, end);
        if (end + length - begin > maxBytes) break;
        end += length;
    }
    return end;
}

// Where the last character of value from begin on starts.
size_t LastCharacter(const std::string& value, size_t begin) {
    size_t at = begin;
    while (at < value.size() && at + CharLength(value, at) < value.size()) at += CharLength(value, at);
    return at;
}

bool IsControl(unsigned char c) { return c < 0x20; }

// value with every control character (CR, LF, NUL and the rest of C0) a
// blank, so that no value can end a line or the data.
std::string ControlsToBlanks(std::string value) {
    for (char& c : value) {
        if (IsControl(static_cast<unsigned char>(c))) c = ' ';
    }
    return value;
}

// Whether a header can carry value as it is: printable ASCII only, and
// nothing a mail reader would decode as an encoded word.
bool PrintableAscii(const std::string& value) {
    for (unsigned char c : value) {
        if (c < 0x20 || c > 0x7E) return false;
    }
    return value.find("=?") == std::string::npos;
}

// value folded before blanks (RFC 5322 section 2.2.3) so that, starting on
// line with rest characters to follow, no line exceeds kMaxHeaderLine, nor
// kMaxEncodedLine while it holds an encoded word. false when a word does not
// fit on its line.
bool FoldAtBlanks(const std::string& value, HeaderLine* line, size_t rest, std::string& out) {
    const auto limit = [rest](bool holdsWord) {
        const size_t most = holdsWord ? kMaxEncodedLine : kMaxHeaderLine;
        return rest < most ? most - rest : 0;
    };
    HeaderLine at = *line;
    for (size_t begin = 0; begin < value.size();) {
        // One piece: the blanks before a word and the word.
        const size_t word = value.find_first_not_of(' ', begin);
        size_t end = word == std::string::npos ? value.size() : value.find(' ', word);
        if (end == std::string::npos) end = value.size();
        const size_t length = end - begin;
        if (at.column + length > limit(at.holdsWord)) {
            // Only before blanks, and never leaving a line of blanks alone.
            if (word == begin || word == std::string::npos || length > limit(false)) return false;
            out += "\r\n";
            at = HeaderLine{};
        }
        out.append(value, begin, length);
        at.column += length;
        begin = end;
    }
    *line = at;
    return true;
}

// Cuts value to kMaxValueBytes; a cut is said in the log, under name.
std::string LoggedCap(const std::string& value, const char* name) {
    std::string capped = CappedValue(value, kMaxValueBytes);
    if (capped.size() < value.size()) {
        WriteLog(std::string("I:") + name + " of " + std::to_string(value.size()) + " bytes cut to " +
                 std::to_string(capped.size()) + "\r\n");
    }
    return capped;
}

// Ends the message data (RFC 5321 section 4.1.1.4).
const char kEndOfData[] = "\r\n.\r\n";

// "%02u" of a broken-down time's field.
std::string TwoDigits(long long value) {
    char text[16];
    std::snprintf(text, sizeof text, "%02u", static_cast<unsigned>(value));
    return text;
}

// The last two digits of the year, 0 to 99, for any tm_year: mktime may have
// carried a file's year near INT_MAX past the range of int + 1900, and a year
// before 0 still ends in two digits.
long long YearOfCentury(int tmYear) {
    const long long mod = (static_cast<long long>(tmYear) + 1900) % 100;
    return mod < 0 ? mod + 100 : mod;
}

}  // namespace

std::string CappedValue(const std::string& value, size_t maxBytes) {
    return value.substr(0, WholeCharacters(value, 0, maxBytes));
}

std::string EncodedWords(const std::string& value, size_t column, size_t rest) {
    // Room for the text after the last word only where a line can hold both.
    if (1 + kSmallestWord + rest > kMaxEncodedLine) rest = 0;
    std::string out;
    bool lineHasWord = false;
    for (size_t begin = 0; begin < value.size();) {
        if (lineHasWord) {
            out += "\r\n ";
            column = 1;
        }
        const size_t room = column < kMaxEncodedLine ? kMaxEncodedLine - column : 0;
        size_t end = WholeCharacters(value, begin, WordBytes(room));
        // All that is left fits, but not with the text after it: the last
        // character goes on a line of its own.
        if (end == value.size() && rest > 0 && room > rest &&
            WholeCharacters(value, begin, WordBytes(room - rest)) < end)
            end = LastCharacter(value, begin);
        if (end == begin) {  // no room on this line
            out += "\r\n ";
            column = 1;
            lineHasWord = false;
            continue;
        }
        const std::string word = kWordPrefix + smtp::Base64(value.substr(begin, end - begin)) + "?=";
        out += word;
        column += word.size();
        lineHasWord = true;
        begin = end;
    }
    return out;
}

std::string HeaderValue(const std::string& value, HeaderLine* line, size_t rest) {
    std::string out;
    if (PrintableAscii(value) && FoldAtBlanks(value, line, rest, out)) return out;
    out = EncodedWords(value, line->column, rest);
    const size_t fold = out.rfind("\r\n");
    line->column = fold == std::string::npos ? line->column + out.size() : out.size() - fold - 2;
    line->holdsWord = line->holdsWord || !out.empty();
    return out;
}

void ReplaceAll(std::string& text, const char* key, const char* value) {
    const size_t keyLength = std::strlen(key);
    if (keyLength == 0) return;
    const size_t valueLength = std::strlen(value);
    for (size_t pos = text.find(key, 0, keyLength); pos != std::string::npos;
         pos = text.find(key, pos + valueLength, keyLength)) {
        text.replace(pos, keyLength, value, valueLength);
    }
}

std::string DateText(const tm& local) {
    // Every field is an int: 3 + 2 + 3 * 11 + 3 + 3 * 11 separators and digits fit.
    char text[96];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d", NameAt(kDayNames, 7, local.tm_wday),
                  local.tm_mday, NameAt(kMonthNames, 12, local.tm_mon), local.tm_year + 1900, local.tm_hour,
                  local.tm_min, local.tm_sec);
    return text;
}

long UtcOffsetSeconds(const tm& local, const tm& utc) {
    // The two forms are less than a day apart, so they lie on the same day,
    // on neighbouring days of one year, or across a new year.
    long days = local.tm_yday - utc.tm_yday;
    if (local.tm_year != utc.tm_year) days = local.tm_year > utc.tm_year ? 1 : -1;
    return ((days * 24 + (local.tm_hour - utc.tm_hour)) * 60 + (local.tm_min - utc.tm_min)) * 60 +
           (local.tm_sec - utc.tm_sec);
}

long UtcOffsetAt(time_t t) {
    // Both results live in one static buffer of the runtime: copy each at once.
    const tm* p = std::localtime(&t);
    if (!p) return 0;
    const tm local = *p;
    p = std::gmtime(&t);
    if (!p) return 0;
    return UtcOffsetSeconds(local, *p);
}

std::string ZoneText(long eastSeconds) {
    const char sign = eastSeconds < 0 ? '-' : '+';
    const long minutes = std::labs(eastSeconds) / 60;
    char text[32];
    std::snprintf(text, sizeof text, "%c%02ld%02ld", sign, minutes / 60, minutes % 60);
    return text;
}

std::string MessageId(const tm& start, const MessageIdSource& ids, const std::string& from) {
    std::string id;
    id.reserve(6 * 8 + 6 + from.size());
    AppendHex(id, static_cast<uint32_t>(start.tm_min));
    AppendHex(id, static_cast<uint32_t>(start.tm_hour));
    AppendHex(id, static_cast<uint32_t>(start.tm_mday));
    AppendHex(id, static_cast<uint32_t>(start.tm_mon));
    AppendHex(id, static_cast<uint32_t>(start.tm_year));
    for (uint32_t value : {ids.tickCount, ids.threadId, ids.processId, ids.smtpAddr, ids.localAddr}) {
        id += '$';
        AppendHex(id, value);
    }
    id += '$';
    id += from;
    return id;
}

std::string BreakLongLines(const std::string& text, size_t* broken) {
    *broken = 0;
    std::string out;
    out.reserve(text.size() + text.size() / kMaxDataLine * 3);
    bool header = true;  // before the first empty line
    for (size_t begin = 0;;) {
        size_t end = text.find("\r\n", begin);
        const bool last = end == std::string::npos;
        if (last) end = text.size();
        if (end == begin) header = false;
        bool continued = false;  // at a piece after a break
        for (size_t at = begin;;) {
            const bool folded = continued && header;  // the piece follows the fold's blank
            const bool stuffed = !folded && at < end && text[at] == '.';
            const size_t limit = kMaxDataLine - (folded || stuffed ? 1 : 0);
            if (end - at <= limit) {
                out.append(text, at, end - at);
                break;
            }
            // The piece is shorter than its line, so it never reaches the
            // CR: a character cut there is one of the line.
            const size_t cut = WholeCharacters(text, at, limit);
            out.append(text, at, cut - at);
            out += header ? "\r\n " : "\r\n";
            if (!continued) ++*broken;
            continued = true;
            at = cut;
        }
        if (last) return out;
        out += "\r\n";
        begin = end + 2;
    }
}

std::string DotStuff(const std::string& body) {
    std::string out;
    out.reserve(body.size() + body.size() / 64 + 1);
    bool lineStart = true;
    for (char c : body) {
        if (lineStart && c == '.') out += '.';
        out += c;
        lineStart = (c == '\n');
    }
    return out;
}

std::string Unstuffed(const std::string& message) {
    // The mark's CR LF ends the last line; ".\r\n" after it goes.
    const size_t end = message.size() >= 3 && message.compare(message.size() - 3, 3, ".\r\n") == 0
                           ? message.size() - 3
                           : message.size();
    std::string out;
    out.reserve(end);
    bool lineStart = true;
    for (size_t i = 0; i < end; ++i) {
        const char c = message[i];
        if (!(lineStart && c == '.')) out += c;
        lineStart = (c == '\n');
    }
    return out;
}

ComposedBody ComposeBody(const std::string& format, const MailAccount& account, const MailProgramme& programme,
                         time_t now) {
    // The runtime's conversion buffer is shared: copy it before the next call.
    const tm* converted = std::localtime(&now);
    const tm local = converted ? *converted : tm{};
    const tm& start = programme.start;
    const tm& end = programme.end;
    // kField: a value of the file, which a header carries as HeaderValue
    // makes it; kIdentifier: filled by FinishMessage.
    enum class Kind { kText, kField, kIdentifier };
    const struct {
        const char* key;
        Kind kind;
        std::string text;
    } values[] = {
        {"%date%", Kind::kText, DateText(local)},
        {"%zone%", Kind::kText, ZoneText(UtcOffsetAt(now))},
        {"%from%", Kind::kText, account.sender},
        {"%rcpt%", Kind::kText, account.recipient},
        {"%syea%", Kind::kText, TwoDigits(YearOfCentury(start.tm_year))},
        {"%smon%", Kind::kText, TwoDigits(start.tm_mon + 1LL)},
        {"%sday%", Kind::kText, TwoDigits(start.tm_mday)},
        {"%shou%", Kind::kText, TwoDigits(start.tm_hour)},
        {"%smin%", Kind::kText, TwoDigits(start.tm_min)},
        {"%eyea%", Kind::kText, TwoDigits(YearOfCentury(end.tm_year))},
        {"%emon%", Kind::kText, TwoDigits(end.tm_mon + 1LL)},
        {"%eday%", Kind::kText, TwoDigits(end.tm_mday)},
        {"%ehou%", Kind::kText, TwoDigits(end.tm_hour)},
        {"%emin%", Kind::kText, TwoDigits(end.tm_min)},
        {"%chno%", Kind::kText, std::to_string(programme.channel)},
        {"%titl%", Kind::kField, LoggedCap(programme.title, "program-title")},
        {"%stat%", Kind::kField, LoggedCap(programme.station, "station")},
        {"%msid%", Kind::kIdentifier, ""},
    };

    const auto placeholderAt = [&](size_t i) {
        if (format[i] != '%') return std::end(values);
        return std::find_if(std::begin(values), std::end(values),
                            [&](const auto& v) { return format.compare(i, kKeyLength, v.key) == 0; });
    };
    // The characters a placeholder adds to a header line before the values
    // of the file, which fold themselves (the identifier as its key).
    const auto width = [](const auto& v) { return v.kind == Kind::kText ? v.text.size() : v.kind == Kind::kField ? 0 : kKeyLength; };

    ComposedBody body;
    std::string& out = body.text;
    out.reserve(format.size() + format.size() / 8);
    bool header = true;  // before the template's first empty line
    bool lineStart = true;
    HeaderLine line;     // out's current line
    size_t rest = 0;     // what the rest of the template's line adds to it
    for (size_t i = 0; i < format.size();) {
        const char c = format[i];
        if (c == '\r' || c == '\n') {
            if (lineStart) header = false;
            out += "\r\n";
            line = HeaderLine{};
            lineStart = true;
            i += c == '\r' && i + 1 < format.size() && format[i + 1] == '\n' ? 2 : 1;
            continue;
        }
        if (lineStart && header) {
            rest = 0;
            for (size_t j = i; j < format.size() && format[j] != '\r' && format[j] != '\n';) {
                const auto v = placeholderAt(j);
                rest += v == std::end(values) ? 1 : width(*v);
                j += v == std::end(values) ? 1 : kKeyLength;
            }
        }
        lineStart = false;
        const auto value = placeholderAt(i);
        if (value == std::end(values)) {
            out += c;
            ++line.column;
            if (header) --rest;
            ++i;
            continue;
        }
        i += kKeyLength;
        if (header) rest -= width(*value);
        if (value->kind == Kind::kIdentifier) {
            body.identifierAt.push_back(out.size());
            out += value->key;
            line.column += kKeyLength;
        } else if (value->kind == Kind::kField && header) {
            out += HeaderValue(value->text, &line, rest);
        } else {
            out += ControlsToBlanks(value->text);
            line.column += value->text.size();
        }
    }
    return body;
}

std::string FinishMessage(const ComposedBody& body, const MailAccount& account, const tm& start,
                          uint32_t localAddr) {
    const MessageIdSource ids{plat::TickCount(), plat::CurrentThreadId(), plat::CurrentProcessId(), account.address,
                              localAddr};
    const std::string id = ControlsToBlanks(MessageId(start, ids, account.sender));
    std::string filled;
    filled.reserve(body.text.size() + body.identifierAt.size() * id.size());
    size_t from = 0;
    for (size_t at : body.identifierAt) {
        filled.append(body.text, from, at - from);
        filled += id;
        from = at + kKeyLength;
    }
    filled.append(body.text, from, std::string::npos);
    size_t broken = 0;
    const std::string lines = BreakLongLines(filled, &broken);
    if (broken > 0) WriteLog("I:Mail lines over 998 bytes broken: " + std::to_string(broken) + "\r\n");
    return DotStuff(lines) + kEndOfData;
}
