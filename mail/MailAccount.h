// MailAccount: where a reservation mail goes and as whom, as one value from
// the settings to the wire: the server and its port, the encryption, the
// login, the certificate pin, the sender and the recipient. The settings
// make it (app/Settings.h), the mailer takes it (CSmtpMailer::m_account),
// the progress window and the connection test read it. ResolveServer is the
// one place where the server's name becomes its address.
#pragma once

#include <cstdint>
#include <string>

// The encryption of the connection; "smtpssl" stores the numbers. A value
// read from the file that is none of these is kept as it is: the mailer
// refuses it (CUnknownEncryption) rather than send without encryption.
enum class Encryption : int {
    kNone = 0,      // clear text: HELO, as always
    kStartTls = 1,  // EHLO, STARTTLS, then TLS (RFC 3207)
    kImplicit = 2,  // TLS from the first byte (port 465, RFC 8314)
};

// The SMTP AUTH password. From the settings it is the stored, protected
// form, and stays so until a send needs it: decrypting loads the system's
// crypto libraries, which the confirmation box before the send does not
// need. Typed in the mail account dialog it is clear text (UTF-8), in
// memory only. Owns its texts; throws nothing but std::bad_alloc.
class SmtpPassword {
public:
    SmtpPassword() = default;  // none: AUTH sends an empty password
    // "smtppass" as read (hexadecimal digits); empty: none.
    static SmtpPassword Stored(const std::string& hex);
    // A password as typed, UTF-8.
    static SmtpPassword Typed(const std::string& utf8);

    // The clear text (UTF-8) into *utf8. The stored form is decrypted
    // (UnprotectPassword) at the first call and the result kept. false when
    // it does not decrypt for this user, at this call and every later one;
    // *utf8 is left alone then.
    bool Reveal(std::string* utf8);

private:
    std::string m_stored;  // the protected form until Reveal; empty after
    std::string m_clear;
    bool m_unreadable = false;
};

struct MailAccount {
    // "smtpsvr" as written: a host name or a dotted address. TLS sends it
    // (SNI) and the certificate must carry it; empty: the certificate must
    // carry the address instead.
    std::string server;
    // The server's IPv4 address, network byte order, as ResolveServer found
    // it; all bits set (INADDR_NONE) until then.
    uint32_t address = 0xFFFFFFFFu;
    uint16_t port = 25;  // "smtpport", host byte order
    Encryption encryption = Encryption::kNone;  // "smtpssl"
    std::string user;       // "smtpuser", code page 932 (sent as UTF-8); empty: no AUTH
    SmtpPassword password;  // "smtppass"
    // "smtpcert" as written: the server certificate's SHA-256 (hexadecimal
    // in either case, colons allowed); when set, exactly that certificate is
    // accepted and the trust-store and name checks are skipped.
    std::string certPin;
    std::string sender;     // MAIL FROM and "%from%"
    std::string recipient;  // RCPT TO and "%rcpt%"

    // Whether the extended dialogue (EHLO, TLS, AUTH) applies: any of its
    // settings is set.
    bool Extended() const { return encryption != Encryption::kNone || !user.empty() || !certPin.empty(); }
};

// Finds account.server's address: a dotted address as written, else the
// first IPv4 address the host-name lookup gives (plat::HostAddress), into
// account.address. false when neither gives one (the broadcast address is no
// server either); account.address is then left as it was. Throws nothing.
bool ResolveServer(MailAccount& account);

// The pin as 64 lowercase hexadecimal digits without colons or blanks; an
// empty pin stays empty, and a malformed one gives a text no certificate
// matches.
std::string NormalizePin(const std::string& pin);

// What keeps an address from going into MAIL FROM, RCPT TO and the header.
enum class AddressFault {
    kNone,
    // '<', '>', a blank, CR, LF or another control character: the address
    // would end early, or carry parameters or a second command.
    kForbidden,
    // A byte outside ASCII: the mail client does not offer SMTPUTF8
    // (RFC 6531), and a server takes such an address only with it.
    kNotAscii,
};
// The first fault of address (code page 932); an empty address has none (the
// null path, as the settings have always allowed). Throws nothing.
AddressFault CheckAddress(const std::string& address);

// Whether the address (network byte order) is in 127.0.0.0/8, where a
// password in clear text never leaves the machine.
bool IsLoopback(uint32_t address);
