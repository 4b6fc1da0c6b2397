// CSmtpMailer: fills the mail template with one reservation and delivers it
// through a minimal SMTP dialogue.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

class CSmtpMailer {
public:
    std::string m_strFormat;      // the template: MailFormat.txt's bytes as stored
    uint32_t m_ulSmtpAddr = 0;    // server IPv4 address, network byte order
    uint16_t m_usSmtpPort = 25;   // server TCP port, host byte order
    std::string m_strRcpt;        // recipient address
    std::string m_strFrom;        // sender address

    // Composes the message for start, end (adjusted local times) and channel
    // and delivers it over one connection of its own.
    // Returns true when every reply was accepted, false when the server
    // refused a step (a reply beginning with 4 or 5). Throws the
    // CExceptionBase family on transport and log failures.
    bool SendMail(const tm& start, const tm& end, unsigned channel);
};
