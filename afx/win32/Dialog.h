// The dialog part of the framework: a window wrapper (CWnd), modal dialogs
// built from templates in the resources (CDialog) and the dialog data
// exchange between a dialog's fields and its controls (CDataExchange with
// DDX_Text, DDX_Radio, DDX_Check, DDX_ListRows, DDV_MaxChars,
// DDV_MinMaxInt). Windows only.
//
// A dialog's fields are loaded into its controls when it opens and read back
// (with their checks) when OK is pressed; a failing check shows the
// framework's own prompt, puts the focus back on the control and keeps the
// dialog open. Nothing here throws; a failed exchange is reported by
// UpdateData's result.
#pragma once

#include <string>
#include <vector>

#include "afx/afx.h"
#include "afx/win32/Text.h"

// A window owned by the framework. m_hWnd is the window while it exists,
// null otherwise; the wrapper never destroys the window itself.
class CWnd {
public:
    CWnd() = default;
    virtual ~CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;
};

// The module whose resources the framework loads (templates, strings, icons):
// the executable itself.
HINSTANCE AfxGetResourceHandle();

// One pass of data exchange between a dialog's fields and its controls.
// m_bSaveAndValidate is TRUE when reading the controls into the fields (with
// the checks), FALSE when loading the fields into the controls. After the
// first failing check every later DDX_/DDV_ call of the pass does nothing.
class CDataExchange {
public:
    CDataExchange(CWnd* dialog, BOOL saveAndValidate)
        : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}

    // Finds control id of the dialog and remembers it as the control the next
    // check refers to. Returns null when the dialog has no such control.
    HWND PrepareCtrl(int id);
    // Ends the pass as failed: asks the dialog (WM_NEXTDLGCTL, posted) to put
    // the focus back on the last prepared control, selecting an edit's text,
    // so the user can correct it.
    void Fail();
    bool Failed() const { return m_bFailed; }

    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
    HWND m_hWndLastControl = nullptr;
    // The code page of the last text exchanged (DDX_Text: 932, DDX_TextUtf8:
    // CP_UTF8): the one DDV_MaxChars counts bytes in.
    UINT m_textCodePage = kAfxCodePage;

private:
    bool m_bFailed = false;
};

// Text of control id <-> value. The integer form reads a decimal integer
// (optional sign, surrounding blanks allowed; full-width digits, signs and
// blanks, as the IME types them, count as the half-width ones) and fails
// with a prompt for anything else, including an empty field and values
// beyond 32 bits.
void DDX_Text(CDataExchange* dx, int id, CString& value);
// The control's text as UTF-8, not code page 932: every character typed
// survives (a password).
void DDX_TextUtf8(CDataExchange* dx, int id, CString& value);
void DDX_Text(CDataExchange* dx, int id, int& value);
// A group of radio buttons <-> the index of the checked one: firstId is the
// group's first button; the group runs on through the following radio
// buttons up to the next control that starts a group (WS_GROUP). -1: none
// checked. A check box's state <-> 0 or 1.
void DDX_Radio(CDataExchange* dx, int firstId, int& value);
void DDX_Check(CDataExchange* dx, int id, int& value);
// A report-style list view's rows and selection. Loading replaces its rows
// with rows (one text a column, code page 932) and selects the rows whose
// indexes are in selected; reading fills selected with the indexes of the
// selected rows, in ascending order (the rows are never read back).
void DDX_ListRows(CDataExchange* dx, int id, const std::vector<std::vector<std::string>>& rows,
                  std::vector<int>& selected);
// Checks of the value just exchanged. DDV_MaxChars limits the length in
// bytes (of the code page the text was exchanged in); when loading it also
// limits the edit control to as many bytes, so that no more can be typed,
// pasted or put in by the IME (the control is subclassed for that).
// DDV_MinMaxInt accepts min..max inclusive.
void DDV_MaxChars(CDataExchange* dx, const CString& value, int maxChars);
void DDV_MinMaxInt(CDataExchange* dx, int value, int minValue, int maxValue);
// A check whose verdict the caller has made: a non-null prompt (code page
// 932) is shown and fails the exchange; null passes.
void DDV_Prompt(CDataExchange* dx, const char* prompt);

// A modal dialog built from dialog template templateId of the resources.
// Derived dialogs add fields, DoDataExchange and message handlers; they keep
// no business logic of their own beyond reacting to their controls.
class CDialog : public CWnd {
public:
    // parent owns the dialog; null means the application's main window
    // (unless that is this dialog itself), else no owner.
    explicit CDialog(UINT templateId, CWnd* parent = nullptr)
        : m_nIDTemplate(templateId), m_pParentWnd(parent) {}

    // Shows the dialog and returns when it closes: IDOK after a successful
    // exchange from the controls, IDCANCEL when cancelled, -1 when the
    // dialog could not be created (missing template).
    virtual INT_PTR DoModal();

    // Exchanges all fields: from the controls into the fields with the
    // checks (saveAndValidate TRUE) or from the fields into the controls.
    // Returns FALSE when a check failed (its prompt has been shown).
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    // Closes the modal dialog; DoModal returns result.
    void EndDialog(int result);

protected:
    // Loads the fields into the controls. Returns TRUE to let the system put
    // the focus on the first tab-stop control.
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange* dx);
    // OK: exchange from the controls and close with IDOK only if it passed.
    virtual void OnOK();
    // Cancel (also Escape and the close box): close with IDCANCEL.
    virtual void OnCancel();

    // The message map. Returns true when the message was handled, with its
    // result in result; false leaves it to the system's default handling.
    // Derived dialogs handle their messages and pass the rest to the base.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;
};
