#include "app/DesktopShell.h"

#include <atomic>
#include <utility>

#include "app/StationDlg.h"

DesktopShell::DesktopShell(MailAccount account, std::string format, bool notify, MailerOptions options)
    : m_mailer(std::move(account), std::move(format), &m_watch, options), m_notify(notify) {}

bool DesktopShell::Send(const MailProgramme& programme) {
    if (m_inBatch) return m_mailer.SendMail(programme);  // the window is the batch's
    return SendShowingProgress(m_mailer, m_watch, programme, m_notify);
}

void DesktopShell::SendEach(const std::vector<MailProgramme>& programmes, const std::function<void(size_t)>& each) {
    const size_t count = programmes.size();
    if (count == 0) return;
    std::atomic<int> place{1};
    struct InBatch {
        DesktopShell& shell;
        ~InBatch() {
            shell.m_inBatch = false;
            // After a failure inside each, the batch still ends.
            try {
                shell.m_mailer.EndBatch();
            } catch (...) {
            }
        }
    } inBatch{*this};
    m_inBatch = true;
    m_mailer.BeginBatch(programmes);
    SendAllShowingProgress(
        m_mailer, m_watch,
        [&] {
            for (size_t i = 0; i < count; ++i) {
                place = static_cast<int>(i + 1);
                each(i);
            }
            // QUIT, and only logged; a log that cannot be written changes
            // no outcome.
            try {
                m_mailer.EndBatch();
            } catch (...) {
            }
        },
        place, static_cast<int>(count), m_notify);
}

bool DesktopShell::Stopped() const { return m_mailer.Cancelled(); }

bool DesktopShell::SenderRefused() const { return m_mailer.SenderRefused(); }

uint32_t DesktopShell::AskStation(const std::string& text, const std::string& suggested) {
    CStationDlg dialog(text, suggested);
    return dialog.DoModal() == IDOK ? dialog.Channel() : 0;
}
