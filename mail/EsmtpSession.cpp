#include "mail/EsmtpSession.h"

#include "base/Exceptions.h"
#include "base/system.h"
#include "mail/Password.h"
#include "mail/Base64.h"
#include "mail/SmtpReply.h"
#include "platform/net.h"
#include "platform/platform.h"

namespace smtp {

namespace {

// What the log shows instead of a credential.
const char kMask[] = "********";

// The name EHLO gives: the PC's domain name, or the connection's own
// address (HELO keeps the plain host name, as it always did).
std::string EhloName(const Connection& conn) {
    char name[plat::kHostNameSize] = "";
    plat::DomainHostName(name, sizeof name);
    sockaddr_in local{};
    plat::GetSockName(conn.Socket(), &local);
    return EhloDomain(name, local.sin_addr.s_addr);
}

// "a.b.c.d" of an address in network byte order.
std::string DottedAddress(uint32_t address) {
    const uint32_t host = ntohl(address);
    return std::to_string(host >> 24) + "." + std::to_string((host >> 16) & 255) + "." +
           std::to_string((host >> 8) & 255) + "." + std::to_string(host & 255);
}

// AUTH PLAIN with its initial response (RFC 4616: authorization identity
// empty, user, password) and the log's masked text of it.
Command AuthPlain(const std::string& user, const std::string& password) {
    const std::string response = Base64(std::string(1, '\0') + AuthText(user) + '\0' + password);
    return {"AUTH PLAIN " + response + "\r\n", std::string("AUTH PLAIN ") + kMask + "\r\n"};
}

// SMTP AUTH with the user (code page 932, sent as UTF-8) and the password
// (UTF-8): PLAIN when the server offers it, else LOGIN. Throws
// CAuthNotOffered, CAuthRefused (any last reply but 235), what Exchange
// throws.
void SignIn(Connection& conn, const Capabilities& caps, const std::string& user, const std::string& password,
            uint32_t timeoutMs) {
    if (!caps.authAny()) THROW_AT(CAuthNotOffered, 0);
    std::string reply;
    if (caps.authPlain) {
        const Command auth = AuthPlain(user, password);
        reply = Exchange(conn, auth.text, auth.logText, timeoutMs);
    } else {
        reply = Exchange(conn, "AUTH LOGIN\r\n", "AUTH LOGIN\r\n", timeoutMs);
        if (ReplyCode(reply) == 334)
            reply = Exchange(conn, Base64(AuthText(user)) + "\r\n", std::string(kMask) + "\r\n", timeoutMs);
        if (ReplyCode(reply) == 334)
            reply = Exchange(conn, Base64(password) + "\r\n", std::string(kMask) + "\r\n", timeoutMs);
    }
    CheckSignedIn(reply);
}

}  // namespace

void CheckSignedIn(const std::string& reply) {
    if (ReplyCode(reply) != 235) THROW_AT(CAuthRefused, ReplyCode(reply));
}

bool OpenExtended(const MailAccount& account, const std::string& password, uint32_t timeoutMs,
                  SendProgress* progress, Connection& conn, ConnectionInfo& info, Command* deferredAuth) {
    const std::string pin = NormalizePin(account.certPin);
    // Without a name the certificate must carry the address: an empty name
    // would check nothing.
    const std::string serverName = account.server.empty() ? DottedAddress(account.address) : account.server;
    plat::TlsInfo tls;
    if (account.encryption == Encryption::kImplicit) {
        if (progress != nullptr) progress->OnStep(SendStep::kEncrypting, 0);
        tls = conn.StartTls(serverName, pin, timeoutMs);
    }
    const std::string greeting = conn.ReceiveReply(timeoutMs);
    WriteLog("R:" + greeting);
    const std::string ehlo = "EHLO " + EhloName(conn) + "\r\n";
    std::string reply = Exchange(conn, ehlo, ehlo, timeoutMs);
    if (Refused(reply)) return false;
    smtp::Capabilities caps = ParseCapabilities(reply);

    if (account.encryption == Encryption::kStartTls) {
        // Never fall back to clear text: no STARTTLS, no dialogue.
        if (!caps.startTls) THROW_AT(CStartTlsNotOffered, 0);
        reply = Exchange(conn, "STARTTLS\r\n", "STARTTLS\r\n", timeoutMs);
        if (ReplyCode(reply) != 220) return false;
        if (progress != nullptr) progress->OnStep(SendStep::kEncrypting, 0);
        tls = conn.StartTls(serverName, pin, timeoutMs);
        // What the server said before the handshake is forgotten (RFC 3207
        // section 4.2).
        reply = Exchange(conn, ehlo, ehlo, timeoutMs);
        if (Refused(reply)) return false;
        caps = ParseCapabilities(reply);
    }
    info.serverName = caps.serverName;
    info.tlsProtocol = tls.protocol;
    info.tlsCipher = tls.cipher;
    info.certSha256 = tls.certSha256;
    info.pipelining = caps.pipelining;
    info.chunking = caps.chunking;
    if (account.user.empty()) return true;

    if (progress != nullptr) progress->OnStep(SendStep::kSigningIn, 0);
    if (deferredAuth != nullptr && caps.pipelining && caps.authPlain && !caps.chunking) {
        *deferredAuth = AuthPlain(account.user, password);
        return true;
    }
    SignIn(conn, caps, account.user, password, timeoutMs);
    return true;
}

}  // namespace smtp
