#include "reserve/Reserver.h"

#include <cstdio>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "afx/afx.h"  // the MB_* flags and ID* answers
#include "base/Exceptions.h"
#include "base/system.h"
#include "mail/SendFailure.h"
#include "reserve/ReserveTimes.h"
#include "reserve/StationTable.h"

namespace reserve {

namespace {

constexpr unsigned kWarning = MB_ICONEXCLAMATION;  // flags 48: OK button, exclamation icon

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
    std::vector<Reservation> reservations;
    std::string station;
    switch (ReadReservations(text, table, m_options.adjust, reservations, station)) {
    case ReadOutcome::kRead:
        break;
    case ReadOutcome::kMalformed:
        return false;
    case ReadOutcome::kUnknownStation:
        m_shell.Box(("<" + station + ">をチャンネル番号に変換できません\nStation.txtに設定してください").c_str(),
                    kWarning);
        return false;
    }
    for (const Reservation& r : reservations) {
        if (!Book(r, fileName)) return false;
    }
    return true;
}

bool Reserver::Book(const Reservation& r, const std::string& fileName) {
    if (!m_options.historyPath.empty() && !HasEnded(r.end)) {
        const std::vector<history::Entry> entries = history::Load(m_options.historyPath);
        const history::Entry* sent = history::FindSent(entries, r.channel, r.start, r.end);
        if (sent != nullptr &&
            m_shell.Box(DuplicateQuestion(*sent).c_str(), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES) {
            m_shell.Box("予約を中止しました", MB_ICONINFORMATION);
            return true;  // as a declined confirmation
        }
    }

    const std::string question = ConfirmationText(r.start, r.end, r.channel);
    if (m_shell.Box(question.c_str(), MB_YESNO | MB_ICONQUESTION) != IDYES) {
        m_shell.Box("予約を中止しました", MB_ICONINFORMATION);
        return true;  // declined: the file is done, the run goes on
    }

    history::Entry entry;
    entry.channel = r.channel;
    entry.start = r.start;
    entry.end = r.end;
    entry.station = r.station;
    entry.title = r.title;
    entry.file = fileName;
    return SendRecorded(entry, nullptr);
}

bool Reserver::Resend(const history::Entry& entry) { return SendRecorded(entry, &entry); }

bool Reserver::SendRecorded(history::Entry entry, const history::Entry* was) {
    // In the history before the first byte goes out: a run that dies during
    // the send leaves the reservation there, as "sending".
    const time_t now = std::time(nullptr);
    if (const tm* local = std::localtime(&now)) entry.sent = *local;
    entry.outcome = history::Outcome::kSending;
    entry.reason.clear();
    const history::Entry sending = entry;
    KeepInHistory(was, sending);
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
    constexpr char kStoppedReason[] = "Stopped by user";
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
