// The mail composer: the template filled for one reservation (ComposeBody)
// and made ready for the wire (FinishMessage), and the pieces they are made
// of: placeholder replacement, the Date and Zone texts, the message
// identifier and the dot-stuffing of the message body. CSmtpMailer calls the
// first two; each is a plain function so that it can be checked on its own.
// None of them owns anything beyond its result. Everything from the iEPG
// file is hostile: it is bounded in size, read once and never carries a
// control character to the wire.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "mail/MailProgramme.h"

struct MailAccount;

// The longest value of the file that goes into a mail: far beyond any real
// title or station, small enough that no template can make a message of
// unbounded size from it.
constexpr size_t kMaxValueBytes = 1024;
// RFC 5322 section 2.1.1: a header line is at most 998 characters besides
// its CR LF.
constexpr size_t kMaxHeaderLine = 998;
// RFC 2047 section 2: a header line that holds an encoded word is at most 76
// characters.
constexpr size_t kMaxEncodedLine = 76;
// RFC 5321 section 4.5.3.1.6: a line of the mail data is at most 1,000
// bytes with its CR LF; longer ones are refused by strict servers and split
// anywhere (inside a double-byte character) by others.
constexpr size_t kMaxDataLine = 998;

// A filled template before the message identifier is known.
struct ComposedBody {
    // The template with every placeholder but "%msid%" replaced and every
    // line end CR LF; "%msid%" stands where the template had it.
    std::string text;
    // Where the template's own "%msid%" stands in text, ascending: a
    // "%msid%" inside a value is text like any other.
    std::vector<size_t> identifierAt;
};

// The template format (MailFormat.txt's bytes as stored) filled in one pass
// over format: each placeholder the template holds is replaced by its value
// and values are never searched. The Date and Zone texts are taken at the
// calendar time now; account's sender and recipient, the programme's times
// and channel, its title and station. A bare CR or LF of the template becomes
// CR LF. Title and station are cut to kMaxValueBytes (CappedValue, said in
// the log with an "I:" line); in the body a control character of a value
// becomes a blank; in the header (before the template's first empty line,
// or anywhere when it has none) title and station go in as HeaderValue
// makes them. Throws CFileIOerror (log), std::bad_alloc.
ComposedBody ComposeBody(const std::string& format, const MailAccount& account, const MailProgramme& programme,
                         time_t now);

// The message as it goes after DATA: the template's "%msid%" replaced by the
// identifier built for start, this process and thread, account's sender and
// address and the connection's local address (network byte order), every
// line's leading period doubled, and the end-of-data mark appended. Its line
// ends are all CR LF. A line that would pass kMaxDataLine bytes is broken
// between two characters (BreakLongLines), and the log says how many were.
// Throws CFileIOerror (log), std::bad_alloc.
std::string FinishMessage(const ComposedBody& body, const MailAccount& account, const tm& start,
                          uint32_t localAddr);

// value cut to at most maxBytes between two characters (a double-byte
// character of code page 932 stays whole).
std::string CappedValue(const std::string& value, size_t maxBytes);

// A header line as far as it is written: its characters, and whether one of
// them is an encoded word (the line is then held to kMaxEncodedLine).
struct HeaderLine {
    size_t column = 0;
    bool holdsWord = false;
};

// A value of the file as it goes into a header after line, with rest
// characters of the template to follow on its line. Printable ASCII goes in
// as it is, folded before blanks so that no line exceeds its limit; anything
// else (a byte outside printable ASCII, a text that would read as an encoded
// word, a word too long for its line) goes in as EncodedWords. *line becomes
// the last line written.
std::string HeaderValue(const std::string& value, HeaderLine* line, size_t rest);

// Replaces every occurrence of key in text by value, left to right. The
// search goes on right after each inserted value, so a value that contains
// key is inserted once and not scanned again by this pass. An empty key
// replaces nothing.
void ReplaceAll(std::string& text, const char* key, const char* value);

// value (code page 932) as RFC 2047 encoded words, charset Shift_JIS, B
// encoding, never splitting a double-byte character, joined by CR LF and a
// space (a folded header line). The first word starts at column (the
// characters before it on its line) and every line ends by kMaxEncodedLine;
// where the first line has no room for a word, the words begin on a line of
// their own (the output then starts with CR LF). rest characters that follow
// the last word are left room for where a line can hold them. A value with
// bytes that are not whole characters (a lead byte at its end) is still
// carried byte for byte.
std::string EncodedWords(const std::string& value, size_t column = 1, size_t rest = 0);

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

// text (CR LF line ends) with every line that would pass kMaxDataLine bytes
// once DotStuff has doubled its leading period broken between two
// characters, as often as it takes: a header line (before the first empty
// line) is folded, with CR LF and a blank, a body line goes on in a line of
// its own. *broken gets the count of lines broken.
std::string BreakLongLines(const std::string& text, size_t* broken);

// A period that begins a line is doubled, so that no line of the body reads
// as the end-of-data mark; the server removes the extra period again. A line
// begins at the start of body and after every line feed.
std::string DotStuff(const std::string& body);

// message (as FinishMessage makes it) as the server takes it after DATA:
// the end-of-data mark's period line gone and every leading period that
// DotStuff doubled single again. The text BDAT carries (RFC 3030 section 2),
// which counts bytes instead of marking the end.
std::string Unstuffed(const std::string& message);
