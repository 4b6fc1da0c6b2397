#include "reserve/Reserver.h"

#include <cstdio>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "base/Cp932.h"
#include "base/Exceptions.h"
#include "base/system.h"
#include "mail/SendFailure.h"
#include "reserve/History.h"
#include "reserve/IepgParts.h"
#include "reserve/ReserveTimes.h"
#include "reserve/StationFile.h"
#include "reserve/StationTable.h"

namespace reserve {

namespace {

// The history's reason for a send the user stopped.
constexpr char kStoppedReason[] = "Stopped by user";

// Whether the programme ending at end (local time) is over: booking it
// again cannot record it twice, so the history is not asked about it.
bool HasEnded(tm end) { return std::mktime(&end) < std::time(nullptr); }

// The longest title a box's mark shows, in bytes (cut between characters):
// enough to tell programmes apart, and a box stays a box whatever the file
// holds.
constexpr size_t kMaxMarkTitleBytes = 64;

// "(2/3)": a programme's place among a file's several.
std::string Place(size_t place, size_t count) {
    return "(" + std::to_string(place) + "/" + std::to_string(count) + ")";
}

// The line that leads each box about one of a file's several programmes:
// its place, its title and its station (each cut), "(1/2) ニュース７  ＮＨＫ総合".
std::string Mark(size_t place, size_t count, const Reservation& r) {
    size_t length = 0;
    while (length < r.title.size()) {
        const size_t next = length + (cp932::IsLeadByte(static_cast<unsigned char>(r.title[length])) ? 2 : 1);
        if (next > kMaxMarkTitleBytes || next > r.title.size()) break;
        length = next;
    }
    std::string mark = Place(place, count) + " ";
    if (length > 0) mark += r.title.substr(0, length) + (length < r.title.size() ? "…" : "") + "  ";
    return mark + r.Shown() + "\n";
}

}  // namespace

Reserver::Reserver(Shell& shell, ReserveOptions options) : m_shell(shell), m_options(std::move(options)) {}

bool Reserver::ReserveFile(const char* text, CStationTable& table, const std::string& fileName) {
    const std::string_view file(text);
    std::vector<std::string_view> parts;
    const iepg::PartsError error = iepg::SplitParts(file, parts);
    if (error != iepg::PartsError::kNone) {
        m_shell.Tell(Shell::Notice::kFileUnreadable, iepg::PartsErrorText(error));
        return false;
    }
    if (parts.size() == 1) return ReserveOne(parts[0], iepg::IsMultiFile(file), table, fileName);
    return ReserveSeveral(parts, table, fileName);
}

ReadOutcome Reserver::ReadOrRegister(std::string_view part, const std::string& mark, CStationTable& table,
                                     Reservation& r, std::string& warning, bool& declined) {
    declined = false;
    const ReadOutcome outcome = ReadReservation(part, table, m_options.adjust, r, warning);
    if (outcome != ReadOutcome::kUnknownStation || m_options.stationPath.empty()) return outcome;
    const std::string station = r.station + '\n' + r.stationName;
    for (const std::string& gone : m_declined) {
        if (gone == station) return outcome;  // asked once: told as before
    }
    const uint32_t channel =
        m_shell.AskStation(mark + RegistrationText(r.station, r.stationName), SuggestedChannel(r.station));
    if (channel == 0) {
        m_declined.push_back(station);
        declined = true;
        return outcome;
    }
    const std::string line = StationLine(channel, r.station, r.stationName);
    const bool added = AppendToStationFile(m_options.stationPath, line);
    WriteLog(std::string(added ? "I:StationAdded=" : "E:StationNotAdded=") + line + "\r\n");
    if (!added) m_shell.Tell(Shell::Notice::kStationNotAdded, NotRegisteredText(channel));
    table.AppendLine(line);
    return ReadReservation(part, table, m_options.adjust, r, warning);
}

bool Reserver::ReserveOne(std::string_view part, bool several, CStationTable& table,
                          const std::string& fileName) {
    Reservation r;
    std::string warning;
    bool declined = false;
    const ReadOutcome outcome = ReadOrRegister(part, std::string(), table, r, warning, declined);
    if (declined) return false;  // as after the box: the file has failed
    switch (outcome) {
    case ReadOutcome::kRead:
        break;
    case ReadOutcome::kMissingKey:
    case ReadOutcome::kMalformed:
        // A file of the type with several programmes is none a page served
        // before them: it says what is wrong.
        if (several) m_shell.Tell(Shell::Notice::kProgrammeUnreadable, warning);
        return false;
    case ReadOutcome::kUnknownStation:
    case ReadOutcome::kBadDate:
        m_shell.Tell(Shell::Notice::kProgrammeUnreadable, warning);
        return false;
    }
    Booking booking;
    if (!Confirm(r, fileName, std::string(), booking)) return true;  // declined: the file is done, the run goes on
    // In the history before the first byte goes out: a run that dies during
    // the send leaves the reservation there, as "sending".
    if (!RecordSending(booking)) return true;  // declined at the second question
    return SendAndConclude(booking.entry, booking.programme);
}

bool Reserver::ReserveSeveral(const std::vector<std::string_view>& parts, CStationTable& table,
                              const std::string& fileName) {
    const size_t count = parts.size();
    bool everyOneRead = true;
    std::vector<Booking> confirmed;
    for (size_t i = 0; i < count; ++i) {
        Reservation r;
        std::string warning;
        bool declined = false;
        if (ReadOrRegister(parts[i], Place(i + 1, count) + " ", table, r, warning, declined) != ReadOutcome::kRead) {
            if (!declined) m_shell.Tell(Shell::Notice::kProgrammeUnreadable, Place(i + 1, count) + " " + warning);
            everyOneRead = false;
            continue;
        }
        Booking booking;
        booking.place = i + 1;
        booking.mark = Mark(i + 1, count, r);
        if (Confirm(r, fileName, booking.mark, booking)) confirmed.push_back(std::move(booking));
    }

    // Every "sending" line is written before the first mail goes out: the
    // question another run's send may raise is asked before the window.
    std::vector<Booking> going;
    for (Booking& booking : confirmed) {
        if (RecordSending(booking)) going.push_back(std::move(booking));
    }

    // After a failure that is not the server's refusal of this one mail
    // (the connection, the sign-in, a stop) the rest would fail alike: they
    // are recorded as it was, to be sent again from the history.
    struct Failure {
        Ending ending;
        size_t place = 0;            // 1-based, in the file
        bool othersNotSent = false;  // the programmes after it were not tried
    };
    std::vector<Failure> failures;
    size_t sent = 0;
    std::vector<MailProgramme> programmes;
    for (const Booking& booking : going) programmes.push_back(booking.programme);
    m_shell.SendEach(programmes, [&](size_t k) {
        if (!failures.empty() && failures.back().ending.notice != Shell::Notice::kSendRefused) {
            RecordEnding(going[k].entry, failures.back().ending);
            failures.back().othersNotSent = true;
            return;
        }
        // Told after the window, all together: here only recorded.
        Ending ending = Attempt(going[k].programme,
                                [&](const Ending& e) { RecordEnding(going[k].entry, e); });
        if (ending.Sent()) {
            ++sent;
            return;
        }
        failures.push_back({std::move(ending), going[k].place});
    });

    for (const Failure& f : failures) {
        if (f.ending.Stopped()) {
            TellStopped();
            continue;
        }
        m_shell.Tell(f.ending.notice, Place(f.place, count) + " " + f.ending.text +
                                          (f.othersNotSent ? "\n以降の番組も送信されていません" : ""));
        WriteLog(f.ending.logLine);
    }
    WriteLog("I:Sent=" + std::to_string(sent) + "/" + std::to_string(count) + "\r\n");
    return everyOneRead && failures.empty();
}

bool Reserver::Confirm(const Reservation& r, const std::string& fileName, const std::string& mark,
                       Booking& booking) {
    const MailProgramme programme = r.Mailed();
    history::Entry& entry = booking.entry;
    entry = history::EntryOf(programme, fileName);
    booking.programme = programme;
    entry.id = history::NewId();
    entry.programme = r.programme;
    // Each of a file's several programmes is declined without a word: the
    // next one's box follows.
    const auto declined = [&] {
        if (mark.empty()) m_shell.Tell(Shell::Notice::kDeclined, std::string());
        return false;
    };

    if (!m_options.historyPath.empty() && !HasEnded(programme.end)) {
        booking.looked = std::time(nullptr);
        const std::vector<history::Entry> entries = history::Load(m_options.historyPath);
        const history::Entry* sent = history::FindSent(entries, entry);
        if (sent != nullptr) {
            if (!m_shell.AskSendAgain(mark, *sent)) return declined();
            booking.asked = *sent;
        }
    }

    if (!m_shell.AskConfirm(mark, programme)) return declined();
    return true;
}

bool Reserver::RecordSending(Booking& booking) {
    Stamp(booking.entry);
    const history::Entry& sending = booking.entry;
    if (m_options.historyPath.empty()) return true;
    if (HasEnded(sending.end)) {
        AppendToHistory(sending);
        return true;
    }
    // The check and the record in one turn of the history: two runs at once
    // never both miss the question.
    for (;;) {
        history::Entry found;
        history::Recorded recorded = history::Recorded::kNotWritten;
        try {
            recorded = history::AppendUnlessSent(m_options.historyPath, sending, booking.looked,
                                                 booking.asked ? &*booking.asked : nullptr, &found);
        } catch (...) {
        }
        if (recorded == history::Recorded::kWritten) return true;
        if (recorded == history::Recorded::kNotWritten) {
            HistoryNotWritten();
            return true;
        }
        if (!m_shell.AskSendAgain(booking.mark, found)) {
            if (booking.mark.empty()) m_shell.Tell(Shell::Notice::kDeclined, std::string());
            return false;
        }
        booking.asked = found;
    }
}

bool Reserver::Resend(const history::Entry& entry) {
    // Recorded over the entry itself, as "sending" before the first byte.
    history::Entry sending = entry;
    Stamp(sending);
    ReplaceInHistory(entry, sending);
    return SendAndConclude(sending, history::Mailed(sending));
}

void Reserver::Stamp(history::Entry& entry) {
    const time_t now = std::time(nullptr);
    if (const tm* local = std::localtime(&now)) entry.sent = *local;
    entry.outcome = history::Outcome::kSending;
    entry.reason.clear();
}

Reserver::Ending Reserver::Attempt(const MailProgramme& programme,
                                   const std::function<void(const Ending&)>& then) {
    // Every outcome of the send becomes an ending: sent, stopped (whatever
    // its socket made of the stop), refused by the server or failed. The
    // history's reason is the log's name for the failure.
    Ending ending;
    const auto stopped = [&] {
        ending.outcome = history::Outcome::kStopped;
        ending.reason = kStoppedReason;
        ending.notice = Shell::Notice::kStopped;
    };
    try {
        if (!m_shell.Send(programme)) {
            if (m_shell.Stopped()) {
                stopped();
            } else {
                ending.outcome = history::Outcome::kFailed;
                ending.reason = "SMTP error";
                ending.notice = Shell::Notice::kSendRefused;
                ending.text = m_shell.SenderRefused() ? SenderRefusedText() : SendRefusedText();
                ending.logLine = "E:SMTP error!\r\n";
            }
        }
        then(ending);
        return ending;
    } catch (const CExceptionBase& e) {
        ending = Ending();
        if (m_shell.Stopped()) {
            stopped();
        } else {
            ending.outcome = history::Outcome::kFailed;
            ending.reason = e.what();
            ending.text = SendFailureText(e);
            // GetLocation's buffer is shared: copied into the line at once.
            ending.logLine = std::string("E:<") + e.what() + "> at " + e.GetLocation() + "\r\n";
        }
    } catch (...) {
        ending = Ending();
        ending.outcome = history::Outcome::kFailed;
        ending.reason = "UnknownException";
        ending.text = SendUnknownFailureText();
        ending.logLine = "E:UnknownException!\r\n";
    }
    then(ending);
    return ending;
}

bool Reserver::SendAndConclude(const history::Entry& sending, const MailProgramme& programme) {
    // The outcome is recorded, then told: the box first, then the log line.
    return Attempt(programme, [&](const Ending& ending) {
               RecordEnding(sending, ending);
               if (ending.Sent()) return;
               if (ending.Stopped()) {
                   TellStopped();
                   return;
               }
               m_shell.Tell(ending.notice, ending.text);
               WriteLog(ending.logLine);
           }).Sent();
}

void Reserver::RecordEnding(const history::Entry& sending, const Ending& ending) {
    history::Entry entry = sending;
    entry.outcome = ending.outcome;
    entry.reason = ending.reason;
    ReplaceInHistory(sending, entry);
}

bool Reserver::TellStopped() {
    m_shell.Tell(Shell::Notice::kStopped, std::string());
    WriteLog("E:Stopped by user!\r\n");
    return false;
}

void Reserver::HistoryNotWritten() noexcept {
    try {
        WriteLog("E:HistoryNotWritten\r\n");
    } catch (...) {
    }
}

// The send is made whatever becomes of its record (a file that cannot be
// written, no memory for its lines).
void Reserver::AppendToHistory(const history::Entry& entry) {
    if (m_options.historyPath.empty()) return;
    try {
        if (history::Append(m_options.historyPath, entry)) return;
    } catch (...) {
    }
    HistoryNotWritten();
}

void Reserver::ReplaceInHistory(const history::Entry& was, const history::Entry& entry) {
    if (m_options.historyPath.empty()) return;
    try {
        if (history::Replace(m_options.historyPath, was, entry)) return;
    } catch (...) {
    }
    HistoryNotWritten();
}

}  // namespace reserve
