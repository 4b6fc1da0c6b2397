// posix side of the system types the platform interface uses.
#pragma once

// The framework's integer boolean.
typedef int BOOL;
constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

// Message box flags and answers, with the values Windows gives them.
constexpr unsigned MB_OK = 0x00;
constexpr unsigned MB_YESNO = 0x04;
constexpr unsigned MB_ICONQUESTION = 0x20;
constexpr unsigned MB_ICONEXCLAMATION = 0x30;
constexpr unsigned MB_ICONINFORMATION = 0x40;
constexpr unsigned MB_DEFBUTTON2 = 0x100;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Sockets: sockaddr_in, in_addr, AF_INET, SOCK_*, INADDR_ANY, INADDR_NONE,
// INADDR_LOOPBACK, htons, htonl, ntohs, ntohl.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace plat {
using Socket = int;
constexpr Socket kInvalidSocket = -1;
}  // namespace plat
