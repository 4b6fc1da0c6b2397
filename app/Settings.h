// The settings in the [setting] section of the INI file beside the
// executable. One table (Settings.cpp) names every key with its limits, the
// buffer it is read through and how it is written (the defaults are the
// members' initial values), so that a new setting is one member here and
// one row there. The mail keys make the mail account (Account).
#pragma once

#include <string>

#include "afx/afx.h"
#include "mail/MailAccount.h"

struct Settings {
    CString rcpt = "recorder@example.com";  // "rcpt"; the default is of the reserved example domain (RFC 2606)
    CString smtpSvr = "127.0.0.1";          // "smtpsvr"
    int startAdjust = 0;                    // "startad", minutes
    int endAdjust = 0;                      // "endad", minutes
    int port = 25;                          // "smtpport": as read; only the low 16 bits are used
    int logOutput = 0;                      // "logoutput": 1 turns the log on
    int notify = 0;                         // "notify": 1 says when a reservation has been sent
    // Sending through a provider; all absent: the plain dialogue.
    Encryption encryption = Encryption::kNone;  // "smtpssl": 0 none, 1 STARTTLS, 2 TLS from the first byte
    CString user;          // "smtpuser"
    std::string password;  // "smtppass": the protected form, hexadecimal digits
    CString certPin;       // "smtpcert": SHA-256 fingerprint
    CString mailFrom;      // "mailfrom": the sender address; empty: the recipient's

    // The mail account these settings make: the server unresolved
    // (ResolveServer), the password in its stored form, the sender "mailfrom"
    // or else the recipient.
    MailAccount Account() const;
};

// Which OK writes a key: the settings dialog's for its own fields, the mail
// account dialog's (confirmed by the settings dialog's OK) for the others.
enum class SettingGroup { kMain, kMail };

// What the dialogs accept for a key: a number from min to max, a text of at
// most max bytes.
struct SettingLimits {
    int min;
    int max;
};
// The limits of key as the table gives them; {0, 0} for a key it lacks.
SettingLimits LimitsOf(const char* key);

// Reads every key from ini; a missing key keeps the member's value.
void ReadSettings(Settings& settings, const wchar_t* ini);

// Writes the keys of group from settings in the table's order, leaving out
// "smtppass" when keepPassword. Stops at the first write that fails and
// returns false then (nothing is shown).
bool WriteSettings(const Settings& settings, SettingGroup group, bool keepPassword, const wchar_t* ini);

// Text of the program's code page (932) as UTF-16 and back, whatever the
// process code page (file and folder names for the boxes, the log and the
// history). A character without a code page 932 form becomes the code
// page's default character ('?'), never a look-alike.
std::wstring Wide(const char* text);
std::string Narrow(const wchar_t* text);
