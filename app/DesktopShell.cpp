#include "app/DesktopShell.h"

#include <utility>

#include "app/ProgressWindow.h"
#include "app/Settings.h"
#include "mail/Password.h"
#include "mail/SmtpMailer.h"

DesktopShell::DesktopShell(CSmtpMailer& mailer, std::string storedPassword, const char* server, bool notify)
    : m_mailer(mailer), m_storedPassword(std::move(storedPassword)), m_server(server), m_notify(notify) {}

int DesktopShell::Box(const char* text, unsigned type) { return AfxMessageBox(text, type); }

bool DesktopShell::Send(const reserve::Reservation& r) {
    m_mailer.m_strTitle = r.title;
    m_mailer.m_strStation = r.station;
    // A password that does not decrypt here ends the send with a request to
    // enter it again; it is never used in its stored form.
    if (!m_storedPassword.empty() && m_mailer.m_strPassword.empty() && !m_mailer.m_bPasswordUnreadable &&
        !UnprotectPassword(m_storedPassword, &m_mailer.m_strPassword))
        m_mailer.m_bPasswordUnreadable = true;
    return SendShowingProgress(m_mailer, r.start, r.end, r.channel, m_server.c_str(), m_notify);
}

bool DesktopShell::Stopped() const { return m_mailer.Cancelled(); }

bool DesktopShell::SenderRefused() const { return m_mailer.SenderRefused(); }

void ConfigureMailer(CSmtpMailer& mailer, const Settings& settings, uint32_t address, const CString& format) {
    mailer.m_strFormat = format.str();
    mailer.m_ulSmtpAddr = address;
    mailer.m_usSmtpPort = static_cast<uint16_t>(settings.port);
    mailer.m_strRcpt = settings.rcpt.str();
    // A provider may take only the account's own address as the sender.
    mailer.m_strFrom = settings.mailFrom.IsEmpty() ? settings.rcpt.str() : settings.mailFrom.str();
    mailer.m_nSsl = settings.ssl;
    mailer.m_strServerName = settings.smtpSvr.str();
    mailer.m_strUser = settings.user.str();
    mailer.m_strCertPin = settings.certPin.str();
    // The password stays protected until the send (DesktopShell::Send).
}
