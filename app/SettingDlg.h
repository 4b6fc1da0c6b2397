// CSettingDlg: the settings dialog of setting mode (template 102): recipient,
// SMTP server, start and end adjustments, and the extension used by the
// file-type registration button. It saves nothing itself; the start-up reads
// the fields after OK.
#pragma once

#include "afx/win32/Dialog.h"

class CSettingDlg : public CDialog {
public:
    CSettingDlg(const char* rcpt, const char* smtpSvr, int startAdjust, int endAdjust,
                CWnd* parent = nullptr);
    ~CSettingDlg() override;

    CString m_strRcpt;
    CString m_strSmtpSvr;
    int m_nStartAdjust;
    int m_nEndAdjust;
    CString m_strExt;     // always starts as ".epg"
    HICON m_hAppIcon;     // icon resource 129

protected:
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    // (message handlers: system menu, paint, drag icon, registration button)
};
