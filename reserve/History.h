// The history of reservation mails: one line per send in a text file beside
// the executable, so that a second booking of the same programme (a double
// click, a browser that opens the download twice) can be asked about first.
// The file holds the most recent kMaxEntries sends, oldest first, in code
// page 932 with CR LF line ends, one tab-separated line each:
//   sent  channel  start  end  station  title  outcome
// with times as "YYYY/MM/DD HH:MM" ("sent" with seconds) and outcome "sent"
// or "failed". A line that does not read so is skipped, never fatal.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <vector>

namespace history {

constexpr size_t kMaxEntries = 300;

struct Entry {
    tm sent{};          // local time of the send (its fields only)
    unsigned channel = 0;
    tm start{};         // the programme as reserved (adjusted), minutes
    tm end{};
    std::string station;
    std::string title;
    bool succeeded = false;
};

// The entries of a history file's text, oldest first; unreadable lines are
// left out.
std::vector<Entry> Parse(const std::string& text);
// The file's text for entries (all of them; the caller keeps the limit).
std::string Format(const std::vector<Entry>& entries);

// The latest successful send of the same channel, start and end (to the
// minute) in entries, or null.
const Entry* FindSent(const std::vector<Entry>& entries, unsigned channel, const tm& start, const tm& end);

// Reads the file at path (UTF-8); a missing or unreadable file is an empty
// history.
std::vector<Entry> Load(const std::string& path);
// Adds entry at the end of the file at path, keeping the most recent
// kMaxEntries, through a new file that replaces the old one
// (plat::ReplaceWholeFile). Returns false when the file could not be
// written; the old file then stays as it was.
bool Append(const std::string& path, const Entry& entry);

}  // namespace history
