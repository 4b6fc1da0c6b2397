// win32 side of the system types the platform interface uses.
#pragma once

// Winsock's header must come before windows.h.
#include <winsock2.h>
#include <windows.h>
