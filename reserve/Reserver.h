// The reservation driver: one iEPG file from its text to the history line,
// in this order:
//   iepg::SplitParts (IepgParts.h)        the file's programmes, one or several
//   ReadReservation (ReservationFile.h)   each programme's channel and times,
//                                         as one MailProgramme (Reservation::Mailed)
//   Reserver::ReserveFile                 for each programme: the duplicate
//                                         question (History.h), the confirmation
//   Reserver::RecordSending               the history's "sending" line (asking
//                                         again when another run has just sent it)
//   Reserver::Attempt                     the send (Shell::Send) and how it ended,
//                                         sorted in this one place
//   Reserver::Conclude / ReserveSeveral   the outcome in the history, told and logged
// A file with several programmes asks about each in turn, then sends every
// confirmed one within one Shell::SendEach, and tells the failures after it.
// Resending a history entry from setting mode enters at Resend.
// The driver talks to the user and to the mailer only through Shell, by
// what it means: the program's shell (app/) shows message boxes and the
// progress window and sends with the SMTP client; the tests' shell sends on
// the calling thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mail/MailProgramme.h"
#include "reserve/Entry.h"
#include "reserve/ReservationFile.h"

class CStationTable;

namespace reserve {

// What the driver needs from around it. Every question and every notice is
// one method or one Notice; the shell chooses how it is shown.
class Shell {
public:
    virtual ~Shell() = default;

    // What the user is told; text (code page 932) says what and why where
    // the notice has one, led by the programme's place in a file with
    // several.
    enum class Notice {
        kDeclined,            // the user said No: nothing is sent (no text)
        kFileUnreadable,      // the file cannot be split into programmes
        kProgrammeUnreadable, // a programme cannot be reserved (its station, its times)
        kSendRefused,         // the server refused the mail
        kSendFailed,          // the send failed otherwise (the connection, TLS, the sign-in...)
        kStopped,             // the user stopped the send (no text)
        kStationNotAdded,     // Station.txt cannot take a station's line: the channel holds this time only
    };

    // The questions, each true for Yes; mark leads the box (empty in a file
    // with one programme). May throw; a throw while a send's outcome is
    // being told counts as an unknown failure.
    // The programme was sent before, as earlier records it (when it was
    // sent; the title, start and end as reserved then): send it again? (No
    // the default.)
    virtual bool AskSendAgain(const std::string& mark, const history::Entry& earlier) = 0;
    // Reserve programme?
    virtual bool AskConfirm(const std::string& mark, const MailProgramme& programme) = 0;
    // Tells the user notice. May throw, as above.
    virtual void Tell(Notice notice, const std::string& text) = 0;

    // Mails programme: true when the server took it, false when it refused
    // a step. Throws what CSmtpMailer::SendMail throws.
    virtual bool Send(const MailProgramme& programme) = 0;
    // Whether the user stopped the last Send before the server took the mail.
    virtual bool Stopped() const = 0;
    // Whether the last Send that returned false was refused for its sender.
    virtual bool SenderRefused() const = 0;
    // The programmes of a file with several, sent in one go: calls each(0)
    // to each(count - 1) in turn (count: programmes.size()), each calling
    // Send once, with programmes[k] or not at all, while one progress
    // window shows them and which of count is going out; the connection of
    // one mail is kept for the next where the server allows, and the mails
    // after one may go with it (CSmtpMailer::BeginBatch). each may run on
    // another thread than the questions: it asks and tells nothing. Returns
    // when every call has returned; throws what each throws.
    virtual void SendEach(const std::vector<MailProgramme>& programmes, const std::function<void(size_t)>& each) = 0;
    // 放送局の登録: text (code page 932: what the box about an unknown
    // station said, led by mark, and what the channel does) and a channel
    // field that starts as suggested. Returns the channel the user typed,
    // or 0 when the user declined (キャンセル).
    virtual uint32_t AskStation(const std::string& text, const std::string& suggested) = 0;
};

struct ReserveOptions {
    Adjustments adjust;
    // The history of reservation mails (UTF-8 path); empty: none is kept,
    // and no duplicate question is asked.
    std::string historyPath;
    // Station.txt (UTF-8 path), where a station the user registers is
    // added; empty: a station the table does not know gets the box, as
    // before, and nothing is asked.
    std::string stationPath;
};

class Reserver {
public:
    // shell must outlive the driver.
    Reserver(Shell& shell, ReserveOptions options);

