#include "platform/net.h"

#include <cerrno>
#include <fcntl.h>
#include <csignal>
#include <cstring>
#include <string>
#include <netdb.h>
#include <poll.h>
#include <unistd.h>

namespace plat {

namespace {

// The error of the last failed call on this thread. errno alone cannot carry
// the resolver's codes, so every wrapper copies its reason here.
thread_local int t_lastError = 0;

template <typename T>
T Failed(T result) {
    t_lastError = errno;
    return result;
}

socklen_t AddressLength() { return static_cast<socklen_t>(sizeof(sockaddr_in)); }

bool SetOne(Socket s, int option) {
    int one = 1;
    if (::setsockopt(s, SOL_SOCKET, option, &one, sizeof one) != 0) return Failed(false);
    return true;
}

// poll's count of milliseconds is signed; a longer wait than it can express
// is as good as none.
int PollTimeout(uint32_t timeoutMs) {
    return timeoutMs == kInfinite || timeoutMs > 0x7FFFFFFFu ? -1 : static_cast<int>(timeoutMs);
}

}  // namespace

// A pipe: SetWake writes one byte, which nobody reads, so that its read end
// stays readable.
struct Wake {
    int fds[2] = {-1, -1};
};

Wake* CreateWake() {
    auto* wake = new Wake;
    if (::pipe2(wake->fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        Failed(0);
        delete wake;
        return nullptr;
    }
    return wake;
}

void SetWake(Wake* wake) {
    if (wake == nullptr) return;
    // A full pipe is set already.
    const ssize_t ignored = ::write(wake->fds[1], "w", 1);
    (void)ignored;
}

bool IsWakeSet(Wake* wake) {
    if (wake == nullptr) return false;
    pollfd entry{wake->fds[0], POLLIN, 0};
    return ::poll(&entry, 1, 0) > 0;
}

void DestroyWake(Wake* wake) {
    if (wake == nullptr) return;
    ::close(wake->fds[0]);
    ::close(wake->fds[1]);
    delete wake;
}

int WaitSocket(Socket s, bool forWriting, uint32_t timeoutMs, Wake* wake) {
    pollfd entries[2] = {{s, static_cast<short>(forWriting ? POLLOUT : POLLIN), 0},
                         {wake != nullptr ? wake->fds[0] : -1, POLLIN, 0}};
    int r;
    do {
        r = ::poll(entries, wake != nullptr ? 2 : 1, PollTimeout(timeoutMs));
    } while (r < 0 && errno == EINTR);
    if (r < 0) return Failed(-1);
    if (entries[1].revents != 0) {
        t_lastError = EINTR;
        return kWoken;
    }
    return r > 0 ? 1 : 0;
}

int StartupWinsock() {
    // A write to a connection the peer has closed must come back as EPIPE;
    // the default action of SIGPIPE would end the whole process instead.
    std::signal(SIGPIPE, SIG_IGN);
    return 0;
}

int LastSocketError() { return t_lastError; }

Socket OpenSocket(int type) {
    int sysType = type == kSockStream ? SOCK_STREAM : type == kSockDgram ? SOCK_DGRAM : type;
    Socket s = ::socket(AF_INET, sysType | SOCK_CLOEXEC, 0);
    return s < 0 ? Failed(kInvalidSocket) : s;
}

bool SetReuseAddress(Socket s) { return SetOne(s, SO_REUSEADDR); }
bool SetBroadcast(Socket s) { return SetOne(s, SO_BROADCAST); }

bool Bind(Socket s, const sockaddr_in& address) {
    if (::bind(s, reinterpret_cast<const sockaddr*>(&address), AddressLength()) != 0) return Failed(false);
    return true;
}

bool Listen(Socket s, int backlog) {
    if (::listen(s, backlog) != 0) return Failed(false);
    return true;
}

Socket Accept(Socket s, sockaddr_in* peer) {
    sockaddr_in from{};
    socklen_t length = AddressLength();
    Socket accepted;
    do {
        accepted = ::accept4(s, reinterpret_cast<sockaddr*>(&from), &length, SOCK_CLOEXEC);
    } while (accepted < 0 && errno == EINTR);
    if (accepted < 0) return Failed(kInvalidSocket);
    if (peer != nullptr) *peer = from;
    return accepted;
}

bool Connect(Socket s, const sockaddr_in& address, Wake* wake) {
    const auto* to = reinterpret_cast<const sockaddr*>(&address);
    if (wake == nullptr) {
        if (::connect(s, to, AddressLength()) != 0) return Failed(false);
        return true;
    }
    // Without blocking, so that the wait can watch the wake-up too.
    const int flags = ::fcntl(s, F_GETFL);
    if (flags < 0 || ::fcntl(s, F_SETFL, flags | O_NONBLOCK) != 0) return Failed(false);
    int error = 0;
    if (::connect(s, to, AddressLength()) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            const int r = WaitSocket(s, true, kInfinite, wake);
            socklen_t length = sizeof error;
            if (r < 0)
                error = t_lastError;
            else if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
                error = errno;
        }
    }
    ::fcntl(s, F_SETFL, flags);
    if (error != 0) {
        t_lastError = error;
        return false;
    }
    return true;
}

int Send(Socket s, const char* data, int length, Wake* wake) {
    ssize_t n;
    for (;;) {
        // Only as much as the socket takes now: a send that would wait for
        // the peer waits here, where the wake-up can end it.
        if (wake != nullptr && WaitSocket(s, true, kInfinite, wake) < 0) return -1;
        n = ::send(s, data, static_cast<size_t>(length), MSG_NOSIGNAL | (wake != nullptr ? MSG_DONTWAIT : 0));
        if (n >= 0 || (errno != EINTR && !(wake != nullptr && (errno == EAGAIN || errno == EWOULDBLOCK)))) break;
    }
    return n < 0 ? Failed(-1) : static_cast<int>(n);
}

int SendTo(Socket s, const char* data, int length, const sockaddr_in& to) {
    ssize_t n;
    do {
        n = ::sendto(s, data, static_cast<size_t>(length), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to),
                     AddressLength());
    } while (n < 0 && errno == EINTR);
    return n < 0 ? Failed(-1) : static_cast<int>(n);
}

