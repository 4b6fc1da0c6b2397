#include "app/StationTableDlg.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include <commctrl.h>

#include "app/ProgramFiles.h"
#include "platform/platform.h"
#include "res/resource.h"

namespace {

// The list's columns: heading and width in dialog units.
struct Column {
    const char* heading;
    int width;
};
constexpr Column kColumns[] = {{"ch", 30}, {"局名・コード", 100}, {"メモ", 110}};
constexpr int kColumnCount = sizeof kColumns / sizeof kColumns[0];

// The largest channel typed in the row dialog (its field is a signed int).
constexpr int kMaxChannel = 0x7FFFFFFF;

}  // namespace

CStationRowDlg::CStationRowDlg(const reserve::StationRow& row, CWnd* parent)
    : CDialog(IDD_STATIONROW, parent),
      m_row(row),
      m_nChannel(row.channel > static_cast<uint32_t>(kMaxChannel) ? 0 : static_cast<int>(row.channel)),
      m_strName(row.name.c_str()),
      m_strNote(row.note.c_str()) {}

void CStationRowDlg::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_Text(dx, IDC_ROWCH, m_nChannel);
    DDV_MinMaxInt(dx, m_nChannel, 0, kMaxChannel);
    DDX_Text(dx, IDC_ROWNAME, m_strName);
    DDV_MaxChars(dx, m_strName, static_cast<int>(reserve::kMaxStationFieldBytes));
    DDX_Text(dx, IDC_ROWNOTE, m_strNote);
    DDV_MaxChars(dx, m_strNote, static_cast<int>(reserve::kMaxStationFieldBytes));
    if (!dx->m_bSaveAndValidate) return;
    reserve::StationRow typed = m_row;
    typed.channel = static_cast<uint32_t>(m_nChannel);
    typed.name = m_strName.str();
    typed.note = m_strNote.str();
    // Blanks around what was typed are no part of it.
    for (std::string* field : {&typed.name, &typed.note}) {
        const size_t first = field->find_first_not_of(" \t");
        const size_t last = field->find_last_not_of(" \t");
        *field = first == std::string::npos ? std::string() : field->substr(first, last - first + 1);
    }
    dx->PrepareCtrl(IDC_ROWNAME);
    const std::string prompt = reserve::CheckStationRow(typed);
    DDV_Prompt(dx, prompt.empty() ? nullptr : prompt.c_str());
    if (!dx->Failed()) m_row = typed;
}

CStationTableDlg::CStationTableDlg(std::vector<reserve::StationRow> rows,
                                   std::function<bool(const std::vector<reserve::StationRow>&)> save,
                                   CWnd* parent)
    : CDialog(IDD_STATIONTABLE, parent), m_rows(std::move(rows)), m_save(std::move(save)) {
    // The template's list view is a common control: its class is
    // registered before the dialog is made.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&controls);
}

std::vector<std::string> CStationTableDlg::RowTexts(const reserve::StationRow& row) {
    return {std::to_string(row.channel), row.name, row.note};
}

void CStationTableDlg::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_ListRows(dx, IDC_STATIONLIST, m_texts, m_selected);
}

BOOL CStationTableDlg::OnInitDialog() {
    HWND list = ::GetDlgItem(m_hWnd, IDC_STATIONLIST);
    ::SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES,
                   LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
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
    Relist(-1);
    return TRUE;
}

void CStationTableDlg::Relist(int row) {
    m_texts.clear();
    for (const reserve::StationRow& r : m_rows) m_texts.push_back(RowTexts(r));
    m_selected.clear();
    if (row >= 0 && static_cast<size_t>(row) < m_rows.size()) m_selected.push_back(row);
    UpdateData(FALSE);
    EnableButtons();
}

void CStationTableDlg::EnableButtons() {
    const LRESULT selected = ::SendDlgItemMessageA(m_hWnd, IDC_STATIONLIST, LVM_GETSELECTEDCOUNT, 0, 0);
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_STATIONEDIT), selected == 1);
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_STATIONDEL), selected > 0);
}

void CStationTableDlg::OnAdd() {
    UpdateData(TRUE);
    CStationRowDlg dialog(reserve::StationRow(), this);
    if (dialog.DoModal() != IDOK) return;
    m_rows.push_back(dialog.m_row);
    Relist(static_cast<int>(m_rows.size()) - 1);
}

void CStationTableDlg::OnEdit() {
    if (!UpdateData(TRUE) || m_selected.size() != 1) return;
    const int row = m_selected[0];
    CStationRowDlg dialog(m_rows[static_cast<size_t>(row)], this);
    if (dialog.DoModal() != IDOK) return;
    m_rows[static_cast<size_t>(row)] = dialog.m_row;
    Relist(row);
}

void CStationTableDlg::OnDelete() {
    if (!UpdateData(TRUE) || m_selected.empty()) return;
    // From the last, so that the indexes before stay valid.
    std::vector<int> gone = m_selected;
    std::sort(gone.rbegin(), gone.rend());
    for (int row : gone) m_rows.erase(m_rows.begin() + row);
    Relist(-1);
}

void CStationTableDlg::OnOK() {
    if (m_save && !m_save(m_rows)) return;
    EndDialog(IDOK);
}

bool CStationTableDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        switch (LOWORD(wParam)) {
        case IDC_STATIONADD:
            OnAdd();
            result = 0;
            return true;
        case IDC_STATIONEDIT:
            OnEdit();
            result = 0;
            return true;
        case IDC_STATIONDEL:
            OnDelete();
            result = 0;
            return true;
        default:
            break;
        }
    }
    if (message == WM_NOTIFY && reinterpret_cast<const NMHDR*>(lParam)->idFrom == IDC_STATIONLIST) {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->code == LVN_ITEMCHANGED) {
            EnableButtons();
            result = 0;
            return true;
        }
        if (header->code == static_cast<UINT>(NM_DBLCLK)) {
            OnEdit();
            result = 0;
            return true;
        }
    }
    return CDialog::OnMessage(message, wParam, lParam, result);
}

void EditStationTable(const std::wstring& path, CWnd* parent) {
    const std::string utf8 = Utf8(path.c_str());
    std::string raw;
    if (!plat::ReadWholeFile(utf8, &raw)) raw.clear();
    text::Lines file;
    if (const size_t bad = text::ReadLines(raw, &file); bad != 0) {
        AfxMessageBox(text::UnmappableText("Station.txt", bad).c_str(), MB_ICONEXCLAMATION);
        return;
    }
    const auto save = [&](const std::vector<reserve::StationRow>& rows) {
        std::string saved;
        if (reserve::SaveStationRows(file, rows, &saved) && plat::ReplaceWholeFile(utf8, saved)) return true;
        AfxMessageBox("Station.txtに書き込めません\nファイルが読み取り専用でないか確かめてください", MB_ICONEXCLAMATION);
        return false;
    };
    CStationTableDlg dialog(reserve::StationRows(file), save, parent);
    dialog.DoModal();
}
