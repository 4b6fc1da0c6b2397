#include "mail/SmtpMailer.h"

#include <climits>
#include <cstdio>
#include <tuple>
#include <utility>

#include "base/Exceptions.h"
#include "base/system.h"
#include "mail/EsmtpSession.h"
#include "mail/MailComposer.h"
#include "mail/MailerSession.h"
#include "mail/SmtpConnection.h"
#include "mail/SmtpReply.h"
#include "mail/TemplateCharset.h"
#include "net/CSock.h"
#include "platform/net.h"
#include "platform/platform.h"

using smtp::Connection;
using smtp::Exchange;
using smtp::Refused;
using smtp::ReplyCode;

namespace {

// HELO names this host when the system cannot tell its name.
const char kLoopbackHostName[] = "localhost";


// This host's name, for HELO and EHLO.
std::string HostName() {
    char hostName[plat::kHostNameSize] = {};
    std::snprintf(hostName, sizeof hostName, "%s", kLoopbackHostName);
    plat::GetHostName(hostName, sizeof hostName);  // keeps the loopback name on failure
    return hostName;
}

}  // namespace

namespace smtp {

void QuitAfterMail(Connection& conn, uint32_t timeoutMs, bool sent) {
    const std::string quit = "QUIT\r\n";
    try {
        if (!sent) {
            conn.Send(quit, timeoutMs);
            WriteLog("S:" + quit);
        }
        const uint32_t waitMs = timeoutMs < CSmtpMailer::kQuitReplyMs ? timeoutMs : CSmtpMailer::kQuitReplyMs;
        const std::string reply = conn.ReceiveReply(waitMs);
        WriteLog("R:" + reply);
        if (Refused(reply)) WriteLog("I:QUIT refused after the mail was accepted\r\n");
    } catch (const CNotError& e) {  // the server hung up, or stayed silent
        WriteLog(std::string("I:<") + e.what() + "> at QUIT after the mail was accepted\r\n");
    } catch (const CSockError& e) {
        WriteLog(std::string("I:<") + e.what() + "> at QUIT after the mail was accepted\r\n");
    }
}

}  // namespace smtp

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

// Before connecting, so that nothing at all is sent: a login needs a
// password that could be decrypted, and one that would travel in clear text
// (no TLS, whatever the setting says) may only go to a loopback address;
// settings that would weaken the connection without a word are refused (an
// unknown encryption value would mean none, a fingerprint without TLS checks
// nothing), and so is an address that could split or extend a command.
void CSmtpMailer::CheckSettings(std::string* password) {
    const MailAccount& a = m_account;
    // An address that would end the command early or add to it never reaches the wire.
    for (const std::string* address : {&a.sender, &a.recipient}) {
        if (const AddressFault fault = CheckAddress(*address); fault != AddressFault::kNone)
            THROW_AT(CBadAddress, static_cast<int32_t>(fault));
    }
    if (!a.user.empty()) {
        if (!m_account.password.Reveal(password)) THROW_AT(CPasswordUnreadable, 0);
        const bool encrypted = a.encryption == Encryption::kStartTls || a.encryption == Encryption::kImplicit;
        if (!encrypted && !IsLoopback(a.address)) THROW_AT(CClearTextPassword, 0);
    }
    const int encryption = static_cast<int>(a.encryption);
    if (encryption < static_cast<int>(Encryption::kNone) || encryption > static_cast<int>(Encryption::kImplicit))
        THROW_AT(CUnknownEncryption, encryption);
    if (a.encryption == Encryption::kNone && !a.certPin.empty()) THROW_AT(CPinWithoutTls, 0);
}

