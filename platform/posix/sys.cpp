#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iconv.h>
#include <string>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace plat {

void SleepMs(uint32_t ms) {
    if (ms == 0) {
        sched_yield();
        return;
    }
    timespec t{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&t, &t) == -1 && errno == EINTR) {
    }
}

uint32_t TickCount() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<uint32_t>(static_cast<uint64_t>(t.tv_sec) * 1000u + t.tv_nsec / 1000000);
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }
uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

long TimezoneSeconds() {
    tzset();
    return timezone;
}

bool NormaliseCalendarTime(tm& t) { return timegm(&t) != static_cast<time_t>(-1); }

std::string ErrnoText(int errorNo) { return std::strerror(errorNo); }

int ShowMessageBox(const char* text, unsigned type) {
    std::fprintf(stderr, "%s\n", text);
    return (type & 0x0F) == MB_YESNO ? IDNO : IDOK;
}

bool Cp932ToUtf8(const std::string& text, std::string* utf8) {
    // glibc's CP932 is Windows' table (～ is U+FF5E, not U+301C as in Shift_JIS).
    iconv_t cd = ::iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string in = text;
    std::string out(text.size() * 3 + 1, '\0');  // at most 3 bytes for each byte
    char* from = &in[0];
    size_t fromLeft = in.size();
    char* to = &out[0];
    size_t toLeft = out.size();
    const bool ok = ::iconv(cd, &from, &fromLeft, &to, &toLeft) != static_cast<size_t>(-1) && fromLeft == 0;
    ::iconv_close(cd);
    if (!ok) return false;
    out.resize(out.size() - toLeft);
    *utf8 = out;
    return true;
}

}  // namespace plat
