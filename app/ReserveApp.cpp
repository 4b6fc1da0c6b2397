// The application object and its start-up: one launch, one run. Settings
// come from the INI file beside the executable; without a file argument the
// settings dialog is shown, with file arguments every file is reserved in
// turn. InitInstance always returns FALSE, so the process ends afterwards.
#include "app/ReserveApp.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <cwchar>
#include <memory>
#include <string>

#include <objbase.h>
#include <shellapi.h>

#include "app/SettingDlg.h"
#include "base/system.h"
#include "mail/Password.h"
#include "mail/SmtpMailer.h"
#include "platform/tls.h"
#include "res/resource.h"
#include "reserve/StationTable.h"

// Reads the whole file at path in binary mode into text (emptied first).
// Returns false, with text empty, when the file cannot be opened. A NUL byte
// ends the piece it stands in (the rest of that piece is dropped).
bool ReadTextFile(const wchar_t* path, CString& text);

// The IPv4 address (network byte order) of name: a dotted address, else the
// first address the host-name lookup gives; INADDR_NONE when neither works.
uint32_t ResolveHostAddress(const char* name);

// The one application object.
CReserveApp theApp;

namespace {

// Buffer sizes of the path handling, in UTF-16 units: the runtime's
// _MAX_PATH for a whole path, _MAX_DRIVE for "C:", _MAX_FNAME for a
// directory, name or extension. Paths are wide throughout, so a name with
// characters outside code page 932 (café, 𠮷野) opens the file it names.
constexpr size_t kPathSize = 260;
constexpr size_t kDriveSize = 3;
constexpr size_t kPartSize = 256;
// A setting's text: the dialog saves up to 256 bytes (at most as many UTF-16
// units), read back whole with room for the terminator.
constexpr size_t kSettingBufferSize = 256 + 1;
// The stored password is a DPAPI blob in hexadecimal digits: a few hundred
// characters for any password a person types.
constexpr size_t kSecretBufferSize = 4096;
// ReadTextFile's pieces: a 256-byte buffer, fgets limited to 255, so at most
// 254 bytes per piece.
constexpr size_t kPieceBufferSize = 256;
constexpr int kPieceLimit = 255;

constexpr wchar_t kSection[] = L"setting";
// The recipient when "rcpt" is missing: an address of the reserved example
// domain (RFC 2606), so a forgotten setting can never reach a real mailbox.
constexpr char kDefaultRcpt[] = "recorder@example.com";
constexpr char kDefaultSmtpSvr[] = "127.0.0.1";
constexpr unsigned kDefaultPort = 25;
constexpr wchar_t kDefaultIniPath[] = L"Quorpa.ini";

void Log(const char* text) { CLogFile::GetInstance(nullptr)->Write(text); }

// Text of the program's code page (932) as UTF-16, and back. A character
// that has no code page 932 form becomes the code page's default character
// ('?'), never a look-alike (é as e would name another file): names are
// only shown and logged that way, never opened.
std::wstring Wide(const char* text) {
    const int size = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (size <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], size);
    wide.resize(static_cast<size_t>(size) - 1);
    return wide;
}

std::string Narrow(const wchar_t* text) {
    const int size = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string narrow(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, &narrow[0], size, nullptr, nullptr);
    narrow.resize(static_cast<size_t>(size) - 1);
    return narrow;
}

// The directory part of the executable's path, for the files beside it.
struct Folder {
    wchar_t drive[kDriveSize] = L"";
    wchar_t dir[kPartSize] = L"";
};

// Joins folder, name and ext into path (kPathSize units) as _wmakepath does.
// A path that would not fit is left empty rather than overflowing the
// buffer (a directory near the path limit leaves no room for a longer file
// name than the executable's): opening it then fails like opening a missing
// file.
void MakePath(wchar_t (&path)[kPathSize], const Folder& folder, const wchar_t* name, const wchar_t* ext) {
    size_t dirLength = std::wcslen(folder.dir);
    bool addSeparator = dirLength > 0 && folder.dir[dirLength - 1] != L'\\' &&
                        folder.dir[dirLength - 1] != L'/';
    bool addDot = ext[0] != L'\0' && ext[0] != L'.';
    size_t need = std::wcslen(folder.drive) + dirLength + addSeparator + std::wcslen(name) + addDot +
                  std::wcslen(ext) + 1;  // the terminator
    if (need > kPathSize) {
        path[0] = L'\0';
        return;
    }
    _wmakepath(path, folder.drive, folder.dir, name, ext);
}

