#include "app/Settings.h"

#include <cstring>
#include <cwchar>
#include <vector>

#include "afx/win32/Text.h"

namespace {

constexpr wchar_t kSection[] = L"setting";
// A setting's text: the dialog saves up to 256 bytes (at most as many UTF-16
// units), read back whole with room for the terminator.
constexpr size_t kTextBufferSize = 256 + 1;
// The stored password is a DPAPI blob in hexadecimal digits: a few hundred
// characters for any password a person types.
constexpr size_t kSecretBufferSize = 4096;

// How a key is held and written: a number (the encryption by its number)
// as "%d", a text as it is, the protected password as its hexadecimal
// digits.
struct Key {
    const char* name;
    SettingGroup group;
    int Settings::*number;
    Encryption Settings::*encryption;
    CString Settings::*text;
    std::string Settings::*secret;
    size_t bufferSize;  // for texts: the read buffer, in UTF-16 units
    SettingLimits limits;
    // A key added after the first release is written only when it is in the
    // file already or differs from its default, so that a user who never
    // touched it finds the file as before.
    bool optional;
};

constexpr Key Number(const char* name, SettingGroup group, int Settings::*member, int min, int max) {
    return {name, group, member, nullptr, nullptr, nullptr, 0, {min, max}, false};
}
// The dialogs offer kNone to kImplicit; a number read from the file is kept
// as it is.
constexpr Key Choice(const char* name, SettingGroup group, Encryption Settings::*member) {
    return {name,
            group,
            nullptr,
            member,
            nullptr,
            nullptr,
            0,
            {static_cast<int>(Encryption::kNone), static_cast<int>(Encryption::kImplicit)},
            false};
}
constexpr Key Text(const char* name, SettingGroup group, CString Settings::*member, int maxBytes) {
    return {name, group, nullptr, nullptr, member, nullptr, kTextBufferSize, {0, maxBytes}, false};
}
// maxBytes: the password as typed; it is stored protected.
constexpr Key Secret(const char* name, SettingGroup group, std::string Settings::*member, int maxBytes) {
    return {name, group, nullptr, nullptr, nullptr, member, kSecretBufferSize, {0, maxBytes}, false};
}

// Adjustments beyond an hour either way are refused: a larger shift is
// almost surely a typing slip.
constexpr int kMaxAdjustMinutes = 60;
// Addresses and names: the 256 bytes a text is read back with; a password
// is not limited by that (it is stored protected), but no person types more.
// The user name keeps the 254 of the mail account dialog's first version; a
// pin is 64 digits with a colon between each pair.
constexpr int kMaxTextBytes = 256;
constexpr int kMaxUserBytes = 254;
constexpr int kMaxPinBytes = 95;
constexpr int kMaxPort = 65535;
constexpr Key Optional(Key key) {
    key.optional = true;
    return key;
}

// In the order each group writes them: a key new to the file goes to the
// end of the section, so the order is part of the file's bytes.
const Key kKeys[] = {
    Text("rcpt", SettingGroup::kMain, &Settings::rcpt, kMaxTextBytes),
    Text("smtpsvr", SettingGroup::kMain, &Settings::smtpSvr, kMaxTextBytes),
    Number("startad", SettingGroup::kMain, &Settings::startAdjust, -kMaxAdjustMinutes, kMaxAdjustMinutes),
    Number("endad", SettingGroup::kMain, &Settings::endAdjust, -kMaxAdjustMinutes, kMaxAdjustMinutes),
    Number("smtpport", SettingGroup::kMain, &Settings::port, 1, kMaxPort),
    Number("logoutput", SettingGroup::kMain, &Settings::logOutput, 0, 1),
    Optional(Number("notify", SettingGroup::kMain, &Settings::notify, 0, 1)),
    Choice("smtpssl", SettingGroup::kMail, &Settings::encryption),
    Text("smtpuser", SettingGroup::kMail, &Settings::user, kMaxUserBytes),
    Secret("smtppass", SettingGroup::kMail, &Settings::password, kMaxTextBytes),
    Text("smtpcert", SettingGroup::kMail, &Settings::certPin, kMaxPinBytes),
    Optional(Text("mailfrom", SettingGroup::kMail, &Settings::mailFrom, kMaxTextBytes)),
};

// The INI file is reached by its wide path; its text stays in code page 932
// (the profile functions keep an ANSI file ANSI). They read and write such a
// file in the process code page, whatever that is: its bytes go through that
// same code page both ways here, so they come back exactly as they were. (A
// file name, by contrast, is converted to code page 932 itself: Narrow.)
std::wstring IniWide(const char* text) { return AfxToWide(CP_ACP, text); }
std::string IniNarrow(const wchar_t* text) { return AfxFromWide(CP_ACP, text, -1, WC_NO_BEST_FIT_CHARS); }

std::string ReadString(const Key& key, const std::string& fallback, const wchar_t* ini) {
    std::vector<wchar_t> buffer(key.bufferSize, L'\0');
    ::GetPrivateProfileStringW(kSection, IniWide(key.name).c_str(), IniWide(fallback.c_str()).c_str(), buffer.data(),
                               static_cast<DWORD>(buffer.size()), ini);
    return IniNarrow(buffer.data());
}

// Whether key has a line in the file (an empty value counts).
bool InFile(const Key& key, const wchar_t* ini) {
    constexpr wchar_t kAbsent[] = L"\x1";  // no text a user writes
    wchar_t buffer[4] = L"";
    ::GetPrivateProfileStringW(kSection, IniWide(key.name).c_str(), kAbsent, buffer, 4, ini);
    return std::wcscmp(buffer, kAbsent) != 0;
}

// Whether key holds its default in s.
bool IsDefault(const Key& key, const Settings& s) {
    static const Settings defaults;
    if (key.number != nullptr) return s.*key.number == defaults.*key.number;
    if (key.encryption != nullptr) return s.*key.encryption == defaults.*key.encryption;
    if (key.text != nullptr) return (s.*key.text).str() == (defaults.*key.text).str();
    return s.*key.secret == defaults.*key.secret;
}

}  // namespace

