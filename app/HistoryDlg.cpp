#include "app/HistoryDlg.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <tuple>

#include <commctrl.h>

#include "mail/SendFailure.h"
#include "res/resource.h"

namespace {

// The list's columns: heading and width in dialog units.
struct Column {
    const char* heading;
    int width;
};
constexpr Column kColumns[] = {{"送信日時", 74}, {"局名", 50}, {"ch", 16},      {"開始", 74},
                               {"終了", 50},     {"番組名", 72}, {"結果", 76}};

constexpr int kColumnCount = sizeof kColumns / sizeof kColumns[0];

constexpr COLORREF kFailedColour = RGB(192, 0, 0);
constexpr COLORREF kUnknownColour = RGB(160, 96, 0);

std::string TimeText(const tm& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min);
    return text;
}

// The end as far as it differs from the start: "21:54" on the same day,
// "01/06 00:15" on another.
std::string EndText(const tm& start, const tm& end) {
    char text[32];
    if (start.tm_year == end.tm_year && start.tm_mon == end.tm_mon && start.tm_mday == end.tm_mday)
        std::snprintf(text, sizeof text, "%02d:%02d", end.tm_hour, end.tm_min);
    else
        std::snprintf(text, sizeof text, "%02d/%02d %02d:%02d", end.tm_mon + 1, end.tm_mday, end.tm_hour, end.tm_min);
    return text;
}

std::string OutcomeText(const history::Entry& entry) {
    switch (entry.outcome) {
    case history::Outcome::kSent:
        return "送信済み";
    case history::Outcome::kFailed: {
        // In the words of the box the user saw, not the log's.
        const std::string cause = SendFailureCause(entry.reason);
        return cause.empty() ? "失敗" : "失敗 (" + cause + ")";
    }
    case history::Outcome::kStopped:
        return "中止";
    case history::Outcome::kSending:
        break;
    }
    return "不明";  // a run that ended during the send
}

// "この番組は 1/5 21:00 に始まっています。..." before a programme that has
// started is sent again.
std::string StartedQuestion(const tm& start) {
    char when[64];
    std::snprintf(when, sizeof when, "%d/%d %02d:%02d", start.tm_mon + 1, start.tm_mday, start.tm_hour, start.tm_min);
    return std::string("この番組は ") + when + " に始まっています。予約メールを送信しますか？";
}

// The scale window is shown at, in dots per inch: the monitor's where the
// system knows it per window (Windows 10 1607 and later), else the screen's.
int WindowDpi(HWND window) {
    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFunction>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow != nullptr) {
        if (const UINT dpi = getDpiForWindow(window); dpi != 0) return static_cast<int>(dpi);
    }
    HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    return dpi;
}

bool SentLater(const history::Entry& a, const history::Entry& b) {
    const auto key = [](const tm& t) {
        return std::tie(t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    };
    return key(a.sent) > key(b.sent);
}

}  // namespace

CHistoryDlg::CHistoryDlg(const HistoryActions& actions, CWnd* parent)
    : CDialog(IDD_HISTORY, parent), m_actions(actions) {
    // The template's list view is a common control: its class is
    // registered before the dialog is made.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&controls);
}

std::vector<std::string> CHistoryDlg::RowTexts(const history::Entry& entry) {
    return {TimeText(entry.sent), entry.station, std::to_string(entry.channel), TimeText(entry.start),
            EndText(entry.start, entry.end), entry.title, OutcomeText(entry)};
}

void CHistoryDlg::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_ListRows(dx, IDC_HISTORYLIST, m_rows, m_selected);
}

BOOL CHistoryDlg::OnInitDialog() {
    HWND list = ::GetDlgItem(m_hWnd, IDC_HISTORYLIST);
    ::SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES,
                   LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    m_dpi = WindowDpi(m_hWnd);
    // Widths in dialog units: they follow the dialog's font, so its scale.
    for (int i = 0; i < kColumnCount; ++i) {
        RECT width{0, 0, kColumns[i].width, 0};
        ::MapDialogRect(m_hWnd, &width);
        std::wstring heading = AfxWide(kColumns[i].heading);
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = &heading[0];
        column.cx = width.right;
        column.iSubItem = i;
        ::SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
    }
    Reload();  // the exchange that loads the list
    return TRUE;
}

void CHistoryDlg::Reload() {
    m_entries = m_actions.load ? m_actions.load() : std::vector<history::Entry>();
    // Oldest first in the file; an entry sent again keeps its place there.
    std::reverse(m_entries.begin(), m_entries.end());
    std::stable_sort(m_entries.begin(), m_entries.end(), SentLater);
    m_rows.clear();
    for (const history::Entry& entry : m_entries) m_rows.push_back(RowTexts(entry));
    m_selected.clear();
    UpdateData(FALSE);
    FitOutcomes();
    EnableButtons();
}

