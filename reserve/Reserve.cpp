// The reservation driver: one iEPG file's text in, one confirmed reservation
// handed to the mailer out.
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "afx/afx.h"
#include "app/ReserveApp.h"
#include "base/Exceptions.h"
#include "base/system.h"
#include "mail/SendFailure.h"
#include "mail/SmtpMailer.h"
#include "reserve/History.h"
#include "reserve/IepgText.h"
#include "reserve/ReserveTimes.h"
#include "reserve/StationTable.h"

namespace {

// The header keys, in the order they are looked for.
enum Field { kStation, kYear, kMonth, kDate, kStart, kEnd, kFieldCount };
const char* const kKeys[kFieldCount] = {"station:", "year:", "month:", "date:", "start:", "end:"};

constexpr unsigned kWarning = MB_ICONEXCLAMATION;  // flags 48: OK button, exclamation icon

void Log(const std::string& text) { CLogFile::GetInstance(nullptr)->Write(text.c_str()); }

// The user stopped the send (the progress window's 中止): said and logged
// like any failed send; the file fails.
bool SendStopped() {
    AfxMessageBox("メール送信を中止しました\n予約は送信されていません", kWarning);
    Log("E:Stopped by user!\r\n");
    return false;
}

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

}  // namespace

bool CReserveApp::Reserve(const CStationTable& table, CSmtpMailer& mailer, const CString& text) {
    // The file's text as a C string: it ends at its first NUL byte, so a NUL
    // can never hide inside a value that is later compared or shown.
    const std::string_view file(text.GetString());

    std::string values[kFieldCount];
    for (int i = 0; i < kFieldCount; ++i) {
        if (!iepg::ExtractValue(file, kKeys[i], values[i])) return false;
    }
    const std::string& station = values[kStation];
    // Optional: only the mail template may ask for it.
    std::string title;
    iepg::ExtractValue(file, "program-title:", title);

    // Values can be of any length, so the log texts are joined, not printed
    // into a buffer.
    Log("I:Station=" + station + "\r\nI:Date=" + values[kYear] + "/" + values[kMonth] + "/" +
        values[kDate] + "\r\nI:Start=" + values[kStart] + "\r\nI:End=" + values[kEnd] + "\r\n");

    const uint32_t channel = table.FindChannel(station.c_str());
    Log("I:CH=" + std::to_string(channel) + "\r\n");
    if (channel == 0) {
        AfxMessageBox(("<" + station + ">をチャンネル番号に変換できません\nStation.txtに設定してください").c_str(),
                      kWarning);
        return false;
    }

    tm start{};
    tm end{};
    if (!reserve::BuildTimes(values[kYear], values[kMonth], values[kDate], values[kStart], values[kEnd],
                             start, end)) {
        return false;
    }
    if (!reserve::AdjustTime(start, m_nStartAdjust)) return false;
    if (!reserve::AdjustTime(end, m_nEndAdjust)) return false;

    // Five writes: each asctime text ends in its own line feed, followed by
    // the log's line end.
    Log("I:AdjustedStart=");
    Log(reserve::AsctimeText(start));
    Log("\r\nI:AdjustedEnd=");
    Log(reserve::AsctimeText(end));
    Log("\r\n");

    mailer.m_strTitle = title;
    mailer.m_strStation = station;

    if (!m_strHistoryPath.empty() && !HasEnded(end)) {
        const std::vector<history::Entry> entries = history::Load(m_strHistoryPath);
        const history::Entry* sent = history::FindSent(entries, channel, start, end);
        if (sent != nullptr &&
            AfxMessageBox(DuplicateQuestion(*sent).c_str(), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES) {
            AfxMessageBox("予約を中止しました", MB_ICONINFORMATION);
            return true;  // as a declined confirmation
        }
    }

    const std::string question = reserve::ConfirmationText(start, end, channel);
    if (AfxMessageBox(question.c_str(), MB_YESNO | MB_ICONQUESTION) != IDYES) {
        AfxMessageBox("予約を中止しました", MB_ICONINFORMATION);
        return true;  // declined: the file is done, the run goes on
    }

    history::Entry entry;
    entry.channel = channel;
    entry.start = start;
    entry.end = end;
    entry.station = station;
    entry.title = title;
    entry.file = m_strFileName;
    return SendRecorded(mailer, entry, nullptr);
}

bool CReserveApp::SendRecorded(CSmtpMailer& mailer, history::Entry entry, const history::Entry* was) {
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
        if (SendReservation(mailer, entry.start, entry.end, entry.channel))
            return record(history::Outcome::kSent, "");
        if (mailer.Cancelled()) {
            record(history::Outcome::kStopped, kStoppedReason);
            return SendStopped();
        }
        record(history::Outcome::kFailed, "SMTP error");
        AfxMessageBox(mailer.SenderRefused() ? SenderRefusedText() : SendRefusedText(), kWarning);
        Log("E:SMTP error!\r\n");
        return false;
    } catch (const CExceptionBase& e) {
        if (mailer.Cancelled()) {
            record(history::Outcome::kStopped, kStoppedReason);
            return SendStopped();
        }
        record(history::Outcome::kFailed, e.what());
        AfxMessageBox(SendFailureText(e), kWarning);
        // GetLocation's buffer is shared: copied into the line at once.
        Log(std::string("E:<") + e.what() + "> at " + e.GetLocation() + "\r\n");
        return false;
    } catch (...) {
        record(history::Outcome::kFailed, "UnknownException");
        AfxMessageBox(SendUnknownFailureText(), kWarning);
        Log("E:UnknownException!\r\n");
        return false;
    }
}

void CReserveApp::KeepInHistory(const history::Entry* was, const history::Entry& entry) {
    if (m_strHistoryPath.empty()) return;
    // The send is made whatever becomes of its record (a file that cannot be
    // written, no memory for its lines); a log that cannot be written either
    // changes nothing.
    try {
        if (was != nullptr ? history::Replace(m_strHistoryPath, *was, entry)
                           : history::Append(m_strHistoryPath, entry))
            return;
    } catch (...) {
    }
    try {
        Log("E:HistoryNotWritten\r\n");
    } catch (...) {
    }
}
