// Helper program of the lock tests: a second process that uses a mode-1 lock
// by name.
//
//   lock_peer try NAME
//       Claims the lock without waiting and releases it again.
//       Exit code 0: claimed; 3: the lock was taken (CTimeOut).
//   lock_peer append NAME FILE TAG COUNT
//       COUNT times: holding the lock, appends the line "<TAG" to FILE,
//       pauses, then appends ">TAG", each write opening and closing the file.
//       Exit code 0 when done.
// Any other failure: exit code 4 (exception) or 2 (bad arguments).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/CLock.h"
#include "base/Exceptions.h"
#include "platform/platform.h"

namespace {

const int kClaimed = 0;
const int kBadArguments = 2;
const int kTaken = 3;
const int kFailed = 4;

// Opens, appends and closes at once, so that another process's line could
// come in between two lines if the lock let it in.
bool AppendLine(const char* path, const std::string& line) {
    FILE* fp = std::fopen(path, "ab");
    if (fp == nullptr) return false;
    const bool ok = std::fputs((line + "\n").c_str(), fp) >= 0;
    return std::fclose(fp) == 0 && ok;
}

int Try(const char* name) {
    CLock lock(1, name);
    try {
        lock.Lock(true, 0);
    } catch (const CTimeOut&) {
        return kTaken;
    }
    lock.Unlock();
    return kClaimed;
}

int Append(const char* name, const char* path, const char* tag, int count) {
    CLock lock(1, name);
    for (int i = 0; i < count; ++i) {
        CLockHolder hold(&lock);
        if (!AppendLine(path, std::string("<") + tag)) return kFailed;
        // Long enough for the other process to be waiting by now.
        plat::SleepMs(2);
        if (!AppendLine(path, std::string(">") + tag)) return kFailed;
    }
    return kClaimed;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc == 3 && std::strcmp(argv[1], "try") == 0) return Try(argv[2]);
        if (argc == 6 && std::strcmp(argv[1], "append") == 0)
            return Append(argv[2], argv[3], argv[4], std::atoi(argv[5]));
    } catch (const CExceptionBase& e) {
        std::fprintf(stderr, "lock_peer: %s at %s (%d)\n", e.what(), e.GetLocation(),
                     static_cast<int>(e.GetErrorNo()));
        return kFailed;
    }
    std::fprintf(stderr, "usage: lock_peer try NAME | append NAME FILE TAG COUNT\n");
    return kBadArguments;
}
