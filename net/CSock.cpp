#include "net/CSock.h"

#include <cstring>
#include <new>

#include "base/Exceptions.h"

// Records the failed call's socket error and raises it with that code.
#define RAISE_SOCKET_ERROR()                        \
    do {                                            \
        m_lastError = plat::LastSocketError();      \
        THROW_AT(CSockIOerror, m_lastError);        \
    } while (0)

namespace {

// A server that is still starting gets a few seconds to come up.
constexpr int kConnectAttempts = 5;
constexpr uint32_t kConnectPauseMs = 1000;
// How soon an Abort ends the pause between two connection attempts.
constexpr uint32_t kAbortPollMs = 50;
constexpr int kListenBacklog = 32;

// Winsock is started once per process, by the first CSock; a failed start is
// not retried, its line on stderr is the report.
bool g_winsockStarted = false;

// Closes a socket taken out of its slot.
void CloseTaken(plat::Socket s) {
    plat::ShutdownBoth(s);
    plat::CloseSocket(s);
}

}  // namespace

CSock::CSock(plat::Socket socket, const sockaddr_in* address, int32_t type, bool canRecv, bool canSend,
             bool canAccept) {
    for (auto& lock : m_slotLock) lock = std::make_unique<CLock>(0, nullptr);
    m_wake.reset(plat::CreateWake());
    if (!m_wake) throw std::bad_alloc();
    if (!g_winsockStarted) {
        plat::StartupWinsock();
        g_winsockStarted = true;
    }
    for (int i = 0; i < kSlots; ++i) {
        m_socket[i] = plat::kInvalidSocket;
        m_type[i] = -1;
        m_addr[i] = sockaddr_in{};
        m_canRecv[i] = m_canSend[i] = m_canAccept[i] = false;
    }
    m_fromAddr = sockaddr_in{};
    m_count = 0;
    m_lastError = 0;
    if (socket != plat::kInvalidSocket) {
        m_socket[0] = socket;
        m_type[0] = type;
        m_canRecv[0] = canRecv;
        m_canSend[0] = canSend;
        m_canAccept[0] = canAccept;
        m_count = 1;
        if (address != nullptr) m_addr[0] = *address;
    }
}

CSock::~CSock() {
    for (int i = 0; i < kSlots; ++i) Close(i);
}

bool CSock::IsOpen(int32_t slot) const {
    return slot >= 0 && slot < kSlots && m_socket[slot] != plat::kInvalidSocket;
}

plat::Socket CSock::GetSocket(int32_t slot) const {
    return IsOpen(slot) ? m_socket[slot] : plat::kInvalidSocket;
}

int32_t CSock::Create(const sockaddr_in* address, int32_t type, bool server) {
    if (m_count >= kSlots) THROW_AT(CNotEnoughResource, 0);
    m_lastError = 0;
    plat::Socket s = plat::OpenSocket(type);
    if (s == plat::kInvalidSocket) {
        m_lastError = plat::LastSocketError();
        THROW_AT(CSockCreateError, 0);
    }
    int32_t slot = 0;
    while (slot < kSlots && m_socket[slot] != plat::kInvalidSocket) ++slot;
    if (slot == kSlots) {
        // Only a broken count gets here; the new socket belongs to no slot.
        plat::CloseSocket(s);
        THROW_AT(CNotEnoughResource, 0);
    }
    {
        // Stored under the lock, so an Abort either sees the socket or has
        // already been recorded.
        std::lock_guard<std::mutex> hold(m_abortLock);
        if (m_aborted) {
            plat::CloseSocket(s);
            THROW_AT(CSockIOerror, 0);
        }
        m_socket[slot] = s;
        ++m_count;
    }
    m_type[slot] = type;
    m_addr[slot] = sockaddr_in{};
    if (address == nullptr) return slot;

    m_addr[slot] = *address;
    if (server) {
        plat::SetReuseAddress(s);
        if (!plat::Bind(s, *address)) RAISE_SOCKET_ERROR();
        if (type == plat::kSockStream) {
            if (!plat::Listen(s, kListenBacklog)) RAISE_SOCKET_ERROR();
            m_canAccept[slot] = true;
        } else {
            m_canRecv[slot] = m_canSend[slot] = true;
        }
    } else if (type == plat::kSockDgram) {
        sockaddr_in local{};
        local.sin_family = address->sin_family;
        local.sin_port = address->sin_port;
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        plat::SetReuseAddress(s);
        if (!plat::Bind(s, local)) RAISE_SOCKET_ERROR();
        if (!plat::SetBroadcast(s)) RAISE_SOCKET_ERROR();
        m_canRecv[slot] = m_canSend[slot] = true;
    } else {
        bool connected = false;
        for (int attempt = 1; attempt <= kConnectAttempts && !connected && !m_aborted; ++attempt) {
            // A socket whose connect failed is not connected again: Winsock
            // leaves its state undefined (Wine's then never completes).
            if (attempt > 1 && !Renew(slot, s)) break;
            if (m_onConnectAttempt) m_onConnectAttempt(attempt);
            connected = plat::Connect(s, *address, m_wake.get());
            if (!connected) {
                m_lastError = plat::LastSocketError();
                for (uint32_t paused = 0; paused < kConnectPauseMs && !m_aborted; paused += kAbortPollMs)
                    plat::SleepMs(kAbortPollMs);
            }
        }
        // A connection made just as the abort came is not used either.
        if (!connected || m_aborted) THROW_AT(CSockIOerror, m_lastError);
        m_canRecv[slot] = m_canSend[slot] = true;
    }
    return slot;
}

