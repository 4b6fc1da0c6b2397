// The history of reservation mails: one line per reservation in a text file
// beside the executable, so that a second booking of the same programme (a
// double click, a browser that opens the download twice) can be asked about
// first, and so that no reservation is lost: a failed one stays there to be
// sent again from the settings dialog's 予約履歴.
// The file holds the most recent kMaxEntries reservations, oldest first, in
// code page 932 with CR LF line ends, one tab-separated line each:
//   sent  channel  start  end  station  title  outcome  [reason  file]
// with times as "YYYY/MM/DD HH:MM" ("sent" with seconds) and outcome "sent",
// "failed", "stopped" (by the user) or "sending" (recorded before the send;
// left so by a run that died during it). The reason and the file's name
// serve a reservation still to be sent again: a sent line, and a failed one
// with neither, leaves them out and keeps the seven fields of old, which
// every version reads (and asks its duplicate question by). A line that
// does not read so is skipped, never fatal.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <vector>

namespace history {

constexpr size_t kMaxEntries = 300;
// Longest station, title, reason and file name kept, in bytes (cut between
// characters): the file stays small whatever an iEPG file holds.
constexpr size_t kMaxFieldBytes = 256;

enum class Outcome { kFailed, kSent, kStopped, kSending };

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
};

// The entries of a history file's text, oldest first; unreadable lines are
// left out.
std::vector<Entry> Parse(const std::string& text);
// The file's text for entries (all of them; the caller keeps the limit).
std::string Format(const std::vector<Entry>& entries);

// The latest successful send of the same channel, start and end (to the
// minute) in entries, or null.
const Entry* FindSent(const std::vector<Entry>& entries, unsigned channel, const tm& start, const tm& end);

// Whether the programme of entry has started at now: sending it again
// may come too late.
bool HasStarted(const Entry& entry, time_t now);

// Whether a and b record the same send: the same time sent (to the second),
// channel, start and end.
bool SameSend(const Entry& a, const Entry& b);

// Reads the file at path (UTF-8); a missing or unreadable file is an empty
// history.
std::vector<Entry> Load(const std::string& path);
// Adds entry at the end of the file at path, keeping the most recent
// kMaxEntries, through a new file that replaces the old one
// (plat::ReplaceWholeFile), while other runs that change the file wait
// (a named lock). Returns false when the file could not be written; the old
// file then stays as it was. The same for the two below.
bool Append(const std::string& path, const Entry& entry);
// Writes entry over the latest entry that records the same send as was
// (SameSend), or at the end when the file no longer holds it.
bool Replace(const std::string& path, const Entry& was, const Entry& entry);
// Removes every entry that records the same send as one of gone.
bool Remove(const std::string& path, const std::vector<Entry>& gone);

// For tests: called between writing the new file and replacing the old one,
// with the new file's path; returning false fails the write at that point.
// Null (the default): nothing in between.
void SetReplaceSeam(bool (*seam)(const std::string& fresh));

}  // namespace history
