#include "mail/SmtpMailer.h"

#include <climits>
#include <cstdio>

#include "base/Exceptions.h"
#include "base/system.h"
#include "mail/MailComposer.h"
#include "mail/Password.h"
#include "mail/SmtpReply.h"
#include "net/CSock.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "platform/tls.h"

namespace {

// Ends the message data (RFC 5321 section 4.1.1.4).
const char kEndOfData[] = "\r\n.\r\n";
// HELO names this host when the system cannot tell its name.
const char kLoopbackHostName[] = "localhost";

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

// What the log shows instead of a credential.
const char kMask[] = "********";
// close_notify at the end of a session is sent without waiting longer.
constexpr uint32_t kCloseNotifyMs = 1000;

void Log(const std::string& text) { CLogFile::GetInstance(nullptr)->Write(text.c_str()); }

// Raises the exception for a TLS status; during the handshake a broken or
// closed connection means the handshake failed.
[[noreturn]] void RaiseTls(plat::TlsStatus status, int32_t detail, bool handshake) {
    switch (status) {
    case plat::TlsStatus::kTimeOut: THROW_AT(CTimeOut, 0);
    case plat::TlsStatus::kUntrusted: THROW_AT(CCertUntrusted, detail);
    case plat::TlsStatus::kNameMismatch: THROW_AT(CCertNameMismatch, detail);
    case plat::TlsStatus::kPinMismatch: THROW_AT(CCertPinMismatch, 0);
    case plat::TlsStatus::kRevoked: THROW_AT(CCertRevoked, detail);
    case plat::TlsStatus::kClosed:
        if (!handshake) THROW_AT(CSockClose, 0);
        THROW_AT(CTlsHandshakeError, detail);
    case plat::TlsStatus::kIoError:
        if (!handshake) THROW_AT(CSockIOerror, detail);
        THROW_AT(CTlsHandshakeError, detail);
    default: THROW_AT(CTlsHandshakeError, detail);
    }
}

// One connection: the socket slot and, once a handshake is done, the TLS
// session over it, which it owns. Texts go through the session when there is
// one; without, exactly as the plain dialogue always did.
class Connection {
public:
    Connection(CSock& sock, int32_t slot) : m_sock(sock), m_slot(slot) {}
    ~Connection() { plat::TlsClose(m_tls, 0); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool Encrypted() const { return m_tls != nullptr; }
    plat::Socket Socket() const { return m_sock.GetSocket(m_slot); }

    // The handshake within timeoutMs; logs the "I:" line. Throws CTlsError's
    // kinds, CTimeOut.
    plat::TlsInfo StartTls(const std::string& serverName, const std::string& pin, uint32_t timeoutMs) {
        plat::TlsInfo info;
        int32_t detail = 0;
        const plat::TlsStatus status =
            plat::TlsConnect(m_sock.GetSocket(m_slot), serverName, pin, timeoutMs, &m_tls, &info, &detail,
                            m_sock.GetWake());
        if (status != plat::TlsStatus::kOk) {
            // The library's own code (a SECURITY_STATUS, the chain's status,
            // OpenSSL's error) tells a developer the exact cause.
            char code[32];
            std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(detail));
            Log(std::string("I:TLS failed, code ") + code + "\r\n");
            // A refused certificate: what the server showed, to check or pin.
            if (!info.certSha256.empty()) Log("I:TLS certificate SHA-256 " + info.certSha256 + "\r\n");
            RaiseTls(status, detail, true);
        }
        Log("I:TLS " + info.protocol + " " + info.cipher + "\r\n");
        // Said only when the certificate names a CRL or OCSP source.
        if (info.revocationUnknown) Log("I:TLS revocation status unknown (no CRL/OCSP answer), going on\r\n");
        return info;
    }

    void Send(const std::string& text, uint32_t timeoutMs) {
        if (m_tls == nullptr) {
            m_sock.Send(text.data(), m_slot, static_cast<int32_t>(text.size()));
            return;
        }
        const plat::TlsStatus status = plat::TlsSend(m_tls, text.data(), text.size(), timeoutMs);
        if (status != plat::TlsStatus::kOk) RaiseTls(status, 0, false);
    }

