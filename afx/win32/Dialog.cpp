#include "afx/win32/Dialog.h"
#include "afx/win32/Text.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include <commctrl.h>

namespace {

// The framework's own prompts for a failed check (flags: OK, exclamation).
constexpr unsigned kPromptFlags = MB_OK | MB_ICONEXCLAMATION;
constexpr const char* kPromptInteger = "整数を入力してください。";
constexpr const char* kPromptRange = "%d から %d までの整数を入力してください。";
constexpr const char* kPromptMaxChars = "%d 文字以内で入力してください。";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Parses a whole decimal 32-bit integer; blanks around it are allowed.
bool ParseInt(const std::string& text, int& value) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    if (begin == end) return false;
    const std::string digits = text.substr(begin, end - begin);
    char* stop = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(digits.c_str(), &stop, 10);
    if (stop != digits.c_str() + digits.size() || errno == ERANGE) return false;
    if (std::isspace(static_cast<unsigned char>(digits[0])) || parsed < INT_MIN || parsed > INT_MAX) return false;
    value = static_cast<int>(parsed);
    return true;
}

void Prompt(const char* text) { AfxMessageBox(text, kPromptFlags); }

}  // namespace

HINSTANCE AfxGetResourceHandle() { return ::GetModuleHandleA(nullptr); }

// ---- data exchange --------------------------------------------------------

HWND CDataExchange::PrepareCtrl(int id) {
    m_hWndLastControl = ::GetDlgItem(m_pDlgWnd->m_hWnd, id);
    return m_hWndLastControl;
}

void CDataExchange::Fail() {
    m_bFailed = true;
    if (m_hWndLastControl == nullptr) return;
    // WM_NEXTDLGCTL rather than SetFocus: the dialog manager then also moves
    // the default-button highlight and selects an edit's whole text (so the
    // user can retype it at once). Posted, as the documentation asks when
    // other messages that set the focus may come first: the prompt has just
    // closed, and the activation it hands back to the dialog (which restores
    // the focus to where it was) may still be on its way; the move then
    // comes after it and is not undone by it.
    ::PostMessageA(m_pDlgWnd->m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(m_hWndLastControl),
                   TRUE);
}

void DDX_Text(CDataExchange* dx, int id, CString& value) {
    if (dx->Failed()) return;
    HWND control = dx->PrepareCtrl(id);
    if (dx->m_bSaveAndValidate)
        value = AfxGetWindowText(control);
    else
        AfxSetWindowText(control, value);
}

void DDX_TextUtf8(CDataExchange* dx, int id, CString& value) {
    if (dx->Failed()) return;
    HWND control = dx->PrepareCtrl(id);
    if (dx->m_bSaveAndValidate)
        value = AfxGetWindowTextUtf8(control).c_str();
    else
        AfxSetWindowTextUtf8(control, value);
}

void DDX_Text(CDataExchange* dx, int id, int& value) {
    if (dx->Failed()) return;
    HWND control = dx->PrepareCtrl(id);
    if (!dx->m_bSaveAndValidate) {
        AfxSetWindowText(control, std::to_string(value).c_str());
        return;
    }
    int parsed = 0;
    if (!ParseInt(AfxGetWindowText(control), parsed)) {
        Prompt(kPromptInteger);
        dx->Fail();
        return;
    }
    value = parsed;
}

namespace {
bool IsRadioButton(HWND control) {
    const LONG_PTR type = ::GetWindowLongPtrA(control, GWL_STYLE) & BS_TYPEMASK;
    return type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
}
}  // namespace

void DDX_Radio(CDataExchange* dx, int firstId, int& value) {
    if (dx->Failed()) return;
    HWND control = dx->PrepareCtrl(firstId);
    if (dx->m_bSaveAndValidate) value = -1;
    for (int index = 0; control != nullptr && IsRadioButton(control); ++index) {
        if (dx->m_bSaveAndValidate) {
            if (::SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED) value = index;
        } else {
            ::SendMessageA(control, BM_SETCHECK, index == value ? BST_CHECKED : BST_UNCHECKED, 0);
        }
        control = ::GetWindow(control, GW_HWNDNEXT);
        if (control != nullptr && (::GetWindowLongPtrA(control, GWL_STYLE) & WS_GROUP) != 0) break;
    }
}

