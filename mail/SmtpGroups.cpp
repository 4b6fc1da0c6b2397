// CSmtpMailer's dialogue in groups, where the server offers PIPELINING
// (RFC 2920) and CHUNKING (RFC 3030): the commands of a mail sent at once,
// the batch's next mails written ahead, their replies read in order.
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "base/Exceptions.h"
#include "base/system.h"
#include "mail/MailComposer.h"
#include "mail/MailerSession.h"
#include "mail/SmtpConnection.h"
#include "mail/SmtpReply.h"

using smtp::Connection;
using smtp::Refused;

namespace {

// MAIL FROM, RCPT TO and BDAT with message as the last chunk (RFC 3030
// section 2), logged as after DATA.
void AddChunked(std::vector<smtp::Command>& group, const std::string& mailFrom, const std::string& rcptTo,
                const std::string& message) {
    const std::string bdat = "BDAT " + std::to_string(message.size()) + " LAST\r\n";
    group.insert(group.end(), {{mailFrom, mailFrom}, {rcptTo, rcptTo}, {bdat, bdat}, {message, "<SendMail>\r\n" + message}});
}

// After a refusal inside a batch's group: reads the replies still owed
// (remaining of them) so that the connection can carry the next mail. false
// when it cannot (the server hung up or stayed silent, which is logged, or
// it accepted DATA after all and now waits for a message that must not go).
// Throws CFileIOerror (log) only.
bool OwedReplies(Connection& conn, int remaining, uint32_t timeoutMs) {
    try {
        std::string reply;
        for (int i = 0; i < remaining; ++i) reply = smtp::GroupReply(conn, timeoutMs);
        return remaining == 0 || Refused(reply);
    } catch (const CNotError& e) {
        WriteLog(std::string("I:<") + e.what() + "> after the refusal, the next mail on a new connection\r\n");
    } catch (const CSockError& e) {
        WriteLog(std::string("I:<") + e.what() + "> after the refusal, the next mail on a new connection\r\n");
    }
    return false;
}

}  // namespace

bool CSmtpMailer::SendPipelined(std::unique_ptr<Session>& session, ActiveSend& active, const MailProgramme& programme,
                                const std::string& mailFrom, const std::string& rcptTo, const std::string& message) {
    Connection& conn = *session->conn;
    const uint32_t commandMs = m_options.commandTimeoutMs;
    const bool signingIn = !session->auth.text.empty();
    const bool resetting = session->reset;
    std::vector<smtp::Command> group;
    if (signingIn) group.push_back(std::move(session->auth));
    if (resetting) group.push_back({"RSET\r\n", "RSET\r\n"});
    session->reset = false;
    if (session->chunking) {
        // The message goes with its commands, and the batch's next mails
        // with it: none waits for a reply. Each after the first begins with
        // RSET, whatever became of the one before.
        AddChunked(group, mailFrom, rcptTo, Unstuffed(message));
        session->written.push_back({programme, resetting});
        size_t bytes = message.size();
        while (m_batch && !m_coming.empty()) {
            const MailProgramme& coming = m_coming.front();
            const std::string next =
                Unstuffed(Message(*session, ComposeBody(m_format, m_account, coming, std::time(nullptr)), coming.start));
            if (bytes + next.size() > kAheadBytes) break;
            bytes += next.size();
            group.push_back({"RSET\r\n", "RSET\r\n"});
            AddChunked(group, mailFrom, rcptTo, next);
            session->written.push_back({std::move(m_coming.front()), true});
            m_coming.erase(m_coming.begin());
        }
        session->quitSent = !m_batch || (m_announced && m_coming.empty());
        if (session->quitSent) group.push_back({"QUIT\r\n", "QUIT\r\n"});
        Report(SendStep::kSending, 0);
        smtp::SendGroup(conn, group, m_options.dataEndTimeoutMs);
        return ReadWritten(session, active);
    }
    group.insert(group.end(), {{mailFrom, mailFrom}, {rcptTo, rcptTo}, {"DATA\r\n", "DATA\r\n"}});
    session->auth = {};
    Report(SendStep::kSending, 0);
    smtp::SendGroup(conn, group, commandMs);
    if (signingIn) smtp::CheckSignedIn(smtp::GroupReply(conn, commandMs));
    if (resetting) smtp::GroupReply(conn, commandMs);  // a refused RSET shows in MAIL FROM's reply
    return ReadDataReplies(session, active, message);
}

