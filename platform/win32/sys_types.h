// win32 side of the system types the platform interface uses.
#pragma once

// Winsock's header must come before windows.h.
#include <winsock2.h>
#include <windows.h>

// Sockets: winsock2.h gives sockaddr_in, in_addr, AF_INET, SOCK_*, INADDR_ANY,
// INADDR_NONE, INADDR_LOOPBACK, htons, htonl, ntohs, ntohl.
namespace plat {
using Socket = SOCKET;
constexpr Socket kInvalidSocket = INVALID_SOCKET;
}  // namespace plat
