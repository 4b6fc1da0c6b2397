#include "platform/libraries.h"

namespace plat {

// The shared-library search of a POSIX system is not the program's to narrow.
void ConfineLibrarySearch() {}

// Every shared library is the loader's to find: no call fails for want of one.
void SetLibraryFailure(LibraryFailure) noexcept {}

}  // namespace plat
