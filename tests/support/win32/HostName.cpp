#include "tests/support/HostName.h"

// Windows gives a process no host name of its own.
bool SetOwnHostName(const std::string& /*name*/) { return false; }
