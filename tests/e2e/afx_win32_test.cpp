// The framework's message box by string resource: the text comes from the
// executable's string table (linked into this test like into Quorpa.exe)
// and goes the same way as a text box, flags unchanged.
#include <gtest/gtest.h>

#include "afx/afx.h"
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
