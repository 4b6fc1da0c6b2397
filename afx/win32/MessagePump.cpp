#include "afx/win32/MessagePump.h"

void AfxPumpWaitingMessages(AfxQuit* quit) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (quit != nullptr && msg.message == WM_QUIT) {
            quit->seen = true;
            quit->code = msg.wParam;
            continue;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}
