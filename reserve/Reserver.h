// The reservation driver: one iEPG file from its text to the history line,
// in this order:
//   iepg::SplitParts (IepgParts.h)        the file's programmes, one or several
//   ReadReservation (ReservationFile.h)   each programme's channel and times
//   Reserver::ReserveFile                 for each programme: the duplicate
//                                         question (History.h), the confirmation
//   Reserver::SendRecorded                the history's "sending" line (asking
//                                         again when another run has just sent
//                                         it), the send (Shell::Send), its
//                                         outcome told and logged, the history
//                                         line rewritten
// A file with several programmes asks about each in turn, then sends every
// confirmed one within one Shell::SendEach, and tells the failures after it.
// Resending a history entry from setting mode enters at SendRecorded.
// The driver talks to the user and to the mailer only through Shell: the
// program's shell (app/) shows message boxes and the progress window and
// sends with the SMTP client; the tests' shell sends on the calling thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
    // The programmes of a file with several, sent in one go: calls each(0)
    // to each(count - 1) in turn, each calling Send once, while one progress
    // window shows them and which of count is going out; the connection of
    // one mail is kept for the next where the server allows. each may run on
    // another thread than Box: it shows no box. Returns when every call has
    // returned; throws what each throws.
    virtual void SendEach(size_t count, const std::function<void(size_t)>& each) = 0;
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
    // first NUL byte): splits it (a file that cannot be split gets its box
    // and fails), reads each programme (ReadReservation) with table, asks
    // about one already sent, asks the user to confirm and sends it through
    // SendRecorded. A file with several programmes marks each box with the
    // programme's place, title and station ("(1/2) ..."); a programme that
    // cannot be reserved gets its box and the others still go; the confirmed
    // ones go out together (Shell::SendEach) and the log says how many were
    // sent ("I:Sent=1/2"). fileName (code page 932, without its folder) is
    // kept in the history. Returns true when the file is done (every mail
    // accepted, or the user declined), false on a failure (already shown and
    // logged where there is something to say). Throws CFileIOerror only when
    // a log write outside the send fails.
    bool ReserveFile(const char* text, const CStationTable& table, const std::string& fileName);

    // Sends the history's entry again (setting mode's 予約履歴), recorded
    // over the entry itself. Returns whether the server took the mail.
    bool Resend(const history::Entry& entry);

private:
    // A programme the user has confirmed, as the history will record it.
    struct Booking {
        size_t place = 0;     // 1-based, in a file with several programmes; 0 in a file with one
        std::string mark;     // what leads its boxes (Confirm); empty in a file with one
        history::Entry entry;
        std::optional<history::Entry> asked;  // the earlier send the user said Yes to sending again
        time_t looked = 0;                    // when the history was read for the question
    };
    // A failed send as the user is told of it after a file's several sends.
    struct Failure {
        enum Kind { kRefused, kThrown, kStopped } kind = kRefused;  // by the server, by anything else, by the user
        size_t place = 0;      // 1-based, in the file
        std::string text;      // the box
        std::string logLine;   // the "E:" line, after the box
        std::string reason;    // the history's
        bool othersNotSent = false;  // the programmes after it were not tried
    };

    // A file with one programme, as a file has always been reserved; part is
    // its text, several whether the file is of the type with several.
    bool ReserveOne(std::string_view part, bool several, const CStationTable& table, const std::string& fileName);
    // A file with parts.size() > 1 programmes.
    bool ReserveSeveral(const std::vector<std::string_view>& parts, const CStationTable& table,
                        const std::string& fileName);
    // Asks about an earlier send of r and for the user's confirmation, each
    // box led by mark (empty for a file with one programme). Returns false
    // when the user declined either; booking is then unspecified.
    bool Confirm(const Reservation& r, const std::string& fileName, const std::string& mark, Booking& booking);
    // Writes sending (booking's entry, stamped) in the history, unless
    // another run has sent the programme meanwhile and the user, asked again
    // (the question led by booking's mark), says No. Returns false when the
    // user said No. A history that cannot be written is only logged.
    bool RecordSending(const history::Entry& sending, Booking& booking);
    // Sets entry's time sent to now and its outcome to "sending".
    static void Stamp(history::Entry& entry);
    // Sends entry (channel, start, end, station, title, file) through the
    // shell, recorded in the history first as "sending" (a new reservation:
    // RecordSending with booking; was, the entry sent again: over it), then
    // with its outcome. A failure is told and logged, the box first. Returns
    // whether the server took the mail, or true when the user declined at the
    // second question.
    bool SendRecorded(history::Entry entry, const history::Entry* was, Booking* booking = nullptr);
    // One send of a file with several programmes, its entry already recorded
    // as "sending": the outcome recorded, a failure returned to be told
    // later (no box). Runs inside Shell::SendEach. Throws nothing.
    std::optional<Failure> SendQuietly(history::Entry entry);
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
