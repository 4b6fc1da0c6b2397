#include "platform/net.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace plat {

namespace {

constexpr WORD kWinsockVersion = MAKEWORD(2, 2);

// Set once StartupWinsock has succeeded in this process.
bool g_started = false;

int AddressLength() { return static_cast<int>(sizeof(sockaddr_in)); }

void __cdecl CleanupWinsock() { ::WSACleanup(); }

bool SetOne(Socket s, int option) {
    BOOL one = TRUE;
    return ::setsockopt(s, SOL_SOCKET, option, reinterpret_cast<const char*>(&one), sizeof one) == 0;
}

// Associates s with an event for the network events while it lives (which
// makes s non-blocking), and makes s blocking again at the end.
class EventSelect {
public:
    EventSelect(Socket s, long events) : m_socket(s), m_event(::WSACreateEvent()) {
        m_ok = m_event != WSA_INVALID_EVENT && ::WSAEventSelect(s, m_event, events) == 0;
    }
    ~EventSelect() {
        const int error = ::WSAGetLastError();  // what the caller's failure was
        ::WSAEventSelect(m_socket, nullptr, 0);
        u_long blocking = 0;
        ::ioctlsocket(m_socket, FIONBIO, &blocking);
        if (m_event != WSA_INVALID_EVENT) ::WSACloseEvent(m_event);
        ::WSASetLastError(error);
    }
    EventSelect(const EventSelect&) = delete;
    EventSelect& operator=(const EventSelect&) = delete;

    bool Ok() const { return m_ok; }
    // Waits for the events or the wake-up: 1 an event, 0 time-out, -1
    // failure, kWoken. *events gets the events that happened (and resets them).
    int Wait(Wake* wake, uint32_t timeoutMs, WSANETWORKEVENTS* events);

private:
    Socket m_socket;
    WSAEVENT m_event;
    bool m_ok = false;
};

}  // namespace

// A manual-reset event: once set it stays set.
struct Wake {
    HANDLE event = nullptr;
};

namespace {

bool IsSet(Wake* wake) { return ::WaitForSingleObject(wake->event, 0) == WAIT_OBJECT_0; }

int Woken() {
    ::WSASetLastError(WSAEINTR);
    return kWoken;
}

int EventSelect::Wait(Wake* wake, uint32_t timeoutMs, WSANETWORKEVENTS* events) {
    const WSAEVENT handles[2] = {wake->event, m_event};
    const DWORD r = ::WSAWaitForMultipleEvents(2, handles, FALSE, timeoutMs == kInfinite ? WSA_INFINITE : timeoutMs,
                                               FALSE);
    if (r == WSA_WAIT_EVENT_0) return Woken();
    if (r == WSA_WAIT_TIMEOUT) return 0;
    if (r != WSA_WAIT_EVENT_0 + 1) return -1;
    *events = WSANETWORKEVENTS{};
    if (::WSAEnumNetworkEvents(m_socket, m_event, events) != 0) return -1;
    return 1;
}

// Whether s is readable (writable) now, without waiting.
bool ReadyNow(Socket s, bool forWriting) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval now{0, 0};
    return ::select(0, forWriting ? nullptr : &set, forWriting ? &set : nullptr, nullptr, &now) > 0;
}

// How often a wait for writability looks again: Windows signals FD_WRITE only
// after a send has failed for want of room, which a blocking socket never
// sees.
constexpr uint32_t kWritablePollMs = 50;

}  // namespace

Wake* CreateWake() {
    HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) return nullptr;
    auto* wake = new Wake;
    wake->event = event;
    return wake;
}

void SetWake(Wake* wake) {
    if (wake != nullptr) ::SetEvent(wake->event);
}

bool IsWakeSet(Wake* wake) { return wake != nullptr && IsSet(wake); }

void DestroyWake(Wake* wake) {
    if (wake == nullptr) return;
    ::CloseHandle(wake->event);
    delete wake;
}