void CHistoryDlg::FitOutcomes() {
    // A failure's words show whole: the last column grows to its longest
    // text (the list then scrolls sideways), and never shrinks below its width.
    HWND list = ::GetDlgItem(m_hWnd, IDC_HISTORYLIST);
    constexpr WPARAM kOutcome = kColumnCount - 1;
    const LRESULT width = ::SendMessageW(list, LVM_GETCOLUMNWIDTH, kOutcome, 0);
    ::SendMessageW(list, LVM_SETCOLUMNWIDTH, kOutcome, LVSCW_AUTOSIZE);
    if (::SendMessageW(list, LVM_GETCOLUMNWIDTH, kOutcome, 0) < width)
        ::SendMessageW(list, LVM_SETCOLUMNWIDTH, kOutcome, width);
}

void CHistoryDlg::EnableButtons() {
    const LRESULT selected = ::SendDlgItemMessageA(m_hWnd, IDC_HISTORYLIST, LVM_GETSELECTEDCOUNT, 0, 0);
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_RESEND), selected == 1);
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_HISTDELETE), selected > 0);
}

void CHistoryDlg::OnResend() {
    if (!UpdateData(TRUE) || m_selected.size() != 1 || !m_actions.resend) return;
    const history::Entry entry = m_entries[static_cast<size_t>(m_selected[0])];
    if (history::HasStarted(entry, std::time(nullptr)) &&
        AfxMessageBox(StartedQuestion(entry.start).c_str(), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
        return;
    // The progress window pumps this thread's messages: the dialog takes no
    // input until the send is over. (Asked before: a box that closes
    // enables its owner again.)
    ::EnableWindow(m_hWnd, FALSE);
    m_actions.resend(entry);
    ::EnableWindow(m_hWnd, TRUE);
    Reload();
}

void CHistoryDlg::OnDelete() {
    if (!UpdateData(TRUE) || m_selected.empty() || !m_actions.remove) return;
    char question[128];
    std::snprintf(question, sizeof question, "選択した予約履歴(%u件)を削除しますか？",
                  static_cast<unsigned>(m_selected.size()));
    if (AfxMessageBox(question, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES) return;
    std::vector<history::Entry> gone;
    for (int row : m_selected) gone.push_back(m_entries[static_cast<size_t>(row)]);
    m_actions.remove(gone);
    Reload();
}

COLORREF CHistoryDlg::RowColour(size_t row) const {
    if (row >= m_entries.size()) return CLR_DEFAULT;
    switch (m_entries[row].outcome) {
    case history::Outcome::kFailed:
    case history::Outcome::kStopped:
        return kFailedColour;
    case history::Outcome::kSending:
        return kUnknownColour;
    case history::Outcome::kSent:
        break;
    }
    return CLR_DEFAULT;
}

void CHistoryDlg::OnDpiChanged(int dpi) {
    // The system scales the dialog and its font, not the list's columns:
    // they keep their widths (the user's too) in the new scale.
    if (dpi <= 0 || m_dpi <= 0 || dpi == m_dpi) return;
    HWND list = ::GetDlgItem(m_hWnd, IDC_HISTORYLIST);
    for (int i = 0; i < kColumnCount; ++i) {
        const int width = static_cast<int>(::SendMessageW(list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(i), 0));
        ::SendMessageW(list, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(i), MAKELPARAM(::MulDiv(width, dpi, m_dpi), 0));
    }
    m_dpi = dpi;
}

bool CHistoryDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    // Left to the system as well, which scales the dialog itself.
    if (message == WM_DPICHANGED) OnDpiChanged(HIWORD(wParam));
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED &&
        (LOWORD(wParam) == IDC_RESEND || LOWORD(wParam) == IDC_HISTDELETE)) {
        if (LOWORD(wParam) == IDC_RESEND)
            OnResend();
        else
            OnDelete();
        result = 0;
        return true;
    }
    if (message == WM_NOTIFY && reinterpret_cast<const NMHDR*>(lParam)->idFrom == IDC_HISTORYLIST) {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->code == LVN_ITEMCHANGED) {
            EnableButtons();
            result = 0;
            return true;
        }
        if (header->code == static_cast<UINT>(NM_CUSTOMDRAW)) {
            auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(lParam);
            result = CDRF_DODEFAULT;
            if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) {
                result = CDRF_NOTIFYITEMDRAW;
            } else if (draw->nmcd.dwDrawStage == CDDS_ITEMPREPAINT && (draw->nmcd.uItemState & CDIS_SELECTED) == 0) {
                // A selected row keeps the selection's colours, so it stays readable.
                const COLORREF colour = RowColour(static_cast<size_t>(draw->nmcd.dwItemSpec));
                if (colour != CLR_DEFAULT) {
                    draw->clrText = colour;
                    result = CDRF_NEWFONT;
                }
            }
            return true;
        }
    }
    return CDialog::OnMessage(message, wParam, lParam, result);
}
