// win32 side of the critical section and the named lock.
//
// The named lock is an auto-reset event, created signalled (free): a
// successful wait resets it in the same step, so two waiters released by
// one signal can never both claim it.
#include "platform/platform.h"

#include <cerrno>
#include <new>

namespace plat {

struct CriticalSection {
    CRITICAL_SECTION section;
};

CriticalSection* NewCriticalSection() {
    CriticalSection* cs = new CriticalSection;
    ::InitializeCriticalSection(&cs->section);
    return cs;
}

void EnterCriticalSection(CriticalSection* cs) { ::EnterCriticalSection(&cs->section); }
void LeaveCriticalSection(CriticalSection* cs) { ::LeaveCriticalSection(&cs->section); }

void DeleteCriticalSection(CriticalSection* cs) {
    ::DeleteCriticalSection(&cs->section);
    delete cs;
}

struct NamedLock {
    HANDLE event;
};

namespace {

// The callers report failures with errno; translate the Win32 error roughly.
void SetErrnoFromLastError() {
    switch (::GetLastError()) {
    case ERROR_INVALID_HANDLE:
        errno = EBADF;
        break;
    case ERROR_ACCESS_DENIED:
        errno = EACCES;
        break;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        errno = ENOMEM;
        break;
    default:
        errno = EINVAL;
        break;
    }
}

}  // namespace

NamedLock* OpenNamedLock(const char* name) {
    // No security attributes, auto-reset, initially signalled. An event of
    // that name that exists already is opened instead, so every process
    // using the name shares it.
    HANDLE event = ::CreateEventA(nullptr, FALSE, TRUE, name);
    if (event == nullptr) {
        SetErrnoFromLastError();
        return nullptr;
    }
    NamedLock* lock = new (std::nothrow) NamedLock{event};
    if (lock == nullptr) {
        ::CloseHandle(event);
        errno = ENOMEM;
    }
    return lock;
}

uint32_t WaitNamedLock(NamedLock* lock, bool take, uint32_t timeoutMs) {
    const DWORD result = ::WaitForSingleObject(lock->event, timeoutMs);
    if (result == WAIT_OBJECT_0) {
        // Waiting without taking: the wait reset the event, signal it again.
        if (!take && !::SetEvent(lock->event)) {
            SetErrnoFromLastError();
            return kWaitFailed;
        }
        return kWaitObject0;
    }
    if (result == WAIT_TIMEOUT) return kWaitTimeout;
    SetErrnoFromLastError();
    return kWaitFailed;
}

bool ReleaseNamedLock(NamedLock* lock) {
    if (::SetEvent(lock->event)) return true;
    SetErrnoFromLastError();
    return false;
}

void CloseNamedLock(NamedLock* lock) {
    if (lock == nullptr) return;
    ::CloseHandle(lock->event);
    delete lock;
}

// An event's name goes with its last handle; nothing is left to remove.
void ForgetNamedLock(const char*) {}

}  // namespace plat
