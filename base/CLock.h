// CLock: mutual exclusion in one of two modes chosen at construction.
//   mode 0: a critical section; excludes threads of one process; re-entrant.
//   mode 1: a named lock shared by every process that uses the same name
//           (backslashes in the name count as forward slashes).
// CLockHolder holds a CLock for the length of a block, so the lock is
// released when an exception leaves it.
#pragma once

#include <cstdint>

#include "platform/platform.h"

class CLock {
public:
    // Throws CIllegalParam for a mode other than 0 and 1, CNotEnoughResource
    // when the mode-1 lock cannot be created, std::bad_alloc when the
    // critical section cannot be allocated; nothing is left allocated then.
    CLock(int32_t mode, const char* name);
    virtual ~CLock();
    CLock(const CLock&) = delete;
    CLock& operator=(const CLock&) = delete;

    // Mode 0 ignores both arguments and waits without limit. Mode 1 waits up
    // to timeoutMs (plat::kInfinite: without limit) and, with take, claims the
    // lock in the same step, so two waiters never both claim it. Throws
    // CTimeOut when the wait times out, CFatal (the wait result) when it
    // fails, CIllegalPath when the stored mode is corrupted.
    void Lock(bool take = true, uint32_t timeoutMs = plat::kInfinite);
    // Releases, then gives up the rest of the time slice. Releasing a free
    // mode-1 lock leaves it free. Throws CFatal (errno, its text) when a
    // mode-1 lock cannot be released, CIllegalPath when the stored mode is
    // corrupted.
    void Unlock();

private:
    plat::CriticalSection* m_section = nullptr;  // mode 0, owned
    plat::NamedLock* m_event = nullptr;          // mode 1, owned
    int32_t m_mode;
};

class CLockHolder {
public:
    // Locks (take, no time-out); the destructor unlocks. A null lock holds
    // nothing. Lock's exceptions pass through the constructor; a release
    // that fails in the destructor ends the process (std::terminate), since
    // a destructor cannot throw.
    explicit CLockHolder(CLock* lock);
    virtual ~CLockHolder();
    CLockHolder(const CLockHolder&) = delete;
    CLockHolder& operator=(const CLockHolder&) = delete;

private:
    CLock* m_lock = nullptr;
};
