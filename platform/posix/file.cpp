#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace plat {

bool ReadWholeFile(const std::string& path, std::string* data) {
    data->clear();
    FILE* fp = std::fopen(path.c_str(), "rb");
    if (fp == nullptr) return false;
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, fp)) > 0) data->append(buffer, got);
    const bool ok = std::ferror(fp) == 0;
    std::fclose(fp);
    if (!ok) data->clear();
    return ok;
}

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
