#include "tests/support/Interrupts.h"

// Windows has no signal that interrupts a system call, no named pipe in a
// folder and no dup2 over a socket.
bool CallInterrupted(const std::function<void()>&, unsigned, int*) { return false; }

bool ReplaceThroughInterruptedPipe(const std::string&, const std::string&, std::string*, bool*) { return false; }

bool MakeUnwritable(plat::Socket) { return false; }

bool TlsSendsGiveUp() { return false; }
