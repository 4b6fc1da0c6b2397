// The operating-system services the portable core needs, in one interface.
//
// Two implementations with the same file names live in platform/win32/ and
// platform/posix/; CMake compiles the one for the target. Nothing outside
// platform/ tests which operating system it runs on. Types that differ per
// system (socket handles, address records) come from "sys_types.h", which
// each side provides with the same name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "sys_types.h"

namespace plat {

// ---- time, process, errors ----------------------------------------------

// Gives up the processor for ms milliseconds; 0 gives up the rest of the
// time slice.
void SleepMs(uint32_t ms);
// Milliseconds since the system started, 32 bits, wrapping.
uint32_t TickCount();
uint32_t CurrentThreadId();
uint32_t CurrentProcessId();
// The local time zone's standard-time offset from UTC in seconds, as the C
// runtime's _timezone holds it: positive west of UTC (Japan gives -32400).
long TimezoneSeconds();
// Normalises t as a calendar time of no time zone (timegm): fields out of
// range carry into the next, tm_wday and tm_yday are filled in, tm_isdst is
// ignored, and no daylight saving rule of the process's zone can move the
// hour. Returns false when the runtime cannot represent the time; t is then
// unspecified.
bool NormaliseCalendarTime(tm& t);
// The runtime's message text for an errno value (strerror).
std::string ErrnoText(int errorNo);

// Code page 932 text as UTF-8 (Windows' code page 932 table on both sides).
// false when text is not code page 932; *utf8 is then left unchanged.
bool Cp932ToUtf8(const std::string& text, std::string* utf8);

// ---- critical section: exclusion between threads of one process ---------

struct CriticalSection;
// Allocates and initialises one; throws std::bad_alloc when memory runs out.
CriticalSection* NewCriticalSection();
// Waits without limit; re-entrant for the owning thread.
void EnterCriticalSection(CriticalSection* cs);
void LeaveCriticalSection(CriticalSection* cs);
void DeleteCriticalSection(CriticalSection* cs);

// ---- named lock: exclusion between processes that use the same name ------

struct NamedLock;
constexpr uint32_t kInfinite = 0xFFFFFFFFu;   // wait without limit
constexpr uint32_t kWaitObject0 = 0;          // the lock was free
constexpr uint32_t kWaitTimeout = 258;        // the time-out ran out first
constexpr uint32_t kWaitFailed = 0xFFFFFFFFu; // the wait itself failed

// Creates the lock, or opens it when one of that name exists in any process;
// a new lock starts free. A null or empty name makes a lock no other
// process can open. Returns null on failure.
NamedLock* OpenNamedLock(const char* name);
// Waits up to timeoutMs for the lock to be free. With take, a successful wait
// also claims it, in one step, so two waiters never both claim it; without
// take it stays free. Returns kWaitObject0, kWaitTimeout or kWaitFailed
// (errno set).
uint32_t WaitNamedLock(NamedLock* lock, bool take, uint32_t timeoutMs);
// Makes the lock free again; a free lock stays free, so releasing twice
// never lets two holders in. Returns false (errno set) on failure.
bool ReleaseNamedLock(NamedLock* lock);
void CloseNamedLock(NamedLock* lock);
// Removes the name, so that the next open of it creates a new, free lock;
// processes that have the lock open keep theirs. Where a name lives only as
// long as the lock's last user (Windows) there is nothing to remove.
void ForgetNamedLock(const char* name);


// ---- file lock: exclusion between processes through a file ------------------
// A lock file beside the data it guards (the history's "Quorpa.history.lock").
// The lock is the system's own lock on the open file, so it goes with the
// process that holds it: a holder that dies (crash, end task) frees it at
// once, users sharing one folder are served in turn, and nothing another
// program can create in advance stands for it. The file itself stays and
// holds nothing; it is never removed, so that every opener locks the same one.

struct FileLock;
// Opens the file at path (UTF-8), creating it if it is missing, and waits up
// to timeoutMs for its exclusive lock, which excludes every other holder, in
// this process or another. Returns the held lock, or null: *timedOut then
// says whether the wait ran out (true) or the file could not be opened or
// locked (false).
FileLock* TakeFileLock(const std::string& path, uint32_t timeoutMs, bool* timedOut);
// Releases the lock and closes the file; null does nothing.
void ReleaseFileLock(FileLock* lock);

// How ReadSharedFile ended.
enum class SharedRead { kRead, kMissing, kTooLarge, kFailed };
// Reads the whole file at path (UTF-8) into data (replaced; empty unless
// kRead), opened so that others may read, write, rename and replace it
// meanwhile (on Windows all three FILE_SHARE flags): a reader never makes
// another program's, or another run's, replacement of the file fail. A file
// larger than maxBytes is not read (kTooLarge).
SharedRead ReadSharedFile(const std::string& path, size_t maxBytes, std::string* data);
// Renames from to to, never over an existing file. Returns false when to
// exists or the rename fails; from is then unchanged.
bool MoveFileAside(const std::string& from, const std::string& to);
}  // namespace plat

namespace plat {

// ---- files ------------------------------------------------------------------
// Paths are UTF-8, so that a folder outside the program's code page is reached.

// Reads the whole file into data (replaced). Returns false when it cannot be
// opened or read; data is then empty.
bool ReadWholeFile(const std::string& path, std::string* data);
// Writes data as the whole file without ever leaving it half written: into
// path + ".new" first, flushed to the disk, then moved over path in one
// step. Returns false, with path untouched and no ".new" left, on failure,
// with one exception: where another program (an indexer, a virus scanner)
// holds path open so that it cannot be replaced, the move is tried again
// for up to kReplaceRetryMs, and when it still fails the new file is kept as
// path + ".new", whole and flushed, for the caller's next read to take up.
// beforeReplace, when given, is called with the new file's path once it is
// written and closed, just before the move; false fails the call there (a
// seam for tests of what a failure at that point leaves).
bool ReplaceWholeFile(const std::string& path, const std::string& data,
                      bool (*beforeReplace)(const std::string& fresh) = nullptr);
// How long ReplaceWholeFile goes on trying while path is held open: scanners
// hold a freshly written file for tens of milliseconds, rarely a second, and
// a caller holding a FileLock must finish well inside the others' wait.
constexpr uint32_t kReplaceRetryMs = 1500;

// ---- user interface ------------------------------------------------------

// Shows a modal message box with the MB_* flags in type, titled with the
// executable's base name; returns the button pressed. A system without
// message boxes writes the text to the standard error stream and answers
// IDOK, or IDNO when the box asks a question.
int ShowMessageBox(const char* text, unsigned type);

}  // namespace plat
