// Test support: running other programs (the tests' helper programs, or the
// test program itself in a fresh process) and waiting for them to end.
//
// Some tests need a process of their own: the log object, for one, is
// created once per process. Such a test runs its body in a fresh copy of
// the test program (RunInFreshProcess) and checks the copy's exit code, so it
// holds whether CTest runs it alone or the whole program runs at once.
#pragma once

#include <string>
#include <utility>
#include <vector>

// One started program. The child inherits the environment, the working
// directory and the standard streams.
class ChildProcess {
public:
    // command[0] is the program's path, the rest its arguments (each passed
    // as one argument, spaces included).
    explicit ChildProcess(const std::vector<std::string>& command);
    // Waits for the child if Wait was not called.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return m_started; }
    // Waits for the end and returns the exit code; -1 when the program was
    // not started or did not end normally (a signal, a crash).
    int Wait();

private:
    bool m_started = false;
    bool m_waited = false;
    int m_exitCode = -1;
    long long m_handle = 0;  // process id or process handle
};

// Starts command, waits, returns the exit code (-1: see ChildProcess::Wait).
int RunProgram(const std::vector<std::string>& command);

// The running program's own path.
std::string ThisProgramPath();
// The path of a helper program built beside the running one, given its base
// name without extension ("lock_peer").
std::string HelperProgramPath(const std::string& baseName);

// Sets an environment variable of this process (inherited by children); an
// empty value removes it.
void SetEnvVar(const std::string& name, const std::string& value);
// The variable's value; empty when it is not set.
std::string GetEnvVar(const std::string& name);

// The role given to this process by RunInFreshProcess; empty in an ordinary
// test run.
std::string FreshProcessRole();
// Runs the current test again in a fresh copy of this program, with
// FreshProcessRole() giving role there and the given extra environment
// variables set; returns the copy's exit code (0: every check there passed).
int RunInFreshProcess(const std::string& role,
                      const std::vector<std::pair<std::string, std::string>>& env = {});

// How many files, sockets and other handles this process holds open; 0
// where the system does not tell (Wine).
size_t OpenHandleCount();
