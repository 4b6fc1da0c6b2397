// CStationTableDlg: the station table (template IDD_STATIONTABLE), opened
// from the settings dialog's 放送局... button: one row for each line of
// Station.txt that maps a channel (channel, name or code, note), the buttons
// 追加 and 変更 (each opening CStationRowDlg) and 削除, then OK, which saves
// the rows through the caller's save, and キャンセル, which saves nothing.
// CStationRowDlg (template IDD_STATIONROW) edits one row.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "afx/win32/Dialog.h"
#include "reserve/StationFile.h"

class CStationRowDlg : public CDialog {
public:
    // row: the values to edit (a new row: channel 0, empty texts).
    CStationRowDlg(const reserve::StationRow& row, CWnd* parent);

    // After DoModal returned IDOK: the row as typed, its line kept.
    reserve::StationRow m_row;

protected:
    void DoDataExchange(CDataExchange* dx) override;

private:
    int m_nChannel;
    CString m_strName;
    CString m_strNote;
};

class CStationTableDlg : public CDialog {
public:
    // rows: the table as read (reserve::StationRows); save: called by OK
    // with the rows as edited, returns false (having told the user why) to
    // keep the dialog open. Both must outlive the dialog.
    CStationTableDlg(std::vector<reserve::StationRow> rows,
                     std::function<bool(const std::vector<reserve::StationRow>&)> save, CWnd* parent);

    // The texts of row in the list: channel, name or code, note.
    static std::vector<std::string> RowTexts(const reserve::StationRow& row);

protected:
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    // Lists m_rows again, selecting row (none when out of range).
    void Relist(int row);
    void OnAdd();
    void OnEdit();
    void OnDelete();
    // 変更 for exactly one selected row, 削除 for any.
    void EnableButtons();

    std::vector<reserve::StationRow> m_rows;
    std::function<bool(const std::vector<reserve::StationRow>&)> m_save;
    std::vector<std::vector<std::string>> m_texts;
    std::vector<int> m_selected;
};

// 放送局...: the table of the Station.txt at path (beside the executable)
// in CStationTableDlg, owned by parent; its OK writes the rows back
// (reserve::SaveStationRows, in one step) or says why it could not. A file
// that cannot be read is an empty table, written new on OK; one with a
// character that has no code page 932 form gets that box instead of the
// table. Nothing throws but std::bad_alloc.
void EditStationTable(const std::wstring& path, CWnd* parent);