CSmtpMailer::ConnectionInfo CSmtpMailer::TestConnection(const std::string& sender) {
    std::string password;
    CheckSettings(&password);
    CSock sock;
    ActiveSend active(*m_cancel, sock);  // the dialog's 中止 and deadline
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(m_account.port);
    server.sin_addr.s_addr = m_account.address;
    const int32_t slot = sock.Create(&server, plat::kSockStream, false);
    Connection conn(sock, slot);
    ConnectionInfo info;
    if (m_account.Extended()) {
        if (!smtp::OpenExtended(m_account, password, m_options.commandTimeoutMs, m_progress, conn, info))
            THROW_AT(CSmtpSetupError, 0);
    } else {
        const std::string greeting = conn.ReceiveReply(m_options.commandTimeoutMs);
        WriteLog("R:" + greeting);
        const std::string helo = "HELO " + HostName() + "\r\n";
        const std::string reply = Exchange(conn, helo, helo, m_options.commandTimeoutMs);
        if (Refused(reply)) THROW_AT(CSmtpSetupError, ReplyCode(reply));
        info.serverName = smtp::ParseCapabilities(reply).serverName;
    }
    if (!sender.empty()) {
        const std::string address = "<" + sender + ">\r\n";
        for (const char* command : {"MAIL FROM: ", "RCPT TO: "}) {
            const std::string reply = Exchange(conn, command + address, command + address, m_options.commandTimeoutMs);
            if (smtp::RefusesSender(reply, command[0] == 'M', sender, "")) THROW_AT(CSenderRefused, ReplyCode(reply));
            if (Refused(reply)) THROW_AT(CSmtpSetupError, ReplyCode(reply));
        }
        Exchange(conn, "RSET\r\n", "RSET\r\n", m_options.commandTimeoutMs);
    }
    Exchange(conn, "QUIT\r\n", "QUIT\r\n", m_options.commandTimeoutMs);
    conn.Close();
    return info;
}

namespace {

// Whether a and b are the same programme as the mail gives it.
bool Same(const MailProgramme& a, const MailProgramme& b) {
    const auto minutes = [](const tm& t) {
        return std::make_tuple(t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min);
    };
    return minutes(a.start) == minutes(b.start) && minutes(a.end) == minutes(b.end) && a.channel == b.channel &&
           a.title == b.title && a.station == b.station;
}

}  // namespace

CSmtpMailer::CSmtpMailer(MailAccount account, std::string format, SendProgress* progress, MailerOptions options)
    : m_account(std::move(account)), m_format(std::move(format)), m_progress(progress), m_options(options) {}
CSmtpMailer::~CSmtpMailer() = default;
CSmtpMailer::CSmtpMailer(CSmtpMailer&&) noexcept = default;
CSmtpMailer& CSmtpMailer::operator=(CSmtpMailer&&) noexcept = default;

bool CSmtpMailer::Reset(Session& session) {
    const std::string rset = "RSET\r\n";
    try {
        if (!Refused(Exchange(*session.conn, rset, rset, m_options.commandTimeoutMs))) return true;
        WriteLog("I:RSET refused, the next mail on a new connection\r\n");
        smtp::QuitAfterMail(*session.conn, m_options.commandTimeoutMs);
    } catch (const CNotError& e) {  // the server hung up, or stayed silent
        WriteLog(std::string("I:<") + e.what() + "> at RSET, the next mail on a new connection\r\n");
    } catch (const CSockError& e) {
        WriteLog(std::string("I:<") + e.what() + "> at RSET, the next mail on a new connection\r\n");
    }
    session.conn->Close();
    return false;
}

void CSmtpMailer::BeginBatch(std::vector<MailProgramme> coming) {
    m_batch = true;
    m_announced = !coming.empty();
    m_coming = std::move(coming);
}

void CSmtpMailer::EndBatch() {
    m_batch = false;
    m_announced = false;
    m_coming.clear();
    const std::unique_ptr<Session> session = std::move(m_kept);
    if (session == nullptr) return;
    ReadOutAndQuit(*session);
}

std::string CSmtpMailer::Message(Session& session, const ComposedBody& body, const tm& start) {
    std::string message = FinishMessage(body, m_account, start, session.sock.GetLocalAddress(session.slot));
    if (m_options.utf8Message) message = mail::MessageInUtf8(message);
    if (message.size() > static_cast<size_t>(INT32_MAX)) THROW_AT(CIllegalParam, 0);
    return message;
}