int StartupWinsock() {
    // A second clean-up here would bring the count of start-ups to zero and
    // end every socket the process already has.
    if (g_started) return 0;
    // Undo a start-up made elsewhere, so that one clean-up at exit balances
    // the start-up made here.
    ::WSACleanup();
    WSADATA data;
    int r = ::WSAStartup(kWinsockVersion, &data);
    if (r != 0) {
        int e = ::WSAGetLastError();
        std::fprintf(stderr, "WSAStartup() failed.(%d) errno=%d(%s)\n", r, e, std::strerror(e));
        return r;
    }
    g_started = true;
    r = std::atexit(CleanupWinsock);
    if (r != 0) {
        std::fprintf(stderr, "atexit() failed.(%d)\n", r);
        return r;
    }
    return 0;
}

int LastSocketError() { return ::WSAGetLastError(); }

Socket OpenSocket(int type) {
    int sysType = type == kSockStream ? SOCK_STREAM : type == kSockDgram ? SOCK_DGRAM : type;
    return ::socket(AF_INET, sysType, 0);
}

bool SetReuseAddress(Socket s) { return SetOne(s, SO_REUSEADDR); }
bool SetBroadcast(Socket s) { return SetOne(s, SO_BROADCAST); }

bool Bind(Socket s, const sockaddr_in& address) {
    return ::bind(s, reinterpret_cast<const sockaddr*>(&address), AddressLength()) == 0;
}

bool Listen(Socket s, int backlog) { return ::listen(s, backlog) == 0; }

Socket Accept(Socket s, sockaddr_in* peer) {
    sockaddr_in from{};
    int length = AddressLength();
    Socket accepted = ::accept(s, reinterpret_cast<sockaddr*>(&from), &length);
    if (accepted != kInvalidSocket && peer != nullptr) *peer = from;
    return accepted;
}

bool Connect(Socket s, const sockaddr_in& address, Wake* wake) {
    const auto* to = reinterpret_cast<const sockaddr*>(&address);
    if (wake == nullptr) return ::connect(s, to, AddressLength()) == 0;
    if (IsSet(wake)) {
        Woken();
        return false;
    }
    int error = 0;
    {
        EventSelect select(s, FD_CONNECT);
        if (!select.Ok()) return false;
        if (::connect(s, to, AddressLength()) == 0) return true;
        error = ::WSAGetLastError();
        if (error == WSAEWOULDBLOCK) {
            WSANETWORKEVENTS events{};
            const int r = select.Wait(wake, kInfinite, &events);
            error = r == 1 ? events.iErrorCode[FD_CONNECT_BIT] : ::WSAGetLastError();
        }
    }
    ::WSASetLastError(error);
    return error == 0;
}

int Send(Socket s, const char* data, int length, Wake* wake) {
    if (wake == nullptr) {
        int n = ::send(s, data, length, 0);
        return n == SOCKET_ERROR ? -1 : n;
    }
    if (IsSet(wake)) {
        Woken();
        return -1;
    }
    EventSelect select(s, FD_WRITE | FD_CLOSE);
    if (!select.Ok()) return -1;
    for (;;) {
        const int n = ::send(s, data, length, 0);
        if (n != SOCKET_ERROR) return n;
        if (::WSAGetLastError() != WSAEWOULDBLOCK) return -1;
        // FD_WRITE comes once the room this send lacked is free again.
        WSANETWORKEVENTS events{};
        const int r = select.Wait(wake, kInfinite, &events);
        if (r != 1) return -1;
        if (events.lNetworkEvents & FD_CLOSE) {
            ::WSASetLastError(events.iErrorCode[FD_CLOSE_BIT] != 0 ? events.iErrorCode[FD_CLOSE_BIT] : WSAECONNRESET);
            return -1;
        }
    }
}

int SendTo(Socket s, const char* data, int length, const sockaddr_in& to) {
    int n = ::sendto(s, data, length, 0, reinterpret_cast<const sockaddr*>(&to), AddressLength());
    return n == SOCKET_ERROR ? -1 : n;
}

