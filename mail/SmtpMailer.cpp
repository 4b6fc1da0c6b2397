#include "mail/SmtpMailer.h"

#include <climits>
#include <cstdio>

#include "base/Exceptions.h"
#include "base/system.h"
#include "mail/EsmtpSession.h"
#include "mail/MailComposer.h"
#include "mail/SmtpConnection.h"
#include "mail/SmtpReply.h"
#include "net/CSock.h"
#include "platform/net.h"
#include "platform/platform.h"

using smtp::Connection;
using smtp::Exchange;
using smtp::Refused;
using smtp::ReplyCode;

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


void Log(const std::string& text) { smtp::LogText(text); }

// This host's name, for HELO and EHLO.
std::string HostName() {
    char hostName[plat::kHostNameSize] = {};
    std::snprintf(hostName, sizeof hostName, "%s", kLoopbackHostName);
    plat::GetHostName(hostName, sizeof hostName);  // keeps the loopback name on failure
    return hostName;
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
        if (!smtp::OpenExtended(*this, conn, info)) THROW_AT(CSmtpSetupError, 0);
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
        if (!smtp::OpenExtended(*this, conn, info)) {
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
