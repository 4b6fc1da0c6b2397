// The reservation's questions and notices as message boxes: each of
// reserve::Shell's meanings with its text and its MB_* flags. The desktop
// shell (DesktopShell.h) is one; so is the tests' shell, which sends without
// a window. Portable: the boxes go through AfxMessageBox.
#pragma once

#include <ctime>
#include <string>

#include "reserve/Reserver.h"

class BoxShell : public reserve::Shell {
public:
    // "この番組は 12/7 09:30 に予約メールを送信済みです。\n送信済み: <title>
    // 2030/01/05 21:00～21:54\nもう一度送信しますか？" after mark: when earlier
    // was sent, its title (cut at 64 bytes, left out when empty) and its
    // times as reserved; Yes/No with No the default.
    bool AskSendAgain(const std::string& mark, const history::Entry& earlier) override;
    // mark and the confirmation (reserve::ConfirmationText), Yes/No.
    bool AskConfirm(const std::string& mark, const MailProgramme& programme) override;
    // "予約を中止しました" (information) for kDeclined, "メール送信を中止しました
    // 予約は送信されていません" for kStopped, text for every other notice;
    // each but kDeclined a warning. Throws what AfxMessageBox throws.
    void Tell(Notice notice, const std::string& text) override;
};
