// posix side of the critical section and the named lock.
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
