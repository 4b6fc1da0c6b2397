#include "mail/SmtpMailer.h"

#include <climits>
#include <cstdio>

#include "base/Exceptions.h"
#include "base/system.h"
#include "mail/MailComposer.h"
#include "net/CSock.h"
#include "platform/net.h"
#include "platform/platform.h"

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

// A continuation line of a multi-line reply: three digits and a hyphen
// ("250-..."). Every other complete line ends the reply.
bool IsContinuationLine(const std::string& text, size_t begin) {
    auto digit = [&](size_t i) { return i < text.size() && text[i] >= '0' && text[i] <= '9'; };
    return digit(begin) && digit(begin + 1) && digit(begin + 2) && begin + 3 < text.size() &&
           text[begin + 3] == '-';
}

// Whether text holds the final line of a reply, line feed included.
bool ReplyComplete(const std::string& text) {
    for (size_t begin = 0, lf = text.find('\n'); lf != std::string::npos;
         begin = lf + 1, lf = text.find('\n', begin)) {
        if (!IsContinuationLine(text, begin)) return true;
    }
    return false;
}

// Receives one whole reply, all its lines, within timeoutMs in total.
// Throws what CSock::Receive throws; CTimeOut when the time runs out between
// two pieces; CSockIOerror when the reply exceeds kMaxReplySize.
std::string ReceiveReply(CSock& sock, int32_t slot, uint32_t timeoutMs) {
    const uint32_t started = plat::TickCount();
    std::string reply;
    char piece[CSock::kReceiveSize];
    do {
        if (timeoutMs == plat::kInfinite) {
            sock.m_receiveTimeoutMs = plat::kInfinite;
        } else {
            const uint32_t elapsed = plat::TickCount() - started;
            if (elapsed >= timeoutMs) THROW_AT(CTimeOut, 0);
            sock.m_receiveTimeoutMs = timeoutMs - elapsed;
        }
        const int32_t n = sock.Receive(piece, slot);
        // As ReceiveLine does: a piece counts up to its first zero byte.
        size_t length = 0;
        while (length < static_cast<size_t>(n) && piece[length] != '\0') ++length;
        reply.append(piece, length);
        if (reply.size() > CSmtpMailer::kMaxReplySize) THROW_AT(CSockIOerror, 0);
    } while (!ReplyComplete(reply));
    return reply;
}

// A reply beginning with 4 (transient) or 5 (permanent) refuses the step.
bool Refused(const std::string& reply) { return !reply.empty() && (reply[0] == '4' || reply[0] == '5'); }

void Log(const std::string& text) { CLogFile::GetInstance(nullptr)->Write(text.c_str()); }

// Ends the session after the server has accepted the end of the data. The
// server has taken the mail then (RFC 5321 section 4.1.1.4), so whatever
// QUIT gets (a refusal, a hang-up, silence, a failed send) is only logged:
// reporting the mail as failed would make the user send it twice. A log
// failure still throws CFileIOerror.
void Quit(CSock& sock, int32_t slot, uint32_t timeoutMs) {
    const std::string quit = "QUIT\r\n";
    try {
        sock.Send(quit.data(), slot, static_cast<int32_t>(quit.size()));
        Log("S:" + quit);
        const std::string reply = ReceiveReply(sock, slot, timeoutMs);
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
    return text;
}

std::string CSmtpMailer::FinishMessage(std::string body, const tm& start, uint32_t localAddr) const {
    const MessageIdSource ids{plat::TickCount(), plat::CurrentThreadId(), plat::CurrentProcessId(), m_ulSmtpAddr,
                              localAddr};
    ReplaceAll(body, "%msid%", MessageId(start, ids, m_strFrom).c_str());
    return DotStuff(body) + kEndOfData;
}

bool CSmtpMailer::SendMail(const tm& start, const tm& end, unsigned channel) {
    CSock sock;
    const std::string body = ComposeBody(start, end, channel, std::time(nullptr));

    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(m_usSmtpPort);
    server.sin_addr.s_addr = m_ulSmtpAddr;
    const int32_t slot = sock.Create(&server, plat::kSockStream, false);

    const std::string message = FinishMessage(body, start, sock.GetLocalAddress(slot));
    if (message.size() > static_cast<size_t>(INT32_MAX)) THROW_AT(CIllegalParam, 0);

    Log("R:" + ReceiveReply(sock, slot, m_commandTimeoutMs));  // the greeting is not examined

    char hostName[plat::kHostNameSize] = {};
    std::snprintf(hostName, sizeof hostName, "%s", kLoopbackHostName);
    plat::GetHostName(hostName, sizeof hostName);  // keeps the loopback name on failure

    const std::string helo = std::string("HELO ") + hostName + "\r\n";
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
    for (const auto& step : steps) {
        sock.Send(step.text.data(), slot, static_cast<int32_t>(step.text.size()));
        Log(step.logPrefix + step.text);
        const std::string reply = ReceiveReply(sock, slot, step.timeoutMs);
        Log("R:" + reply);
        if (Refused(reply)) {
            result = false;
            break;
        }
    }
    if (result) Quit(sock, slot, m_commandTimeoutMs);
    sock.Close(slot);
    return result;
}
