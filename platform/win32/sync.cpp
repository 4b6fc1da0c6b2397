// win32 side of the critical section, the named lock and the file lock.
//
// The named lock is an auto-reset event, created signalled (free): a
// successful wait resets it in the same step, so two waiters released by
// one signal can never both claim it.
#include "platform/platform.h"

#include <cerrno>
#include <new>
#include <string>

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

// ---- file lock and shared files ------------------------------------------

namespace plat {

namespace {

std::wstring WideFromUtf8(const std::string& text) {
    const int size = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.c_str(), -1, nullptr, 0);
    if (size <= 1) return std::wstring();
    std::wstring wide(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.c_str(), -1, &wide[0], size);
    wide.resize(static_cast<size_t>(size) - 1);
    return wide;
}

// Another program has the file open in a way that excludes this open, for
// now (a scanner reading it): worth another try.
bool HeldByAnother(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION; }

// How often a wait for another holder looks again.
constexpr DWORD kPollMs = 10;
// How long a read waits for a program that holds the file without sharing.
constexpr DWORD kReadRetryMs = 1000;

bool Expired(DWORD startedAt, uint32_t timeoutMs) {
    return timeoutMs != kInfinite && ::GetTickCount() - startedAt >= timeoutMs;
}

}  // namespace

struct FileLock {
    HANDLE file;
};

FileLock* TakeFileLock(const std::string& path, uint32_t timeoutMs, bool* timedOut) {
    *timedOut = false;
    const std::wstring wide = WideFromUtf8(path);
    if (wide.empty()) return nullptr;
    const DWORD startedAt = ::GetTickCount();
    // Every share flag: the file holds nothing, only its lock counts, and a
    // scanner that opens it must not keep a run out.
    HANDLE file = INVALID_HANDLE_VALUE;
    for (;;) {
        file = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) break;
        if (!HeldByAnother(::GetLastError())) return nullptr;
        if (Expired(startedAt, timeoutMs)) {
            *timedOut = true;
            return nullptr;
        }
        ::Sleep(kPollMs);
    }
    // The first byte's lock, which the system releases when the handle is
    // closed or its process ends. Past the end of the file is allowed.
    for (;;) {
        OVERLAPPED at{};
        if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) break;
        const DWORD error = ::GetLastError();
        if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) {
            ::CloseHandle(file);
            return nullptr;
        }
        if (Expired(startedAt, timeoutMs)) {
            ::CloseHandle(file);
            *timedOut = true;
            return nullptr;
        }
        ::Sleep(kPollMs);
    }
    FileLock* lock = new (std::nothrow) FileLock{file};
    if (lock == nullptr) ::CloseHandle(file);  // closing releases the lock
    return lock;
}

void ReleaseFileLock(FileLock* lock) {
    if (lock == nullptr) return;
    OVERLAPPED at{};
    ::UnlockFileEx(lock->file, 0, 1, 0, &at);
    ::CloseHandle(lock->file);
    delete lock;
}

SharedRead ReadSharedFile(const std::string& path, size_t maxBytes, std::string* data) {
    data->clear();
    const std::wstring wide = WideFromUtf8(path);
    if (wide.empty()) return SharedRead::kFailed;
    const DWORD startedAt = ::GetTickCount();
    HANDLE file = INVALID_HANDLE_VALUE;
    for (;;) {
        file = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) break;
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return SharedRead::kMissing;
        if (!HeldByAnother(error) || Expired(startedAt, kReadRetryMs)) return SharedRead::kFailed;
        ::Sleep(kPollMs);
    }
    LARGE_INTEGER size{};
    SharedRead result = SharedRead::kFailed;
    if (::GetFileSizeEx(file, &size)) {
        if (static_cast<unsigned long long>(size.QuadPart) > maxBytes) {
            result = SharedRead::kTooLarge;
        } else {
            result = SharedRead::kRead;
            char buffer[4096];
            DWORD got = 0;
            // Read to the end, not to the size seen: a writer may have grown it.
            while (result == SharedRead::kRead) {
                if (!::ReadFile(file, buffer, sizeof buffer, &got, nullptr))
                    result = SharedRead::kFailed;
                else if (got == 0)
                    break;
                else if (data->size() + got > maxBytes)
                    result = SharedRead::kTooLarge;
                else
                    data->append(buffer, got);
            }
        }
    }
    ::CloseHandle(file);
    if (result != SharedRead::kRead) data->clear();
    return result;
}

bool MoveFileAside(const std::string& from, const std::string& to) {
    const std::wstring source = WideFromUtf8(from);
    const std::wstring target = WideFromUtf8(to);
    // Without MOVEFILE_REPLACE_EXISTING: an existing target fails the move.
    return !source.empty() && !target.empty() && ::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
}

}  // namespace plat
