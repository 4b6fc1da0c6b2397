// CHistoryDlg: the history of reservation mails (template IDD_HISTORY),
// opened from the settings dialog's 予約履歴... button: a report-style list
// of every reservation, newest first, failed and unknown ones in colour, and
// the buttons 再送 (the one selected reservation sent again), 削除 (the
// selected ones, after a question) and 閉じる. What those do with the
// history is the start-up's (HistoryActions); the dialog only lists.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "afx/win32/Dialog.h"
#include "reserve/History.h"

struct HistoryActions {
    // The history's entries, oldest first.
    std::function<std::vector<history::Entry>()> load;
    // Sends entry again and records how it went; says itself why not.
    std::function<void(const history::Entry& entry)> resend;
    // Removes the entries; says itself when it could not.
    std::function<void(const std::vector<history::Entry>& gone)> remove;
};

class CHistoryDlg : public CDialog {
public:
    CHistoryDlg(const HistoryActions& actions, CWnd* parent);

    // The texts of entry's row, column by column: sent, station, channel,
    // start, end, title, outcome.
    static std::vector<std::string> RowTexts(const history::Entry& entry);

protected:
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    // Reads the history again and lists it, nothing selected.
    void Reload();
    void OnResend();
    void OnDelete();
    // The outcome column as wide as its longest text, at least as before.
    void FitOutcomes();
    // 再送 for exactly one selected row, 削除 for any.
    void EnableButtons();
    // The colour of row's text in the list (failed and unknown stand out).
    COLORREF RowColour(size_t row) const;
    // The columns' widths for the scale of dpi (WM_DPICHANGED).
    void OnDpiChanged(int dpi);

    const HistoryActions& m_actions;
    std::vector<history::Entry> m_entries;  // as listed: newest first
    std::vector<std::vector<std::string>> m_rows;
    std::vector<int> m_selected;
    int m_dpi = 0;  // the scale the columns' widths are for
};
