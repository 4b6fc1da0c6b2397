#include "app/SettingDlg.h"

#include "app/AboutDlg.h"
#include "app/Association.h"
#include "app/AssociationTable.h"
#include "app/MailAccount.h"
#include "app/MailDlg.h"
#include "app/Settings.h"
#include "app/StationTableDlg.h"
#include "afx/win32/Program.h"
#include "res/resource.h"

namespace {
// The server field as typed, in bytes (as its setting's limit).
constexpr int kMaxAddressChars = 256;
// The system owns the low four bits of a system-menu command.
constexpr UINT kSysCommandMask = 0xFFF0;

constexpr unsigned kWarning = MB_OK | MB_ICONEXCLAMATION;
constexpr unsigned kInformation = MB_OK | MB_ICONINFORMATION;
constexpr unsigned kQuestion = MB_YESNO | MB_ICONQUESTION;

// An empty extension would make HKEY_CLASSES_ROOT itself the extension key
// and overwrite its default value, so it is refused before anything is
// written.
constexpr const char* kMsgEmptyExt =
    "拡張子が入力されていません。拡張子を入力してから関連付け登録してください。";
constexpr const char* kMsgNoPath = "実行ファイルのパスを取得できません";
// The scope the keys went to, as the first line of the report names it.
constexpr const char* kMsgRegistered = "関連付けをすべてのユーザーに登録しました。登録したレジストリキー:";
constexpr const char* kMsgRegisteredUser = "関連付けをこのユーザーだけに登録しました。登録したレジストリキー:";
constexpr const char* kMsgOpenWithOnly =
    "拡張子%sは他のプログラムが開くように設定されているため、そのままにして、"
    "プログラムから開くの一覧にQuorpaを加えました。";
// The extension field's own prompt: any other text would name a key that is
// not an extension's ("*", "exefile\shell") or no key at all.
constexpr const char* kPromptExtForm =
    "拡張子は . に続けて半角の英数字、_ または - を 1 から 15 文字で入力してください。";
constexpr const char* kMsgChooseQuorpa =
    "Windowsがファイルを開くプログラムを尋ねたときは、Quorpaを選んでください。\n"
    "他のプログラムが開くときは、ファイルを右クリックし、プログラムから開く→別のプログラムを選択で"
    "Quorpaを選んで、常に使うをオンにしてください。";
constexpr const char* kMsgUserOnly =
    "管理者の権限がないため、iEPGファイルの関連付けはこのユーザーだけに登録しました。\n"
    "他のユーザーは、それぞれのユーザーで関連付け登録してください。";
constexpr const char* kMsgEmptyExtUnregister =
    "拡張子が入力されていません。拡張子を入力してから関連付け解除してください。";
constexpr const char* kMsgConfirmUnregister =
    "拡張子%sのiEPGファイルの関連付けを解除します。よろしいですか？";
constexpr const char* kMsgRemoved = "関連付けを解除しました。削除したレジストリキー:";
constexpr const char* kMsgNothingRemoved = "削除する関連付けはありませんでした。";
constexpr const char* kMsgKept = "他のプログラムのものなので残したレジストリキー:";
constexpr const char* kMsgNotDeleted = "削除出来なかったレジストリキー:";

void Warn(const char* text) { AfxMessageBox(text, kWarning); }
}  // namespace

bool CSettingDlg::CheckExtension(const char* emptyMessage) {
    if (m_strExt.IsEmpty()) {
        Warn(emptyMessage);
        return false;
    }
    if (assoc::IsExtension(Wide(m_strExt))) return true;
    CDataExchange dx(this, TRUE);
    dx.PrepareCtrl(IDC_EXT);
    DDV_Prompt(&dx, kPromptExtForm);
    return false;
}

CSettingDlg::CSettingDlg(const char* rcpt, const char* smtpSvr, int startAdjust, int endAdjust,
                         CWnd* parent)
    : CDialog(IDD_SETTING, parent),
      m_strRcpt(rcpt),
      m_strSmtpSvr(smtpSvr),
      m_nStartAdjust(startAdjust),
      m_nEndAdjust(endAdjust),
      m_strExt(".epg"),
      m_hAppIcon(::LoadIconA(AfxGetResourceHandle(), MAKEINTRESOURCEA(IDI_APPICON))) {}

