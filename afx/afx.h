// The thin application framework: just the operations the program uses, over
// the platform layer. This header is portable; the Windows-only pieces
// (entry point, dialogs, resources) live in afx/win32/.
#pragma once

#include <functional>

#include "afx/CString.h"
#include "sys_types.h"  // BOOL, MB_* flags and ID* answers of the message box

// Shows a message box titled with the executable's base name and returns the
// button pressed (IDOK, IDYES, IDNO, IDCANCEL). type is the MB_* flags.
int AfxMessageBox(const char* text, unsigned type = MB_OK, unsigned helpId = 0);

// Tests replace the real box with a scripted answerer: every AfxMessageBox
// call goes to the handler instead. Returns the previous handler; an empty
// handler restores the real box.
using MessageBoxHandler = std::function<int(const char* text, unsigned type)>;
MessageBoxHandler AfxSetMessageBoxHandler(MessageBoxHandler handler);

// Shows string resource idPrompt of the executable like AfxMessageBox above
// (through the same test handler). A missing string shows an empty text.
// Windows only: the strings live in the executable's resources.
int AfxMessageBox(unsigned idPrompt, unsigned type = MB_OK, unsigned helpId = 0);

class CWnd;  // a framework window (afx/win32/)

// The application object. Exactly one exists, a global; the entry point
// calls its InitInstance, which does the program's whole run. A false result
// ends the process without a message loop.
class CWinApp {
public:
    explicit CWinApp(const char* appName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance();
    // Three-dimensional dialog controls: always on with today's common
    // controls; kept for the start-up's order of steps.
    BOOL Enable3dControls() { return TRUE; }

    CWnd* m_pMainWnd = nullptr;
};

// The one application object, or null before it is constructed.
CWinApp* AfxGetApp();

// Starts Windows Sockets (version 1.1) for the application. Windows only.
BOOL AfxSocketInit();