bool CSock::Renew(int32_t slot, plat::Socket& s) {
    const plat::Socket fresh = plat::OpenSocket(m_type[slot]);
    if (fresh == plat::kInvalidSocket) {
        m_lastError = plat::LastSocketError();
        return false;
    }
    {
        std::lock_guard<std::mutex> hold(m_abortLock);
        m_socket[slot] = fresh;
    }
    plat::CloseSocket(s);
    s = fresh;
    return true;
}

void CSock::Send(const char* data, int32_t slot, int32_t length, const sockaddr_in* destination) {
    m_lastError = 0;
    if (!IsOpen(slot) || !m_canSend[slot] || data == nullptr || length < 0) THROW_AT(CIllegalParam, 0);
    if (length == 0) length = static_cast<int32_t>(std::strlen(data));

    if (m_type[slot] == plat::kSockStream) {
        // A stream socket may take only part of the data in one call; the
        // rest must follow, or the peer gets a message cut short. An empty
        // text still makes its one call.
        int32_t sent = 0;
        do {
            int n = plat::Send(m_socket[slot], data + sent, length - sent, m_wake.get());
            if (n < 0) RAISE_SOCKET_ERROR();
            sent += n;
        } while (sent < length);
    } else {
        // A datagram goes out whole or not at all.
        if (destination != nullptr) m_addr[slot] = *destination;
        if (plat::SendTo(m_socket[slot], data, length, m_addr[slot]) < 0) RAISE_SOCKET_ERROR();
    }
}

int32_t CSock::Receive(char* buffer, int32_t slot) {
    m_lastError = 0;
    if (!IsOpen(slot) || !m_canRecv[slot] || buffer == nullptr) THROW_AT(CIllegalParam, 0);
    CLockHolder hold(m_slotLock[slot].get());

    // A peer that stops answering must not hold the caller for ever, and an
    // Abort ends the wait.
    int ready = plat::WaitReadable(m_socket[slot], m_receiveTimeoutMs, m_wake.get());
    if (ready < 0) RAISE_SOCKET_ERROR();
    if (ready == 0) THROW_AT(CTimeOut, 0);
    int n = m_type[slot] == plat::kSockStream ? plat::Recv(m_socket[slot], buffer, kReceiveSize)
                                              : plat::RecvFrom(m_socket[slot], buffer, kReceiveSize, &m_fromAddr);
    if (n > 0) return n;
    if (n == 0) {
        Close(slot);
        THROW_AT(CSockClose, 0);
    }
    RAISE_SOCKET_ERROR();
}

int32_t CSock::ReceiveLine(char* buffer, int32_t slot) {
    char piece[kReceiveSize];
    int32_t total = 0;   // bytes received
    int32_t length = 0;  // characters kept in buffer
    bool lineFeed = false;
    if (buffer == nullptr) THROW_AT(CIllegalParam, 0);
    buffer[0] = '\0';
    do {
        int32_t n = Receive(piece, slot);
        // Each piece counts up to its first zero byte, and the whole text
        // stays within kReceiveSize characters.
        const char* end = static_cast<const char*>(std::memchr(piece, '\0', n));
        int32_t keep = end != nullptr ? static_cast<int32_t>(end - piece) : n;
        if (keep > kReceiveSize - total) keep = kReceiveSize - total;
        std::memcpy(buffer + length, piece, keep);
        lineFeed = std::memchr(piece, '\n', keep) != nullptr;
        length += keep;
        buffer[length] = '\0';
        total += n;
    } while (total < kReceiveSize && !lineFeed);
    return length;
}

void CSock::Close(int32_t slot) {
    if (slot < 0 || slot >= kSlots) return;
    CLockHolder hold(m_slotLock[slot].get());
    const plat::Socket s = m_socket[slot];
    if (s == plat::kInvalidSocket) return;
    FreeSlot(slot);
    CloseTaken(s);
}

void CSock::Release(int32_t slot) {
    if (slot < 0 || slot >= kSlots) return;
    CLockHolder hold(m_slotLock[slot].get());
    FreeSlot(slot);
}

void CSock::FreeSlot(int32_t slot) {
    std::lock_guard<std::mutex> hold(m_abortLock);
    // Freeing a free slot again would break the count of occupied slots.
    if (m_socket[slot] != plat::kInvalidSocket) {
        m_socket[slot] = plat::kInvalidSocket;
        m_canRecv[slot] = m_canSend[slot] = m_canAccept[slot] = false;
        --m_count;
    }
}

void CSock::Abort() noexcept {
    std::lock_guard<std::mutex> hold(m_abortLock);
    if (m_aborted) return;
    m_aborted = true;
    plat::SetWake(m_wake.get());
}

uint32_t CSock::GetLocalAddress(int32_t slot) {
    if (!IsOpen(slot)) return 0;
    sockaddr_in local{};
    {
        CLockHolder hold(m_slotLock[slot].get());
        if (!plat::GetSockName(m_socket[slot], &local)) RAISE_SOCKET_ERROR();
    }
    uint32_t address = local.sin_addr.s_addr;
    if (address != htonl(INADDR_ANY) && address != htonl(INADDR_LOOPBACK) && address != htonl(INADDR_BROADCAST))
        return address;

    // A socket bound to no particular address says nothing useful about the
    // machine: take the address its name resolves to.
    char name[plat::kHostNameSize] = "";
    if (!plat::GetHostName(name, sizeof name)) RAISE_SOCKET_ERROR();
    // A machine whose own name resolves nowhere can still send mail: the
    // address only makes a message identifier unique.
    if (!plat::HostAddress(name, &address)) return htonl(INADDR_LOOPBACK);
    return address;
}
