#include "platform/net.h"

#include <cerrno>
#include <csignal>
#include <cstring>
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

}  // namespace

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

bool Connect(Socket s, const sockaddr_in& address) {
    if (::connect(s, reinterpret_cast<const sockaddr*>(&address), AddressLength()) != 0) return Failed(false);
    return true;
}

int Send(Socket s, const char* data, int length) {
    ssize_t n;
    do {
        n = ::send(s, data, static_cast<size_t>(length), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
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

int WaitReadable(Socket s, uint32_t timeoutMs) {
    pollfd entry{s, POLLIN, 0};
    // poll takes a signed count of milliseconds; a longer wait than it can
    // express is as good as none.
    int timeout = timeoutMs == kInfinite || timeoutMs > 0x7FFFFFFFu ? -1 : static_cast<int>(timeoutMs);
    int r;
    do {
        r = ::poll(&entry, 1, timeout);
    } while (r < 0 && errno == EINTR);
    if (r < 0) return Failed(-1);
    return r > 0 ? 1 : 0;
}

bool ShutdownBoth(Socket s) {
    if (::shutdown(s, SHUT_RDWR) != 0) return Failed(false);
    return true;
}

bool CloseSocket(Socket s) {
    if (::close(s) != 0) return Failed(false);
    return true;
}

// The descriptor stays open until CloseAbortedSocket, so its number cannot
// be given to another file while a thread may still use it.
void AbortSocket(Socket s) { ::shutdown(s, SHUT_RDWR); }

void CloseAbortedSocket(Socket s) { ::close(s); }

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
