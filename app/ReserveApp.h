// CReserveApp: the application object. One launch, one run:
//   InitInstance (ReserveApp.cpp)  start-up: the files beside the executable
//                                  (ProgramFiles.h), the INI file, the server's
//                                  address, the log files; then one mode:
//   SettingMode (SettingMode.h)    no file argument: the settings dialog, its
//                                  saving, the history's resend
//   ReserveMode (ReserveMode.h)    file arguments: Station.txt, MailFormat.txt,
//                                  the hook shortcuts, and every file reserved
//                                  in turn by the driver (reserve/Reserver.h)
//                                  through the desktop shell (DesktopShell.h)
#pragma once

#include "afx/afx.h"

class CReserveApp : public CWinApp {
public:
    CReserveApp();
    ~CReserveApp() override;

    // The whole run; always returns FALSE so the process ends without a
    // message loop.
    BOOL InitInstance() override;
};