bool CSmtpMailer::SendMail(const MailProgramme& programme) {
    m_senderRefused = false;
    const bool extended = m_account.Extended();
    std::string password;
    CheckSettings(&password);
    // A batch's connection goes on where the server lets it.
    std::unique_ptr<Session> session = std::move(m_kept);
    if (session != nullptr && !session->written.empty()) {
        if (Same(session->written.front().programme, programme)) {  // written ahead: its replies are owed
            ActiveSend active(*m_cancel, session->sock);
            Report(SendStep::kSending, 0);
            return ReadWritten(session, active);
        }
        ReadOutAndQuit(*session);
        session.reset();
    }
    // The batch's programmes after this one may go ahead of their SendMail;
    // after one out of their order, none does.
    if (!m_coming.empty() && Same(m_coming.front(), programme)) {
        m_coming.erase(m_coming.begin());
    } else {
        m_coming.clear();
        m_announced = false;
    }
    // After an accepted mail a pipelining server needs no RSET (the end of
    // the data has reset the transaction, RFC 5321 section 4.1.1.4).
    if (session != nullptr && !session->pipelining) {
        ActiveSend resetting(*m_cancel, session->sock);
        Report(SendStep::kSending, 0);
        if (!Reset(*session)) session.reset();
    }
    const bool reused = session != nullptr;
    if (!reused) session = std::make_unique<Session>();
    CSock& sock = session->sock;
    ActiveSend active(*m_cancel, sock);
    sock.m_onConnectAttempt = [this](int attempt) { Report(SendStep::kConnecting, attempt); };
    const ComposedBody body = ComposeBody(m_format, m_account, programme, std::time(nullptr));

    if (!reused) {
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_port = htons(m_account.port);
        server.sin_addr.s_addr = m_account.address;
        session->slot = sock.Create(&server, plat::kSockStream, false);
    }

    const std::string message = Message(*session, body, programme.start);

    if (!reused) {
        session->conn = std::make_unique<Connection>(sock, session->slot);
        if (extended) {
            ConnectionInfo info;
            if (!smtp::OpenExtended(m_account, password, m_options.commandTimeoutMs, m_progress, *session->conn, info,
                                    &session->auth)) {
                session->conn->Close();
                return false;
            }
            session->pipelining = info.pipelining;
            session->chunking = info.pipelining && info.chunking;
        } else {
            WriteLog("R:" + session->conn->ReceiveReply(m_options.commandTimeoutMs));  // the greeting is not examined
        }
    }
    Connection& conn = *session->conn;

    const std::string helo = "HELO " + HostName() + "\r\n";
    const std::string mailFrom = "MAIL FROM: <" + m_account.sender + ">\r\n";
    const std::string rcptTo = "RCPT TO: <" + m_account.recipient + ">\r\n";
    const std::string data = "DATA\r\n";
    const struct {
        const std::string& text;
        const char* logPrefix;
        uint32_t timeoutMs;
    } steps[] = {
        {helo, "S:", m_options.commandTimeoutMs},
        {mailFrom, "S:", m_options.commandTimeoutMs},
        {rcptTo, "S:", m_options.commandTimeoutMs},
        {data, "S:", m_options.commandTimeoutMs},
        {message, "S:<SendMail>\r\n", m_options.dataEndTimeoutMs},
    };
    if (session->pipelining) return SendPipelined(session, active, programme, mailFrom, rcptTo, message);
    bool result = true;
    // The extended dialogue has said EHLO already, a connection kept HELO.
    for (size_t i = extended || reused ? 1 : 0; i < sizeof steps / sizeof steps[0]; ++i) {
        const auto& step = steps[i];
        if (&step.text == &mailFrom) Report(SendStep::kSending, 0);
        conn.Send(step.text, step.timeoutMs);
        WriteLog(step.logPrefix + step.text);
        const std::string reply = conn.ReceiveReply(step.timeoutMs);
        WriteLog("R:" + reply);
        if (Refused(reply)) {
            m_senderRefused = smtp::RefusesSender(reply, &step.text == &mailFrom, m_account.sender, m_account.recipient);
            result = false;
            break;
        }
        if (&step.text == &message) {
            active.Delivered();
            Report(SendStep::kDone, 0);
        }
    }
    if (result && m_batch) {
        m_kept = std::move(session);  // the next mail goes on from here
        return true;
    }
    if (result) smtp::QuitAfterMail(conn, m_options.commandTimeoutMs);
    conn.Close();
    return result;
}
