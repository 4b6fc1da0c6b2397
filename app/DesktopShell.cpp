#include "app/DesktopShell.h"

#include "app/ProgressWindow.h"
#include "mail/SmtpMailer.h"

DesktopShell::DesktopShell(CSmtpMailer& mailer, bool notify) : m_mailer(mailer), m_notify(notify) {}

int DesktopShell::Box(const char* text, unsigned type) { return AfxMessageBox(text, type); }

bool DesktopShell::Send(const reserve::Reservation& r) {
    m_mailer.m_strTitle = r.title;
    m_mailer.m_strStation = r.station;
    return SendShowingProgress(m_mailer, r.start, r.end, r.channel, m_notify);
}

bool DesktopShell::Stopped() const { return m_mailer.Cancelled(); }

bool DesktopShell::SenderRefused() const { return m_mailer.SenderRefused(); }
