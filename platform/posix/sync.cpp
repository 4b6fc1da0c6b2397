// posix side of the critical section, the named lock and the file lock.
//
// The critical section is a recursive pthread mutex. The named lock is a
// POSIX semaphore of value 0 (taken) or 1 (free): a named one is shared by
// every process that opens the same name, an unnamed one stays private to
// this process.
#include "platform/platform.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <new>
#include <pthread.h>
#include <semaphore.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace plat {

struct CriticalSection {
    pthread_mutex_t mutex;
};

CriticalSection* NewCriticalSection() {
    CriticalSection* cs = new CriticalSection;
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    // The owning thread may enter again, as with a Win32 critical section.
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    const int rc = pthread_mutex_init(&cs->mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    if (rc != 0) {
        delete cs;
        throw std::bad_alloc();
    }
    return cs;
}

void EnterCriticalSection(CriticalSection* cs) { pthread_mutex_lock(&cs->mutex); }
void LeaveCriticalSection(CriticalSection* cs) { pthread_mutex_unlock(&cs->mutex); }

void DeleteCriticalSection(CriticalSection* cs) {
    pthread_mutex_destroy(&cs->mutex);
    delete cs;
}

struct NamedLock {
    sem_t* sem = nullptr;  // the semaphore in use: &local, or one from sem_open
    sem_t local;           // the unnamed semaphore's storage
    bool named = false;
};

namespace {

// A POSIX semaphore name is one slash followed by characters without a
// slash. The lock's name may hold slashes, so they are escaped as "%2F"
// (and '%' itself as "%25"): distinct lock names stay distinct.
std::string SemaphoreName(const char* name) {
    std::string result = "/quorpa-lock.";
    for (const char* p = name; *p != '\0'; ++p) {
        if (*p == '/')
            result += "%2F";
        else if (*p == '%')
            result += "%25";
        else
            result += *p;
    }
    return result;
}

// The lock is free when the semaphore holds 1, taken when it holds 0.
constexpr unsigned kFree = 1;

timespec DeadlineAfter(uint32_t ms) {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    t.tv_sec += static_cast<time_t>(ms / 1000);
    t.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (t.tv_nsec >= 1000000000L) {
        t.tv_sec += 1;
        t.tv_nsec -= 1000000000L;
    }
    return t;
}

// Claims the semaphore (decrements it), waiting up to timeoutMs.
uint32_t Claim(sem_t* sem, uint32_t timeoutMs) {
    int rc;
    if (timeoutMs == kInfinite) {
        while ((rc = sem_wait(sem)) == -1 && errno == EINTR) {
        }
    } else if (timeoutMs == 0) {
        rc = sem_trywait(sem);
        if (rc == -1 && errno == EAGAIN) return kWaitTimeout;
    } else {
        // A monotonic deadline: setting the wall clock does not change it.
        const timespec deadline = DeadlineAfter(timeoutMs);
        while ((rc = sem_clockwait(sem, CLOCK_MONOTONIC, &deadline)) == -1 && errno == EINTR) {
        }
        if (rc == -1 && errno == ETIMEDOUT) return kWaitTimeout;
    }
    return rc == 0 ? kWaitObject0 : kWaitFailed;
}

}  // namespace

NamedLock* OpenNamedLock(const char* name) {
    // An empty name makes an unnamed object on Windows too.
    const bool named = name != nullptr && *name != '\0';
    // Made before the lock: when it runs out of memory (std::bad_alloc)
    // there is nothing to free yet.
    const std::string semaphoreName = named ? SemaphoreName(name) : std::string();
    NamedLock* lock = new (std::nothrow) NamedLock;
    if (lock == nullptr) {
        errno = ENOMEM;
        return nullptr;
    }
    if (!named) {
        if (sem_init(&lock->local, 0, kFree) != 0) {
            delete lock;
            return nullptr;
        }
        lock->sem = &lock->local;
        return lock;
    }
    // Never unlinked on close: every process that opens the name later
    // still shares the same lock.
    lock->sem = sem_open(semaphoreName.c_str(), O_CREAT, 0600, kFree);
    if (lock->sem == SEM_FAILED) {
        delete lock;
        return nullptr;
    }
    lock->named = true;
    return lock;
}

uint32_t WaitNamedLock(NamedLock* lock, bool take, uint32_t timeoutMs) {
    const uint32_t result = Claim(lock->sem, timeoutMs);
    // Waiting without taking: give the claim straight back.
    if (result == kWaitObject0 && !take && sem_post(lock->sem) != 0) return kWaitFailed;
    return result;
}

bool ReleaseNamedLock(NamedLock* lock) {
    // Releasing a free lock leaves it free, as setting a signalled event
    // does: a semaphore above 1 would let two holders in.
    int value = 0;
    if (sem_getvalue(lock->sem, &value) != 0) return false;
    if (value >= static_cast<int>(kFree)) return true;
    return sem_post(lock->sem) == 0;
}

void CloseNamedLock(NamedLock* lock) {
    if (lock == nullptr) return;
    if (lock->named)
        sem_close(lock->sem);
    else
        sem_destroy(&lock->local);
    delete lock;
}

void ForgetNamedLock(const char* name) {
    if (name != nullptr) sem_unlink(SemaphoreName(name).c_str());
}

}  // namespace plat

