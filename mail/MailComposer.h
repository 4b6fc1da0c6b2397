// The mail composer: the template filled for one reservation (ComposeBody)
// and made ready for the wire (FinishMessage), and the pieces they are made
// of: placeholder replacement, the Date and Zone texts, the message
// identifier and the dot-stuffing of the message body. CSmtpMailer calls the
// first two; each is a plain function so that it can be checked on its own.
// None of them owns anything beyond its result; they throw nothing but
// std::bad_alloc.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

struct MailAccount;

// What one reservation mail carries besides the account.
struct MailProgramme {
    tm start;          // adjusted local times
    tm end;
    unsigned channel;
    // For "%titl%" and "%stat%": the iEPG file's "program-title:" and
    // "station:" values as written; empty when absent.
    std::string title;
    std::string station;
};

// The template format (MailFormat.txt's bytes as stored) with every
// placeholder but "%msid%" replaced: the Date and Zone texts taken at the
// calendar time now, account's sender and recipient, the programme's times
// and channel, and its title and station last (ReplaceField), so that no
// other placeholder is looked for inside them.
std::string ComposeBody(const std::string& format, const MailAccount& account, const MailProgramme& programme,
                        time_t now);

// The message as it goes after DATA: "%msid%" replaced by the identifier
// built for start, this process and thread, account's sender and address and
// the connection's local address (network byte order), every line's leading
// period doubled, and the end-of-data mark appended.
std::string FinishMessage(std::string body, const MailAccount& account, const tm& start, uint32_t localAddr);

// Replaces every occurrence of key in text by value, left to right. The
// search goes on right after each inserted value, so a value that contains
// key is inserted once and not scanned again by this pass (a later pass with
// another key scans the whole text, inserted values included). An empty key
// replaces nothing.
void ReplaceAll(std::string& text, const char* key, const char* value);

// Replaces key as ReplaceAll does, except where key stands in the header
// (before the text's first empty line, or anywhere when it has none): there
// a value holding any byte outside printable ASCII goes in as EncodedWords,
// so that the header stays 7-bit (RFC 5322). In the body the value goes in
// as it is.
void ReplaceField(std::string& text, const char* key, const std::string& value);

// value (code page 932) as RFC 2047 encoded words, charset Shift_JIS, B
// encoding, each at most 75 characters and never splitting a double-byte
// character, joined by CR LF and a space (a folded header line).
std::string EncodedWords(const std::string& value);

// "Mon, 05 Jan 2004 21:30:00": the broken-down time with English day and
// month names, whatever locale the process has set.
std::string DateText(const tm& local);

// Seconds east of UTC of a local time, from the local and the UTC broken-down
// forms of the same instant (both as localtime and gmtime give them).
long UtcOffsetSeconds(const tm& local, const tm& utc);

// Seconds east of UTC in effect at the instant t in the process's time zone,
// daylight saving included; 0 when the runtime cannot convert t.
long UtcOffsetAt(time_t t);

// "+0900", "-0330": sign (plus for UTC itself), whole hours and remaining
// minutes of an offset given in seconds east of UTC.
std::string ZoneText(long eastSeconds);

// The values that make a message identifier unique, besides the start time.
struct MessageIdSource {
    uint32_t tickCount;   // milliseconds since the system started
    uint32_t threadId;
    uint32_t processId;
    uint32_t smtpAddr;    // server IPv4 address, network byte order
    uint32_t localAddr;   // the connection's local IPv4 address, likewise
};

// "%x%x%x%x%x$%x$%x$%x$%x$%x$%s" with the start's minute, hour, day of month,
// month from 0 and year minus 1900, then the five values of ids and from.
// Addresses appear as 32-bit numbers, so 127.0.0.1 gives 100007f.
std::string MessageId(const tm& start, const MessageIdSource& ids, const std::string& from);

// A period that begins a line is doubled, so that no line of the body reads
// as the end-of-data mark; the server removes the extra period again. A line
// begins at the start of body and after every line feed, so bare-LF lines
// are covered too (servers such as postfix take a bare LF as a line end).
std::string DotStuff(const std::string& body);
