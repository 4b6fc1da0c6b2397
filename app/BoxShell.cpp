#include "app/BoxShell.h"

#include <cstdio>

#include "afx/afx.h"  // AfxMessageBox, the MB_* flags and ID* answers
#include "base/Cp932.h"
#include "reserve/ReserveTimes.h"

namespace {

constexpr unsigned kWarning = MB_ICONEXCLAMATION;  // flags 48: OK button, exclamation icon
constexpr unsigned kQuestion = MB_YESNO | MB_ICONQUESTION;
// Sending a programme twice is the riskier answer: No is the default.
constexpr unsigned kSendAgainQuestion = kQuestion | MB_DEFBUTTON2;
// The longest title of the earlier programme the question shows, in bytes,
// as a mark shows a title: enough to recognise it, and the box stays a box.
constexpr size_t kMaxShownTitleBytes = 64;

}  // namespace

bool BoxShell::AskSendAgain(const std::string& mark, const history::Entry& earlier) {
    const tm& sent = earlier.sent;
    const tm& start = earlier.start;
    char when[64];
    std::snprintf(when, sizeof when, "%d/%d %02d:%02d", sent.tm_mon + 1, sent.tm_mday, sent.tm_hour, sent.tm_min);
    // Every field an int: 11 digits each and the separators fit.
    char times[128];
    std::snprintf(times, sizeof times, "%04d/%02d/%02d %02d:%02d～%02d:%02d", start.tm_year + 1900, start.tm_mon + 1,
                  start.tm_mday, start.tm_hour, start.tm_min, earlier.end.tm_hour, earlier.end.tm_min);
    const std::string title =
        earlier.title.empty() ? std::string() : cp932::Shortened(earlier.title, kMaxShownTitleBytes) + " ";
    const std::string text = mark + "この番組は " + when + " に予約メールを送信済みです。\n送信済み: " + title + times +
                             "\nもう一度送信しますか？";
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
    case Notice::kStationNotAdded:
        break;
    }
    AfxMessageBox(text.c_str(), kWarning);
}