// ---- file lock and shared files ------------------------------------------

namespace plat {

namespace {

// How often a wait for another holder looks again.
constexpr uint32_t kPollMs = 10;

}  // namespace

struct FileLock {
    int fd;
};

FileLock* TakeFileLock(const std::string& path, uint32_t timeoutMs, bool* timedOut) {
    *timedOut = false;
    if (path.empty()) return nullptr;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return nullptr;
    // flock, not fcntl: its lock belongs to this open file, so two opens in
    // one process exclude each other as two processes do; the system
    // releases it when the file is closed or the process ends.
    const uint32_t startedAt = TickCount();
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            ::close(fd);
            return nullptr;
        }
        if (timeoutMs != kInfinite && TickCount() - startedAt >= timeoutMs) {
            ::close(fd);
            *timedOut = true;
            return nullptr;
        }
        SleepMs(kPollMs);
    }
    FileLock* lock = new (std::nothrow) FileLock{fd};
    if (lock == nullptr) ::close(fd);  // closing releases the lock
    return lock;
}

void ReleaseFileLock(FileLock* lock) {
    if (lock == nullptr) return;
    ::flock(lock->fd, LOCK_UN);
    ::close(lock->fd);
    delete lock;
}

SharedRead ReadSharedFile(const std::string& path, size_t maxBytes, std::string* data) {
    data->clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? SharedRead::kMissing : SharedRead::kFailed;
    struct stat info {};
    SharedRead result = SharedRead::kFailed;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        if (static_cast<unsigned long long>(info.st_size) > maxBytes) {
            result = SharedRead::kTooLarge;
        } else {
            result = SharedRead::kRead;
            char buffer[4096];
            // Read to the end, not to the size seen: a writer may have grown it.
            while (result == SharedRead::kRead) {
                const ssize_t got = ::read(fd, buffer, sizeof buffer);
                if (got < 0 && errno == EINTR) continue;
                if (got < 0)
                    result = SharedRead::kFailed;
                else if (got == 0)
                    break;
                else if (data->size() + static_cast<size_t>(got) > maxBytes)
                    result = SharedRead::kTooLarge;
                else
                    data->append(buffer, static_cast<size_t>(got));
            }
        }
    }
    ::close(fd);
    if (result != SharedRead::kRead) data->clear();
    return result;
}

bool MoveFileAside(const std::string& from, const std::string& to) {
    // A hard link fails when to exists, where rename would replace it.
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    if (::unlink(from.c_str()) == 0) return true;
    ::unlink(to.c_str());
    return false;
}

}  // namespace plat
