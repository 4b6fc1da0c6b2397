// What CSmtpMailer's two halves share: the send's link to Cancel, one
// connection with its dialogue's state, and the end of a session after a
// mail. SmtpMailer.cpp holds the mailer and the one-command-at-a-time
// dialogue, SmtpGroups.cpp the dialogue in groups (PIPELINING, CHUNKING).
// Not for use outside the mailer.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "mail/SmtpConnection.h"
#include "mail/SmtpMailer.h"
#include "net/CSock.h"

// Makes the socket of one SendMail reachable for Cancel while it lives.
class CSmtpMailer::ActiveSend {
public:
    ActiveSend(CancelState& state, CSock& sock) : m_state(state) {
        std::lock_guard<std::mutex> hold(m_state.lock);
        m_state.sock = &sock;
        m_state.delivered = false;
        if (m_state.cancelled) sock.Abort();  // cancelled before it began
    }
    ~ActiveSend() {
        std::lock_guard<std::mutex> hold(m_state.lock);
        m_state.sock = nullptr;
    }
    ActiveSend(const ActiveSend&) = delete;
    ActiveSend& operator=(const ActiveSend&) = delete;

    // The server has taken the mail: a later Cancel no longer counts as a
    // stopped send.
    void Delivered() {
        std::lock_guard<std::mutex> hold(m_state.lock);
        m_state.delivered = true;
    }

private:
    CancelState& m_state;
};

struct CSmtpMailer::Session {
    CSock sock;
    int32_t slot = -1;
    bool pipelining = false;  // the server takes groups of commands (RFC 2920)
    bool chunking = false;    // and the message in BDAT (RFC 3030)
    smtp::Command auth;       // AUTH PLAIN, to go first in the first group
    bool reset = false;       // the last mail was refused: RSET goes first in the next group
    // Mails whose commands and message are written and whose replies are
    // not yet read, the next to read first; reset: RSET went before it.
    struct Written {
        MailProgramme programme;
        bool reset = false;
    };
    std::vector<Written> written;
    bool quitSent = false;  // QUIT went after the last of them
    std::unique_ptr<smtp::Connection> conn;  // before the socket goes
};

namespace smtp {

// Ends the session after the server has accepted the end of the data. The
// server has taken the mail then (RFC 5321 section 4.1.1.4), so whatever
// QUIT gets (a refusal, a hang-up, silence, a failed send) is only logged:
// reporting the mail as failed would make the user send it twice. Its
// reply is waited for kQuitReplyMs at most; sent: QUIT went with the data.
// A log failure still throws CFileIOerror.
void QuitAfterMail(Connection& conn, uint32_t timeoutMs, bool sent = false);

}  // namespace smtp
