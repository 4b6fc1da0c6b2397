// The application object and its start-up: one launch, one run. Settings
// come from the INI file beside the executable; without a file argument the
// settings dialog is shown, with file arguments every file is reserved in
// turn. InitInstance always returns FALSE, so the process ends afterwards.
#include "app/ReserveApp.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <shellapi.h>

#include "app/SettingDlg.h"
#include "base/Cp932.h"
#include "base/system.h"
#include "mail/SmtpMailer.h"
#include "res/resource.h"
#include "reserve/StationTable.h"

// Reads the whole file at path in binary mode into text (emptied first).
// Returns false, with text empty, when the file cannot be opened. A NUL byte
// ends the piece it stands in (the rest of that piece is dropped).
bool ReadTextFile(const char* path, CString& text);

// The IPv4 address (network byte order) of name: a dotted address, else the
// first address the host-name lookup gives; INADDR_NONE when neither works.
uint32_t ResolveHostAddress(const char* name);

// The one application object.
CReserveApp theApp;

namespace {

// Buffer sizes of the path handling: the runtime's _MAX_PATH for a whole
// path, _MAX_DRIVE for "C:", _MAX_FNAME for a directory, name or extension.
constexpr size_t kPathSize = 260;
constexpr size_t kDriveSize = 3;
constexpr size_t kPartSize = 256;
// A setting's text arrives in a 256-byte buffer; the profile function is
// told 255, so at most 254 characters arrive.
constexpr size_t kSettingBufferSize = 256;
constexpr DWORD kSettingLimit = 255;
// ReadTextFile's pieces: a 256-byte buffer, fgets limited to 255, so at most
// 254 bytes per piece.
constexpr size_t kPieceBufferSize = 256;
constexpr int kPieceLimit = 255;

constexpr char kSection[] = "setting";
// The recipient when "rcpt" is missing: an address of the reserved example
// domain (RFC 2606), so a forgotten setting can never reach a real mailbox.
constexpr char kDefaultRcpt[] = "recorder@example.com";
constexpr char kDefaultSmtpSvr[] = "127.0.0.1";
constexpr unsigned kDefaultPort = 25;
constexpr char kDefaultIniPath[] = "Quorpa.ini";

void Log(const char* text) { CLogFile::GetInstance(nullptr)->Write(text); }

// The directory part of the executable's path, for the files beside it.
struct Folder {
    char drive[kDriveSize] = "";
    char dir[kPartSize] = "";
};

// Joins folder, name and ext into path (kPathSize bytes) as _makepath does.
// A path that would not fit is left empty rather than overflowing the
// buffer (a directory near the path limit leaves no room for a longer file
// name than the executable's): opening it then fails like opening a missing
// file.
void MakePath(char (&path)[kPathSize], const Folder& folder, const char* name, const char* ext) {
    size_t dirLength = std::strlen(folder.dir);
    bool addSeparator = dirLength > 0 && folder.dir[dirLength - 1] != '\\' &&
                        folder.dir[dirLength - 1] != '/';
    bool addDot = ext[0] != '\0' && ext[0] != '.';
    size_t need = std::strlen(folder.drive) + dirLength + addSeparator + std::strlen(name) + addDot +
                  std::strlen(ext) + 1;  // the terminator
    if (need > kPathSize) {
        path[0] = '\0';
        return;
    }
    _makepath(path, folder.drive, folder.dir, name, ext);
}

// Opens a shortcut beside the executable with its default action and does
// not wait for what it starts. A missing shortcut is skipped silently: the
// result is not examined.
void OpenShortcut(const Folder& folder, const char* name) {
    char path[kPathSize];
    MakePath(path, folder, name, "lnk");
    if (path[0] == '\0') return;  // an empty name would open the working folder
    ::ShellExecuteA(::GetDesktopWindow(), nullptr, path, nullptr, nullptr, SW_SHOW);
}

// The part of path after its last separator ('\' or '/'), or the whole path
// without one. The scan moves over whole code page 932 characters, so the
// second byte of a character such as ソ (0x83 0x5C) is never taken for a
// backslash.
const char* BaseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (cp932::IsLeadByte(static_cast<unsigned char>(*p))) {
            if (p[1] == '\0') break;  // a lone lead byte at the end
            ++p;
        } else if (*p == '\\' || *p == '/') {
            base = p + 1;
        }
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
};

CString ReadText(const char* key, const CString& fallback, const char* ini) {
    char buffer[kSettingBufferSize] = "";
    ::GetPrivateProfileStringA(kSection, key, fallback, buffer, kSettingLimit, ini);
    return CString(buffer);
}

