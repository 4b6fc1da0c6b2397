#include "tests/support/HostName.h"

#include <sched.h>
#include <unistd.h>

bool SetOwnHostName(const std::string& name) {
    // Once per process: every later call renames within the same namespace.
    static const bool own = ::unshare(CLONE_NEWUTS) == 0;
    return own && ::sethostname(name.data(), name.size()) == 0;
}
