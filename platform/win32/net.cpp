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

}  // namespace

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

bool Connect(Socket s, const sockaddr_in& address) {
    return ::connect(s, reinterpret_cast<const sockaddr*>(&address), AddressLength()) == 0;
}

int Send(Socket s, const char* data, int length) {
    int n = ::send(s, data, length, 0);
    return n == SOCKET_ERROR ? -1 : n;
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

int WaitReadable(Socket s, uint32_t timeoutMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval limit{static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000L};
    // The first argument is ignored by Winsock.
    int r = ::select(0, &readable, nullptr, nullptr, timeoutMs == kInfinite ? nullptr : &limit);
    if (r == SOCKET_ERROR) return -1;
    return r > 0 ? 1 : 0;
}

bool ShutdownBoth(Socket s) { return ::shutdown(s, SD_BOTH) == 0; }
bool CloseSocket(Socket s) { return ::closesocket(s) == 0; }

void AbortSocket(Socket s) {
    // The shutdown first ends a pending connect or receive even where
    // closesocket alone would leave a select waiting; the close then makes
    // the handle invalid for every later call.
    ::shutdown(s, SD_BOTH);
    ::closesocket(s);
}

void CloseAbortedSocket(Socket) {}

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
