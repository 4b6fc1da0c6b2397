// CStationDlg: 放送局の登録 (template IDD_STATION), shown in reserve mode in
// place of the box that a station unknown to Station.txt used to get: the
// box's text and a channel field, the buttons 登録して予約 (OK) and
// キャンセル. It only asks; what the channel does (the line in Station.txt,
// the reservation) is the caller's.
#pragma once

#include <cstdint>
#include <string>

#include "afx/win32/Dialog.h"

class CStationDlg : public CDialog {
public:
    // The largest channel the field takes: a channel is a number of the
    // recorder's, and the framework's field is a signed int.
    static constexpr int kMaxChannel = 0x7FFFFFFF;

    // text: what the dialog says (code page 932), the first line as the box
    // said it; suggested: the field's first value (empty for none), selected
    // so that typing replaces it.
    CStationDlg(std::string text, std::string suggested, CWnd* parent = nullptr);

    // After DoModal returned IDOK: the channel typed, 1 to kMaxChannel.
    uint32_t Channel() const { return static_cast<uint32_t>(m_nChannel); }

protected:
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;

private:
    std::string m_text;
    std::string m_suggested;
    int m_nChannel = 0;
};
