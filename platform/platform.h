// The operating-system services the portable core needs, in one interface.
//
// Two implementations with the same file names live in platform/win32/ and
// platform/posix/; CMake compiles the one for the target. Nothing outside
// platform/ tests which operating system it runs on. Types that differ per
// system (socket handles, address records) come from "sys_types.h", which
// each side provides with the same name.
#pragma once

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

}  // namespace plat

namespace plat {

// ---- files ------------------------------------------------------------------
// Paths are UTF-8, so that a folder outside the program's code page is reached.

// Reads the whole file into data (replaced). Returns false when it cannot be
// opened or read; data is then empty.
bool ReadWholeFile(const std::string& path, std::string* data);
// Writes data as the whole file without ever leaving it half written: into
// path + ".new" first, flushed to the disk, then moved over path in one
// step. Returns false, with path untouched and no ".new" left, on failure.
// beforeReplace, when given, is called with the new file's path once it is
// written and closed, just before the move; false fails the call there (a
// seam for tests of what a failure at that point leaves).
bool ReplaceWholeFile(const std::string& path, const std::string& data,
                      bool (*beforeReplace)(const std::string& fresh) = nullptr);

// ---- user interface ------------------------------------------------------

// Shows a modal message box with the MB_* flags in type, titled with the
// executable's base name; returns the button pressed. A system without
// message boxes writes the text to the standard error stream and answers
// IDOK, or IDNO when the box asks a question.
int ShowMessageBox(const char* text, unsigned type);

}  // namespace plat
