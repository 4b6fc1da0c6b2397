// The start-up of one launch: the paths of the files beside the executable,
// the settings from the INI file, the server's address and the log files.
// Then setting mode (no file argument) or reserve mode (file arguments).
#include "app/ReserveApp.h"

#include <cstdio>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "app/MailAccount.h"
#include "app/ProgramFiles.h"
#include "app/ReserveMode.h"
#include "app/SettingMode.h"
#include "app/Settings.h"
#include "app/Warning.h"
#include "base/CommandLine.h"
#include "base/system.h"
#include "mail/MailAccount.h"
#include "mail/SendFailure.h"
#include "res/resource.h"

// The one application object.
CReserveApp theApp;

namespace {

constexpr wchar_t kDefaultIniPath[] = L"Quorpa.ini";

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

// Starts this run's log, <name>.log beside the executable, after keeping the
// previous one. A log that cannot be created is said in a box; the run goes
// on without it.
void StartLog(const Folder& folder, const wchar_t* baseName) {
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

}  // namespace

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
    const bool resolved = ResolveServer(account);

    if (!resolved) {
        ShowWarning(UnresolvableServerText(account.server).c_str());
        // The settings dialog is where a mistyped name is put right (and a
        // name may only resolve on another network): setting mode goes on.
        if (argc >= 2) return FALSE;
    }

    if (settings.logOutput == 1) StartLog(folder, baseName);
    WriteLog("I:AplicationInitCompleted\r\n");

    // Named after the executable, as the INI file and the log; no history
    // when the executable's path is unknown or the name does not fit.
    wchar_t historyPath[kPathSize] = L"";
    if (baseName[0] != L'\0') MakePath(historyPath, folder, baseName, L"history");
    const std::string history = Utf8(historyPath);
    wchar_t formatPath[kPathSize];
    MakePath(formatPath, folder, L"MailFormat", L"txt");

    if (argc < 2)
        SettingMode(*this, settings, iniPath, formatPath, history);
    else
        ReserveMode(settings, std::move(account), folder, args, formatPath, history);
    return FALSE;
}
