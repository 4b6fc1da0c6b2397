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
//   lock_peer die-in-turn HISTORY MS
//       Adds a line (channel 1, station "peer") to the history file HISTORY
//       and, once the new file is written, waits MS milliseconds and ends in
//       the middle of its turn, as a run that is killed then. Exit code 5.
//   lock_peer hold PATH MARKER MS
//       Opens PATH for reading as the C runtime does (on Windows without
//       delete sharing, as many scanners do), creates MARKER, waits MS
//       milliseconds, closes PATH. Exit code 0.
// Any other failure: exit code 4 (exception) or 2 (bad arguments).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/CLock.h"
#include "base/Exceptions.h"
#include "platform/platform.h"
#include "reserve/History.h"

namespace {

const int kClaimed = 0;
const int kBadArguments = 2;
const int kTaken = 3;
const int kFailed = 4;
const int kDied = 5;

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

uint32_t g_dieAfterMs = 0;

bool DieNow(const std::string&) {
    plat::SleepMs(g_dieAfterMs);
    std::_Exit(kDied);  // no destructor, no release: the system's turn
}

int DieInTurn(const char* path, int ms) {
    g_dieAfterMs = static_cast<uint32_t>(ms);
    history::Entry entry;
    entry.sent.tm_year = 126;
    entry.sent.tm_mday = 1;
    entry.channel = 1;
    entry.start = entry.end = entry.sent;
    entry.station = "peer";
    entry.id = history::NewId();
    history::SetReplaceSeam(DieNow);
    history::Append(path, entry);
    return kFailed;  // the seam never came
}

int Hold(const char* path, const char* marker, int ms) {
    FILE* held = std::fopen(path, "rb");
    if (held == nullptr || !AppendLine(marker, "open")) return kFailed;
    plat::SleepMs(static_cast<uint32_t>(ms));
    std::fclose(held);
    return kClaimed;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc == 3 && std::strcmp(argv[1], "try") == 0) return Try(argv[2]);
        if (argc == 6 && std::strcmp(argv[1], "append") == 0)
            return Append(argv[2], argv[3], argv[4], std::atoi(argv[5]));
        if (argc == 4 && std::strcmp(argv[1], "die-in-turn") == 0) return DieInTurn(argv[2], std::atoi(argv[3]));
        if (argc == 5 && std::strcmp(argv[1], "hold") == 0) return Hold(argv[2], argv[3], std::atoi(argv[4]));
    } catch (const CExceptionBase& e) {
        std::fprintf(stderr, "lock_peer: %s at %s (%d)\n", e.what(), e.GetLocation(),
                     static_cast<int>(e.GetErrorNo()));
        return kFailed;
    }
    std::fprintf(stderr, "usage: lock_peer try NAME | append NAME FILE TAG COUNT |"
                         " die-in-turn HISTORY MS | hold PATH MARKER MS\n");
    return kBadArguments;
}
