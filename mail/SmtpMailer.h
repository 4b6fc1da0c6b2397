// CSmtpMailer: fills the mail template with one reservation and delivers it
// through a minimal SMTP dialogue, or, when encryption or a login is set, an
// ESMTP dialogue with STARTTLS or TLS from the first byte and SMTP AUTH.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>

#include "mail/SendProgress.h"

class CSock;

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
    // The programme, for "%titl%" and "%stat%": the iEPG file's
    // "program-title:" and "station:" values as written; empty when absent.
    std::string m_strTitle;
    std::string m_strStation;
    // Encryption (setting "smtpssl").
    static constexpr int kSslNone = 0;      // clear text: HELO, as always
    static constexpr int kSslStartTls = 1;  // EHLO, STARTTLS, then TLS (RFC 3207)
    static constexpr int kSslImplicit = 2;  // TLS from the first byte (port 465)
    int m_nSsl = kSslNone;
    // "smtpsvr" as written: the name sent (SNI) and checked in the
    // certificate; empty: the address of m_ulSmtpAddr is checked instead.
    std::string m_strServerName;
    std::string m_strUser;        // SMTP AUTH user (code page 932, sent as UTF-8); empty: no AUTH
    std::string m_strPassword;    // SMTP AUTH password, UTF-8 clear text, in memory only
    // Set instead of the password when the stored one could not be
    // decrypted: the send then ends with CPasswordUnreadable.
    bool m_bPasswordUnreadable = false;
    // The server certificate's SHA-256 as set ("smtpcert": hexadecimal in
    // either case, colons allowed); when set, exactly that certificate is
    // accepted and the trust-store and name checks are skipped.
    std::string m_strCertPin;
    // The longest wait for one whole reply; tests shorten them.
    uint32_t m_commandTimeoutMs = kCommandTimeoutMs;
    uint32_t m_dataEndTimeoutMs = kDataEndTimeoutMs;
    // Told each step of a send (not owned; null: nobody watches).
    SendProgress* m_progress = nullptr;

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
    //
    // With m_nSsl, m_strUser or m_strCertPin set the dialogue is: (TLS
    // handshake for kSslImplicit), greeting, EHLO, (STARTTLS, its 220, the
    // handshake and EHLO again for kSslStartTls), AUTH PLAIN or LOGIN when a
    // user is set, then MAIL FROM to QUIT inside the session, which ends with
    // close_notify. The AUTH texts are logged masked; one "I:" line after the
    // handshake names the protocol and cipher (after a failed one, the TLS
    // library's code and, for a refused certificate, its SHA-256). A refused
    // EHLO, STARTTLS or MAIL FROM to the end of the data gives false as
    // above. It throws besides:
    // CTlsHandshakeError, CCertUntrusted, CCertNameMismatch, CCertPinMismatch, CCertRevoked,
    // CStartTlsNotOffered, CAuthNotOffered, CAuthRefused, CClearTextPassword
    // (no TLS and the server is not on a loopback address),
    // CPasswordUnreadable (m_bPasswordUnreadable with a user set; nothing is
    // sent), CUnknownEncryption (m_nSsl none of the three) and CPinWithoutTls
    // (a pin with kSslNone), both before connecting.
    bool SendMail(const tm& start, const tm& end, unsigned channel);

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
    struct ConnectionInfo {
        std::string serverName;   // the first word of the EHLO (or HELO) reply, else of the greeting
        std::string tlsProtocol;  // "TLSv1.2", ...; empty without TLS
        std::string tlsCipher;
        std::string certSha256;   // the server certificate's SHA-256 (lowercase hex); empty without TLS
    };
    // Connects and goes through the same dialogue as SendMail up to and
    // including AUTH, then QUIT, sending no mail. Given a sender it says
    // MAIL FROM and RCPT TO that address, then RSET, so that a server that
    // refuses the sender says so. Throws what SendMail throws, CSenderRefused,
    // and CSmtpSetupError when the server refused another step (its reply is
    // in the log).
    ConnectionInfo TestConnection(const std::string& sender = std::string());

    // The template with every placeholder but "%msid%" replaced, the Date and
    // Zone texts taken at the calendar time now; the programme's title and
    // station last (ReplaceField), so that no other placeholder is looked
    // for inside them.
    std::string ComposeBody(const tm& start, const tm& end, unsigned channel, time_t now) const;
    // The message as it goes after DATA: "%msid%" replaced by the identifier
    // built for this process, thread and the connection's local address, every
    // line's leading period doubled, and the end-of-data mark appended.
    std::string FinishMessage(std::string body, const tm& start, uint32_t localAddr) const;

    // Whether the extended dialogue applies (any of its settings is set).
    bool Extended() const;
    // The pin as 64 lowercase hexadecimal digits without colons; an empty
    // pin stays empty, and a malformed one gives a text no certificate
    // matches.
    static std::string NormalizePin(const std::string& pin);
    // Whether the address (network byte order) is in 127.0.0.0/8, where a
    // password in clear text never leaves the machine.
    static bool IsLoopback(uint32_t address);

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
    std::unique_ptr<CancelState> m_cancel = std::make_unique<CancelState>();
    bool m_senderRefused = false;

    void Report(SendStep step, int attempt) const noexcept;
};