SettingLimits LimitsOf(const char* key) {
    for (const Key& k : kKeys) {
        if (std::strcmp(k.name, key) == 0) return k.limits;
    }
    return {0, 0};
}

std::wstring Wide(const char* text) { return AfxWide(text); }

std::string Narrow(const wchar_t* text) { return AfxFromWide(kAfxCodePage, text, -1, WC_NO_BEST_FIT_CHARS); }

void ReadSettings(Settings& s, const wchar_t* ini) {
    for (const Key& key : kKeys) {
        if (key.number != nullptr)
            s.*key.number = static_cast<int>(::GetPrivateProfileIntW(kSection, IniWide(key.name).c_str(), s.*key.number, ini));
        else if (key.encryption != nullptr)
            s.*key.encryption = static_cast<Encryption>(static_cast<int>(::GetPrivateProfileIntW(
                kSection, IniWide(key.name).c_str(), static_cast<int>(s.*key.encryption), ini)));
        else if (key.text != nullptr)
            s.*key.text = ReadString(key, (s.*key.text).str(), ini).c_str();
        else
            s.*key.secret = ReadString(key, s.*key.secret, ini);
    }
}

bool WriteSettings(const Settings& s, SettingGroup group, bool keepPassword, const wchar_t* ini) {
    for (const Key& key : kKeys) {
        if (key.group != group || (key.secret != nullptr && keepPassword)) continue;
        if (key.optional && IsDefault(key, s) && !InFile(key, ini)) continue;
        CString value;
        if (key.number != nullptr)
            value.Format("%d", s.*key.number);
        else if (key.encryption != nullptr)
            value.Format("%d", static_cast<int>(s.*key.encryption));
        else if (key.text != nullptr)
            value = s.*key.text;
        else
            value = (s.*key.secret).c_str();
        if (!::WritePrivateProfileStringW(kSection, IniWide(key.name).c_str(), IniWide(value).c_str(), ini)) return false;
    }
    return true;
}

MailAccount Settings::Account() const {
    MailAccount account;
    account.server = smtpSvr.str();
    account.port = static_cast<uint16_t>(port);
    account.encryption = encryption;
    account.user = user.str();
    account.password = SmtpPassword::Stored(password);
    account.certPin = certPin.str();
    // A provider may take only the account's own address as the sender.
    account.sender = mailFrom.IsEmpty() ? rcpt.str() : mailFrom.str();
    account.recipient = rcpt.str();
    return account;
}