CSettingDlg::~CSettingDlg() = default;

void CSettingDlg::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_Text(dx, IDC_RCPT, m_strRcpt);
    DDV_MaxChars(dx, m_strRcpt, LimitsOf("rcpt").max);
    DDV_Prompt(dx, MailAddressPrompt(m_strRcpt));
    DDX_Text(dx, IDC_SMTPSVR, m_strSmtpSvr);
    DDV_MaxChars(dx, m_strSmtpSvr, LimitsOf("smtpsvr").max);
    DDX_Text(dx, IDC_STARTADJ, m_nStartAdjust);
    DDV_MinMaxInt(dx, m_nStartAdjust, LimitsOf("startad").min, LimitsOf("startad").max);
    DDX_Text(dx, IDC_ENDADJ, m_nEndAdjust);
    DDV_MinMaxInt(dx, m_nEndAdjust, LimitsOf("endad").min, LimitsOf("endad").max);
    // Last, so that a failed check above leaves the previous extension for
    // the registration button.
    DDX_Text(dx, IDC_EXT, m_strExt);
    DDV_MaxChars(dx, m_strExt, kMaxExtChars);
    DDX_Check(dx, IDC_NOTIFY, m_nNotify);
    DDX_Check(dx, IDC_LOGOUTPUT, m_nLogOutput);
}

BOOL CSettingDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    if (HMENU sysMenu = ::GetSystemMenu(m_hWnd, FALSE); sysMenu != nullptr) {
        const std::wstring text = AfxLoadString(IDS_ABOUTBOX);
        if (!text.empty()) {
            ::AppendMenuW(sysMenu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuW(sysMenu, MF_STRING, IDM_ABOUTBOX, text.c_str());
        }
    }
    ::SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hAppIcon));
    // The large icon (Alt-Tab, the taskbar) in the size the scale asks for,
    // drawn at that size rather than the small one stretched.
    HANDLE large = ::LoadImageW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON), LR_SHARED);
    ::SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(large != nullptr ? large : m_hAppIcon));
    return TRUE;  // focus on the first tab stop, the OK button
}

void CSettingDlg::OnOK() {
    if (!UpdateData(TRUE)) return;  // the prompt is shown; the dialog stays open
    if (m_save && !m_save(*this)) return;
    EndDialog(IDOK);
}

bool CSettingDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
    case WM_SYSCOMMAND:
        if (!OnSysCommand(static_cast<UINT>(wParam), lParam)) return false;
        result = 0;
        return true;
    case WM_PAINT:
        if (!OnPaint()) return false;
        result = 0;
        return true;
    case WM_QUERYDRAGICON:
        result = reinterpret_cast<LRESULT>(OnQueryDragIcon());
        return true;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_REGIST && HIWORD(wParam) == BN_CLICKED) {
            OnRegisterAssociation();
            result = 0;
            return true;
        }
        if (LOWORD(wParam) == IDC_UNREGIST && HIWORD(wParam) == BN_CLICKED) {
            OnUnregisterAssociation();
            result = 0;
            return true;
        }
        if (LOWORD(wParam) == IDC_MAILSET && HIWORD(wParam) == BN_CLICKED) {
            OnMailSettings();
            result = 0;
            return true;
        }
        if (LOWORD(wParam) == IDC_HISTORY && HIWORD(wParam) == BN_CLICKED) {
            OnHistory();
            result = 0;
            return true;
        }
        if (LOWORD(wParam) == IDC_STATIONS && HIWORD(wParam) == BN_CLICKED) {
            OnStations();
            result = 0;
            return true;
        }
        break;
    default:
        break;
    }
    return CDialog::OnMessage(message, wParam, lParam, result);
}

