#include "app/StationDlg.h"

#include <utility>

#include "res/resource.h"

CStationDlg::CStationDlg(std::string text, std::string suggested, CWnd* parent)
    : CDialog(IDD_STATION, parent), m_text(std::move(text)), m_suggested(std::move(suggested)) {}

void CStationDlg::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    // Read only: the field starts from the suggestion, not from a number
    // (an empty field is no channel 0).
    if (!dx->m_bSaveAndValidate) return;
    DDX_Text(dx, IDC_STATIONCH, m_nChannel);
    DDV_MinMaxInt(dx, m_nChannel, 1, kMaxChannel);
}

BOOL CStationDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    AfxSetDlgItemText(m_hWnd, IDC_STATIONMSG, m_text.c_str());
    HWND field = ::GetDlgItem(m_hWnd, IDC_STATIONCH);
    AfxSetDlgItemText(m_hWnd, IDC_STATIONCH, m_suggested.c_str());
    ::SetFocus(field);
    ::SendMessageW(field, EM_SETSEL, 0, -1);
    return FALSE;  // the focus is set
}
