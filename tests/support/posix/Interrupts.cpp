#include "tests/support/Interrupts.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/platform.h"

namespace {

std::atomic<int> g_signals{0};

void Count(int) { ++g_signals; }

// SIGUSR1 counted, without SA_RESTART.
void CountSignals() {
    struct sigaction action {};
    action.sa_handler = Count;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGUSR1, &action, nullptr);
}

}  // namespace

bool CallInterrupted(const std::function<void()>& call, unsigned intervalMs, int* signals) {
    CountSignals();
    g_signals = 0;
    const pthread_t caller = pthread_self();
    std::atomic<bool> done{false};
    std::thread storm([&] {
        while (!done) {
            std::this_thread::sleep_for(std::chrono::milliseconds(intervalMs));
            if (!done) pthread_kill(caller, SIGUSR1);
        }
    });
    call();
    *signals = g_signals;
    done = true;
    storm.join();
    return true;
}

bool ReplaceThroughInterruptedPipe(const std::string& path, const std::string& data, std::string* received,
                                   bool* result) {
    CountSignals();
    const std::string fresh = path + ".new";
    std::remove(fresh.c_str());
    if (::mkfifo(fresh.c_str(), 0600) != 0) return false;
    const pthread_t writer = pthread_self();
    received->clear();
    std::thread reader([&] {
        const int fd = ::open(fresh.c_str(), O_RDONLY);  // waits for the writer
        if (fd < 0) return;
        // The writer is inside its write, the pipe full: the signal makes
        // the write return what it has put in so far.
        const int capacity = ::fcntl(fd, F_GETPIPE_SZ);
        int queued = 0;
        while (::ioctl(fd, FIONREAD, &queued) == 0 && queued < capacity)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        pthread_kill(writer, SIGUSR1);
        char buffer[65536];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0) received->append(buffer, static_cast<size_t>(n));
        ::close(fd);
    });
    *result = plat::ReplaceWholeFile(path, data);
    reader.join();
    std::remove(fresh.c_str());
    return true;
}

bool MakeUnwritable(plat::Socket s) {
    const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool done = ::dup2(fd, s) == s;
    ::close(fd);
    return done;
}

bool TlsSendsGiveUp() { return true; }