void CSettingDlg::OnRegisterAssociation() {
    // A failed check shows its prompt. The extension is exchanged last: after
    // another field's failure it still holds the previous extension, and the
    // registration goes on with that; when the extension itself fails its
    // check it holds the refused text, and nothing is registered.
    if (!UpdateData(TRUE) && m_strExt.GetLength() > kMaxExtChars) return;
    if (!CheckExtension(kMsgEmptyExt)) return;
    const std::wstring command = AssociationCommand();
    if (command.empty()) {
        Warn(kMsgNoPath);
        return;
    }
    const AssociationRegistration done = RegisterAssociation(Wide(m_strExt), command);
    if (done.outcome == AssociationRegistration::kFailed) {
        Warn(done.failure);
        return;
    }
    const bool userOnly = done.outcome == AssociationRegistration::kUserOnly;
    CString report = userOnly ? kMsgRegisteredUser : kMsgRegistered;
    report += done.registered;
    if (userOnly) {
        report += "\n\n";
        report += kMsgUserOnly;
    }
    if (!done.openWithOnly.IsEmpty()) {
        CString note;
        note.Format(kMsgOpenWithOnly, done.openWithOnly.GetString());
        report += "\n\n";
        report += note;
    }
    report += "\n\n";
    report += kMsgChooseQuorpa;
    AfxMessageBox(report, kInformation);
}

void CSettingDlg::OnUnregisterAssociation() {
    // After a failed check (its prompt has been shown) nothing is removed:
    // the extension field may not hold what the user meant.
    if (!UpdateData(TRUE)) return;
    if (!CheckExtension(kMsgEmptyExtUnregister)) return;
    const std::wstring command = AssociationCommand();
    if (command.empty()) {
        Warn(kMsgNoPath);
        return;
    }
    const std::wstring ext = Wide(m_strExt);
    CString exts;
    for (const std::wstring& one : AssociationExtensions(ext)) {
        if (!exts.IsEmpty()) exts += "、";
        exts += Narrow(one.c_str()).c_str();
    }
    CString question;
    question.Format(kMsgConfirmUnregister, exts.GetString());
    if (AfxMessageBox(question, kQuestion) != IDYES) return;

    const AssociationRemoval removal = RemoveAssociation(ext, command);
    CString report = removal.removed.IsEmpty() ? kMsgNothingRemoved : kMsgRemoved;
    report += removal.removed;
    if (!removal.kept.IsEmpty()) {
        report += "\n\n";
        report += kMsgKept;
        report += removal.kept;
    }
    if (!removal.failed.IsEmpty()) {
        report += "\n\n";
        report += kMsgNotDeleted;
        report += removal.failed;
    }
    AfxMessageBox(report, removal.failed.IsEmpty() ? kInformation : kWarning);
}

void CSettingDlg::OnMailSettings() {
    // The server as typed, unchecked: the other fields' checks belong to OK.
    const std::string server = AfxGetDlgItemText(m_hWnd, IDC_SMTPSVR).substr(0, kMaxAddressChars);
    CMailDlg dlg(m_mail, server.c_str(), this);
    if (dlg.DoModal() != IDOK) return;
    m_mail = dlg.m_account;
    m_bMailChanged = true;
}

void CSettingDlg::OnHistory() {
    CHistoryDlg dlg(m_history, this);
    dlg.DoModal();
}

void CSettingDlg::OnStations() {
    // Station.txt beside the executable, as reserve mode reads it.
    std::wstring path = AfxModulePath();
    const size_t separator = path.find_last_of(L"\\/");
    path = (separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1)) + L"Station.txt";
    EditStationTable(path, this);
}

bool CSettingDlg::OnSysCommand(UINT id, LPARAM /*lParam*/) {
    if ((id & kSysCommandMask) != IDM_ABOUTBOX) return false;
    CAboutDlg about;
    about.DoModal();
    return true;
}

bool CSettingDlg::OnPaint() {
    if (!::IsIconic(m_hWnd)) return false;
    // Minimised: draw the icon centred in the client area ourselves.
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(m_hWnd, &paint);
    ::SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    const int x = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, m_hAppIcon);
    ::EndPaint(m_hWnd, &paint);
    return true;
}

HICON CSettingDlg::OnQueryDragIcon() { return m_hAppIcon; }
