// SMTP replies as text: when a reply is complete, how its pieces are put
// together, and what an EHLO reply says the server can do. Pure functions,
// no I/O, so that the tests and the fuzz target can drive them directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace smtp {

// A reply longer than this is not an SMTP reply (a reply line is at most 512
// octets, RFC 5321 section 4.5.3.1.5, and an EHLO reply has a few dozen
// lines): the dialogue ends with CSockIOerror instead of growing the text
// without bound.
constexpr size_t kMaxReplySize = 64 * 1024;

// Whether text holds the final line of a reply, line feed included: a line
// that is not "ddd-..." (RFC 5321 section 4.2.1).
bool ReplyComplete(const std::string& text);

// Appends one received piece to reply: up to the piece's first zero byte,
// as the socket's line reader does. Returns false when the reply would then
// be longer than maxSize (nothing is appended).
bool AppendPiece(std::string& reply, const char* piece, size_t length, size_t maxSize);

// What an EHLO reply announces (RFC 5321 section 4.1.1.1, RFC 3207, RFC 4954).
struct Capabilities {
    std::string serverName;  // the first word after "250" / "250-" on the first line
    bool startTls = false;
    bool authPlain = false;
    bool authLogin = false;
    bool pipelining = false;  // RFC 2920
    bool chunking = false;    // BDAT, RFC 3030
    bool authAny() const { return authPlain || authLogin; }
};

// Reads the keywords of every line of a positive EHLO reply, case-blind;
// "AUTH=LOGIN" (an old form) counts as AUTH LOGIN. Lines that are not
// "250 ..." or "250-..." are skipped.
Capabilities ParseCapabilities(const std::string& reply);

// Whether a refusal is the server's refusal of the sender from (a provider
// that takes only the account's own address): a permanent (5xx) reply to
// MAIL FROM (atMailFrom), or a later 5xx reply that speaks of the sender
// ("sender", "SendAs") or names from, when from is not also the recipient
// rcpt (a refused recipient names itself). Case-blind.
bool RefusesSender(const std::string& reply, bool atMailFrom, const std::string& from, const std::string& rcpt);

// The name EHLO gives (RFC 5321 sections 4.1.3 and 4.1.4): hostName when it
// is a fully qualified ASCII domain name (letters, digits and hyphens in
// labels joined by dots, at least one dot), else the address literal of
// localAddress (network byte order), "[192.0.2.1]". A bare PC name, as
// Windows gives one, is refused by servers that check HELO strictly.
std::string EhloDomain(const std::string& hostName, uint32_t localAddress);

}  // namespace smtp
