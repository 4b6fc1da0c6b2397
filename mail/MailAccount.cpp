#include "mail/MailAccount.h"

#include "mail/Password.h"
#include "platform/net.h"

SmtpPassword SmtpPassword::Stored(const std::string& hex) {
    SmtpPassword password;
    password.m_stored = hex;
    return password;
}

SmtpPassword SmtpPassword::Typed(const std::string& utf8) {
    SmtpPassword password;
    password.m_clear = utf8;
    return password;
}

bool SmtpPassword::Reveal(std::string* utf8) {
    if (!m_stored.empty()) {
        // A password that does not decrypt here is never used in its stored
        // form: the send ends with a request to enter it again.
        m_unreadable = !UnprotectPassword(m_stored, &m_clear);
        m_stored.clear();
    }
    if (m_unreadable) return false;
    *utf8 = m_clear;
    return true;
}

bool ResolveServer(MailAccount& account) {
    uint32_t address = plat::InetAddr(account.server.c_str());
    if (address == INADDR_NONE && !plat::HostAddress(account.server.c_str(), &address)) return false;
    if (address == INADDR_NONE) return false;
    account.address = address;
    return true;
}

std::string NormalizePin(const std::string& pin) {
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

bool IsLoopback(uint32_t address) { return (ntohl(address) >> 24) == 127; }

AddressFault CheckAddress(const std::string& address) {
    for (unsigned char c : address) {
        if (c == '<' || c == '>' || c == ' ' || c < 0x20 || c == 0x7F) return AddressFault::kForbidden;
    }
    for (unsigned char c : address) {
        if (c > 0x7F) return AddressFault::kNotAscii;
    }
    return AddressFault::kNone;
}
