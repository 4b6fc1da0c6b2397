// win32 side of the test support's process functions.
#include "tests/support/Process.h"

#include <cstdlib>
#include "sys_types.h"

namespace {

// Quotes one argument so that the C runtime's command-line parser gives it
// back unchanged: backslashes double only before a quote.
std::string Quote(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled and the quote escaped;
        // elsewhere they stand for themselves.
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        out += c;
        backslashes = 0;
    }
    // Before the closing quote they are doubled again.
    out.append(backslashes * 2, '\\');
    out += '"';
    return out;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& command) {
    if (command.empty()) return;
    std::string line;
    for (const std::string& arg : command) {
        if (!line.empty()) line += ' ';
        line += Quote(arg);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessA(command[0].c_str(), &line[0], nullptr, nullptr, TRUE, 0, nullptr,
                          nullptr, &startup, &info))
        return;
    ::CloseHandle(info.hThread);
    m_handle = reinterpret_cast<long long>(info.hProcess);
    m_started = true;
}

ChildProcess::~ChildProcess() { Wait(); }

int ChildProcess::Wait() {
    if (!m_started || m_waited) return m_exitCode;
    HANDLE process = reinterpret_cast<HANDLE>(m_handle);
    DWORD code = 0;
    m_waited = true;
    if (::WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0 &&
        ::GetExitCodeProcess(process, &code))
        m_exitCode = static_cast<int>(code);
    ::CloseHandle(process);
    return m_exitCode;
}

std::string ThisProgramPath() {
    char path[MAX_PATH] = "";
    const DWORD n = ::GetModuleFileNameA(nullptr, path, sizeof path);
    return std::string(path, n);
}

std::string HelperProgramPath(const std::string& baseName) {
    const std::string self = ThisProgramPath();
    return self.substr(0, self.find_last_of("\\/") + 1) + baseName + ".exe";
}

void SetEnvVar(const std::string& name, const std::string& value) {
    // An empty value removes the variable.
    _putenv_s(name.c_str(), value.c_str());
}

size_t OpenHandleCount() {
    DWORD count = 0;  // Wine does not count: 0
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}
