#include "app/MailDlg.h"

#include <string>

#include "app/Settings.h"
#include "res/resource.h"

namespace {
constexpr int kEncryptionChoices = 3;

constexpr const char* kPromptPin = "証明書の指紋は SHA-256 の16進数64桁で入力してください。";
constexpr const char* kPromptPinNeedsTls =
    "暗号化なしでは証明書の指紋を確かめられません。\n暗号化(STARTTLSまたはSSL/TLS)を選ぶか、指紋を消してください。";
constexpr const char* kNoteStored = "※空欄のままなら登録済みのパスワードを使います";
constexpr const char* kNoteNone = "※パスワードは登録されていません";
constexpr const char* kStopTest = "中止";

void DDV_CertPin(CDataExchange* dx, const CString& value) {
    if (dx->Failed() || !dx->m_bSaveAndValidate || IsCertPinText(value)) return;
    AfxMessageBox(kPromptPin, MB_OK | MB_ICONEXCLAMATION);
    dx->Fail();
}
}  // namespace

CMailDlg::CMailDlg(const MailAccountForm& account, const char* server, CWnd* parent)
    : CDialog(IDD_MAILSETTING, parent),
      m_account(account),
      m_strServer(server),
      m_nPort(account.port),
      m_nEncryption(static_cast<int>(account.encryption)),
      m_strUser(account.user),
      m_nClearPassword(account.clearPassword ? 1 : 0),
      m_strCertPin(account.certPin),
      m_strFrom(account.from),
      // An encryption value no button stands for compares like none.
      m_nShownEncryption(m_nEncryption >= 0 && m_nEncryption < kEncryptionChoices ? m_nEncryption : 0) {}

void CMailDlg::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_Text(dx, IDC_SMTPPORT, m_nPort);
    DDV_MinMaxInt(dx, m_nPort, LimitsOf("smtpport").min, LimitsOf("smtpport").max);
    DDX_Radio(dx, IDC_SSL_NONE, m_nEncryption);
    DDX_Text(dx, IDC_SMTPUSER, m_strUser);
    DDV_MaxChars(dx, m_strUser, LimitsOf("smtpuser").max);
    // UTF-8, as AUTH carries it: any character the user types survives.
    DDX_TextUtf8(dx, IDC_SMTPPASS, m_strPassword);
    DDV_MaxChars(dx, m_strPassword, LimitsOf("smtppass").max);
    DDX_Check(dx, IDC_CLEARPASS, m_nClearPassword);
    DDX_Text(dx, IDC_SMTPCERT, m_strCertPin);
    DDV_MaxChars(dx, m_strCertPin, LimitsOf("smtpcert").max);
    DDV_CertPin(dx, m_strCertPin);
    DDX_Text(dx, IDC_MAILFROM, m_strFrom);
    DDV_MaxChars(dx, m_strFrom, LimitsOf("mailfrom").max);
    DDV_Prompt(dx, MailAddressPrompt(m_strFrom));
}

BOOL CMailDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    AfxSetDlgItemText(m_hWnd, IDC_PASSNOTE, m_account.HasPassword() ? kNoteStored : kNoteNone);
    OnClearPassword();
    return TRUE;  // focus on the first tab stop, the port
}

MailAccountForm CMailDlg::Values() const {
    MailAccountForm values = m_account;
    values.port = m_nPort;
    // None checked (never from the user): no encryption.
    values.encryption = m_nEncryption >= 0 ? static_cast<Encryption>(m_nEncryption) : Encryption::kNone;
    values.user = m_strUser;
    values.certPin = m_strCertPin;
    values.from = m_strFrom;
    values.clearPassword = m_nClearPassword != 0;
    if (values.clearPassword)
        values.newPassword.Empty();
    else if (!m_strPassword.IsEmpty())
        values.newPassword = m_strPassword;
    return values;
}

void CMailDlg::OnOK() {
    if (!UpdateData(TRUE)) return;
    // A fingerprint without encryption would check nothing; the send refuses it.
    if (m_nEncryption <= 0 && !m_strCertPin.IsEmpty()) {
        AfxMessageBox(kPromptPinNeedsTls, MB_OK | MB_ICONEXCLAMATION);
        ::SetFocus(::GetDlgItem(m_hWnd, IDC_SMTPCERT));
        ::SendDlgItemMessageA(m_hWnd, IDC_SMTPCERT, EM_SETSEL, 0, -1);
        return;
    }
    m_account = Values();
    EndDialog(IDOK);
}

void CMailDlg::OnEncryptionChosen(int choice) {
    if (choice == m_nShownEncryption) return;
    if (AfxGetDlgItemText(m_hWnd, IDC_SMTPPORT) == std::to_string(kUsualSmtpPorts[m_nShownEncryption]))
        AfxSetDlgItemText(m_hWnd, IDC_SMTPPORT, std::to_string(kUsualSmtpPorts[choice]).c_str());
    m_nShownEncryption = choice;
}

void CMailDlg::OnClearPassword() {
    const bool clear = ::IsDlgButtonChecked(m_hWnd, IDC_CLEARPASS) == BST_CHECKED;
    if (clear) AfxSetDlgItemText(m_hWnd, IDC_SMTPPASS, "");
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_SMTPPASS), clear ? FALSE : TRUE);
}

void CMailDlg::OnTestConnection() {
    if (m_bTesting) {  // the button reads 中止 while the test runs
        m_bStopTest = true;
        return;
    }
    if (!UpdateData(TRUE)) return;  // the prompt is shown; nothing is tried
    const std::string label = AfxGetDlgItemText(m_hWnd, IDC_TESTCONN);
    AfxSetDlgItemText(m_hWnd, IDC_TESTCONN, kStopTest);
    m_bTesting = true;
    m_bStopTest = false;
    const ConnectionTestOutcome outcome =
        RunConnectionTest(m_hWnd, ::GetDlgItem(m_hWnd, IDC_TESTCONN), m_bStopTest, Values().Account(m_strServer));
    m_bTesting = false;
    AfxSetDlgItemText(m_hWnd, IDC_TESTCONN, label.c_str());
    AfxMessageBox(outcome.text, outcome.succeeded ? MB_OK | MB_ICONINFORMATION : MB_OK | MB_ICONEXCLAMATION);
    ::SetFocus(::GetDlgItem(m_hWnd, IDC_TESTCONN));
}

bool CMailDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        const int id = LOWORD(wParam);
        if (id >= IDC_SSL_NONE && id < IDC_SSL_NONE + kEncryptionChoices) {
            OnEncryptionChosen(id - IDC_SSL_NONE);
        } else if (id == IDC_CLEARPASS) {
            OnClearPassword();
        } else if (id == IDC_TESTCONN) {
            OnTestConnection();
        } else if (m_bTesting && (id == IDOK || id == IDCANCEL)) {
            // The dialog cannot close under the running test: closing it
            // (title bar, Escape) stops the test instead.
            if (id == IDCANCEL) m_bStopTest = true;
        } else {
            return CDialog::OnMessage(message, wParam, lParam, result);
        }
        result = 0;
        return true;
    }
    return CDialog::OnMessage(message, wParam, lParam, result);
}
