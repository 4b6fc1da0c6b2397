// CReserveApp: the application object. One launch, one run:
//   InitInstance (ReserveApp.cpp)  start-up: the files beside the executable
//                                  (ProgramFiles.h), the INI file, the server's
//                                  address, the log files; then one mode:
//   SettingMode (SettingMode.cpp)  no file argument: the settings dialog, its
//                                  saving, the history's resend
//   ReserveMode (ReserveMode.cpp)  file arguments: Station.txt, MailFormat.txt,
//                                  the hook shortcuts, and every file reserved
//                                  in turn by the driver (reserve/Reserver.h)
//                                  through the desktop shell (DesktopShell.h)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "afx/afx.h"
#include "app/ProgramFiles.h"
#include "mail/MailAccount.h"
#include "reserve/History.h"

struct Settings;

class CReserveApp : public CWinApp {
public:
    CReserveApp();
    ~CReserveApp() override;

    // The whole run; always returns FALSE so the process ends without a
    // message loop.
    BOOL InitInstance() override;

    // Sends the history's entry again, in setting mode: with the mail
    // settings of the INI file ini and the template format as they are now.
    // Returns whether the mail went out.
    bool Resend(const history::Entry& entry, const wchar_t* ini, const wchar_t* format);

    // After a successful send the progress window says so for a moment
    // ("notify"); off, a send ends silently.
    bool m_bNotify = false;
    // The history of reservation mails (UTF-8 path); empty: none is kept.
    std::string m_strHistoryPath;

private:
    // Shows the settings dialog over settings (as read from ini) and saves
    // what the user confirms into ini; format is MailFormat.txt, for a resend.
    void SettingMode(const Settings& settings, const wchar_t* ini, const wchar_t* format);
    // Reserves every file of args (args[0] is the program) with the files of
    // folder; stops at the first that fails, after saying so.
    // account is the settings' mail account with its server resolved.
    void ReserveMode(const Settings& settings, MailAccount account, const Folder& folder,
                     const std::vector<std::wstring>& args, const wchar_t* format);
};

// The program's warning box: exclamation icon, OK button.
void ShowWarning(const char* text);
