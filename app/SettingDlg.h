// CSettingDlg: the settings dialog of setting mode (template 102): recipient,
// SMTP server, start and end adjustments, and the extension used by the
// file-type registration and unregistration buttons, and the mail account
// values edited in the dialog behind its 送信設定... button, and the button
// 予約履歴... that opens the history of reservation mails, and 放送局...,
// the station table. It saves nothing
// itself; the start-up reads the fields after OK.
#pragma once

#include <functional>

#include "afx/win32/Dialog.h"
#include "app/HistoryDlg.h"
#include "app/MailAccount.h"

class CSettingDlg : public CDialog {
public:
    // An extension as typed, in bytes (as checked): a dot and today's
    // longest iEPG extension (.tvpid) with room to spare.
    static constexpr int kMaxExtChars = 16;

    // Sets the fields from the arguments (the extension always starts as
    // ".epg") and loads the window icon (resource 129). Owns nothing that
    // needs releasing: the icon is a shared resource icon.
    CSettingDlg(const char* rcpt, const char* smtpSvr, int startAdjust, int endAdjust,
                CWnd* parent = nullptr);
    ~CSettingDlg() override;

    CString m_strRcpt;
    CString m_strSmtpSvr;
    int m_nStartAdjust;
    int m_nEndAdjust;
    CString m_strExt;     // always starts as ".epg"; never saved
    int m_nNotify = 0;    // check box 送信完了を表示する ("notify")
    int m_nLogOutput = 0; // check box ログを記録する ("logoutput")
    HICON m_hAppIcon;     // icon resource 129
    // The mail account values: set by the start-up before DoModal, replaced
    // when the mail account dialog closes with OK (m_bMailChanged then).
    MailAccountForm m_mail;
    bool m_bMailChanged = false;
    // Called by OK once the checks have passed, with the dialog still open.
    // When it returns false (having told the user why) the dialog stays
    // open, so nothing typed is lost. Empty: OK just closes the dialog.
    std::function<bool(const CSettingDlg&)> m_save;
    // What the history dialog behind 予約履歴... does with the history.
    HistoryActions m_history;

    // Registers this executable as the handler of iEPG files under .tvpi,
    // .tvpid and the extension m_strExt (after refreshing the fields from
    // the controls; an extension that assoc::IsExtension refuses gets the
    // field's prompt and nothing is written), through app/Association.h,
    // and says in a message box where it registered what, or what failed.
    // Nothing throws.
    void OnRegisterAssociation();
    // After a confirmation, removes what the registrations of the
    // remembered extensions and of m_strExt wrote (per user and for every
    // user) where it still holds what was written, and shows what was
    // removed and what was kept. Nothing throws.
    void OnUnregisterAssociation();
    // Opens the mail account dialog on m_mail, with the server the dialog
    // shows now; its OK replaces m_mail.
    void OnMailSettings();
    // Opens the history dialog on m_history.
    void OnHistory();
    // Opens the station table of the Station.txt beside the executable
    // (放送局..., EditStationTable).
    void OnStations();

protected:
    // Whether m_strExt may be registered: empty, emptyMessage is shown; not
    // an extension, the field's prompt, with the focus on the field.
    bool CheckExtension(const char* emptyMessage);

    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

    // Message handlers; each returns false to leave the message to the
    // system's default handling.
    bool OnSysCommand(UINT id, LPARAM lParam);
    bool OnPaint();
    HICON OnQueryDragIcon();
};
