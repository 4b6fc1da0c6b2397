#include "afx/afx.h"

BOOL AfxSocketInit() {
    // Windows Sockets 1.1 is all the application object asks for.
    WSADATA data;
    return ::WSAStartup(MAKEWORD(1, 1), &data) == 0 ? TRUE : FALSE;
}
