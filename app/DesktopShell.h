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
    // Sends with mailer (not owned; configured by ConfigureMailer, outlives
    // the shell). storedPassword is "smtppass" as stored (protected),
    // decrypted into the mailer by the first send: DPAPI loads the crypto
    // libraries, and the confirmation box before it does not need them.
    // server is the server as the settings name it, for the progress window;
    // with notify the window says so for a moment after a successful send.
    DesktopShell(CSmtpMailer& mailer, std::string storedPassword, const char* server, bool notify);

    // AfxMessageBox(text, type).
    int Box(const char* text, unsigned type) override;
    // Puts r's title and station into the mailer, decrypts the stored
    // password once (one that does not decrypt makes the send end with
    // CPasswordUnreadable; it is never used in its stored form) and sends
    // through the progress window (SendShowingProgress).
    bool Send(const reserve::Reservation& r) override;
    bool Stopped() const override;
    bool SenderRefused() const override;

private:
    CSmtpMailer& m_mailer;
    std::string m_storedPassword;
    std::string m_server;
    bool m_notify;
};

// The mailer as settings, the resolved server address and the mail
// template say.
void ConfigureMailer(CSmtpMailer& mailer, const Settings& settings, uint32_t address, const CString& format);
