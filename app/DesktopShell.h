// The reservation's shell on the desktop: what the driver (reserve/Reserver.h)
// asks of the program, done with message boxes, the progress window
// (ProgressWindow.h) and the SMTP client. Both modes make one: reserve mode
// for the files on the command line, setting mode to send a history entry
// again.
#pragma once

#include <cstdint>
#include <string>

#include "afx/afx.h"
#include "reserve/Reserver.h"

class CSmtpMailer;
struct Settings;

class DesktopShell : public reserve::Shell {
public:
    // Sends with mailer (not owned; its account and template set, outlives
    // the shell); with notify the progress window says so for a moment after
    // a successful send.
    DesktopShell(CSmtpMailer& mailer, bool notify);

    // AfxMessageBox(text, type).
    int Box(const char* text, unsigned type) override;
    // Puts r's title and station into the mailer and sends through the
    // progress window (SendShowingProgress); the mailer decrypts the stored
    // password itself, after the confirmation box.
    bool Send(const reserve::Reservation& r) override;
    bool Stopped() const override;
    bool SenderRefused() const override;
    // Runs each in one progress window (SendAllShowingProgress, at once with
    // notify) with the mailer in a batch (CSmtpMailer::BeginBatch): Send
    // then sends on the window's sending thread, one connection for all
    // where the server allows.
    void SendEach(size_t count, const std::function<void(size_t)>& each) override;

private:
    CSmtpMailer& m_mailer;
    bool m_notify;
    bool m_inBatch = false;  // inside SendEach
};
