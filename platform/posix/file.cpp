// posix side of the file functions; ReadWholeFile is common.cpp's.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/common.h"
#include "platform/platform.h"

namespace plat {

FILE* OpenForReading(const std::string& path) { return std::fopen(path.c_str(), "rb"); }

bool ReplaceWholeFile(const std::string& path, const std::string& data,
                      bool (*beforeReplace)(const std::string& fresh)) {
    if (path.empty()) return false;
    const std::string fresh = path + ".new";
    const int fd = ::open(fresh.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = true;
    for (size_t done = 0; ok && done < data.size();) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    // On the disk before the rename, so that a crash leaves the old file or the new one.
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    ok = ok && (beforeReplace == nullptr || beforeReplace(fresh));
    if (ok && std::rename(fresh.c_str(), path.c_str()) == 0) return true;
    std::remove(fresh.c_str());
    return false;
}

}  // namespace plat