int Recv(Socket s, char* buffer, int size) {
    ssize_t n;
    do {
        n = ::recv(s, buffer, static_cast<size_t>(size), 0);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? Failed(-1) : static_cast<int>(n);
}

int RecvFrom(Socket s, char* buffer, int size, sockaddr_in* from) {
    sockaddr_in sender{};
    socklen_t length = AddressLength();
    ssize_t n;
    do {
        n = ::recvfrom(s, buffer, static_cast<size_t>(size), 0, reinterpret_cast<sockaddr*>(&sender), &length);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return Failed(-1);
    if (from != nullptr) *from = sender;
    return static_cast<int>(n);
}

int WaitReadable(Socket s, uint32_t timeoutMs, Wake* wake) { return WaitSocket(s, false, timeoutMs, wake); }

bool ShutdownBoth(Socket s) {
    if (::shutdown(s, SHUT_RDWR) != 0) return Failed(false);
    return true;
}

bool CloseSocket(Socket s) {
    if (::close(s) != 0) return Failed(false);
    return true;
}


bool GetSockName(Socket s, sockaddr_in* local) {
    sockaddr_in address{};
    socklen_t length = AddressLength();
    if (::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) return Failed(false);
    *local = address;
    return true;
}

bool GetHostName(char* buffer, int size) {
    char name[kHostNameSize] = "";
    if (size <= 0 || ::gethostname(name, sizeof name - 1) != 0) return Failed(false);
    name[sizeof name - 1] = '\0';
    if (std::strlen(name) >= static_cast<size_t>(size)) {
        t_lastError = ENAMETOOLONG;
        return false;
    }
    std::strcpy(buffer, name);
    return true;
}

bool DomainHostName(char* buffer, int size) {
    char name[kHostNameSize] = "";
    if (!GetHostName(name, sizeof name)) return false;
    std::string full = name;
    if (full.find('.') == std::string::npos) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_flags = AI_CANONNAME;
        addrinfo* list = nullptr;
        if (::getaddrinfo(name, nullptr, &hints, &list) == 0) {
            if (list->ai_canonname != nullptr) full = list->ai_canonname;
            ::freeaddrinfo(list);
        }
    }
    if (size <= 0 || full.size() >= static_cast<size_t>(size)) return false;
    std::strcpy(buffer, full.c_str());
    return true;
}

bool HostAddress(const char* name, uint32_t* address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* list = nullptr;
    int r = ::getaddrinfo(name, nullptr, &hints, &list);
    if (r != 0) {
        t_lastError = r == EAI_SYSTEM ? errno : r;
        return false;
    }
    *address = reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(list);
    return true;
}

uint32_t InetAddr(const char* text) { return ::inet_addr(text); }

}  // namespace plat
