// The reservation's shell on the desktop: what the driver (reserve/Reserver.h)
// asks of the program, done with message boxes (BoxShell.h), the progress
// window (ProgressWindow.h) and the SMTP client. Both modes make one:
// reserve mode for the files on the command line, setting mode to send a
// history entry again.
#pragma once

#include <cstdint>
#include <string>

#include "app/BoxShell.h"
#include "app/ProgressWindow.h"
#include "mail/MailAccount.h"
#include "mail/SmtpMailer.h"

class DesktopShell : public BoxShell {
public:
    // Sends with a mailer of its own, made with account (resolved), format
    // (MailFormat.txt's bytes) and the progress window's watch; with notify
    // the progress window says so for a moment after a successful send;
    // options say how the template's mail goes out (its timeouts are the
    // usual ones).
    DesktopShell(MailAccount account, std::string format, bool notify, MailerOptions options = MailerOptions());

    // Sends through the progress window (SendShowingProgress); the mailer
    // decrypts the stored password itself, after the confirmation box.
    bool Send(const MailProgramme& programme) override;
    bool Stopped() const override;
    bool SenderRefused() const override;
    // Runs each in one progress window (SendAllShowingProgress, at once with
    // notify) with the mailer in a batch (CSmtpMailer::BeginBatch): Send
    // then sends on the window's sending thread, one connection for all
    // where the server allows.
    void SendEach(const std::vector<MailProgramme>& programmes, const std::function<void(size_t)>& each) override;
    // 放送局の登録 (CStationDlg): the channel typed, 0 for キャンセル (or a
    // dialog that could not be made).
    uint32_t AskStation(const std::string& text, const std::string& suggested) override;

private:
    StepWatch m_watch;     // before the mailer, which reports to it
    CSmtpMailer m_mailer;
    bool m_notify;
    bool m_inBatch = false;  // inside SendEach
};
