// CReserveApp: the application object. InitInstance does the whole run of
// one launch (settings, then setting mode or reserve mode); Reserve turns the
// text of one iEPG file into a confirmed, mailed reservation.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "afx/afx.h"
#include "reserve/History.h"

class CStationTable;
class CSmtpMailer;

class CReserveApp : public CWinApp {
public:
    CReserveApp();
    ~CReserveApp() override;

    // The whole run; always returns FALSE so the process ends without a
    // message loop.
    BOOL InitInstance() override;

    // Reserves the programme described by text (one iEPG file's bytes):
    // finds the station's channel in table, adjusts the times, asks the user
    // to confirm and sends the reservation with mailer. Returns true when the
    // file is done (mail accepted, or the user declined), false on a failure
    // (already shown and logged where there is something to say). Throws
    // CFileIOerror only when a log write outside the send fails.
    bool Reserve(const CStationTable& table, CSmtpMailer& mailer, const CString& text);

    // Sends one confirmed reservation: mailer.SendMail(start, end, channel),
    // its result and its exceptions. The Windows shell sends on a thread of
    // its own while this thread shows the progress window, whose 中止 calls
    // mailer.Cancel(); the window is gone when this returns. The tests' shell
    // sends directly. With m_bNotify the window shows at once and, after a
    // successful send, the notice.
    bool SendReservation(CSmtpMailer& mailer, const tm& start, const tm& end, unsigned channel);

    // Sends the reservation entry (channel, start, end, station, title,
    // file) with mailer through SendReservation, recorded in the history
    // (m_strHistoryPath; none when empty) first as "sending", over was when
    // given (the entry sent again), then with its outcome. A failure is
    // shown and logged as a reservation's failure is. Returns whether the
    // server took the mail.
    bool SendRecorded(CSmtpMailer& mailer, history::Entry entry, const history::Entry* was);

    // Sends the history's entry again, in setting mode: with the mail
    // settings of the INI file ini and the template format as they are now.
    // Returns whether the mail went out.
    bool Resend(const history::Entry& entry, const wchar_t* ini, const wchar_t* format);

    int32_t m_nStartAdjust = 0;           // minutes added to the start ("startad")
    int32_t m_nEndAdjust = 0;             // minutes added to the end ("endad")
    // After a successful send the progress window says so for a moment
    // ("notify"); off, a send ends silently.
    bool m_bNotify = false;
    // The history of reservation mails (UTF-8 path); empty: none is kept.
    std::string m_strHistoryPath;
    // The iEPG file being reserved, without its folder (code page 932), for
    // the history.
    std::string m_strFileName;

private:
    // Writes entry into the history, over was or (null) at its end; a
    // history that cannot be written is only logged (E:HistoryNotWritten).
    // Throws nothing.
    void KeepInHistory(const history::Entry* was, const history::Entry& entry);
};
