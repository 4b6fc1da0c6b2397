// One entry of the history of reservation mails (History.h keeps the file,
// HistoryLine.h its lines): the programme as it was reserved, when it was
// sent and how that ended. An entry is made from the programme the mailer
// sends (MailProgramme) and gives it back for a resend. Plain values; owns
// its texts; nothing here throws but std::bad_alloc.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>

#include "mail/MailProgramme.h"

namespace history {

// Longest station, title, reason and file name kept, in bytes (cut between
// characters): the file stays small whatever an iEPG file holds.
constexpr size_t kMaxFieldBytes = 256;

enum class Outcome { kFailed, kSent, kStopped, kSending };

// The programme as its iEPG file gives it, before the adjustments: what the
// duplicate question asks by, so that changed adjustments still find it.
struct Programme {
    bool known = false;     // false for entries of earlier versions
    tm start{};             // minutes; normalised (SetProgramme)
    tm end{};
    std::string programId;  // the file's program-id, when it has a usable one
};

struct Entry {
    tm sent{};          // local time of the send (its fields only)
    unsigned channel = 0;
    tm start{};         // the programme as reserved (adjusted), minutes
    tm end{};
    std::string station;
    std::string title;
    Outcome outcome = Outcome::kFailed;
    std::string reason;  // why it failed, as the log names it ("SMTP error")
    std::string file;    // the iEPG file's name, without its folder
    // (reason and file are not kept for a sent entry)
    std::string id;      // its identity (NewId); empty in earlier versions' lines
    Programme programme;
};

// An entry of mailed (its channel, times, station and title), of the iEPG
// file file; not yet sent, without identity or programme.
inline Entry EntryOf(const MailProgramme& mailed, const std::string& file) {
    Entry entry;
    entry.channel = mailed.channel;
    entry.start = mailed.start;
    entry.end = mailed.end;
    entry.station = mailed.station;
    entry.title = mailed.title;
    entry.file = file;
    return entry;
}

// The programme entry records, as the mailer sends it.
inline MailProgramme Mailed(const Entry& entry) {
    return {entry.start, entry.end, entry.channel, entry.title, entry.station};
}

}  // namespace history
