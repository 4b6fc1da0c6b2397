// posix side of the test support's process functions.
#include "tests/support/Process.h"

#include <cerrno>
#include <climits>
#include <dirent.h>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

ChildProcess::ChildProcess(const std::vector<std::string>& command) {
    if (command.empty()) return;
    std::vector<char*> argv;
    for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return;
    m_handle = pid;
    m_started = true;
}

ChildProcess::~ChildProcess() { Wait(); }

int ChildProcess::Wait() {
    if (!m_started || m_waited) return m_exitCode;
    int status = 0;
    pid_t rc;
    while ((rc = waitpid(static_cast<pid_t>(m_handle), &status, 0)) == -1 && errno == EINTR) {
    }
    m_waited = true;
    m_exitCode = (rc != -1 && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
    return m_exitCode;
}

std::string ThisProgramPath() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

std::string HelperProgramPath(const std::string& baseName) {
    const std::string self = ThisProgramPath();
    return self.substr(0, self.rfind('/') + 1) + baseName;
}

void SetEnvVar(const std::string& name, const std::string& value) {
    if (value.empty())
        unsetenv(name.c_str());
    else
        setenv(name.c_str(), value.c_str(), 1);
}

size_t OpenHandleCount() {
    size_t count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir) != nullptr) ++count;
        ::closedir(dir);
    }
    return count;
}
