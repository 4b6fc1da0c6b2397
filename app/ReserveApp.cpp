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
#include <string>
#include <utility>

#include <objbase.h>
#include <shellapi.h>

#include "app/SettingDlg.h"
#include "app/Settings.h"
#include "base/CommandLine.h"
#include "base/system.h"
#include "mail/Password.h"
#include "mail/SendFailure.h"
#include "mail/SmtpMailer.h"
#include "platform/tls.h"
#include "res/resource.h"
#include "reserve/History.h"
#include "reserve/StationTable.h"

// Reads the whole file at path in binary mode into text (emptied first).
// Returns false, with text empty, when the file cannot be opened. A NUL byte
// ends the piece it stands in (the rest of that piece is dropped).
bool ReadTextFile(const wchar_t* path, CString& text);

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
// ReadTextFile's pieces: a 256-byte buffer, fgets limited to 255, so at most
// 254 bytes per piece.
constexpr size_t kPieceBufferSize = 256;
constexpr int kPieceLimit = 255;

constexpr wchar_t kDefaultIniPath[] = L"Quorpa.ini";

void Log(const char* text) { CLogFile::GetInstance(nullptr)->Write(text); }

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

// The previous run's log becomes <name>.old.log (replacing the one before),
// so that a run, such as opening the settings dialog after a failure, never
// destroys the log of the run before it. Only a file is moved; whatever
// stands in the way stays for the log's own open to report.
void KeepPreviousLog(const wchar_t* logPath, const Folder& folder, const wchar_t* baseName) {
    const DWORD attributes = ::GetFileAttributesW(logPath);
    if (logPath[0] == L'\0' || attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return;
    wchar_t oldPath[kPathSize];
    MakePath(oldPath, folder, (std::wstring(baseName) + L".old").c_str(), L"log");
    if (oldPath[0] != L'\0') ::MoveFileExW(logPath, oldPath, MOVEFILE_REPLACE_EXISTING);
}

// path in UTF-8, as the portable core takes paths (any character of the
// folder's name survives).
std::string Utf8(const wchar_t* path) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, path, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string text(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, path, -1, &text[0], size, nullptr, nullptr);
    text.resize(static_cast<size_t>(size) - 1);
    return text;
}

