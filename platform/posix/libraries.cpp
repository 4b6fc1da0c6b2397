#include "platform/libraries.h"

namespace plat {

// The shared-library search of a POSIX system is not the program's to narrow.
void ConfineLibrarySearch() {}

}  // namespace plat
