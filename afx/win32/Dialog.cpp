#include "afx/win32/Dialog.h"
#include "afx/win32/Text.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include <commctrl.h>

#include "base/Cp932.h"

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

// What the IME types for the characters of a number, as the ones they mean:
// full-width digits and signs (－, and ー where the IME makes the minus key
// a long vowel mark) and the full-width blank. Everything else stays, so
// the check still refuses it.
std::string HalfWidthNumber(const std::string& text) {
    std::string half;
    for (size_t i = 0; i < text.size(); ++i) {
        if (!cp932::IsLeadByte(static_cast<unsigned char>(text[i])) || i + 1 == text.size()) {
            half += text[i];
            continue;
        }
        const unsigned code = static_cast<unsigned char>(text[i]) << 8 | static_cast<unsigned char>(text[i + 1]);
        if (code >= 0x824F && code <= 0x8258)  // ０..９
            half += static_cast<char>('0' + (code - 0x824F));
        else if (code == 0x817C || code == 0x815B)  // － ー
            half += '-';
        else if (code == 0x817B)  // ＋
            half += '+';
        else if (code == 0x8140)  // the full-width blank
            half += ' ';
        else
            half.append(text, i, 2);
        ++i;
    }
    return half;
}

void Prompt(const char* text) { AfxMessageBox(text, kPromptFlags); }

// ---- typing limit in bytes ---------------------------------------------------
// EM_LIMITTEXT counts the characters of a Unicode edit control, while the
// check counts bytes of the text as the exchange reads it (code page 932,
// or UTF-8): a control limited by DDV_MaxChars is subclassed so that no
// typing, IME result, paste or undo takes it past that many bytes. What
// does not fit of what came in is left out, as the edit control does at its
// own limit; a longer text set by the program (a value read from the file)
// stays and can be shortened. The subclass id is the code page, its data
// the limit in bytes.

size_t Bytes(UINT codePage, const std::wstring& text) {
    return AfxFromWide(codePage, text.c_str(), static_cast<int>(text.size())).size();
}

// After a message that may have changed edit's text from before: cuts what
// it added to what fits, leaving the caret after the part kept.
void KeepWithin(HWND edit, UINT codePage, size_t maxBytes, const std::wstring& before) {
    const std::wstring after = AfxGetWindowTextW(edit);
    const size_t afterBytes = Bytes(codePage, after);
    if (afterBytes <= maxBytes || afterBytes <= Bytes(codePage, before)) return;
    // What came in lies between the beginning and the end both texts share.
    size_t head = 0;
    while (head < before.size() && head < after.size() && before[head] == after[head]) ++head;
    size_t tail = 0;
    while (tail < before.size() - head && tail < after.size() - head &&
           before[before.size() - 1 - tail] == after[after.size() - 1 - tail])
        ++tail;
    const std::wstring start = after.substr(0, head);
    const std::wstring added = after.substr(head, after.size() - head - tail);
    const std::wstring end = after.substr(after.size() - tail);
    // The longest beginning of added that fits (more characters, more bytes).
    size_t fits = 0;
    for (size_t low = 0, high = added.size(); low < high;) {
        const size_t middle = (low + high + 1) / 2;
        if (Bytes(codePage, start + added.substr(0, middle) + end) <= maxBytes)
            low = fits = middle;
        else
            high = middle - 1;
    }
    if (fits > 0 && IS_HIGH_SURROGATE(added[fits - 1])) --fits;  // never half a character
    ::SetWindowTextW(edit, (start + added.substr(0, fits) + end).c_str());
    ::SendMessageW(edit, EM_SETSEL, head + fits, static_cast<LPARAM>(head + fits));
}

LRESULT CALLBACK LimitBytes(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR codePage,
                            DWORD_PTR maxBytes) {
    switch (message) {
    case WM_IME_COMPOSITION:
        if ((lParam & GCS_RESULTSTR) == 0) break;  // still composing
        [[fallthrough]];
    case WM_CHAR: case WM_IME_CHAR: case WM_KEYDOWN: case WM_PASTE: case EM_REPLACESEL:
    case WM_UNDO: case EM_UNDO: case WM_CONTEXTMENU: {
        // No exception may cross the system's code that called this: a text
        // that cannot be compared (no memory) is left as the control made it.
        std::wstring before;
        try {
            before = AfxGetWindowTextW(edit);
        } catch (...) {
            break;
        }
        const LRESULT result = ::DefSubclassProc(edit, message, wParam, lParam);
        try {
            KeepWithin(edit, static_cast<UINT>(codePage), maxBytes, before);
        } catch (...) {
        }
        return result;
    }
    case WM_NCDESTROY:
        ::RemoveWindowSubclass(edit, LimitBytes, codePage);
        break;
    default:
        break;
    }
    return ::DefSubclassProc(edit, message, wParam, lParam);
}

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
    dx->m_textCodePage = kAfxCodePage;
    if (dx->m_bSaveAndValidate)
        value = AfxGetWindowText(control);
    else
        AfxSetWindowText(control, value);
}

void DDX_TextUtf8(CDataExchange* dx, int id, CString& value) {
    if (dx->Failed()) return;
    HWND control = dx->PrepareCtrl(id);
    dx->m_textCodePage = CP_UTF8;
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
    if (!ParseInt(HalfWidthNumber(AfxGetWindowText(control)), parsed)) {
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
        if (dx->m_hWndLastControl != nullptr) {
            // Every character is a byte at least: the system's own limit
            // stops plain typing at once, the subclass the rest.
            ::SendMessageA(dx->m_hWndLastControl, EM_LIMITTEXT, static_cast<WPARAM>(maxChars), 0);
            if (maxChars >= 0)
                ::SetWindowSubclass(dx->m_hWndLastControl, LimitBytes, dx->m_textCodePage,
                                    static_cast<DWORD_PTR>(maxChars));
        }
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
