// Reserve mode, the run with file arguments: the PreExec hook, Station.txt
// and MailFormat.txt, then every iEPG file in turn from its path to the
// reservation driver (reserve/Reserver.h), then the AutoExec hooks. The
// first file that fails ends the run, after a box that names it.
#include <string>
#include <vector>

#include <objbase.h>
#include <shellapi.h>

#include "app/DesktopShell.h"
#include "app/ReserveMode.h"
#include "app/Settings.h"
#include "app/Warning.h"
#include "base/system.h"
#include "mail/SmtpMailer.h"
#include "reserve/Reserver.h"
#include "reserve/StationTable.h"

namespace {

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

}  // namespace

void ReserveMode(const Settings& settings, MailAccount account, const Folder& folder,
                 const std::vector<std::wstring>& args, const wchar_t* formatPath, const std::string& historyPath) {
    WriteLog("I:ReserveMode\r\n");
    OpenShortcut(folder, L"PreExec");

    wchar_t stationPath[kPathSize];
    MakePath(stationPath, folder, L"Station", L"txt");
    CString stationText;
    if (!ReadTextFile(stationPath, stationText)) {
        ShowWarning("チャンネル設定ファイルを読み込めません");
        return;
    }
    CString formatText;
    if (!ReadTextFile(formatPath, formatText)) {
        ShowWarning("メールフォーマットファイルを読み込めません");
        return;
    }

    const CStationTable table(stationText);
    DesktopShell shell(std::move(account), formatText.str(), settings.notify == 1);
    reserve::ReserveOptions options;
    options.adjust.start = settings.startAdjust;
    options.adjust.end = settings.endAdjust;
    options.historyPath = historyPath;
    reserve::Reserver reserver(shell, options);

    for (size_t i = 1; i < args.size(); ++i) {
        const wchar_t* argument = args[i].c_str();
        const std::string shown = Narrow(argument);  // code page 932, for the log and the boxes
        WriteLog("I:InputFile <");
        WriteLog(shown);
        WriteLog(">\r\n");
        CString epgText;
        if (!ReadTextFile(argument, epgText)) {
            CString text;
            text.Format("iEPGファイル(%s)を読み込めません", shown.c_str());
            ShowWarning(text);
            return;
        }
        if (!reserver.ReserveFile(epgText, table, Narrow(BaseName(argument)))) {
            CString text;
            text.Format("iEPGファイル「%s」の予約に失敗しました", Narrow(BaseName(argument)).c_str());
            ShowWarning(text);
            return;
        }
    }

    OpenShortcut(folder, L"AutoExec1");
    OpenShortcut(folder, L"AutoExec2");
    WriteLog("I:AplicationTerminated\r\n");
}
