// Test support: what only a signal or a broken descriptor shows, for the
// platform side's answers to them. Each returns false where it cannot be
// done (Windows has no signals of this kind): the test then skips.
#pragma once

#include <functional>
#include <string>

#include "platform/net.h"

// Runs call on this thread while another thread interrupts it with a signal
// every intervalMs (its handler does nothing and restarts no call, so that
// every blocking system call in it fails with EINTR). *signals gets the
// count delivered while call ran.
bool CallInterrupted(const std::function<void()>& call, unsigned intervalMs, int* signals);

// Calls plat::ReplaceWholeFile(path, data) with path + ".new" a named pipe:
// its write blocks once the pipe is full, a signal then makes it return
// short, and a reader takes every byte that comes into *received. *result
// gets ReplaceWholeFile's (false: a pipe cannot be flushed to a disk).
bool ReplaceThroughInterruptedPipe(const std::string& path, const std::string& data, std::string* received,
                                   bool* result);

// Turns socket s into a descriptor that refuses every write with an error
// that is neither a reset nor a broken pipe (a read-only /dev/null, EBADF);
// the connection itself is closed.
bool MakeUnwritable(plat::Socket s);

// Whether a TLS send gives up when its time runs out (posix); Windows' TLS
// sends block as its plain ones do, so nothing can fill a stalled peer's
// window there without blocking for good.
bool TlsSendsGiveUp();
