#include "mail/SmtpConnection.h"

#include <cstdio>

#include "base/Exceptions.h"
#include "base/system.h"
#include "mail/SmtpReply.h"
#include "net/CSock.h"
#include "platform/platform.h"

namespace smtp {

namespace {

// close_notify at the end of a session is sent without waiting longer.
constexpr uint32_t kCloseNotifyMs = 1000;

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

// Where the first whole reply in text ends: just after the line feed of its
// first line that is not "ddd-..." (RFC 5321 section 4.2.1); npos while
// that line has not come.
size_t ReplyEnd(const std::string& text) {
    for (size_t begin = 0, lf = text.find('\n'); lf != std::string::npos;
         begin = lf + 1, lf = text.find('\n', begin)) {
        if (!ReplyComplete(text.substr(begin, lf + 1 - begin))) continue;
        return lf + 1;
    }
    return std::string::npos;
}

}  // namespace


Connection::~Connection() { plat::TlsClose(m_tls, 0); }

plat::Socket Connection::Socket() const { return m_sock.GetSocket(m_slot); }

plat::TlsInfo Connection::StartTls(const std::string& serverName, const std::string& pin, uint32_t timeoutMs) {
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
        WriteLog(std::string("I:TLS failed, code ") + code + "\r\n");
        // A refused certificate: what the server showed, to check or pin.
        if (!info.certSha256.empty()) WriteLog("I:TLS certificate SHA-256 " + info.certSha256 + "\r\n");
        RaiseTls(status, detail, true);
    }
    WriteLog("I:TLS " + info.protocol + " " + info.cipher + "\r\n");
    // Said only when the certificate names a CRL or OCSP source.
    if (info.revocationUnknown) WriteLog("I:TLS revocation status unknown (no CRL/OCSP answer), going on\r\n");
    return info;
}

void Connection::Send(const std::string& text, uint32_t timeoutMs) {
    if (m_tls == nullptr) {
        m_sock.Send(text.data(), m_slot, static_cast<int32_t>(text.size()));
        return;
    }
    const plat::TlsStatus status = plat::TlsSend(m_tls, text.data(), text.size(), timeoutMs);
    if (status != plat::TlsStatus::kOk) RaiseTls(status, 0, false);
}

void Connection::ReceivePiece(std::string& text, uint32_t started, uint32_t timeoutMs) {
    uint32_t remaining = plat::kInfinite;
    if (timeoutMs != plat::kInfinite) {
        const uint32_t elapsed = plat::TickCount() - started;
        if (elapsed >= timeoutMs) THROW_AT(CTimeOut, 0);
        remaining = timeoutMs - elapsed;
    }
    char piece[CSock::kReceiveSize];
    size_t n = 0;
    if (m_tls == nullptr) {
        m_sock.m_receiveTimeoutMs = remaining;
        n = static_cast<size_t>(m_sock.Receive(piece, m_slot));
    } else {
        const plat::TlsStatus status = plat::TlsReceive(m_tls, piece, sizeof piece, remaining, &n);
        if (status != plat::TlsStatus::kOk) RaiseTls(status, 0, false);
    }
    if (!smtp::AppendPiece(text, piece, n, kMaxReplySize)) THROW_AT(CSockIOerror, 0);
}

std::string Connection::ReceiveReply(uint32_t timeoutMs) {
    const uint32_t started = plat::TickCount();
    // Only a group leaves anything pending; the plain dialogue starts empty.
    std::string reply = std::move(m_pending);
    m_pending.clear();
    while (!smtp::ReplyComplete(reply)) ReceivePiece(reply, started, timeoutMs);
    return reply;
}

std::string Connection::ReceiveNextReply(uint32_t timeoutMs) {
    const uint32_t started = plat::TickCount();
    size_t end;
    while ((end = ReplyEnd(m_pending)) == std::string::npos) ReceivePiece(m_pending, started, timeoutMs);
    std::string reply = m_pending.substr(0, end);
    m_pending.erase(0, end);
    return reply;
}

void Connection::Close() {
    plat::TlsClose(m_tls, kCloseNotifyMs);
    m_tls = nullptr;
    m_sock.Close(m_slot);
}

int ReplyCode(const std::string& reply) {
    if (reply.size() < 3) return 0;
    int code = 0;
    for (int i = 0; i < 3; ++i) {
        if (reply[i] < '0' || reply[i] > '9') return 0;
        code = code * 10 + (reply[i] - '0');
    }
    return code;
}

bool Refused(const std::string& reply) { return !reply.empty() && (reply[0] == '4' || reply[0] == '5'); }

void SendGroup(Connection& conn, const std::vector<Command>& group, uint32_t timeoutMs) {
    std::string all;
    for (const Command& command : group) all += command.text;
    conn.Send(all, timeoutMs);
    for (const Command& command : group) WriteLog("S:" + command.logText);
}

std::string GroupReply(Connection& conn, uint32_t timeoutMs) {
    std::string reply = conn.ReceiveNextReply(timeoutMs);
    WriteLog("R:" + reply);
    return reply;
}

std::string Exchange(Connection& conn, const std::string& command, const std::string& logText, uint32_t timeoutMs) {
    conn.Send(command, timeoutMs);
    WriteLog("S:" + logText);
    std::string reply = conn.ReceiveReply(timeoutMs);
    WriteLog("R:" + reply);
    return reply;
}

}  // namespace smtp
