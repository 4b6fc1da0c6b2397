// CSmtpMailer: delivers one reservation mail, the template filled by the
// mail composer (MailComposer.h), to the account's server through a minimal
// SMTP dialogue, or, when encryption or a login is set, an ESMTP dialogue
// with STARTTLS or TLS from the first byte and SMTP AUTH (EsmtpSession.h).
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>

#include "mail/EsmtpSession.h"
#include "mail/MailAccount.h"
#include "mail/MailProgramme.h"
#include "mail/SendProgress.h"

class CSock;

// How long a reply may take (RFC 5321 section 4.5.3.2): 5 minutes for the
// greeting and each command, 10 minutes after the end of the data, while the
// server may still be processing the message. Tests shorten them.
struct MailerOptions {
    static constexpr uint32_t kCommandTimeoutMs = 5 * 60 * 1000;
    static constexpr uint32_t kDataEndTimeoutMs = 10 * 60 * 1000;
    uint32_t commandTimeoutMs = kCommandTimeoutMs;  // the longest wait for one whole reply
    uint32_t dataEndTimeoutMs = kDataEndTimeoutMs;  // and for the reply to the end of the data
};

class CSmtpMailer {
public:
    static constexpr uint32_t kCommandTimeoutMs = MailerOptions::kCommandTimeoutMs;
    static constexpr uint32_t kDataEndTimeoutMs = MailerOptions::kDataEndTimeoutMs;

    // Sends to account's server as account's sender (its password is
    // decrypted by the first send or connection test that signs in, and
    // kept for the next), filling format (the template: MailFormat.txt's
    // bytes as stored). progress (not owned, outlives the mailer; null:
    // nobody watches) is told each step of a send, on the sending thread.
    explicit CSmtpMailer(MailAccount account, std::string format = std::string(), SendProgress* progress = nullptr,
                         MailerOptions options = MailerOptions());

    // The account the mailer sends with.
    const MailAccount& Account() const { return m_account; }
    // Resolves the account's server name into its address (ResolveServer,
    // which may wait for the name service); false when it does not resolve.
    bool ResolveServer() { return ::ResolveServer(m_account); }

    // Composes the message for programme (ComposeBody, FinishMessage) and delivers it over one connection of its
    // own: greeting, HELO, MAIL FROM, RCPT TO, DATA, the message, QUIT; every
    // text sent ("S:") and received ("R:") goes to the log. A refused step sends nothing more.
    // Returns true when every reply up to the end of the data was accepted
    // (whatever QUIT then gets: that is only logged), false when the server
    // refused a step (a reply beginning with 4 or 5). Throws CSockIOerror,
    // CSockCreateError, CSockClose (the server hung up), CTimeOut (a reply did
    // not come in time), CIllegalParam (a message over 2 GiB, more than one
    // send can take), CFileIOerror (log), std::bad_alloc.
    //
    // With the account Extended() the dialogue is: (TLS handshake for
    // Encryption::kImplicit), greeting, EHLO, (STARTTLS, its 220, the
    // handshake and EHLO again for kStartTls), AUTH PLAIN or LOGIN when a
    // user is set, then MAIL FROM to QUIT inside the session, which ends with
    // close_notify. The AUTH texts are logged masked; one "I:" line after the
    // handshake names the protocol and cipher (after a failed one, the TLS
    // library's code and, for a refused certificate, its SHA-256). A refused
    // EHLO, STARTTLS or MAIL FROM to the end of the data gives false as
    // above. It throws besides:
    // CTlsHandshakeError, CCertUntrusted, CCertNameMismatch, CCertPinMismatch, CCertRevoked,
    // CStartTlsNotOffered, CAuthNotOffered, CAuthRefused, CClearTextPassword
    // (no TLS and the server is not on a loopback address),
    // CPasswordUnreadable (a user is set and the stored password does not
    // decrypt; nothing is sent), CUnknownEncryption (an encryption none of
    // the three), CPinWithoutTls (a pin with kNone) and CBadAddress (a
    // sender or recipient that CheckAddress faults), all before connecting.
    bool SendMail(const MailProgramme& programme);

    // Several mails in one connection. After BeginBatch, a SendMail whose
    // mail the server took leaves its connection open instead of saying
    // QUIT; the next SendMail says RSET on it and goes on at MAIL FROM (RFC
    // 5321 section 4.1.1.5), or, when the server refuses RSET or the
    // connection has gone (logged as an "I:" line), opens a new connection
    // as a single SendMail does. EndBatch says QUIT on the connection left
    // open, if any (its outcome only logged, as after a single mail), and
    // closes it; SendMail then sends single mails again. Destroying the
    // mailer closes a connection left open without a word. EndBatch throws
    // CFileIOerror (log) only.
    void BeginBatch() { m_batch = true; }
    void EndBatch();

    ~CSmtpMailer();
    CSmtpMailer(CSmtpMailer&&) noexcept;
    CSmtpMailer& operator=(CSmtpMailer&&) noexcept;

    // Stops the send (or connection test) in progress at once; callable from
    // any thread (the progress window's 中止, the mail dialog's). Its socket is aborted (CSock::Abort), so the
    // call it is blocked in fails, SendMail throws and nothing more is sent;
    // a SendMail that starts later fails at once. Once the server has taken
    // the mail the reservation is made: a stop then only ends the wait for
    // QUIT's reply, and SendMail still returns true.
    void Cancel() noexcept;
    // Whether Cancel stopped a send before the server took the mail.
    bool Cancelled() const noexcept;
    // Whether the last SendMail that returned false was refused for its
    // sender (smtp::RefusesSender).
    bool SenderRefused() const { return m_senderRefused; }

    // What TestConnection found out.
    using ConnectionInfo = smtp::ConnectionInfo;
    // Connects and goes through the same dialogue as SendMail up to and
    // including AUTH, then QUIT, sending no mail. Given a sender it says
    // MAIL FROM and RCPT TO that address, then RSET, so that a server that
    // refuses the sender says so. Throws what SendMail throws, CSenderRefused,
    // and CSmtpSetupError when the server refused another step (its reply is
    // in the log).
    ConnectionInfo TestConnection(const std::string& sender = std::string());

private:
    // What Cancel needs from the send in progress; shared by the sending
    // thread and the one that cancels.
    struct CancelState {
        std::mutex lock;
        CSock* sock = nullptr;  // the socket of the send in progress
        bool cancelled = false;
        bool delivered = false;  // the server took the mail
    };
    class ActiveSend;
    // One connection and its dialogue's transport.
    struct Session;
    MailAccount m_account;
    std::string m_format;
    SendProgress* m_progress;
    MailerOptions m_options;
    std::unique_ptr<CancelState> m_cancel = std::make_unique<CancelState>();
    bool m_senderRefused = false;
    bool m_batch = false;
    std::unique_ptr<Session> m_kept;  // the batch's connection left open after a mail

    void Report(SendStep step, int attempt) const noexcept;
    // Refuses, before any connection, what must not be sent: a login whose
    // stored password does not decrypt (the password is decrypted here, into
    // *password), a password in clear text to a server off this machine, an
    // unknown encryption, a pin without TLS, a sender or recipient that
    // CheckAddress faults. Throws CPasswordUnreadable, CClearTextPassword,
    // CUnknownEncryption, CPinWithoutTls, CBadAddress.
    void CheckSettings(std::string* password);
    // RSET on the connection kept: true when the server took it; otherwise
    // the connection is closed (QUIT after a refusal). Throws CFileIOerror
    // (log) only.
    bool Reset(Session& session);
};