int Recv(Socket s, char* buffer, int size) {
    int n = ::recv(s, buffer, size, 0);
    return n == SOCKET_ERROR ? -1 : n;
}

int RecvFrom(Socket s, char* buffer, int size, sockaddr_in* from) {
    sockaddr_in sender{};
    int length = AddressLength();
    int n = ::recvfrom(s, buffer, size, 0, reinterpret_cast<sockaddr*>(&sender), &length);
    if (n == SOCKET_ERROR) return -1;
    if (from != nullptr) *from = sender;
    return n;
}

int WaitSocket(Socket s, bool forWriting, uint32_t timeoutMs, Wake* wake) {
    if (wake == nullptr) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval limit{static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000L};
        // The first argument is ignored by Winsock.
        int r = ::select(0, forWriting ? nullptr : &set, forWriting ? &set : nullptr, nullptr,
                         timeoutMs == kInfinite ? nullptr : &limit);
        if (r == SOCKET_ERROR) return -1;
        return r > 0 ? 1 : 0;
    }
    if (IsSet(wake)) return Woken();
    if (forWriting) {
        const uint32_t started = ::GetTickCount();
        for (;;) {
            if (ReadyNow(s, true)) return 1;
            const uint32_t elapsed = ::GetTickCount() - started;
            if (timeoutMs != kInfinite && elapsed >= timeoutMs) return 0;
            const uint32_t slice = timeoutMs == kInfinite || timeoutMs - elapsed > kWritablePollMs
                                       ? kWritablePollMs : timeoutMs - elapsed;
            if (::WaitForSingleObject(wake->event, slice) == WAIT_OBJECT_0) return Woken();
        }
    }
    EventSelect select(s, FD_READ | FD_CLOSE);
    if (!select.Ok()) return -1;
    // Data (or the peer's close) that came before the association.
    if (ReadyNow(s, false)) return 1;
    WSANETWORKEVENTS events{};
    return select.Wait(wake, timeoutMs, &events);
}

int WaitReadable(Socket s, uint32_t timeoutMs, Wake* wake) { return WaitSocket(s, false, timeoutMs, wake); }

bool ShutdownBoth(Socket s) { return ::shutdown(s, SD_BOTH) == 0; }
bool CloseSocket(Socket s) { return ::closesocket(s) == 0; }


bool GetSockName(Socket s, sockaddr_in* local) {
    sockaddr_in address{};
    int length = AddressLength();
    if (::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) return false;
    *local = address;
    return true;
}

bool GetHostName(char* buffer, int size) {
    char name[kHostNameSize] = "";
    if (size <= 0 || ::gethostname(name, sizeof name) != 0) return false;
    name[sizeof name - 1] = '\0';
    if (std::strlen(name) >= static_cast<size_t>(size)) {
        ::WSASetLastError(WSAEFAULT);
        return false;
    }
    std::strcpy(buffer, name);
    return true;
}

bool DomainHostName(char* buffer, int size) {
    char name[kHostNameSize] = "";
    DWORD length = sizeof name;
    if (size <= 0 || !::GetComputerNameExA(ComputerNameDnsFullyQualified, name, &length)) return false;
    name[sizeof name - 1] = '\0';
    if (std::strlen(name) >= static_cast<size_t>(size)) return false;
    std::strcpy(buffer, name);
    return true;
}

bool HostAddress(const char* name, uint32_t* address) {
    hostent* host = ::gethostbyname(name);
    if (host == nullptr) return false;
    if (host->h_addrtype != AF_INET || host->h_addr_list[0] == nullptr) {
        ::WSASetLastError(WSANO_DATA);
        return false;
    }
    std::memcpy(address, host->h_addr_list[0], sizeof *address);
    return true;
}

uint32_t InetAddr(const char* text) { return ::inet_addr(text); }

}  // namespace plat
