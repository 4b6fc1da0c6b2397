// The reservation driver: one iEPG file from its text to the history line,
// in this order:
//   ReadReservations (ReservationFile.h)  the file's programmes, channel, times
//   Reserver::ReserveFile                 for each programme: the duplicate
//                                         question (History.h), the confirmation
//   Reserver::SendRecorded                the history's "sending" line, the send
//                                         (Shell::Send), its outcome told and
//                                         logged, the history line rewritten
// Resending a history entry from setting mode enters at SendRecorded.
// The driver talks to the user and to the mailer only through Shell: the
// program's shell (app/) shows message boxes and the progress window and
// sends with the SMTP client; the tests' shell sends on the calling thread.
#pragma once

#include <cstdint>
#include <string>

#include "reserve/History.h"
#include "reserve/ReservationFile.h"

class CStationTable;

namespace reserve {

// What the driver needs from around it.
class Shell {
public:
    virtual ~Shell() = default;
    // Shows text (code page 932) in a message box of type (MB_* flags) and
    // returns the button pressed (IDYES, IDNO, IDOK...). May throw; a throw
    // while a send's outcome is being told counts as an unknown failure.
    virtual int Box(const char* text, unsigned type) = 0;
    // Mails r: true when the server took it, false when it refused a step.
    // Throws what CSmtpMailer::SendMail throws.
    virtual bool Send(const Reservation& r) = 0;
    // Whether the user stopped the last Send before the server took the mail.
    virtual bool Stopped() const = 0;
    // Whether the last Send that returned false was refused for its sender.
    virtual bool SenderRefused() const = 0;
};

struct ReserveOptions {
    Adjustments adjust;
    // The history of reservation mails (UTF-8 path); empty: none is kept,
    // and no duplicate question is asked.
    std::string historyPath;
};

class Reserver {
public:
    // shell must outlive the driver.
    Reserver(Shell& shell, ReserveOptions options);

    // Reserves the programmes of text (one iEPG file's bytes; ends at its
    // first NUL byte) in turn: reads them (ReadReservations) with table,
    // asks about one already sent, asks the user to confirm and sends each
    // through SendRecorded. fileName (code page 932, without its folder) is
    // kept in the history. Returns true when the file is done (every mail
    // accepted, or the user declined), false on a failure (already shown and
    // logged where there is something to say). Throws CFileIOerror only when
    // a log write outside the send fails.
    bool ReserveFile(const char* text, const CStationTable& table, const std::string& fileName);

    // Sends the history's entry again (setting mode's 予約履歴), recorded
    // over the entry itself. Returns whether the server took the mail.
    bool Resend(const history::Entry& entry);

private:
    // Asks about an earlier send of r and for the user's confirmation, then
    // sends it. Returns as ReserveFile does for one programme.
    bool Book(const Reservation& r, const std::string& fileName);
    // Sends entry (channel, start, end, station, title, file) through the
    // shell, recorded in the history first as "sending", over was when given
    // (the entry sent again), then with its outcome. A failure is told and
    // logged, the box first. Returns whether the server took the mail.
    bool SendRecorded(history::Entry entry, const history::Entry* was);
    // The user stopped the send: told and logged like any failed send.
    // Returns false.
    bool SendStopped();
    // Writes entry into the history, over was or (null) at its end; a
    // history that cannot be written is only logged (E:HistoryNotWritten).
    // Throws nothing.
    void KeepInHistory(const history::Entry* was, const history::Entry& entry);

    Shell& m_shell;
    ReserveOptions m_options;
};

}  // namespace reserve
