// CSmtpMailer: fills the mail template with one reservation and delivers it
// through a minimal SMTP dialogue.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

class CSmtpMailer {
public:
    // How long a reply may take (RFC 5321 section 4.5.3.2): 5 minutes for
    // the greeting and each command, 10 minutes after the end of the data,
    // while the server may still be processing the message.
    static constexpr uint32_t kCommandTimeoutMs = 5 * 60 * 1000;
    static constexpr uint32_t kDataEndTimeoutMs = 10 * 60 * 1000;
    // A reply longer than this is not an SMTP reply: the dialogue ends with
    // CSockIOerror instead of growing the text without bound.
    static constexpr size_t kMaxReplySize = 64 * 1024;

    std::string m_strFormat;      // the template: MailFormat.txt's bytes as stored
    uint32_t m_ulSmtpAddr = 0;    // server IPv4 address, network byte order
    uint16_t m_usSmtpPort = 25;   // server TCP port, host byte order
    std::string m_strRcpt;        // recipient address
    std::string m_strFrom;        // sender address
    // The longest wait for one whole reply; tests shorten them.
    uint32_t m_commandTimeoutMs = kCommandTimeoutMs;
    uint32_t m_dataEndTimeoutMs = kDataEndTimeoutMs;

    // Composes the message for start, end (adjusted local times) and channel
    // and delivers it over one connection of its own: greeting, HELO, MAIL
    // FROM, RCPT TO, DATA, the message, QUIT; every text sent ("S:") and
    // received ("R:") goes to the log. A refused step sends nothing more.
    // Returns true when every reply up to the end of the data was accepted
    // (whatever QUIT then gets: that is only logged), false when the server
    // refused a step (a reply beginning with 4 or 5). Throws CSockIOerror,
    // CSockCreateError, CSockClose (the server hung up), CTimeOut (a reply did
    // not come in time), CIllegalParam (a message over 2 GiB, more than one
    // send can take), CFileIOerror (log), std::bad_alloc.
    bool SendMail(const tm& start, const tm& end, unsigned channel);

    // The template with every placeholder but "%msid%" replaced, the Date and
    // Zone texts taken at the calendar time now.
    std::string ComposeBody(const tm& start, const tm& end, unsigned channel, time_t now) const;
    // The message as it goes after DATA: "%msid%" replaced by the identifier
    // built for this process, thread and the connection's local address, every
    // line's leading period doubled, and the end-of-data mark appended.
    std::string FinishMessage(std::string body, const tm& start, uint32_t localAddr) const;
};
