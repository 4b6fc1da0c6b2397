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
// does not read so is skipped, never fatal; a UTF-8 byte order mark before
// the first line (an editor's) is skipped too.
// An entry may carry more: its identity and the programme as its iEPG file
// gave it. They follow the file's name in the last field, each as
// "*key=value" ('*' is never part of a Windows file name, nor the second
// byte of a double-byte character):
//   *id=<identity>  *from=<start>  *to=<end>  *pid=<program-id>
// with the programme's own start and end (before the adjustments) written as
// the other times. Such a line always has the nine fields, so every earlier
// version still reads it, as a line whose file name it never shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "reserve/Entry.h"
#include "reserve/HistoryLine.h"

namespace history {

constexpr size_t kMaxEntries = 300;
// The largest file read: well over kMaxEntries of the longest lines Format
// writes (about 1.3 KB each). A larger file is none this program wrote (a
// damaged or hand-made one); it is moved aside, kept, never read whole while
// other runs wait for their turn.
constexpr size_t kMaxFileBytes = 1024 * 1024;
// How long a change of the file waits for its turn: the time another run
// may hold it for a read, a write and the replacement's retries
// (plat::kReplaceRetryMs) is well inside.
constexpr uint32_t kTurnWaitMs = 5000;
// A new identity: different for every call in this process and for every
// process running at once (its process id, the time and a count).
std::string NewId();

// Sets entry's programme from the file's own start and end (before the
// adjustments; normalised here) and its program-id (kept when it is 1 to 64
// letters, digits, '.', '-' or '_'; dropped otherwise). Returns false, with
// the programme unknown, when the times cannot be normalised or held.
bool SetProgramme(Entry& entry, tm start, tm end, const std::string& programId);

// Whether recorded is a reservation of the programme of wanted: with both
// programmes known, the same station (as the file keeps it), the same own
// start and end (the file's date and times, before the adjustments) and the
// same program-id where both have one (sites reuse ids, so an id alone
// never makes two programmes one); with either unknown (an earlier
// version's line), the same channel and adjusted start and end, as that
// version asked.
bool SameProgramme(const Entry& recorded, const Entry& wanted);

// The latest successful send of the same channel, start and end (to the
// minute) in entries, or null.
const Entry* FindSent(const std::vector<Entry>& entries, unsigned channel, const tm& start, const tm& end);
// The latest successful send of wanted's programme (SameProgramme), or null.
const Entry* FindSent(const std::vector<Entry>& entries, const Entry& wanted);

// Whether the programme of entry has started at now: sending it again
// may come too late.
bool HasStarted(const Entry& entry, time_t now);

// Whether a and b record the same send: the same identity (or both none),
// time sent (to the second), channel, start and end.
bool SameSend(const Entry& a, const Entry& b);

// Reads the file at path (UTF-8), letting others replace it meanwhile; a
// missing, unreadable or too large (kMaxFileBytes) file is an empty history.
// A new file that a replacement left beside it (path + ".new", see
// plat::ReplaceWholeFile) is read too: its entries take the place of the
// same sends' (SameSend) and the others follow.
std::vector<Entry> Load(const std::string& path);
// Adds entry at the end of the file at path, keeping the most recent
// kMaxEntries, through a new file that replaces the old one
// (plat::ReplaceWholeFile), in a turn of its own: other runs that change the
// file wait up to kTurnWaitMs (a lock on path + ".lock", which a run that
// dies gives up at once). In its turn a file too large to read is moved
// aside as path + ".too-large" (or ".too-large.2" and on). Returns false when
// the file could not be read or written, or entry's times cannot be held
// (CanHold); the old file then stays as it was. The same for the ones below.
bool Append(const std::string& path, const Entry& entry);
// Writes entry over the latest entry that records the same send as was
// (SameSend), or at the end when the file no longer holds it.
bool Replace(const std::string& path, const Entry& was, const Entry& entry);
// Removes every entry that records the same send as one of gone.
bool Remove(const std::string& path, const std::vector<Entry>& gone);

// How AppendUnlessSent ended.
enum class Recorded { kWritten, kAlreadySent, kNotWritten };
// The duplicate check and the record of a new send in one turn, so that two
// runs at once never both miss the question: when the file holds an entry of
// entry's programme (SameProgramme) that was sent, or that another run
// recorded as being sent at or after since (the time this run last looked),
// and that is not asked (the send the user was already asked about; null:
// none), copies the latest such entry to *found and writes nothing
// (kAlreadySent). Otherwise appends entry as Append does: kWritten, or
// kNotWritten when Append would return false.
Recorded AppendUnlessSent(const std::string& path, const Entry& entry, time_t since, const Entry* asked,
                          Entry* found);

// For tests: called between writing the new file and replacing the old one,
// with the new file's path; returning false fails the write at that point.
// Null (the default): nothing in between.
void SetReplaceSeam(bool (*seam)(const std::string& fresh));

}  // namespace history