void ReadSettings(Settings& s, const char* ini) {
    s.rcpt = ReadText("rcpt", s.rcpt, ini);
    s.smtpSvr = ReadText("smtpsvr", s.smtpSvr, ini);
    s.startAdjust = static_cast<int>(::GetPrivateProfileIntA(kSection, "startad", 0, ini));
    s.endAdjust = static_cast<int>(::GetPrivateProfileIntA(kSection, "endad", 0, ini));
    s.port = ::GetPrivateProfileIntA(kSection, "smtpport", kDefaultPort, ini);
    s.logOutput = ::GetPrivateProfileIntA(kSection, "logoutput", 0, ini);
}

void WriteSetting(const char* key, const char* value, const char* ini) {
    // A failed write is not reported: the user sees the dialog's values
    // again at the next start if they were not kept.
    ::WritePrivateProfileStringA(kSection, key, value, ini);
}

// Writes the confirmed dialog values back, with the port read at start-up
// and whether this run's log is open.
void SaveSettings(const CSettingDlg& dlg, uint16_t port, const char* ini) {
    Log("I:SaveSetting\r\n");
    CString value;
    WriteSetting("rcpt", dlg.m_strRcpt, ini);
    WriteSetting("smtpsvr", dlg.m_strSmtpSvr, ini);
    value.Format("%d", dlg.m_nStartAdjust);
    WriteSetting("startad", value, ini);
    value.Format("%d", dlg.m_nEndAdjust);
    WriteSetting("endad", value, ini);
    value.Format("%hu", port);
    WriteSetting("smtpport", value, ini);
    value.Format("%u", CLogFile::GetInstance(nullptr)->IsOpen() ? 1u : 0u);
    WriteSetting("logoutput", value, ini);
}

}  // namespace

bool ReadTextFile(const char* path, CString& text) {
    text.Empty();
    text.FreeExtra();
    FILE* fp = std::fopen(path, "rb");
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
    if (!AfxSocketInit()) {
        AfxMessageBox(static_cast<unsigned>(IDP_SOCKETS_INIT_FAILED), 0);
        return FALSE;
    }
    Enable3dControls();

    Settings settings;
    char iniPath[kPathSize] = "";
    std::strcpy(iniPath, kDefaultIniPath);
    Folder folder;
    char baseName[kPartSize] = "";

    char exePath[kPathSize] = "";
    DWORD length = ::GetModuleFileNameA(nullptr, exePath, kPathSize);
    // A full buffer means the path was cut short: the files beside that cut
    // path are not the program's, so it counts as not obtained.
    if (length == 0 || length >= kPathSize) {
        ShowWarning("実行ファイルのパスを取得できません");
    } else {
        char ext[kPartSize];
        _splitpath(exePath, folder.drive, folder.dir, baseName, ext);
        MakePath(iniPath, folder, baseName, "ini");
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
        return FALSE;
    }

    if (settings.logOutput == 1) {
        char logPath[kPathSize];
        MakePath(logPath, folder, baseName, "log");
        CLogFile::GetInstance(logPath);
    }
    Log("I:AplicationInitCompleted\r\n");

    if (__argc < 2) {
        Log("I:SettingMode\r\n");
        {
            CSettingDlg dlg(settings.rcpt, settings.smtpSvr, settings.startAdjust,
                            settings.endAdjust, nullptr);
            m_pMainWnd = &dlg;
            if (dlg.DoModal() == IDOK) SaveSettings(dlg, port, iniPath);
            m_pMainWnd = nullptr;
        }
        Log("I:AplicationTerminated\r\n");
        return FALSE;
    }

    Log("I:ReserveMode\r\n");
    OpenShortcut(folder, "PreExec");

    char stationPath[kPathSize];
    char formatPath[kPathSize];
    MakePath(stationPath, folder, "Station", "txt");
    MakePath(formatPath, folder, "MailFormat", "txt");
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

    for (int i = 1; i < __argc; ++i) {
        const char* argument = __argv[i];
        Log("I:InputFile <");
        Log(argument);
        Log(">\r\n");
        CString epgText;
        if (!ReadTextFile(argument, epgText)) {
            CString text;
            text.Format("iEPGファイル(%s)を読み込めません", argument);
            ShowWarning(text);
            return FALSE;
        }
        if (!Reserve(table, mailer, epgText)) {
            CString text;
            text.Format("iEPGファイル「%s」の予約に失敗しました", BaseName(argument));
            ShowWarning(text);
            return FALSE;
        }
    }

    OpenShortcut(folder, "AutoExec1");
    OpenShortcut(folder, "AutoExec2");
    Log("I:AplicationTerminated\r\n");
    return FALSE;
}
