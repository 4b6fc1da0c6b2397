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
bool Connect(Socket s, const sockaddr_in& address);
// One send / sendto call: the count sent (possibly less than length), or -1.
int Send(Socket s, const char* data, int length);
int SendTo(Socket s, const char* data, int length, const sockaddr_in& to);
// One recv / recvfrom call: the count received, 0 when the peer has closed,
// or -1. from (may be null) gets the sender's address.
int Recv(Socket s, char* buffer, int size);
int RecvFrom(Socket s, char* buffer, int size, sockaddr_in* from);
// Waits up to timeoutMs (kInfinite: without limit) until a receive would not
// block (data, or the peer closed). 1 readable, 0 time-out, -1 failure.
int WaitReadable(Socket s, uint32_t timeoutMs);
// shutdown in both directions; closesocket. false on failure.
bool ShutdownBoth(Socket s);
bool CloseSocket(Socket s);
// Makes every call blocked on s, on any thread, return at once with a
// failure, and every later call on it fail: on Windows it closes the socket
// (closesocket is the documented way to unblock a Winsock call); elsewhere it
// shuts the socket down, since a close would not wake a thread in poll, and
// leaves the descriptor to CloseAbortedSocket. There a connect in progress
// is not ended (the shutdown of an unconnected socket does nothing); the
// caller checks for the abort before each attempt.
void AbortSocket(Socket s);
// Frees what AbortSocket left of s: nothing on Windows, the descriptor
// elsewhere.
void CloseAbortedSocket(Socket s);
// The socket's local address. false on failure.
bool GetSockName(Socket s, sockaddr_in* local);
// The computer's host name into buffer (size bytes, terminated). false on
// failure; buffer is then left unchanged.
bool GetHostName(char* buffer, int size);
// The first IPv4 address (network byte order) of the host name into
// *address. false when the name does not resolve.
bool HostAddress(const char* name, uint32_t* address);
// A dotted IPv4 text as an address in network byte order; INADDR_NONE when
// the text is not one.
uint32_t InetAddr(const char* text);

}  // namespace plat
