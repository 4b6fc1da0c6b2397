// CMailDlg: the mail account dialog (template IDD_MAILSETTING), opened from
// the settings dialog's 送信設定... button: port, encryption, user name,
// password, certificate fingerprint, sender address, and the 接続テスト button. It edits a
// copy of the settings dialog's values; OK hands them back there, and only
// the settings dialog's OK makes the start-up write them.
#pragma once

#include "afx/win32/Dialog.h"
#include "app/MailAccount.h"

class CMailDlg : public CDialog {
public:
    // account: the values to edit; server: the SMTP server the settings
    // dialog shows now (for the connection test).
    CMailDlg(const MailAccountForm& account, const char* server, CWnd* parent);

    // After DoModal returned IDOK: the values as confirmed.
    MailAccountForm m_account;

protected:
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    // m_account with the fields applied (after a successful exchange).
    MailAccountForm Values() const;
    // A click on one of the encryption buttons (its number): a port still at
    // the usual port of the previous choice becomes the usual port of the
    // new one.
    void OnEncryptionChosen(int choice);
    // The clear box empties and locks the password field while it is set.
    void OnClearPassword();
    void OnTestConnection();

    CString m_strServer;
    int m_nPort;
    int m_nEncryption;  // the checked button: Encryption's number
    CString m_strUser;
    CString m_strPassword;  // always starts empty: the stored one is never shown
    int m_nClearPassword;
    CString m_strCertPin;
    CString m_strFrom;
    int m_nShownEncryption;  // the choice whose usual port the port field is compared with
    bool m_bTesting = false;   // a connection test runs (its button reads 中止)
    bool m_bStopTest = false;  // its 中止 was pressed
};