    // Receives one whole reply, all its lines, within timeoutMs in total.
    // Throws what CSock::Receive throws; CTimeOut when the time runs out
    // between two pieces; CSockIOerror when the reply exceeds kMaxReplySize.
    std::string ReceiveReply(uint32_t timeoutMs) {
        const uint32_t started = plat::TickCount();
        std::string reply;
        char piece[CSock::kReceiveSize];
        do {
            uint32_t remaining = plat::kInfinite;
            if (timeoutMs != plat::kInfinite) {
                const uint32_t elapsed = plat::TickCount() - started;
                if (elapsed >= timeoutMs) THROW_AT(CTimeOut, 0);
                remaining = timeoutMs - elapsed;
            }
            size_t n = 0;
            if (m_tls == nullptr) {
                m_sock.m_receiveTimeoutMs = remaining;
                n = static_cast<size_t>(m_sock.Receive(piece, m_slot));
            } else {
                const plat::TlsStatus status = plat::TlsReceive(m_tls, piece, sizeof piece, remaining, &n);
                if (status != plat::TlsStatus::kOk) RaiseTls(status, 0, false);
            }
            if (!smtp::AppendPiece(reply, piece, n, CSmtpMailer::kMaxReplySize)) THROW_AT(CSockIOerror, 0);
        } while (!smtp::ReplyComplete(reply));
        return reply;
    }

    // Ends the session with close_notify and closes the socket.
    void Close() {
        plat::TlsClose(m_tls, kCloseNotifyMs);
        m_tls = nullptr;
        m_sock.Close(m_slot);
    }

private:
    CSock& m_sock;
    int32_t m_slot;
    plat::TlsSession* m_tls = nullptr;
};

// The three-digit code a reply begins with; 0 when it has none.
int ReplyCode(const std::string& reply) {
    if (reply.size() < 3) return 0;
    int code = 0;
    for (int i = 0; i < 3; ++i) {
        if (reply[i] < '0' || reply[i] > '9') return 0;
        code = code * 10 + (reply[i] - '0');
    }
    return code;
}

// A reply beginning with 4 (transient) or 5 (permanent) refuses the step.
bool Refused(const std::string& reply) { return !reply.empty() && (reply[0] == '4' || reply[0] == '5'); }

// This host's name, for HELO and EHLO.
std::string HostName() {
    char hostName[plat::kHostNameSize] = {};
    std::snprintf(hostName, sizeof hostName, "%s", kLoopbackHostName);
    plat::GetHostName(hostName, sizeof hostName);  // keeps the loopback name on failure
    return hostName;
}

// The name EHLO gives: the PC's domain name, or the connection's own
// address (HELO keeps the plain host name, as it always did).
std::string EhloName(const Connection& conn) {
    char name[plat::kHostNameSize] = "";
    plat::DomainHostName(name, sizeof name);
    sockaddr_in local{};
    plat::GetSockName(conn.Socket(), &local);
    return smtp::EhloDomain(name, local.sin_addr.s_addr);
}

// "a.b.c.d" of an address in network byte order.
std::string DottedAddress(uint32_t address) {
    const uint32_t host = ntohl(address);
    return std::to_string(host >> 24) + "." + std::to_string((host >> 16) & 255) + "." +
           std::to_string((host >> 8) & 255) + "." + std::to_string(host & 255);
}


// Ends the session after the server has accepted the end of the data. The
// server has taken the mail then (RFC 5321 section 4.1.1.4), so whatever
// QUIT gets (a refusal, a hang-up, silence, a failed send) is only logged:
// reporting the mail as failed would make the user send it twice. A log
// failure still throws CFileIOerror.
void Quit(Connection& conn, uint32_t timeoutMs) {
    const std::string quit = "QUIT\r\n";
    try {
        conn.Send(quit, timeoutMs);
        Log("S:" + quit);
        const std::string reply = conn.ReceiveReply(timeoutMs);
        Log("R:" + reply);
        if (Refused(reply)) Log("I:QUIT refused after the mail was accepted\r\n");
    } catch (const CNotError& e) {  // the server hung up, or stayed silent
        Log(std::string("I:<") + e.what() + "> at QUIT after the mail was accepted\r\n");
    } catch (const CSockError& e) {
        Log(std::string("I:<") + e.what() + "> at QUIT after the mail was accepted\r\n");
    }
}

}  // namespace

