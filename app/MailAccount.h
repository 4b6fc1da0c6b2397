// The mail account as setting mode edits it (port, encryption, login,
// certificate pin, sender), and the connection test run with it. The
// settings dialog and the mail account dialog only hold these values; the
// start-up reads and writes the INI file.
#pragma once

#include <cstdint>
#include <string>

#include "afx/afx.h"  // CString; HWND through the platform's types
#include "mail/MailAccount.h"

// The mail account dialog's values as the settings give them and the user
// changes them: the keys as written, and what was done to the password.
struct MailAccountForm {
    int port = 25;          // "smtpport"; as read (low 16 bits) until the dialog checks it
    Encryption encryption = Encryption::kNone;  // "smtpssl"
    CString user;           // "smtpuser"
    CString certPin;        // "smtpcert"
    CString from;           // "mailfrom": the sender address; empty: the recipient's
    std::string storedPassword;  // "smtppass" as read: the protected form, never shown
    CString newPassword;    // typed in the dialog (clear text in UTF-8, memory only); empty: keep the stored one
    bool clearPassword = false;  // forget the stored password at OK

    // Whether a password would be used: a new one, or a stored one not cleared.
    bool HasPassword() const { return !newPassword.IsEmpty() || (!clearPassword && !storedPassword.empty()); }

    // The account these values make with server (the SMTP server the
    // settings dialog shows now), for the connection test: unresolved, the
    // sender "mailfrom" as written (empty: none), no recipient, and the
    // password typed, else the stored one unless cleared.
    MailAccount Account(const char* server) const;
};

// The usual port of each encryption choice (index: its number): SMTP,
// submission with STARTTLS (RFC 6409), submission over TLS (RFC 8314).
constexpr int kUsualSmtpPorts[] = {25, 587, 465};

// Whether text is a certificate fingerprint the mail client takes: empty, or
// 64 hexadecimal digits (either case; colons and blanks between them).
bool IsCertPinText(const char* text);

// The prompt for an address field's text (code page 932) that CheckAddress
// faults; null when the address can be used. Throws nothing.
const char* MailAddressPrompt(const char* text);

// Whether a login with these settings would fail because the password is not
// sent in clear text: a user is set, no encryption, and server (a name or
// address) is not on a loopback address. Resolves server (ResolveServer)
// only then.
bool PasswordStaysUnsent(const char* server, const MailAccountForm& form);

// The outcome of a connection test, as the box shows it.
struct ConnectionTestOutcome {
    bool succeeded = false;
    CString text;  // code page 932
};

// How long a connection test may take as a whole, whatever the time-outs of
// its steps: a setting that reaches a wrong or silent port must not hold
// the dialog for minutes.
constexpr uint32_t kConnectionTestDeadlineMs = 30 * 1000;

// Resolves account's server, connects with account's settings and goes
// through greeting, EHLO, STARTTLS or TLS and AUTH, then, for a sender of its
// own, MAIL FROM, RCPT TO and RSET, and QUIT, sending no mail (the mail
// client's TestConnection, with its time-outs). A server that does not
// resolve is said as the start-up says it. The test runs on a worker
// thread; meanwhile every control of window but stopButton is disabled and
// the thread keeps handling messages, so the dialog repaints and its stop
// button works. Once stop reads true (the window's handler of stopButton
// sets it), or after kConnectionTestDeadlineMs, the test's socket is closed
// at once and the text says the test was stopped, or that the server did
// not answer in time. On failure the text is the one a failed reservation
// shows. Nothing throws.
ConnectionTestOutcome RunConnectionTest(HWND window, HWND stopButton, const bool& stop, const MailAccount& account);
