// The calling thread's message queue, emptied while the thread waits for
// something else (a send on a worker thread, a notice's timeout): the
// windows stay responsive without a message loop of their own. Windows only;
// nothing here throws.
#pragma once

#include <windows.h>

// A WM_QUIT met while pumping, kept for the caller to post again
// (PostQuitMessage) once its own wait is over, so the quit still reaches the
// message loop that owns it.
struct AfxQuit {
    bool seen = false;
    WPARAM code = 0;  // the exit code of the last WM_QUIT seen
};

// Translates and dispatches every message now waiting in the calling
// thread's queue, then returns. With quit, a WM_QUIT is taken aside into it
// rather than dispatched; without, it is dispatched like any other (to no
// window: it is dropped).
void AfxPumpWaitingMessages(AfxQuit* quit = nullptr);