std::string CSmtpMailer::ComposeBody(const tm& start, const tm& end, unsigned channel, time_t now) const {
    std::string text = m_strFormat;
    // The runtime's conversion buffer is shared: copy it before the next call.
    const tm* converted = std::localtime(&now);
    const tm local = converted ? *converted : tm{};
    ReplaceAll(text, "%date%", DateText(local).c_str());
    ReplaceAll(text, "%zone%", ZoneText(UtcOffsetAt(now)).c_str());
    ReplaceAll(text, "%from%", m_strFrom.c_str());
    ReplaceAll(text, "%rcpt%", m_strRcpt.c_str());
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
    ReplaceAll(text, "%chno%", std::to_string(channel).c_str());
    ReplaceField(text, "%titl%", m_strTitle);
    ReplaceField(text, "%stat%", m_strStation);
    return text;
}

std::string CSmtpMailer::FinishMessage(std::string body, const tm& start, uint32_t localAddr) const {
    const MessageIdSource ids{plat::TickCount(), plat::CurrentThreadId(), plat::CurrentProcessId(), m_ulSmtpAddr,
                              localAddr};
    ReplaceAll(body, "%msid%", MessageId(start, ids, m_strFrom).c_str());
    return DotStuff(body) + kEndOfData;
}

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

void CSmtpMailer::Cancel() noexcept {
    std::lock_guard<std::mutex> hold(m_cancel->lock);
    // Once the server has taken the mail the reservation is made: a stop then
    // only ends the wait for QUIT's reply (up to the command time-out), which
    // Quit logs, and the send still succeeds.
    if (!m_cancel->delivered) m_cancel->cancelled = true;
    if (m_cancel->sock != nullptr) m_cancel->sock->Abort();
}

bool CSmtpMailer::Cancelled() const noexcept {
    std::lock_guard<std::mutex> hold(m_cancel->lock);
    return m_cancel->cancelled;
}

void CSmtpMailer::Report(SendStep step, int attempt) const noexcept {
    if (m_progress != nullptr) m_progress->OnStep(step, attempt);
}

bool CSmtpMailer::Extended() const { return m_nSsl != kSslNone || !m_strUser.empty() || !m_strCertPin.empty(); }

bool CSmtpMailer::IsLoopback(uint32_t address) { return (ntohl(address) >> 24) == 127; }

std::string CSmtpMailer::NormalizePin(const std::string& pin) {
    std::string digits;
    for (char c : pin) {
        if (c == ':' || c == ' ') continue;
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
        digits += c;
    }
    // Anything but 64 hexadecimal digits can never equal a fingerprint; the
    // marker keeps it from being mistaken for "no pin".
    const bool hex = digits.find_first_not_of("0123456789abcdef") == std::string::npos;
    if (!digits.empty() && (digits.size() != 64 || !hex)) return "malformed";
    return digits;
}

