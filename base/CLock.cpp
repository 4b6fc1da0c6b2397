#include "base/CLock.h"

#include <cerrno>
#include <string>

#include "base/Cp932.h"
#include "base/Exceptions.h"

CLock::CLock(int32_t mode, const char* name) : m_mode(mode) {
    if (mode == 0) {
        m_section = plat::NewCriticalSection();
    } else if (mode == 1) {
        // A backslash in a Windows object name would select a namespace
        // ("Global\"), so the name uses forward slashes throughout. The
        // second byte of a double-byte character (ソ is 0x83 0x5C) is no
        // backslash and stays, or two names would meet.
        std::string slashed;
        if (name != nullptr) {
            slashed = name;
            for (size_t i = 0; i < slashed.size(); ++i) {
                if (cp932::IsLeadByte(static_cast<unsigned char>(slashed[i])))
                    ++i;
                else if (slashed[i] == '\\')
                    slashed[i] = '/';
            }
        }
        m_event = plat::OpenNamedLock(name != nullptr ? slashed.c_str() : nullptr);
        if (m_event == nullptr) THROW_AT(CNotEnoughResource, 0);
    } else {
        THROW_AT(CIllegalParam, 0);
    }
}

CLock::~CLock() {
    if (m_section != nullptr) {
        plat::DeleteCriticalSection(m_section);
        m_section = nullptr;
    }
    if (m_event != nullptr) {
        plat::CloseNamedLock(m_event);
        m_event = nullptr;
    }
}

void CLock::Lock(bool take, uint32_t timeoutMs) {
    switch (m_mode) {
    case 0:
        plat::EnterCriticalSection(m_section);
        return;
    case 1: {
        // Waiting and claiming are one step, so two waiters released by one
        // Unlock never both hold the lock.
        const uint32_t result = plat::WaitNamedLock(m_event, take, timeoutMs);
        if (result == plat::kWaitObject0) return;
        if (result == plat::kWaitTimeout) THROW_AT(CTimeOut, 0);
        THROW_AT(CFatal, static_cast<int32_t>(result), "WaitForSingleObject error!");
    }
    default:
        // The constructor accepts 0 and 1 only: the object is corrupted.
        THROW_AT(CIllegalPath, 0);
    }
}

void CLock::Unlock() {
    switch (m_mode) {
    case 0:
        plat::LeaveCriticalSection(m_section);
        break;
    case 1:
        if (!plat::ReleaseNamedLock(m_event)) {
            const int e = errno;
            THROW_AT(CFatal, e, plat::ErrnoText(e).c_str());
        }
        break;
    default:
        THROW_AT(CIllegalPath, 0);
    }
    // Lets a waiter that the release woke run before this thread goes on.
    plat::SleepMs(0);
}

CLockHolder::CLockHolder(CLock* lock) {
    // A null lock holds nothing (the destructor tests the pointer too).
    if (lock == nullptr) return;
    lock->Lock(true, plat::kInfinite);
    m_lock = lock;
}

CLockHolder::~CLockHolder() {
    if (m_lock != nullptr) m_lock->Unlock();
}