// COM for the calling thread, as the shell asks of a caller of
// ShellExecuteEx: apartment-threaded, with OLE1 DDE disabled. Undone at the
// end of the scope when it was done here.
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
// COM is set up here, only for a shortcut that is there: most runs have no
// hooks, and loading COM would cost them time before the confirmation box.
void OpenShortcut(const Folder& folder, const wchar_t* name) {
    wchar_t path[kPathSize];
    MakePath(path, folder, name, L"lnk");
    if (path[0] == L'\0') return;  // an empty name would open the working folder
    if (::GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) return;
    const ComApartment com;
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

// Says that the INI file could not be written.
void ShowWriteFailure(const wchar_t* ini) {
    CString text;
    text.Format("設定ファイル(%s)に書き込めません\n設定は保存されていません", Narrow(ini).c_str());
    ShowWarning(text);
}

// Writes the confirmed dialog values back, with the port (as read at
// start-up unless the mail account dialog changed it) and whether the log
// is on (a log that could not be created this time stays on for the next
// run); then the mail account values when the mail account dialog's OK
// confirmed them (an untouched account leaves its keys as they are): the
// password protected for the current user, left as stored when none was
// typed, emptied when the user cleared it. Stops at the first failure and
// says so in a box; returns false then.
bool SaveSettings(const CSettingDlg& dlg, Settings s, const wchar_t* ini) {
    s.rcpt = dlg.m_strRcpt;
    s.smtpSvr = dlg.m_strSmtpSvr;
    s.startAdjust = dlg.m_nStartAdjust;
    s.endAdjust = dlg.m_nEndAdjust;
    s.port = static_cast<uint16_t>(dlg.m_mail.port);
    s.logOutput = dlg.m_nLogOutput != 0 ? 1 : 0;
    s.notify = dlg.m_nNotify != 0 ? 1 : 0;
    if (!WriteSettings(s, SettingGroup::kMain, true, ini)) {
        ShowWriteFailure(ini);
        return false;
    }
    if (!dlg.m_bMailChanged) return true;
    const MailAccountForm& mail = dlg.m_mail;
    s.encryption = mail.encryption;
    s.user = mail.user;
    s.certPin = mail.certPin;
    s.mailFrom = mail.from;
    s.password.clear();
    if (!mail.clearPassword && !mail.newPassword.IsEmpty() && !ProtectPassword(mail.newPassword.str(), &s.password)) {
        ShowWarning("パスワードを暗号化できません\n送信設定は保存されていません");
        return false;
    }
    const bool keepPassword = !mail.clearPassword && mail.newPassword.IsEmpty();
    if (WriteSettings(s, SettingGroup::kMail, keepPassword, ini)) return true;
    ShowWriteFailure(ini);
    return false;
}

// Finds the address of account's server; says so when there is none.
bool Resolve(MailAccount& account) {
    if (ResolveServer(account)) return true;
    ShowWarning(UnresolvableServerText(account.server).c_str());
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

CReserveApp::CReserveApp() : CWinApp(nullptr) {}
CReserveApp::~CReserveApp() = default;

BOOL CReserveApp::InitInstance() {
    if (!AfxSocketInit()) {
        AfxMessageBox(static_cast<unsigned>(IDP_SOCKETS_INIT_FAILED), 0);
        return FALSE;
    }
    Enable3dControls();

    // The arguments as typed, in UTF-16: the ANSI command line would turn
    // café.epg into cafe.epg (another file) and 𠮷野.epg into ?野.epg.
    const std::vector<std::wstring> args = SplitCommandLine(::GetCommandLineW());
    const int argc = static_cast<int>(args.size());

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

    MailAccount account = settings.Account();
    const bool resolved = Resolve(account);
    m_nStartAdjust = settings.startAdjust;
    m_nEndAdjust = settings.endAdjust;
    m_bNotify = settings.notify == 1;
    // The settings dialog is where a mistyped name is put right (and a name
    // may only resolve on another network): setting mode goes on.
    if (!resolved && argc >= 2) return FALSE;

    if (settings.logOutput == 1) {
        wchar_t logPath[kPathSize];
        MakePath(logPath, folder, baseName, L"log");
        KeepPreviousLog(logPath, folder, baseName);
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

    // Named after the executable, as the INI file and the log; no history
    // when the executable's path is unknown or the name does not fit.
    wchar_t historyPath[kPathSize] = L"";
    if (baseName[0] != L'\0') MakePath(historyPath, folder, baseName, L"history");
    m_strHistoryPath = Utf8(historyPath);
    wchar_t formatPath[kPathSize];
    MakePath(formatPath, folder, L"MailFormat", L"txt");

    if (argc < 2) {
        Log("I:SettingMode\r\n");
        {
            CSettingDlg dlg(settings.rcpt, settings.smtpSvr, settings.startAdjust,
                            settings.endAdjust, nullptr);
            dlg.m_mail.port = account.port;
            dlg.m_mail.encryption = settings.encryption;
            dlg.m_mail.user = settings.user;
            dlg.m_mail.certPin = settings.certPin;
            dlg.m_mail.from = settings.mailFrom;
            dlg.m_nLogOutput = settings.logOutput == 1 ? 1 : 0;
            dlg.m_nNotify = settings.notify == 1 ? 1 : 0;
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
                return SaveSettings(d, settings, iniPath);
            };
            dlg.m_history.load = [&] { return history::Load(m_strHistoryPath); };
            dlg.m_history.resend = [&](const history::Entry& entry) { Resend(entry, iniPath, formatPath); };
            dlg.m_history.remove = [&](const std::vector<history::Entry>& gone) {
                if (!history::Remove(m_strHistoryPath, gone)) ShowWarning("予約履歴ファイルに書き込めません");
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
    MakePath(stationPath, folder, L"Station", L"txt");
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
    mailer.m_account = std::move(account);
    mailer.m_strFormat = formatText.str();

    for (int i = 1; i < argc; ++i) {
        const wchar_t* argument = args[i].c_str();
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
        m_strFileName = Narrow(BaseName(argument));
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

bool CReserveApp::Resend(const history::Entry& entry, const wchar_t* ini, const wchar_t* format) {
    // The settings as saved now, not as the dialog shows them unconfirmed.
    Settings settings;
    ReadSettings(settings, ini);
    MailAccount account = settings.Account();
    if (!Resolve(account)) return false;
    CString formatText;
    if (!ReadTextFile(format, formatText)) {
        ShowWarning("メールフォーマットファイルを読み込めません");
        return false;
    }
    CSmtpMailer mailer;
    mailer.m_account = std::move(account);
    mailer.m_strFormat = formatText.str();
    mailer.m_strTitle = entry.title;
    mailer.m_strStation = entry.station;
    m_bNotify = settings.notify == 1;
    return SendRecorded(mailer, entry, &entry);
}
