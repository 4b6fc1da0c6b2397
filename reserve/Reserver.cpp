#include "reserve/Reserver.h"

#include <cstdio>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "afx/afx.h"  // the MB_* flags and ID* answers
#include "base/Cp932.h"
#include "base/Exceptions.h"
#include "base/system.h"
#include "mail/SendFailure.h"
#include "reserve/IepgParts.h"
#include "reserve/ReserveTimes.h"
#include "reserve/StationTable.h"

namespace reserve {

namespace {

constexpr unsigned kWarning = MB_ICONEXCLAMATION;  // flags 48: OK button, exclamation icon
constexpr unsigned kDuplicateQuestion = MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2;
// The history's reason for a send the user stopped.
constexpr char kStoppedReason[] = "Stopped by user";

// Whether the programme ending at end (local time) is over: booking it
// again cannot record it twice, so the history is not asked about it.
bool HasEnded(tm end) { return std::mktime(&end) < std::time(nullptr); }

// "この番組は 12/7 09:30 に予約メールを送信済みです。..." for an earlier send.
std::string DuplicateQuestion(const history::Entry& sent) {
    char when[64];
    std::snprintf(when, sizeof when, "%d/%d %02d:%02d", sent.sent.tm_mon + 1, sent.sent.tm_mday, sent.sent.tm_hour,
                  sent.sent.tm_min);
    return std::string("この番組は ") + when + " に予約メールを送信済みです。もう一度送信しますか？";
}

// The longest title a box's mark shows, in bytes (cut between characters):
// enough to tell programmes apart, and a box stays a box whatever the file
// holds.
constexpr size_t kMaxMarkTitleBytes = 64;

// "(2/3)": a programme's place among a file's several.
std::string Place(size_t place, size_t count) {
    return "(" + std::to_string(place) + "/" + std::to_string(count) + ")";
}

// The line that leads each box about one of a file's several programmes:
// its place, its title (cut) and its station, "(1/2) ニュース７  ＮＨＫ総合".
std::string Mark(size_t place, size_t count, const Reservation& r) {
    size_t length = 0;
    while (length < r.title.size()) {
        const size_t next = length + (cp932::IsLeadByte(static_cast<unsigned char>(r.title[length])) ? 2 : 1);
        if (next > kMaxMarkTitleBytes || next > r.title.size()) break;
        length = next;
    }
    std::string mark = Place(place, count) + " ";
    if (length > 0) mark += r.title.substr(0, length) + (length < r.title.size() ? "…" : "") + "  ";
    return mark + r.Named() + "\n";
}

// The programme a history entry records, as the shell sends it.
Reservation Recorded(const history::Entry& entry) {
    Reservation r;
    r.channel = entry.channel;
    r.start = entry.start;
    r.end = entry.end;
    r.station = entry.station;
    r.title = entry.title;
    return r;
}

}  // namespace

Reserver::Reserver(Shell& shell, ReserveOptions options) : m_shell(shell), m_options(std::move(options)) {}

bool Reserver::ReserveFile(const char* text, const CStationTable& table, const std::string& fileName) {
    const std::string_view file(text);
    std::vector<std::string_view> parts;
    const iepg::PartsError error = iepg::SplitParts(file, parts);
    if (error != iepg::PartsError::kNone) {
        m_shell.Box(iepg::PartsErrorText(error).c_str(), kWarning);
        return false;
    }
    if (parts.size() == 1) return ReserveOne(parts[0], iepg::IsMultiFile(file), table, fileName);
    return ReserveSeveral(parts, table, fileName);
}

bool Reserver::ReserveOne(std::string_view part, bool several, const CStationTable& table,
                          const std::string& fileName) {
    Reservation r;
    std::string warning;
    switch (ReadReservation(part, table, m_options.adjust, r, warning)) {
    case ReadOutcome::kRead:
        break;
    case ReadOutcome::kMissingKey:
    case ReadOutcome::kMalformed:
        // A file of the type with several programmes is none a page served
        // before them: it says what is wrong.
        if (several) m_shell.Box(warning.c_str(), kWarning);
        return false;
    case ReadOutcome::kUnknownStation:
    case ReadOutcome::kBadDate:
        m_shell.Box(warning.c_str(), kWarning);
        return false;
    }
    Booking booking;
    if (!Confirm(r, fileName, std::string(), booking)) return true;  // declined: the file is done, the run goes on
    return SendRecorded(booking.entry, nullptr, &booking);
}

bool Reserver::ReserveSeveral(const std::vector<std::string_view>& parts, const CStationTable& table,
                              const std::string& fileName) {
    const size_t count = parts.size();
    bool everyOneRead = true;
    std::vector<Booking> confirmed;
    for (size_t i = 0; i < count; ++i) {
        Reservation r;
        std::string warning;
        if (ReadReservation(parts[i], table, m_options.adjust, r, warning) != ReadOutcome::kRead) {
            m_shell.Box((Place(i + 1, count) + " " + warning).c_str(), kWarning);
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
        Stamp(booking.entry);
        if (RecordSending(booking.entry, booking)) going.push_back(std::move(booking));
    }

    // After a failure that is not the server's refusal of this one mail
    // (the connection, the sign-in, a stop) the rest would fail alike: they
    // are recorded as it was, to be sent again from the history.
    std::vector<Failure> failures;
    size_t sent = 0;
    m_shell.SendEach(going.size(), [&](size_t k) {
        if (!failures.empty() && failures.back().kind != Failure::kRefused) {
            history::Entry entry = going[k].entry;
            entry.outcome = failures.back().kind == Failure::kStopped ? history::Outcome::kStopped
                                                                       : history::Outcome::kFailed;
            entry.reason = failures.back().reason;
            KeepInHistory(&going[k].entry, entry);
            failures.back().othersNotSent = true;
            return;
        }
        std::optional<Failure> failure = SendQuietly(going[k].entry);
        if (!failure) {
            ++sent;
            return;
        }
        failure->place = going[k].place;
        failures.push_back(std::move(*failure));
    });

    for (const Failure& f : failures) {
        if (f.kind == Failure::kStopped) {
            SendStopped();
            continue;
        }
        m_shell.Box((Place(f.place, count) + " " + f.text + (f.othersNotSent ? "\n以降の番組も送信されていません" : ""))
                        .c_str(),
                    kWarning);
        WriteLog(f.logLine);
    }
    WriteLog("I:Sent=" + std::to_string(sent) + "/" + std::to_string(count) + "\r\n");
    return everyOneRead && failures.empty();
}

bool Reserver::Confirm(const Reservation& r, const std::string& fileName, const std::string& mark,
                       Booking& booking) {
    history::Entry& entry = booking.entry;
    entry.id = history::NewId();
    entry.channel = r.channel;
    entry.start = r.start;
    entry.end = r.end;
    entry.station = r.Named();
    entry.title = r.title;
    entry.file = fileName;
    entry.programme = r.programme;
    // Each of a file's several programmes is declined without a word: the
    // next one's box follows.
    const auto declined = [&] {
        if (mark.empty()) m_shell.Box("予約を中止しました", MB_ICONINFORMATION);
        return false;
    };

    if (!m_options.historyPath.empty() && !HasEnded(r.end)) {
        booking.looked = std::time(nullptr);
        const std::vector<history::Entry> entries = history::Load(m_options.historyPath);
        const history::Entry* sent = history::FindSent(entries, entry);
        if (sent != nullptr) {
            if (m_shell.Box((mark + DuplicateQuestion(*sent)).c_str(), kDuplicateQuestion) != IDYES)
                return declined();
            booking.asked = *sent;
        }
    }

    const std::string question = mark + ConfirmationText(r.start, r.end, r.channel);
    if (m_shell.Box(question.c_str(), MB_YESNO | MB_ICONQUESTION) != IDYES) return declined();
    return true;
}

bool Reserver::RecordSending(const history::Entry& sending, Booking& booking) {
    if (m_options.historyPath.empty()) return true;
    if (HasEnded(sending.end)) {
        KeepInHistory(nullptr, sending);
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
            try {
                WriteLog("E:HistoryNotWritten\r\n");
            } catch (...) {
            }
            return true;
        }
        if (m_shell.Box((booking.mark + DuplicateQuestion(found)).c_str(), kDuplicateQuestion) != IDYES) {
            if (booking.mark.empty()) m_shell.Box("予約を中止しました", MB_ICONINFORMATION);
            return false;
        }
        booking.asked = found;
    }
}

bool Reserver::Resend(const history::Entry& entry) { return SendRecorded(entry, &entry); }

void Reserver::Stamp(history::Entry& entry) {
    const time_t now = std::time(nullptr);
    if (const tm* local = std::localtime(&now)) entry.sent = *local;
    entry.outcome = history::Outcome::kSending;
    entry.reason.clear();
}

bool Reserver::SendRecorded(history::Entry entry, const history::Entry* was, Booking* booking) {
    // In the history before the first byte goes out: a run that dies during
    // the send leaves the reservation there, as "sending".
    Stamp(entry);
    const history::Entry sending = entry;
    if (booking != nullptr) {
        if (!RecordSending(sending, *booking)) return true;  // declined at the second question
    } else {
        KeepInHistory(was, sending);
    }
    const auto record = [&](history::Outcome outcome, const char* reason) {
        entry.outcome = outcome;
        entry.reason = reason;
        KeepInHistory(&sending, entry);
        return outcome == history::Outcome::kSent;
    };

    // Every outcome of the send becomes a message and a log line, the message
    // first. A log failure while reporting a refused mail is itself caught.
    // A send the user stopped fails whatever its socket made of the stop.
    // The history's reason is the log's name for the failure.
    try {
        if (m_shell.Send(Recorded(entry))) return record(history::Outcome::kSent, "");
        if (m_shell.Stopped()) {
            record(history::Outcome::kStopped, kStoppedReason);
            return SendStopped();
        }
        record(history::Outcome::kFailed, "SMTP error");
        m_shell.Box(m_shell.SenderRefused() ? SenderRefusedText() : SendRefusedText(), kWarning);
        WriteLog("E:SMTP error!\r\n");
        return false;
    } catch (const CExceptionBase& e) {
        if (m_shell.Stopped()) {
            record(history::Outcome::kStopped, kStoppedReason);
            return SendStopped();
        }
        record(history::Outcome::kFailed, e.what());
        m_shell.Box(SendFailureText(e), kWarning);
        // GetLocation's buffer is shared: copied into the line at once.
        WriteLog(std::string("E:<") + e.what() + "> at " + e.GetLocation() + "\r\n");
        return false;
    } catch (...) {
        record(history::Outcome::kFailed, "UnknownException");
        m_shell.Box(SendUnknownFailureText(), kWarning);
        WriteLog("E:UnknownException!\r\n");
        return false;
    }
}

std::optional<Reserver::Failure> Reserver::SendQuietly(history::Entry entry) {
    const history::Entry sending = entry;
    Failure failure;
    const auto record = [&](history::Outcome outcome, const std::string& reason) {
        entry.outcome = outcome;
        entry.reason = reason;
        KeepInHistory(&sending, entry);
        failure.reason = reason;
    };
    try {
        if (m_shell.Send(Recorded(entry))) {
            record(history::Outcome::kSent, "");
            return std::nullopt;
        }
        if (m_shell.Stopped()) {
            record(history::Outcome::kStopped, kStoppedReason);
            failure.kind = Failure::kStopped;
            return failure;
        }
        record(history::Outcome::kFailed, "SMTP error");
        failure.text = m_shell.SenderRefused() ? SenderRefusedText() : SendRefusedText();
        failure.logLine = "E:SMTP error!\r\n";
        return failure;
    } catch (const CExceptionBase& e) {
        if (m_shell.Stopped()) {
            record(history::Outcome::kStopped, kStoppedReason);
            failure.kind = Failure::kStopped;
            return failure;
        }
        record(history::Outcome::kFailed, e.what());
        failure.kind = Failure::kThrown;
        failure.text = SendFailureText(e);
        failure.logLine = std::string("E:<") + e.what() + "> at " + e.GetLocation() + "\r\n";
        return failure;
    } catch (...) {
        record(history::Outcome::kFailed, "UnknownException");
        failure.kind = Failure::kThrown;
        failure.text = SendUnknownFailureText();
        failure.logLine = "E:UnknownException!\r\n";
        return failure;
    }
}

bool Reserver::SendStopped() {
    m_shell.Box("メール送信を中止しました\n予約は送信されていません", kWarning);
    WriteLog("E:Stopped by user!\r\n");
    return false;
}

void Reserver::KeepInHistory(const history::Entry* was, const history::Entry& entry) {
    if (m_options.historyPath.empty()) return;
    // The send is made whatever becomes of its record (a file that cannot be
    // written, no memory for its lines); a log that cannot be written either
    // changes nothing.
    try {
        if (was != nullptr ? history::Replace(m_options.historyPath, *was, entry)
                           : history::Append(m_options.historyPath, entry))
            return;
    } catch (...) {
    }
    try {
        WriteLog("E:HistoryNotWritten\r\n");
    } catch (...) {
    }
}

}  // namespace reserve
