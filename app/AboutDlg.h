// CAboutDlg: the about box (template 100): the program's icon, name and
// version. It has no fields; its OK button closes it. Opened from the
// settings dialog's system menu.
#pragma once

#include "afx/win32/Dialog.h"

class CAboutDlg : public CDialog {
public:
    // No parent: the framework makes the application's main window (the
    // settings dialog) its owner.
    CAboutDlg();
};
