// The network part of the platform interface: thin wrappers over blocking
// IPv4 sockets (Windows Sockets on Windows, BSD sockets elsewhere) with one
// signature on both sides.
//
// Addresses are sockaddr_in records and 32-bit IPv4 values in network byte
// order; ports in sockaddr_in are in network byte order too (htons). A
// wrapper that fails returns the failure value named in its comment; the
// reason is then read with LastSocketError, before any other socket call.
// Nothing here throws.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "sys_types.h"

namespace plat {

// Socket types as the socket wrapper's callers name them.
constexpr int kSockStream = 1;
constexpr int kSockDgram = 2;
// Longest host name gethostname is asked for, terminator included.
constexpr int kHostNameSize = 256;

// A wake-up that a thread blocked on a socket waits on beside it. Set from
// any thread, it stays set: every wait, connect or send given it returns at
// once with a failure (kWoken, or LastSocketError() WSAEINTR / EINTR), and
// the thread that owns the socket closes it itself. Closing the socket under
// the blocked thread instead would end its call too, but Windows reuses
// socket handle values, so the thread could go on with another's socket.
// An event set with the socket's network events on Windows, a pipe
// elsewhere.
struct Wake;
// A new wake-up, not set; null on failure.
Wake* CreateWake();
// Sets it; callable from any thread, any number of times. Null is ignored.
void SetWake(Wake* wake);
// Whether it is set (null: never).
bool IsWakeSet(Wake* wake);
// Frees it (null is ignored); nobody may wait on it any more.
void DestroyWake(Wake* wake);
// What a wait returns when its wake-up was set.
constexpr int kWoken = -2;

// Starts Windows Sockets 2.2 once for the process and arranges its clean-up
// at exit; writes a line to the standard error stream and returns the
// failing call's result when either step fails, 0 on success. It first
// undoes any start-up made elsewhere (AfxSocketInit's). Once it has
// started Windows Sockets, later calls do nothing and return 0: undoing its
// own start-up would end every socket the process has open. Elsewhere
// there is nothing to start: it makes a write to a closed connection an
// error instead of a signal that ends the process, and returns 0.
int StartupWinsock();

// The error code of the last failed socket call on this thread: the Winsock
// code (WSAGetLastError) on Windows, errno elsewhere. A host name that cannot
// be resolved gives a negative resolver code (getaddrinfo's EAI_*) outside
// Windows.
int LastSocketError();

// A new IPv4 socket of the type (kSockStream, kSockDgram), protocol 0.
// kInvalidSocket on failure.
Socket OpenSocket(int type);
// SO_REUSEADDR / SO_BROADCAST set to 1. false on failure.
bool SetReuseAddress(Socket s);
bool SetBroadcast(Socket s);
bool Bind(Socket s, const sockaddr_in& address);
bool Listen(Socket s, int backlog);
// Waits for a connection on a listening socket; the peer's address goes to
// peer when it is not null. kInvalidSocket on failure.
Socket Accept(Socket s, sockaddr_in* peer = nullptr);
// With a wake-up, the connect ends when it is set (false, LastSocketError()
// the interruption).
bool Connect(Socket s, const sockaddr_in& address, Wake* wake = nullptr);
// One send / sendto call: the count sent (possibly less than length), or -1.
// With a wake-up (stream sockets), a send that would wait for the peer ends
// when it is set, and none starts once it is (-1, the interruption).
int Send(Socket s, const char* data, int length, Wake* wake = nullptr);
int SendTo(Socket s, const char* data, int length, const sockaddr_in& to);
// One recv / recvfrom call: the count received, 0 when the peer has closed,
// or -1. from (may be null) gets the sender's address.
int Recv(Socket s, char* buffer, int size);
int RecvFrom(Socket s, char* buffer, int size, sockaddr_in* from);
// Waits up to timeoutMs (kInfinite: without limit) until a receive would not
// block (data, or the peer closed); forWriting: until a send would not. 1
// ready, 0 time-out, -1 failure, kWoken when wake (may be null) is set.
int WaitReadable(Socket s, uint32_t timeoutMs, Wake* wake = nullptr);
int WaitSocket(Socket s, bool forWriting, uint32_t timeoutMs, Wake* wake);
// shutdown in both directions; closesocket. false on failure.
bool ShutdownBoth(Socket s);
bool CloseSocket(Socket s);
// The socket's local address. false on failure.
bool GetSockName(Socket s, sockaddr_in* local);
// The computer's host name into buffer (size bytes, terminated). false on
// failure; buffer is then left unchanged.
bool GetHostName(char* buffer, int size);
// The computer's fully qualified DNS name into buffer (size bytes,
// terminated): Windows' DNS full name of the computer, elsewhere the host
// name when it has a dot, else its canonical name. It may still lack a
// domain. false when it cannot be learnt; buffer is then left unchanged.
bool DomainHostName(char* buffer, int size);
// The first IPv4 address (network byte order) of the host name into
// *address. false when the name does not resolve.
bool HostAddress(const char* name, uint32_t* address);
// A dotted IPv4 text as an address in network byte order; INADDR_NONE when
// the text is not one.
uint32_t InetAddr(const char* text);

}  // namespace plat
