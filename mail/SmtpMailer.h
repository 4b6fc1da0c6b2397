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
#include <vector>

#include "mail/EsmtpSession.h"
#include "mail/MailAccount.h"
#include "mail/MailProgramme.h"
#include "mail/SendProgress.h"

class CSock;
struct ComposedBody;

// How long a reply may take (RFC 5321 section 4.5.3.2): 5 minutes for the
// greeting and each command, 10 minutes after the end of the data, while the
// server may still be processing the message. Tests shorten them.
struct MailerOptions {
    static constexpr uint32_t kCommandTimeoutMs = 5 * 60 * 1000;
    static constexpr uint32_t kDataEndTimeoutMs = 10 * 60 * 1000;
    uint32_t commandTimeoutMs = kCommandTimeoutMs;  // the longest wait for one whole reply
    uint32_t dataEndTimeoutMs = kDataEndTimeoutMs;  // and for the reply to the end of the data
    // The template was saved as Unicode and says UTF-8 (mail::TemplateNamesUtf8):
    // the finished message goes out in UTF-8 (mail::MessageInUtf8).
    bool utf8Message = false;
};

class CSmtpMailer {
public:
    static constexpr uint32_t kCommandTimeoutMs = MailerOptions::kCommandTimeoutMs;
    static constexpr uint32_t kDataEndTimeoutMs = MailerOptions::kDataEndTimeoutMs;
    // The longest wait for QUIT's reply once the server has taken the mail:
    // the reservation is made, and neither the progress window nor the
    // process should wait for a formality (a 221 from a provider 100-200 ms
    // away comes well within it). close_notify is sent, never awaited.
    static constexpr uint32_t kQuitReplyMs = 1000;

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
    // (whatever QUIT then gets: that is only logged, and waited for
    // kQuitReplyMs at most), false when the server
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
    // above. Where the last EHLO offers PIPELINING (RFC 2920), AUTH PLAIN (a
    // user set and PLAIN offered; RFC 4954 section 4), MAIL FROM, RCPT TO
    // and DATA go as one group, then the message with QUIT, and the replies
    // are read in order: each examined as it would be alone, the first
    // refusal ending the mail (no data goes after one), success known at
    // the reply to the end of the data. Where it offers CHUNKING (RFC 3030)
    // too, AUTH goes alone first (the message must not go before the
    // sign-in is known), then MAIL FROM, RCPT TO, "BDAT <size> LAST" with the
    // message (Unstuffed) and QUIT as one group; every reply of it is read,
    // the first refusal deciding, success known at BDAT's. The log shows the
    // group's "S:" lines before their "R:" lines. It throws besides:
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
    // as a single SendMail does. With PIPELINING the next mail's group goes
    // at once, without RSET (the end of the data reset the transaction),
    // and a refused mail leaves the connection open too, unless the server
    // hung up or took DATA after the refusal: the next group then begins
    // with RSET, so a refused programme costs the others nothing. EndBatch says QUIT on the connection left
    // open, if any (its outcome only logged, as after a single mail), and
    // closes it; SendMail then sends single mails again. Destroying the
    // mailer closes a connection left open without a word. EndBatch throws
    // CFileIOerror (log) only.
    //
    // coming: the programmes the batch's SendMail calls will take, in that
    // order (empty: not known). Where the server offers PIPELINING and
    // CHUNKING (RFC 3030), the mail's group (MAIL FROM, RCPT TO, BDAT with
    // the message) goes with the groups of the programmes after it, each
    // led by RSET, up to kAheadBytes, and with QUIT after the last of
    // coming: one round trip for them all. Their SendMail calls then only
    // read their replies, each examined as above. A SendMail out of that
    // order has what was written ahead read out (logged) and its connection
    // closed first, and goes on a new one.
    void BeginBatch(std::vector<MailProgramme> coming = {});
    void EndBatch();
    // The most message bytes written ahead of their SendMail in one group:
    // the group is written before any reply is read, and a server may stop
    // reading until its replies are (RFC 2920 section 3.1); it stays within
    // what a TCP window takes at once.
    static constexpr size_t kAheadBytes = 64 * 1024;

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
    std::vector<MailProgramme> m_coming;  // the batch's programmes after the one being sent
    bool m_announced = false;            // the batch was given its programmes
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
    // The transaction on a pipelining server's connection (session, whose
    // socket active watches): a deferred AUTH PLAIN, RSET after a refused
    // mail, MAIL FROM, RCPT TO and DATA as one group, then the message (with
    // QUIT outside a batch). In a batch the session goes to m_kept when it
    // can carry the next mail. Returns and throws as SendMail.
    bool SendPipelined(std::unique_ptr<Session>& session, ActiveSend& active, const MailProgramme& programme,
                       const std::string& mailFrom, const std::string& rcptTo, const std::string& message);
    // The message of body, for a programme that starts at start, on
    // session's connection, as it goes after DATA. Throws CIllegalParam
    // (over 2 GiB), CFileIOerror (log), std::bad_alloc.
    std::string Message(Session& session, const ComposedBody& body, const tm& start);
    // The replies to MAIL FROM, RCPT TO and DATA on session's connection,
    // each examined as if it had come alone; after a 354, message goes,
    // with the batch's next mail's group (or QUIT) after it, and the reply
    // to the end of the data decides. Then keeps the session for the next
    // (m_kept) or ends it. Returns and throws as SendMail.
    bool ReadDataReplies(std::unique_ptr<Session>& session, ActiveSend& active, const std::string& message);
    // Reads the replies of the first mail written ahead on session and
    // decides it; then keeps the session for the next (m_kept) or ends it.
    // Returns and throws as SendMail.
    bool ReadWritten(std::unique_ptr<Session>& session, ActiveSend& active);
    // Reads out (logs) the replies still owed for mails written ahead, then
    // says QUIT (unless it went with them) and closes. Throws CFileIOerror
    // (log) only.
    void ReadOutAndQuit(Session& session);
};
