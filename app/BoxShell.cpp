#include "app/BoxShell.h"

#include <cstdio>

#include "afx/afx.h"  // AfxMessageBox, the MB_* flags and ID* answers
#include "reserve/ReserveTimes.h"

namespace {

constexpr unsigned kWarning = MB_ICONEXCLAMATION;  // flags 48: OK button, exclamation icon
constexpr unsigned kQuestion = MB_YESNO | MB_ICONQUESTION;
// Sending a programme twice is the riskier answer: No is the default.
constexpr unsigned kSendAgainQuestion = kQuestion | MB_DEFBUTTON2;

}  // namespace

bool BoxShell::AskSendAgain(const std::string& mark, const tm& sent) {
    char when[64];
    std::snprintf(when, sizeof when, "%d/%d %02d:%02d", sent.tm_mon + 1, sent.tm_mday, sent.tm_hour, sent.tm_min);
    const std::string text = mark + "この番組は " + when + " に予約メールを送信済みです。もう一度送信しますか？";
    return AfxMessageBox(text.c_str(), kSendAgainQuestion) == IDYES;
}

bool BoxShell::AskConfirm(const std::string& mark, const MailProgramme& programme) {
    const std::string text = mark + reserve::ConfirmationText(programme.start, programme.end, programme.channel);
    return AfxMessageBox(text.c_str(), kQuestion) == IDYES;
}

void BoxShell::Tell(Notice notice, const std::string& text) {
    switch (notice) {
    case Notice::kDeclined:
        AfxMessageBox("予約を中止しました", MB_ICONINFORMATION);
        return;
    case Notice::kStopped:
        AfxMessageBox("メール送信を中止しました\n予約は送信されていません", kWarning);
        return;
    case Notice::kFileUnreadable:
    case Notice::kProgrammeUnreadable:
    case Notice::kSendRefused:
    case Notice::kSendFailed:
        break;
    }
    AfxMessageBox(text.c_str(), kWarning);
}