// COM for the run's thread, as the shell asks of a caller of ShellExecuteEx:
// apartment-threaded, with OLE1 DDE disabled. Undone at the end of the scope
// when it was done here.
class ComApartment {
public:
    ComApartment()
        : m_initialised(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ~ComApartment() {
        if (m_initialised) ::CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool m_initialised;
};

// Opens a shortcut beside the executable with its default action and does
// not wait for what it starts. A missing shortcut is skipped silently (no
// error box): the result is not examined. The launch itself completes before
// the call returns (SEE_MASK_NOASYNC): the process may end right after it,
// and would otherwise kill a launch still pending on a background thread.
void OpenShortcut(const Folder& folder, const wchar_t* name) {
    wchar_t path[kPathSize];
    MakePath(path, folder, name, L"lnk");
    if (path[0] == L'\0') return;  // an empty name would open the working folder
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = ::GetDesktopWindow();
    info.lpFile = path;
    info.nShow = SW_SHOW;
    ::ShellExecuteExW(&info);
}

// The part of path after its last separator ('\' or '/'), or the whole path
// without one. In UTF-16 no unit of another character looks like a
// separator (unlike the second byte of ソ, 0x83 0x5C, in code page 932).
const wchar_t* BaseName(const wchar_t* path) {
    const wchar_t* base = path;
    for (const wchar_t* p = path; *p != L'\0'; ++p) {
        if (*p == L'\\' || *p == L'/') base = p + 1;
    }
    return base;
}

void ShowWarning(const char* text) { AfxMessageBox(text, MB_ICONEXCLAMATION); }

// The six settings as the start-up works with them.
struct Settings {
    CString rcpt = kDefaultRcpt;
    CString smtpSvr = kDefaultSmtpSvr;
    int startAdjust = 0;
    int endAdjust = 0;
    unsigned port = kDefaultPort;  // as read; only the low 16 bits are used
    unsigned logOutput = 0;        // 1 turns the log on
    // Sending through a provider; all absent: the plain dialogue.
    int ssl = 0;          // "smtpssl": 0 none, 1 STARTTLS, 2 TLS from the first byte
    CString user;         // "smtpuser"
    std::string password; // "smtppass": the protected form, hexadecimal digits
    CString certPin;      // "smtpcert": SHA-256 fingerprint
};

// The INI file is reached by its wide path; its text stays in code page
// 932 (the profile functions keep an ANSI file ANSI), converted here.
CString ReadText(const char* key, const CString& fallback, const wchar_t* ini) {
    wchar_t buffer[kSettingBufferSize] = L"";
    ::GetPrivateProfileStringW(kSection, Wide(key).c_str(), Wide(fallback).c_str(), buffer,
                               kSettingBufferSize, ini);
    return CString(Narrow(buffer).c_str());
}

unsigned ReadInt(const char* key, int fallback, const wchar_t* ini) {
    return ::GetPrivateProfileIntW(kSection, Wide(key).c_str(), fallback, ini);
}

void ReadSettings(Settings& s, const wchar_t* ini) {
    s.rcpt = ReadText("rcpt", s.rcpt, ini);
    s.smtpSvr = ReadText("smtpsvr", s.smtpSvr, ini);
    s.startAdjust = static_cast<int>(ReadInt("startad", 0, ini));
    s.endAdjust = static_cast<int>(ReadInt("endad", 0, ini));
    s.port = ReadInt("smtpport", kDefaultPort, ini);
    s.logOutput = ReadInt("logoutput", 0, ini);
    s.ssl = static_cast<int>(ReadInt("smtpssl", 0, ini));
    s.user = ReadText("smtpuser", "", ini);
    s.certPin = ReadText("smtpcert", "", ini);
    std::vector<wchar_t> secret(kSecretBufferSize, L'\0');
    ::GetPrivateProfileStringW(kSection, L"smtppass", L"", secret.data(), static_cast<DWORD>(secret.size()), ini);
    s.password = Narrow(secret.data());
}

bool WriteSetting(const char* key, const char* value, const wchar_t* ini) {
    return ::WritePrivateProfileStringW(kSection, Wide(key).c_str(), Wide(value).c_str(), ini) != FALSE;
}

// Says that the INI file could not be written.
void ShowWriteFailure(const wchar_t* ini) {
    CString text;
    text.Format("設定ファイル(%s)に書き込めません\n設定は保存されていません", Narrow(ini).c_str());
    ShowWarning(text);
}

// Writes the confirmed dialog values back, with the port (as read at
// start-up unless the mail account dialog changed it) and whether the log
// is on (a log that could not be created this time stays on for the next
// run). Stops at the first write that fails and says
// so in a box naming the INI file; returns false then.
bool SaveSettings(const CSettingDlg& dlg, uint16_t port, bool logOn, const wchar_t* ini) {
    CString startAdjust, endAdjust, portText, logText;
    startAdjust.Format("%d", dlg.m_nStartAdjust);
    endAdjust.Format("%d", dlg.m_nEndAdjust);
    portText.Format("%hu", port);
    logText.Format("%u", logOn ? 1u : 0u);
    if (WriteSetting("rcpt", dlg.m_strRcpt, ini) && WriteSetting("smtpsvr", dlg.m_strSmtpSvr, ini) &&
        WriteSetting("startad", startAdjust, ini) && WriteSetting("endad", endAdjust, ini) &&
        WriteSetting("smtpport", portText, ini) && WriteSetting("logoutput", logText, ini)) {
        return true;
    }
    ShowWriteFailure(ini);
    return false;
}

// Writes the mail account values of the mail account dialog (the port goes
// with the other settings): the password protected for the current user,
// left as stored when none was typed, emptied when the user cleared it.
// Stops at the first failure and says so; returns false then.
bool SaveMailAccount(const MailAccount& mail, const wchar_t* ini) {
    CString ssl;
    ssl.Format("%d", mail.ssl);
    std::string password;  // the protected form; unused when it stays as stored
    if (!mail.clearPassword && !mail.newPassword.IsEmpty() &&
        !ProtectPassword(AuthText(mail.newPassword.str()), &password)) {
        ShowWarning("パスワードを暗号化できません\n送信設定は保存されていません");
        return false;
    }
    const bool keepPassword = !mail.clearPassword && mail.newPassword.IsEmpty();
    if (WriteSetting("smtpssl", ssl, ini) && WriteSetting("smtpuser", mail.user, ini) &&
        (keepPassword || WriteSetting("smtppass", password.c_str(), ini)) &&
        WriteSetting("smtpcert", mail.certPin, ini)) {
        return true;
    }
    ShowWriteFailure(ini);
    return false;
}

}  // namespace

bool ReadTextFile(const wchar_t* path, CString& text) {
    text.Empty();
    text.FreeExtra();
    FILE* fp = ::_wfopen(path, L"rb");
    if (fp == nullptr) return false;
    char piece[kPieceBufferSize];
    while (std::fgets(piece, kPieceLimit, fp) != nullptr) text += piece;
    std::fclose(fp);
    return true;
}

uint32_t ResolveHostAddress(const char* name) {
    uint32_t address = ::inet_addr(name);
    if (address != INADDR_NONE) return address;
    const hostent* host = ::gethostbyname(name);
    if (host == nullptr || host->h_addr_list == nullptr || host->h_addr_list[0] == nullptr)
        return INADDR_NONE;
    std::memcpy(&address, host->h_addr_list[0], sizeof address);
    return address;
}

CReserveApp::CReserveApp() : CWinApp(nullptr) {}
CReserveApp::~CReserveApp() = default;

BOOL CReserveApp::InitInstance() {
    const ComApartment com;  // first: the shortcut hooks need it
    if (!AfxSocketInit()) {
        AfxMessageBox(static_cast<unsigned>(IDP_SOCKETS_INIT_FAILED), 0);
        return FALSE;
    }
    Enable3dControls();

    // The arguments as typed, in UTF-16: the ANSI command line would turn
    // café.epg into cafe.epg (another file) and 𠮷野.epg into ?野.epg.
    int argc = 0;
    const std::unique_ptr<LPWSTR, decltype(&::LocalFree)> argv(
        ::CommandLineToArgvW(::GetCommandLineW(), &argc), &::LocalFree);
    if (!argv) argc = 0;

    Settings settings;
    wchar_t iniPath[kPathSize] = L"";
    std::wcscpy(iniPath, kDefaultIniPath);
    Folder folder;
    wchar_t baseName[kPartSize] = L"";

    wchar_t exePath[kPathSize] = L"";
    DWORD length = ::GetModuleFileNameW(nullptr, exePath, kPathSize);
    // A full buffer means the path was cut short: the files beside that cut
    // path are not the program's, so it counts as not obtained.
    if (length == 0 || length >= kPathSize) {
        ShowWarning("実行ファイルのパスを取得できません");
    } else {
        wchar_t ext[kPartSize];
        _wsplitpath(exePath, folder.drive, folder.dir, baseName, ext);
        MakePath(iniPath, folder, baseName, L"ini");
        ReadSettings(settings, iniPath);
    }

    m_ulSmtpAddr = ResolveHostAddress(settings.smtpSvr);
    m_strSmtpSvr = settings.smtpSvr;
    m_nStartAdjust = settings.startAdjust;
    m_nEndAdjust = settings.endAdjust;
    const uint16_t port = static_cast<uint16_t>(settings.port);

    if (m_ulSmtpAddr == INADDR_NONE) {
        CString text;
        text.Format("SMTPサーバ名(%s)をIPアドレスに変換できません", settings.smtpSvr.GetString());
        ShowWarning(text);
        // The settings dialog is where a mistyped name is put right (and a
        // name may only resolve on another network): setting mode goes on.
        if (argc >= 2) return FALSE;
    }

    if (settings.logOutput == 1) {
        wchar_t logPath[kPathSize];
        MakePath(logPath, folder, baseName, L"log");
        // Binary, emptied: as CLogFile opens a log of its own.
        FILE* fp = ::_wfopen(logPath, L"wb");
        if (fp == nullptr) {
            // A folder the user cannot write (under Program Files, say) must
            // not end the run unseen: say so, and go on without the log.
            CString text;
            text.Format("ログファイル(%s)を作成できません\n今回はログを出力しません", Narrow(logPath).c_str());
            ShowWarning(text);
        }
        CLogFile::Adopt(fp);
    }
    Log("I:AplicationInitCompleted\r\n");

    if (argc < 2) {
        Log("I:SettingMode\r\n");
        {
            CSettingDlg dlg(settings.rcpt, settings.smtpSvr, settings.startAdjust,
                            settings.endAdjust, nullptr);
            dlg.m_mail.port = port;
            dlg.m_mail.ssl = settings.ssl;
            dlg.m_mail.user = settings.user;
            dlg.m_mail.certPin = settings.certPin;
            dlg.m_mail.storedPassword = settings.password;
            // Saved while the dialog is still open, so a failed write keeps
            // what the user typed on the screen. The mail account values only
            // when the user confirmed them: an untouched account leaves the
            // INI file as it was.
            dlg.m_save = [&](const CSettingDlg& d) {
                if (PasswordStaysUnsent(d.m_strSmtpSvr, d.m_mail)) {
                    CString text;
                    text.Format("SMTPサーバ(%s)はループバックアドレスではないため、暗号化なしでは"
                                "パスワードを送信しません(メール送信は失敗します)\n"
                                "送信設定で暗号化(STARTTLSまたはSSL/TLS)を設定してください",
                                d.m_strSmtpSvr.GetString());
                    ShowWarning(text);
                }
                return SaveSettings(d, static_cast<uint16_t>(d.m_mail.port), settings.logOutput == 1, iniPath) &&
                       (!d.m_bMailChanged || SaveMailAccount(d.m_mail, iniPath));
            };
            m_pMainWnd = &dlg;
            if (dlg.DoModal() == IDOK) Log("I:SaveSetting\r\n");
            m_pMainWnd = nullptr;
        }
        Log("I:AplicationTerminated\r\n");
        return FALSE;
    }

    Log("I:ReserveMode\r\n");
    OpenShortcut(folder, L"PreExec");

    wchar_t stationPath[kPathSize];
    wchar_t formatPath[kPathSize];
    MakePath(stationPath, folder, L"Station", L"txt");
    MakePath(formatPath, folder, L"MailFormat", L"txt");
    CString stationText;
    if (!ReadTextFile(stationPath, stationText)) {
        ShowWarning("チャンネル設定ファイルを読み込めません");
        return FALSE;
    }
    CString formatText;
    if (!ReadTextFile(formatPath, formatText)) {
        ShowWarning("メールフォーマットファイルを読み込めません");
        return FALSE;
    }

    const CStationTable table(stationText);
    CSmtpMailer mailer;
    mailer.m_strFormat = formatText.str();
    mailer.m_ulSmtpAddr = m_ulSmtpAddr;
    mailer.m_usSmtpPort = port;
    mailer.m_strRcpt = settings.rcpt.str();
    mailer.m_strFrom = settings.rcpt.str();
    mailer.m_nSsl = settings.ssl;
    mailer.m_strServerName = settings.smtpSvr.str();
    mailer.m_strUser = settings.user.str();
    mailer.m_strCertPin = settings.certPin.str();
    // A password that does not decrypt here ends the send with a request to
    // enter it again; it is never used in its stored form.
    if (!settings.password.empty() && !UnprotectPassword(settings.password, &mailer.m_strPassword))
        mailer.m_bPasswordUnreadable = true;

    for (int i = 1; i < argc; ++i) {
        const wchar_t* argument = argv.get()[i];
        const std::string shown = Narrow(argument);  // code page 932, for the log and the boxes
        Log("I:InputFile <");
        Log(shown.c_str());
        Log(">\r\n");
        CString epgText;
        if (!ReadTextFile(argument, epgText)) {
            CString text;
            text.Format("iEPGファイル(%s)を読み込めません", shown.c_str());
            ShowWarning(text);
            return FALSE;
        }
        if (!Reserve(table, mailer, epgText)) {
            CString text;
            text.Format("iEPGファイル「%s」の予約に失敗しました", Narrow(BaseName(argument)).c_str());
            ShowWarning(text);
            return FALSE;
        }
    }

    OpenShortcut(folder, L"AutoExec1");
    OpenShortcut(folder, L"AutoExec2");
    Log("I:AplicationTerminated\r\n");
    return FALSE;
}