    // Reserves the programmes of text (one iEPG file's bytes; ends at its
    // first NUL byte): splits it (a file that cannot be split gets its box
    // and fails), reads each programme (ReadReservation) with table, asks
    // about one already sent, asks the user to confirm, records it as
    // "sending" and sends it (Attempt). A file with several programmes marks each box with the
    // programme's place, title and station ("(1/2) ..."); a programme that
    // cannot be reserved gets its box and the others still go; the confirmed
    // ones go out together (Shell::SendEach) and the log says how many were
    // sent ("I:Sent=1/2"). fileName (code page 932, without its folder) is
    // kept in the history. A station table does not know is asked about
    // (Shell::AskStation, once for each station in the driver's life) when
    // the options name a Station.txt: its line is added there and to table,
    // and the programme is read again as if the line had been there (a
    // Station.txt that cannot be written is told, and the channel holds for
    // this run). The boxes of a file with several programmes and the history
    // name the station by the table's line (Reservation::Shown); the mail's
    // "%stat%" is the file's (Reservation::Named). Returns true when the file
    // is done (every mail accepted, or the user declined), false on a
    // failure (already shown and logged where there is something to say).
    // Throws CFileIOerror only when a log write outside the send fails.
    bool ReserveFile(const char* text, CStationTable& table, const std::string& fileName);

    // Sends the history's entry again (setting mode's 予約履歴), recorded
    // over the entry itself. Returns whether the server took the mail.
    bool Resend(const history::Entry& entry);

private:
    // A programme the user has confirmed, as the history will record it.
    struct Booking {
        size_t place = 0;     // 1-based, in a file with several programmes; 0 in a file with one
        std::string mark;     // what leads its boxes (Confirm); empty in a file with one
        history::Entry entry;  // made from the programme (history::EntryOf), the station as shown
        MailProgramme programme;  // what the mail carries
        std::optional<history::Entry> asked;  // the earlier send the user said Yes to sending again
        time_t looked = 0;                    // when the history was read for the question
    };
    // How one send ended, as the history records it and the user is told.
    struct Ending {
        history::Outcome outcome = history::Outcome::kSent;
        std::string reason;  // the history's: the log's name for the failure
        Shell::Notice notice = Shell::Notice::kSendFailed;  // for a failure
        std::string text;     // the failure's box (kStopped: none)
        std::string logLine;  // the "E:" line, after the box
        bool Sent() const { return outcome == history::Outcome::kSent; }
        bool Stopped() const { return outcome == history::Outcome::kStopped; }
    };

    // A file with one programme, as a file has always been reserved; part is
    // its text, several whether the file is of the type with several.
    bool ReserveOne(std::string_view part, bool several, CStationTable& table, const std::string& fileName);
    // A file with parts.size() > 1 programmes.
    bool ReserveSeveral(const std::vector<std::string_view>& parts, CStationTable& table,
                        const std::string& fileName);
    // ReadReservation, and for a station table does not know 放送局の登録
    // (its text led by mark): declined is set when the user declined it now
    // (nothing more to tell); otherwise the outcome of the programme read
    // again with the station's line added to table.
    ReadOutcome ReadOrRegister(std::string_view part, const std::string& mark, CStationTable& table,
                               Reservation& r, std::string& warning, bool& declined);
    // Asks about an earlier send of r and for the user's confirmation, each
    // box led by mark (empty for a file with one programme). Returns false
    // when the user declined either; booking is then unspecified.
    bool Confirm(const Reservation& r, const std::string& fileName, const std::string& mark, Booking& booking);
    // Stamps booking's entry (Stamp) and writes it in the history as
    // "sending", unless another run has sent the programme meanwhile and the
    // user, asked again (the question led by booking's mark), says No.
    // Returns false when the user said No. A history that cannot be written
    // is only logged.
    bool RecordSending(Booking& booking);
    // Sets entry's time sent to now and its outcome to "sending".
    static void Stamp(history::Entry& entry);
    // The one place that sorts how a send ended: sends programme through the
    // shell and calls then with the ending, inside the same watch, so that a
    // throw from then counts as the send's failure, as a throw from the
    // send does (then is called again with that ending; a throw the second
    // time leaves). Returns the last ending.
    Ending Attempt(const MailProgramme& programme, const std::function<void(const Ending&)>& then);
    // Sends programme, recorded as sending ("sending"), and concludes: the
    // outcome over it in the history, a failure told (box first) and logged.
    // Returns whether the server took the mail.
    bool SendAndConclude(const history::Entry& sending, const MailProgramme& programme);
    // Writes the ending's outcome and reason over sending in the history.
    void RecordEnding(const history::Entry& sending, const Ending& ending);
    // The user stopped the send: told and logged like any failed send.
    // Returns false.
    bool TellStopped();
    // Adds entry at the history's end, or writes it over was; a history that
    // cannot be written is only logged (E:HistoryNotWritten). Both throw nothing.
    void AppendToHistory(const history::Entry& entry);
    void ReplaceInHistory(const history::Entry& was, const history::Entry& entry);
    // Logs that the history was not written; a log that cannot be written
    // either changes nothing.
    static void HistoryNotWritten() noexcept;

    Shell& m_shell;
    ReserveOptions m_options;
    // The stations (station and station-name) whose registration the user
    // declined: asked once, then told as before.
    std::vector<std::string> m_declined;
};

}  // namespace reserve
