#include "mail/MailComposer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/Cp932.h"
#include "mail/MailAccount.h"
#include "mail/SmtpReply.h"
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

// RFC 2047 section 2: an encoded word is at most 75 characters. The prefix
// and "?=" take 16, leaving 59 for Base64, so 56 (14 groups of 4) = 42 bytes.
constexpr char kWordPrefix[] = "=?Shift_JIS?B?";
constexpr size_t kWordBytes = 42;

// Whether a header must carry value encoded: a byte outside printable ASCII
// (a line break in clear would also end the header line).
bool NeedsEncoding(const std::string& value) {
    for (unsigned char c : value) {
        if (c < 0x20 || c > 0x7E) return true;
    }
    return false;
}

// Where the header ends: the first empty line, or the end of text.
size_t HeaderEnd(const std::string& text) {
    if (text.compare(0, 1, "\n") == 0 || text.compare(0, 2, "\r\n") == 0) return 0;
    const size_t lf = text.find("\n\n");
    const size_t crlf = text.find("\n\r\n");
    const size_t end = lf < crlf ? lf : crlf;
    return end == std::string::npos ? text.size() : end + 1;
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

std::string EncodedWords(const std::string& value) {
    std::string out;
    size_t begin = 0;
    while (begin < value.size()) {
        size_t end = begin;
        while (end < value.size()) {
            const size_t length =
                cp932::IsLeadByte(static_cast<unsigned char>(value[end])) && end + 1 < value.size() ? 2 : 1;
            if (end + length - begin > kWordBytes) break;
            end += length;
        }
        if (!out.empty()) out += "\r\n ";
        out += kWordPrefix + smtp::Base64(value.substr(begin, end - begin)) + "?=";
        begin = end;
    }
    return out;
}

void ReplaceField(std::string& text, const char* key, const std::string& value) {
    const size_t keyLength = std::strlen(key);
    if (keyLength == 0) return;
    const std::string encoded = NeedsEncoding(value) ? EncodedWords(value) : value;
    size_t headerEnd = HeaderEnd(text);
    for (size_t pos = text.find(key, 0, keyLength); pos != std::string::npos;) {
        const std::string& inserted = pos < headerEnd ? encoded : value;
        text.replace(pos, keyLength, inserted);
        if (pos < headerEnd) headerEnd = headerEnd + inserted.size() - keyLength;
        pos = text.find(key, pos + inserted.size(), keyLength);
    }
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

std::string ComposeBody(const std::string& format, const MailAccount& account, const MailProgramme& programme,
                        time_t now) {
    std::string text = format;
    // The runtime's conversion buffer is shared: copy it before the next call.
    const tm* converted = std::localtime(&now);
    const tm local = converted ? *converted : tm{};
    ReplaceAll(text, "%date%", DateText(local).c_str());
    ReplaceAll(text, "%zone%", ZoneText(UtcOffsetAt(now)).c_str());
    ReplaceAll(text, "%from%", account.sender.c_str());
    ReplaceAll(text, "%rcpt%", account.recipient.c_str());
    const tm& start = programme.start;
    const tm& end = programme.end;
    const struct {
        const char* key;
        long long value;
    } times[] = {
        {"%syea%", YearOfCentury(start.tm_year)}, {"%smon%", start.tm_mon + 1LL}, {"%sday%", start.tm_mday},
        {"%shou%", start.tm_hour}, {"%smin%", start.tm_min},
        {"%eyea%", YearOfCentury(end.tm_year)}, {"%emon%", end.tm_mon + 1LL}, {"%eday%", end.tm_mday},
        {"%ehou%", end.tm_hour}, {"%emin%", end.tm_min},
    };
    for (const auto& t : times) ReplaceAll(text, t.key, TwoDigits(t.value).c_str());
    ReplaceAll(text, "%chno%", std::to_string(programme.channel).c_str());
    ReplaceField(text, "%titl%", programme.title);
    ReplaceField(text, "%stat%", programme.station);
    return text;
}

std::string FinishMessage(std::string body, const MailAccount& account, const tm& start, uint32_t localAddr) {
    const MessageIdSource ids{plat::TickCount(), plat::CurrentThreadId(), plat::CurrentProcessId(), account.address,
                              localAddr};
    ReplaceAll(body, "%msid%", MessageId(start, ids, account.sender).c_str());
    return DotStuff(body) + kEndOfData;
}
