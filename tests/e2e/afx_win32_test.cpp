// The framework's message box by string resource: the text comes from the
// executable's string table (linked into this test like into Quorpa.exe)
// and goes the same way as a text box, flags unchanged.
#include <gtest/gtest.h>

#include "afx/afx.h"
#include "afx/win32/MessagePump.h"
#include "afx/win32/Program.h"
#include "afx/win32/Text.h"
#include "res/resource.h"
#include "tests/support/MessageBoxRecorder.h"

TEST(AfxMessageBoxById, ShowsTheStringResourceWithTheGivenFlags) {
    MessageBoxRecorder recorder;
    EXPECT_EQ(AfxMessageBox(static_cast<unsigned>(IDP_SOCKETS_INIT_FAILED), 0), IDOK);
    ASSERT_EQ(recorder.Calls().size(), 1u);
    EXPECT_EQ(recorder.Calls()[0].text, "Windows ｿｹｯﾄの初期化に失敗しました。");
    EXPECT_EQ(recorder.Calls()[0].type, 0u);
}

TEST(AfxMessageBoxById, MissingStringShowsAnEmptyText) {
    MessageBoxRecorder recorder;
    AfxMessageBox(54321u, MB_ICONEXCLAMATION);
    ASSERT_EQ(recorder.Calls().size(), 1u);
    EXPECT_EQ(recorder.Calls()[0].text, "");
    EXPECT_EQ(recorder.Calls()[0].type, static_cast<unsigned>(MB_ICONEXCLAMATION));
}

// The window system's texts: code page 932 to UTF-16 and back, whatever the
// process code page.
TEST(AfxText, ConvertsCodePage932BothWays) {
    const struct {
        const char* cp932;
        const wchar_t* utf16;
    } cases[] = {{"", L""}, {"Quorpa", L"Quorpa"}, {"予約 ｱﾌﾟﾘ", L"予約 ｱﾌﾟﾘ"}};
    for (const auto& c : cases) {
        EXPECT_EQ(AfxWide(c.cp932), c.utf16);
        EXPECT_EQ(AfxNarrow(c.utf16), c.cp932);
    }
    // Not in code page 932: its best fit, as an ANSI window of code page 932 gave.
    EXPECT_EQ(AfxNarrow(L"\u00e9", 1), "e");
}

// The same for the other code pages the program meets, flags unchanged.
TEST(AfxText, ConvertsOtherCodePagesWithTheirFlags) {
    const struct {
        UINT codePage;
        DWORD flags;
        const char* narrow;
        const wchar_t* wide;
    } cases[] = {
        {CP_UTF8, 0, "", L""},
        {CP_UTF8, 0, "C:\\\xe7\xa9\xba\\Quorpa.exe", L"C:\\空\\Quorpa.exe"},
        {CP_UTF8, 0, "\xf0\xa0\xae\xb7", L"\U00020BB7"},
        {1252, 0, "caf\xe9", L"café"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AfxToWide(c.codePage, c.narrow, c.flags), c.wide);
        EXPECT_EQ(AfxFromWide(c.codePage, c.wide, -1, c.flags), c.narrow);
    }
    // A character outside the code page: its best fit, or '?' when that is refused.
    EXPECT_EQ(AfxFromWide(1252, L"\u0101"), "a");
    EXPECT_EQ(AfxFromWide(1252, L"\u0101", -1, WC_NO_BEST_FIT_CHARS), "?");
    // Only length characters of the wide text.
    EXPECT_EQ(AfxFromWide(CP_UTF8, L"abc", 2), "ab");
}

// The executable's path and the box title made from it.
TEST(AfxProgram, NamesTheRunningExecutable) {
    const std::wstring path = AfxModulePath();
    const std::wstring name = L"\\afx_win32_test.exe";
    ASSERT_GT(path.size(), name.size());
    EXPECT_EQ(path.substr(path.size() - name.size()), name);
    EXPECT_EQ(path.find(L'"'), std::wstring::npos);
    EXPECT_EQ(AfxProgramTitle(), L"afx_win32_test");
}

namespace {
int g_delivered = 0;
LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) {
        ++g_delivered;
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

// A message-only window that counts the WM_APP messages it gets.
struct CountingWindow {
    CountingWindow() {
        WNDCLASSW cls = {};
        cls.lpfnWndProc = CountingProc;
        cls.hInstance = ::GetModuleHandleW(nullptr);
        cls.lpszClassName = L"AfxPumpTest";
        ::RegisterClassW(&cls);
        hwnd = ::CreateWindowW(L"AfxPumpTest", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, cls.hInstance, nullptr);
        g_delivered = 0;
    }
    ~CountingWindow() { ::DestroyWindow(hwnd); }
    HWND hwnd;
};
}  // namespace

// Every waiting message is dispatched; a quit is kept aside only when asked.
TEST(AfxPumpWaitingMessages, DispatchesWhatWaitsAndKeepsTheQuitWhenAsked) {
    CountingWindow window;
    ASSERT_NE(window.hwnd, nullptr);
    ::PostMessageW(window.hwnd, WM_APP, 0, 0);
    ::PostQuitMessage(7);
    ::PostMessageW(window.hwnd, WM_APP, 0, 0);
    AfxQuit quit;
    AfxPumpWaitingMessages(&quit);
    EXPECT_EQ(g_delivered, 2);
    EXPECT_TRUE(quit.seen);
    EXPECT_EQ(quit.code, 7u);

    ::PostMessageW(window.hwnd, WM_APP, 0, 0);
    ::PostQuitMessage(3);
    AfxPumpWaitingMessages();
    EXPECT_EQ(g_delivered, 3);
    MSG left;
    EXPECT_FALSE(::PeekMessageW(&left, nullptr, 0, 0, PM_REMOVE));  // the quit went too
}