void DDX_Check(CDataExchange* dx, int id, int& value) {
    if (dx->Failed()) return;
    HWND control = dx->PrepareCtrl(id);
    if (dx->m_bSaveAndValidate)
        value = ::SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
    else
        ::SendMessageA(control, BM_SETCHECK, value != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
}

void DDX_ListRows(CDataExchange* dx, int id, const std::vector<std::vector<std::string>>& rows,
                  std::vector<int>& selected) {
    if (dx->Failed()) return;
    HWND list = dx->PrepareCtrl(id);
    if (dx->m_bSaveAndValidate) {
        selected.clear();
        for (LRESULT i = -1; (i = ::SendMessageA(list, LVM_GETNEXTITEM, i, LVNI_SELECTED)) != -1;)
            selected.push_back(static_cast<int>(i));
        return;
    }
    ::SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    for (size_t row = 0; row < rows.size(); ++row) {
        for (size_t column = 0; column < rows[row].size(); ++column) {
            std::wstring text = AfxWide(rows[row][column].c_str());
            LVITEMW item{};
            item.mask = LVIF_TEXT;
            item.iItem = static_cast<int>(row);
            item.iSubItem = static_cast<int>(column);
            item.pszText = &text[0];
            ::SendMessageW(list, column == 0 ? LVM_INSERTITEMW : LVM_SETITEMTEXTW, row,
                           reinterpret_cast<LPARAM>(&item));
        }
    }
    for (int row : selected) {
        LVITEMA item{};
        item.stateMask = item.state = LVIS_SELECTED;
        ::SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    }
}

void DDV_MaxChars(CDataExchange* dx, const CString& value, int maxChars) {
    if (dx->Failed()) return;
    if (!dx->m_bSaveAndValidate) {
        if (dx->m_hWndLastControl != nullptr)
            ::SendMessageA(dx->m_hWndLastControl, EM_LIMITTEXT, static_cast<WPARAM>(maxChars), 0);
        return;
    }
    if (value.GetLength() > maxChars) {
        CString text;
        text.Format(kPromptMaxChars, maxChars);
        Prompt(text);
        dx->Fail();
    }
}

void DDV_MinMaxInt(CDataExchange* dx, int value, int minValue, int maxValue) {
    if (dx->Failed() || !dx->m_bSaveAndValidate) return;
    if (value < minValue || value > maxValue) {
        CString text;
        text.Format(kPromptRange, minValue, maxValue);
        Prompt(text);
        dx->Fail();
    }
}

void DDV_Prompt(CDataExchange* dx, const char* prompt) {
    if (dx->Failed() || !dx->m_bSaveAndValidate || prompt == nullptr) return;
    Prompt(prompt);
    dx->Fail();
}

// ---- dialog ---------------------------------------------------------------

INT_PTR CDialog::DoModal() {
    HWND owner = nullptr;
    if (m_pParentWnd != nullptr) {
        owner = m_pParentWnd->m_hWnd;
    } else if (CWinApp* app = AfxGetApp(); app != nullptr && app->m_pMainWnd != this &&
                                           app->m_pMainWnd != nullptr) {
        owner = app->m_pMainWnd->m_hWnd;
    }
    // A Unicode dialog: its controls take the template's texts (UTF-16) as
    // they are, where an ANSI one would pass them through the process code page.
    const INT_PTR result = ::DialogBoxParamW(AfxGetResourceHandle(), MAKEINTRESOURCEW(m_nIDTemplate),
                                             owner, &CDialog::DialogProc,
                                             reinterpret_cast<LPARAM>(this));
    m_hWnd = nullptr;
    return result;
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    if (m_hWnd == nullptr) return FALSE;
    CDataExchange dx(this, saveAndValidate);
    DoDataExchange(&dx);
    return dx.Failed() ? FALSE : TRUE;
}

void CDialog::EndDialog(int result) {
    if (m_hWnd != nullptr) ::EndDialog(m_hWnd, result);
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange* /*dx*/) {}

void CDialog::OnOK() {
    if (!UpdateData(TRUE)) return;  // the prompt is shown; the dialog stays open
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

bool CDialog::OnMessage(UINT message, WPARAM wParam, LPARAM /*lParam*/, LRESULT& result) {
    if (message != WM_COMMAND || HIWORD(wParam) != BN_CLICKED) return false;
    switch (LOWORD(wParam)) {
    case IDOK: OnOK(); break;
    case IDCANCEL: OnCancel(); break;
    default: return false;
    }
    result = 0;
    return true;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        // DoModal passed the dialog object as the creation parameter.
        auto* dialog = reinterpret_cast<CDialog*>(lParam);
        ::SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        dialog->m_hWnd = hwnd;
        return dialog->OnInitDialog();
    }
    // Messages sent before WM_INITDIALOG (WM_SETFONT) find no object yet.
    auto* dialog = reinterpret_cast<CDialog*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
    if (dialog == nullptr) return FALSE;
    if (message == WM_NCDESTROY) dialog->m_hWnd = nullptr;

    LRESULT result = 0;
    if (!dialog->OnMessage(message, wParam, lParam, result)) return FALSE;
    // These messages return their result directly from a dialog procedure;
    // all others through DWLP_MSGRESULT.
    switch (message) {
    case WM_QUERYDRAGICON:
    case WM_CTLCOLORMSGBOX: case WM_CTLCOLOREDIT: case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN: case WM_CTLCOLORDLG: case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: case WM_COMPAREITEM: case WM_VKEYTOITEM: case WM_CHARTOITEM:
        return static_cast<INT_PTR>(result);
    default:
        ::SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
        return TRUE;
    }
}
