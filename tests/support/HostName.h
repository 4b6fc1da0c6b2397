// Test support: the host name the test process sees.
#pragma once

#include <string>

// Gives this process, and only it (a UTS namespace of its own), the host
// name name. Returns false where that cannot be done: without the privilege
// on Linux, and on Windows.
bool SetOwnHostName(const std::string& name);