namespace {

// One command and its reply, both logged; the command's log text may be a
// masked form of it.
std::string Exchange(Connection& conn, const std::string& command, const std::string& logText, uint32_t timeoutMs) {
    conn.Send(command, timeoutMs);
    Log("S:" + logText);
    std::string reply = conn.ReceiveReply(timeoutMs);
    Log("R:" + reply);
    return reply;
}

// The part of the extended dialogue before MAIL FROM: the handshake and
// greeting, EHLO, STARTTLS with its handshake and second EHLO, AUTH. Fills
// info. Returns false when the server refused EHLO or STARTTLS (nothing
// more may be sent); throws as SendMail does.
bool OpenExtended(const CSmtpMailer& m, Connection& conn, CSmtpMailer::ConnectionInfo& info) {
    const uint32_t timeoutMs = m.m_commandTimeoutMs;
    const std::string pin = CSmtpMailer::NormalizePin(m.m_strCertPin);
    // Without a name the certificate must carry the address: an empty name
    // would check nothing.
    const std::string serverName = m.m_strServerName.empty() ? DottedAddress(m.m_ulSmtpAddr) : m.m_strServerName;
    plat::TlsInfo tls;
    if (m.m_nSsl == CSmtpMailer::kSslImplicit) {
        if (m.m_progress != nullptr) m.m_progress->OnStep(SendStep::kEncrypting, 0);
        tls = conn.StartTls(serverName, pin, timeoutMs);
    }
    const std::string greeting = conn.ReceiveReply(timeoutMs);
    Log("R:" + greeting);
    const std::string ehlo = "EHLO " + EhloName(conn) + "\r\n";
    std::string reply = Exchange(conn, ehlo, ehlo, timeoutMs);
    if (Refused(reply)) return false;
    smtp::Capabilities caps = smtp::ParseCapabilities(reply);

    if (m.m_nSsl == CSmtpMailer::kSslStartTls) {
        // Never fall back to clear text: no STARTTLS, no dialogue.
        if (!caps.startTls) THROW_AT(CStartTlsNotOffered, 0);
        reply = Exchange(conn, "STARTTLS\r\n", "STARTTLS\r\n", timeoutMs);
        if (ReplyCode(reply) != 220) return false;
        if (m.m_progress != nullptr) m.m_progress->OnStep(SendStep::kEncrypting, 0);
        tls = conn.StartTls(serverName, pin, timeoutMs);
        // What the server said before the handshake is forgotten (RFC 3207
        // section 4.2).
        reply = Exchange(conn, ehlo, ehlo, timeoutMs);
        if (Refused(reply)) return false;
        caps = smtp::ParseCapabilities(reply);
    }
    info.serverName = caps.serverName;
    info.tlsProtocol = tls.protocol;
    info.tlsCipher = tls.cipher;
    info.certSha256 = tls.certSha256;
    if (m.m_strUser.empty()) return true;

    if (m.m_progress != nullptr) m.m_progress->OnStep(SendStep::kSigningIn, 0);
    if (!caps.authAny()) THROW_AT(CAuthNotOffered, 0);
    if (caps.authPlain) {
        // RFC 4616: authorization identity (empty), user, password.
        const std::string response = smtp::Base64(std::string(1, '\0') + AuthText(m.m_strUser) + '\0' + m.m_strPassword);
        reply = Exchange(conn, "AUTH PLAIN " + response + "\r\n", std::string("AUTH PLAIN ") + kMask + "\r\n",
                         timeoutMs);
    } else {
        reply = Exchange(conn, "AUTH LOGIN\r\n", "AUTH LOGIN\r\n", timeoutMs);
        if (ReplyCode(reply) == 334)
            reply = Exchange(conn, smtp::Base64(AuthText(m.m_strUser)) + "\r\n", std::string(kMask) + "\r\n", timeoutMs);
        if (ReplyCode(reply) == 334)
            reply = Exchange(conn, smtp::Base64(m.m_strPassword) + "\r\n", std::string(kMask) + "\r\n", timeoutMs);
    }
    if (ReplyCode(reply) != 235) THROW_AT(CAuthRefused, ReplyCode(reply));
    return true;
}

// Before connecting, so that nothing at all is sent: a login needs a
// password that could be decrypted, and one that would travel in clear text
// (no TLS, whatever the setting says) may only go to a loopback address;
// settings that would weaken the connection without a word are refused (an
// unknown encryption value would mean none, a fingerprint without TLS checks
// nothing).
void CheckSettings(const CSmtpMailer& m) {
    if (m.Extended() && !m.m_strUser.empty()) {
        if (m.m_bPasswordUnreadable) THROW_AT(CPasswordUnreadable, 0);
        const bool encrypted = m.m_nSsl == CSmtpMailer::kSslStartTls || m.m_nSsl == CSmtpMailer::kSslImplicit;
        if (!encrypted && !CSmtpMailer::IsLoopback(m.m_ulSmtpAddr)) THROW_AT(CClearTextPassword, 0);
    }
    if (m.m_nSsl < CSmtpMailer::kSslNone || m.m_nSsl > CSmtpMailer::kSslImplicit) THROW_AT(CUnknownEncryption, m.m_nSsl);
    if (m.m_nSsl == CSmtpMailer::kSslNone && !m.m_strCertPin.empty()) THROW_AT(CPinWithoutTls, 0);
}

}  // namespace