bool CSmtpMailer::ReadDataReplies(std::unique_ptr<Session>& session, ActiveSend& active, const std::string& message) {
    Connection& conn = *session->conn;
    const uint32_t commandMs = m_options.commandTimeoutMs;
    // Each reply is examined as if its command had waited for it: the first
    // refusal ends this mail, and its data never goes (not even after a 354
    // to DATA that follows a refused RCPT).
    int step = 0;  // MAIL FROM, RCPT TO, DATA
    for (; step < 3; ++step) {
        const std::string reply = smtp::GroupReply(conn, commandMs);
        if (!Refused(reply)) continue;
        m_senderRefused = smtp::RefusesSender(reply, step == 0, m_account.sender, m_account.recipient);
        break;
    }
    bool accepted = step == 3;
    if (accepted) {
        std::vector<smtp::Command> group = {{message, "<SendMail>\r\n" + message}};
        if (m_batch && !m_coming.empty()) {
            // The batch's next mail's group goes with the data: the end of
            // the data resets the transaction, whatever its reply.
            const std::string mailFrom = "MAIL FROM: <" + m_account.sender + ">\r\n";
            const std::string rcptTo = "RCPT TO: <" + m_account.recipient + ">\r\n";
            group.insert(group.end(), {{mailFrom, mailFrom}, {rcptTo, rcptTo}, {"DATA\r\n", "DATA\r\n"}});
            session->written.push_back({std::move(m_coming.front()), false});
            m_coming.erase(m_coming.begin());
        } else if (!m_batch || m_announced) {
            // A single mail, or the batch's last, says QUIT with its data:
            // QUIT's reply then needs no round trip of its own.
            group.push_back({"QUIT\r\n", "QUIT\r\n"});
            session->quitSent = true;
        }
        smtp::SendGroup(conn, group, m_options.dataEndTimeoutMs);
        accepted = !Refused(smtp::GroupReply(conn, m_options.dataEndTimeoutMs));
        step = 2;  // after the end of the data nothing more is owed
    }
    if (accepted) {
        active.Delivered();
        Report(SendStep::kDone, 0);
    }
    // A batch goes on in this connection after a refusal too, the next
    // group beginning with RSET: a refused programme costs the others
    // nothing.
    if (!session->written.empty() ||
        (m_batch && !session->quitSent && (accepted || OwedReplies(conn, 2 - step, commandMs)))) {
        session->reset = !accepted;
        m_kept = std::move(session);
        return accepted;
    }
    if (accepted) smtp::QuitAfterMail(conn, commandMs, session->quitSent);
    conn.Close();
    return accepted;
}

bool CSmtpMailer::ReadWritten(std::unique_ptr<Session>& session, ActiveSend& active) {
    Connection& conn = *session->conn;
    const Session::Written mail = std::move(session->written.front());
    session->written.erase(session->written.begin());
    if (!session->chunking) {  // its group went with the data before it
        const ComposedBody body = ComposeBody(m_format, m_account, mail.programme, std::time(nullptr));
        return ReadDataReplies(session, active, Message(*session, body, mail.programme.start));
    }
    if (mail.reset) smtp::GroupReply(conn, m_options.commandTimeoutMs);  // a refused RSET shows in MAIL FROM's reply
    // Every reply is owed (BDAT's comes even after a refusal); the first
    // refusal decides, as if its command had waited for it.
    bool accepted = true;
    for (int step = 0; step < 3; ++step) {  // MAIL FROM, RCPT TO, BDAT
        const std::string reply =
            smtp::GroupReply(conn, step == 2 ? m_options.dataEndTimeoutMs : m_options.commandTimeoutMs);
        if (!accepted || !Refused(reply)) continue;
        m_senderRefused = smtp::RefusesSender(reply, step == 0, m_account.sender, m_account.recipient);
        accepted = false;
    }
    if (accepted) {
        active.Delivered();
        Report(SendStep::kDone, 0);
    }
    if (!session->written.empty() || (m_batch && !session->quitSent)) {
        session->reset = !accepted;
        m_kept = std::move(session);
        return accepted;
    }
    if (accepted) smtp::QuitAfterMail(conn, m_options.commandTimeoutMs, session->quitSent);
    conn.Close();
    return accepted;
}

void CSmtpMailer::ReadOutAndQuit(Session& session) {
    ActiveSend active(*m_cancel, session.sock);
    active.Delivered();  // a stop now only ends the waits
    Connection& conn = *session.conn;
    try {
        if (!session.written.empty())
            WriteLog("I:Replies read out of mails written ahead: " + std::to_string(session.written.size()) + "\r\n");
        // Without CHUNKING only the next mail's group went ahead; after its
        // 354 the server waits for data that must not go, and QUIT with it.
        const bool quit = session.chunking || session.written.empty();
        for (const Session::Written& mail : session.written) {
            for (int i = mail.reset ? 0 : 1; i < 4; ++i) smtp::GroupReply(conn, m_options.commandTimeoutMs);
        }
        session.written.clear();
        if (quit) smtp::QuitAfterMail(conn, m_options.commandTimeoutMs, session.quitSent);
    } catch (const CNotError& e) {  // the server hung up, or stayed silent
        WriteLog(std::string("I:<") + e.what() + "> at the replies of mails written ahead\r\n");
    } catch (const CSockError& e) {
        WriteLog(std::string("I:<") + e.what() + "> at the replies of mails written ahead\r\n");
    }
    conn.Close();
}
