// The framework's message box by string resource: the text comes from the
// executable's string table (linked into this test like into Quorpa.exe)
// and goes the same way as a text box, flags unchanged.
#include <gtest/gtest.h>

#include "afx/afx.h"
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