CSmtpMailer::ConnectionInfo CSmtpMailer::TestConnection(const std::string& sender) {
    CheckSettings(*this);
    CSock sock;
    ActiveSend active(*m_cancel, sock);  // the dialog's 中止 and deadline
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(m_usSmtpPort);
    server.sin_addr.s_addr = m_ulSmtpAddr;
    const int32_t slot = sock.Create(&server, plat::kSockStream, false);
    Connection conn(sock, slot);
    ConnectionInfo info;
    if (Extended()) {
        if (!OpenExtended(*this, conn, info)) THROW_AT(CSmtpSetupError, 0);
    } else {
        const std::string greeting = conn.ReceiveReply(m_commandTimeoutMs);
        Log("R:" + greeting);
        const std::string helo = "HELO " + HostName() + "\r\n";
        const std::string reply = Exchange(conn, helo, helo, m_commandTimeoutMs);
        if (Refused(reply)) THROW_AT(CSmtpSetupError, ReplyCode(reply));
        info.serverName = smtp::ParseCapabilities(reply).serverName;
    }
    if (!sender.empty()) {
        const std::string address = "<" + sender + ">\r\n";
        for (const char* command : {"MAIL FROM: ", "RCPT TO: "}) {
            const std::string reply = Exchange(conn, command + address, command + address, m_commandTimeoutMs);
            if (smtp::RefusesSender(reply, command[0] == 'M', sender, "")) THROW_AT(CSenderRefused, ReplyCode(reply));
            if (Refused(reply)) THROW_AT(CSmtpSetupError, ReplyCode(reply));
        }
        Exchange(conn, "RSET\r\n", "RSET\r\n", m_commandTimeoutMs);
    }
    Exchange(conn, "QUIT\r\n", "QUIT\r\n", m_commandTimeoutMs);
    conn.Close();
    return info;
}

bool CSmtpMailer::SendMail(const tm& start, const tm& end, unsigned channel) {
    m_senderRefused = false;
    const bool extended = Extended();
    CheckSettings(*this);
    CSock sock;
    ActiveSend active(*m_cancel, sock);
    sock.m_onConnectAttempt = [this](int attempt) { Report(SendStep::kConnecting, attempt); };
    const std::string body = ComposeBody(start, end, channel, std::time(nullptr));

    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(m_usSmtpPort);
    server.sin_addr.s_addr = m_ulSmtpAddr;
    const int32_t slot = sock.Create(&server, plat::kSockStream, false);

    const std::string message = FinishMessage(body, start, sock.GetLocalAddress(slot));
    if (message.size() > static_cast<size_t>(INT32_MAX)) THROW_AT(CIllegalParam, 0);

    Connection conn(sock, slot);
    if (extended) {
        ConnectionInfo info;
        if (!OpenExtended(*this, conn, info)) {
            conn.Close();
            return false;
        }
    } else {
        Log("R:" + conn.ReceiveReply(m_commandTimeoutMs));  // the greeting is not examined
    }

    const std::string helo = "HELO " + HostName() + "\r\n";
    const std::string mailFrom = "MAIL FROM: <" + m_strFrom + ">\r\n";
    const std::string rcptTo = "RCPT TO: <" + m_strRcpt + ">\r\n";
    const std::string data = "DATA\r\n";
    const struct {
        const std::string& text;
        const char* logPrefix;
        uint32_t timeoutMs;
    } steps[] = {
        {helo, "S:", m_commandTimeoutMs},
        {mailFrom, "S:", m_commandTimeoutMs},
        {rcptTo, "S:", m_commandTimeoutMs},
        {data, "S:", m_commandTimeoutMs},
        {message, "S:<SendMail>\r\n", m_dataEndTimeoutMs},
    };
    bool result = true;
    // The extended dialogue has said EHLO already.
    for (size_t i = extended ? 1 : 0; i < sizeof steps / sizeof steps[0]; ++i) {
        const auto& step = steps[i];
        if (&step.text == &mailFrom) Report(SendStep::kSending, 0);
        conn.Send(step.text, step.timeoutMs);
        Log(step.logPrefix + step.text);
        const std::string reply = conn.ReceiveReply(step.timeoutMs);
        Log("R:" + reply);
        if (Refused(reply)) {
            m_senderRefused = smtp::RefusesSender(reply, &step.text == &mailFrom, m_strFrom, m_strRcpt);
            result = false;
            break;
        }
        if (&step.text == &message) {
            active.Delivered();
            Report(SendStep::kDone, 0);
        }
    }
    if (result) Quit(conn, m_commandTimeoutMs);
    conn.Close();
    return result;
}
