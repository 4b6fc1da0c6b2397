// The robot's main program: command table, script reader, process start,
// transcript. See Robot.h for the usage and the formats.
#include "Robot.h"

#include <cstdio>
#include <cstdlib>
#include <map>

#include <objbase.h>
#include <shellapi.h>

namespace {

constexpr DWORD kDefaultTimeoutMs = 20000;
constexpr DWORD kPollMs = 10;

struct CommandEntry {
    RobotCommand command;
    const char* usage;
};
struct ToolEntry {
    RobotTool tool;
    const char* usage;
};

// Function-local tables: registration runs during static initialisation of
// any source file, in any order.
std::map<std::string, CommandEntry>& Commands() {
    static std::map<std::string, CommandEntry> table;
    return table;
}
std::map<std::string, ToolEntry>& Tools() {
    static std::map<std::string, ToolEntry> table;
    return table;
}

struct WindowSearch {
    DWORD pid;
    const std::function<bool(HWND)>* match;
    HWND found;
};

BOOL CALLBACK FindWindowOfProcess(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    if (pid != search->pid || !::IsWindowVisible(window)) return TRUE;
    if (!(*search->match)(window)) return TRUE;
    search->found = window;
    return FALSE;
}

// Splits a script line into words; "..." groups blanks into one word.
std::vector<std::string> SplitWords(const std::string& line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size()) break;
        std::string word;
        if (line[i] == '"') {
            ++i;
            while (i < line.size() && line[i] != '"') word += line[i++];
            ++i;  // the closing quote
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t') word += line[i++];
        }
        words.push_back(word);
    }
    return words;
}

std::vector<std::vector<std::string>> ReadScript(const std::wstring& path, std::string& error) {
    std::vector<std::vector<std::string>> script;
    FILE* fp = ::_wfopen(path.c_str(), L"rb");
    if (fp == nullptr) {
        error = "cannot open the script " + ToUtf8(path);
        return script;
    }
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, fp) != nullptr) {
        std::string line(buffer);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> words = SplitWords(line);
        if (!words.empty()) script.push_back(words);
    }
    std::fclose(fp);
    return script;
}

// One argument quoted for a Windows command line (the runtime's rules:
// backslashes double only before a quote).
std::wstring QuoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
        } else if (c == L'"') {
            quoted.append(backslashes + 1, L'\\');  // doubles those already written
            backslashes = 0;
        } else {
            backslashes = 0;
        }
        quoted += c;
    }
    quoted.append(backslashes, L'\\');
    quoted += L"\"";
    return quoted;
}

int Usage() {
    std::fprintf(stderr, "usage: robot.exe [--timeout-ms N] [--open] SCRIPT TRANSCRIPT PROGRAM [ARGS...]\n"
                         "       robot.exe --tool NAME [ARGS...]\ncommands:\n");
    for (const auto& [name, entry] : Commands())
        std::fprintf(stderr, "  %s %s\n", name.c_str(), entry.usage);
    std::fprintf(stderr, "tools:\n");
    for (const auto& [name, entry] : Tools()) std::fprintf(stderr, "  %s %s\n", name.c_str(), entry.usage);
    return 2;
}

// Closes a box nobody asked for, so the program can go on and the test
// sees it in the transcript.
void HandleUnexpectedBox(Robot& robot, HWND box) {
    robot.Record("\"box\":" + std::to_string(robot.NextBoxNumber()) +
                 ",\"title\":" + JsonString(WindowTextUtf8(box)) +
                 ",\"text\":" + JsonString(WindowTextUtf8(::GetDlgItem(box, 0xFFFF))) +
                 ",\"answer\":\"unexpected\",\"ms\":" + std::to_string(robot.Elapsed()));
    ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    robot.WaitForClose(box);
    robot.Fail("unexpected message box");
}

// Starts the program: CreateProcess on PROGRAM with ARGS, or (open) the
// shell's "open" on the document program[0], as a browser opens a download.
// Returns the process, or null with error set.
HANDLE StartProgram(const std::vector<std::wstring>& program, bool open, std::string& error) {
    if (open) {
        // As Windows asks of a ShellExecute caller: COM in a single-threaded
        // apartment, and the launch finished before the call returns.
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
        info.lpVerb = L"open";
        info.lpFile = program[0].c_str();
        info.nShow = SW_SHOWNORMAL;
        if (::ShellExecuteExW(&info) && info.hProcess != nullptr) return info.hProcess;
        error = "open " + ToUtf8(program[0]) + ": no program started (ShellExecuteEx " +
                std::to_string(reinterpret_cast<INT_PTR>(info.hInstApp)) + ")";
        return nullptr;
    }
    std::wstring commandLine;
    for (const auto& arg : program) commandLine += (commandLine.empty() ? L"" : L" ") + QuoteArgument(arg);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    // The program is named on its own as well, so no search and no path
    // length limit of the command-line parsing applies to it.
    //
    // Under heavy load Wine now and then loses a new process while it is
    // still being set up, before any of its code runs: CreateProcess then
    // fails with ERROR_INTERNAL_ERROR (the child ended before it reported
    // its start). Nothing of the program was tried, so that one error alone
    // starts it again, a bounded number of times; any other failure, and
    // anything after the start, counts as it is.
    constexpr int kStartAttempts = 3;
    for (int attempt = 1;; ++attempt) {
        if (::CreateProcessW(program[0].c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &info))
            break;
        const DWORD code = ::GetLastError();
        if (code == ERROR_INTERNAL_ERROR && attempt < kStartAttempts) {
            std::fprintf(stderr, "robot: the system lost the new process while starting it (error %lu); again\n",
                         code);
            continue;
        }
        error = "cannot start " + ToUtf8(commandLine) + ": error " + std::to_string(code);
        return nullptr;
    }
    ::CloseHandle(info.hThread);
    return info.hProcess;
}

int RunScript(DWORD timeoutMs, bool open, const std::wstring& scriptPath,
              const std::wstring& transcriptPath, const std::vector<std::wstring>& program) {
    FILE* transcript = ::_wfopen(transcriptPath.c_str(), L"wb");
    if (transcript == nullptr) {
        std::fprintf(stderr, "robot: cannot write %s\n", ToUtf8(transcriptPath).c_str());
        return kRobotFailed;
    }
    std::string error;
    auto script = ReadScript(scriptPath, error);
    if (!error.empty()) {
        std::fprintf(transcript, "{\"error\":%s}\n", JsonString(error).c_str());
        std::fclose(transcript);
        return kRobotFailed;
    }

    HANDLE process = StartProgram(program, open, error);
    if (process == nullptr) {
        std::fprintf(transcript, "{\"error\":%s}\n", JsonString(error).c_str());
        std::fclose(transcript);
        return kRobotFailed;
    }
    const DWORD pid = ::GetProcessId(process);

    Robot robot(process, pid, timeoutMs, transcript);
    for (const auto& words : script) {
        auto it = Commands().find(words[0]);
        if (it == Commands().end()) {
            robot.Fail("unknown command " + words[0]);
            break;
        }
        if (!it->second.command(robot, words)) break;
    }

    // Let the program finish; close whatever box nobody expected.
    DWORD waited = 0;
    while (!robot.ProcessEnded()) {
        robot.WatchProgress();
        HWND box = nullptr;
        WindowSearch search{pid, nullptr, nullptr};
        std::function<bool(HWND)> isBox = IsMessageBox;
        search.match = &isBox;
        ::EnumWindows(FindWindowOfProcess, reinterpret_cast<LPARAM>(&search));
        box = search.found;
        if (box != nullptr) {
            HandleUnexpectedBox(robot, box);
            continue;
        }
        if (waited >= timeoutMs) {
            robot.Fail("the program did not end");
            ::TerminateProcess(process, kRobotFailed);
            ::WaitForSingleObject(process, INFINITE);
            break;
        }
        ::Sleep(kPollMs);
        waited += kPollMs;
    }
    DWORD exitCode = 0;
    ::GetExitCodeProcess(process, &exitCode);
    robot.Record("\"exit\":" + std::to_string(exitCode) + ",\"ms\":" + std::to_string(robot.Elapsed()));
    ::CloseHandle(process);
    std::fclose(transcript);
    return robot.Failed() ? kRobotFailed : static_cast<int>(exitCode);
}

}  // namespace

// ---- Robot ------------------------------------------------------------------

Robot::Robot(HANDLE process, DWORD pid, DWORD timeoutMs, FILE* transcript)
    : m_process(process), m_pid(pid), m_timeoutMs(timeoutMs), m_startTick(::GetTickCount()),
      m_transcript(transcript) {}

DWORD Robot::Elapsed() const { return ::GetTickCount() - m_startTick; }

bool Robot::ProcessEnded() const { return ::WaitForSingleObject(m_process, 0) == WAIT_OBJECT_0; }

HWND Robot::WaitForWindow(const std::function<bool(HWND)>& match) {
    DWORD start = ::GetTickCount();
    for (;;) {
        WatchProgress();
        WindowSearch search{m_pid, &match, nullptr};
        ::EnumWindows(FindWindowOfProcess, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) return search.found;
        if (ProcessEnded() || ::GetTickCount() - start >= m_timeoutMs) return nullptr;
        ::Sleep(kPollMs);
    }
}

bool Robot::WaitForClose(HWND window) {
    DWORD start = ::GetTickCount();
    while (::IsWindow(window) && !ProcessEnded()) {
        WatchProgress();
        if (::GetTickCount() - start >= m_timeoutMs) return false;
        ::Sleep(kPollMs);
    }
    return true;
}

void Robot::WatchProgress() {
    if (m_progressSeen) return;
    std::function<bool(HWND)> isProgress = [](HWND window) { return ClassName(window) == kProgressClass; };
    WindowSearch search{m_pid, &isProgress, nullptr};
    ::EnumWindows(FindWindowOfProcess, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr) return;
    m_progressSeen = true;
    Record("\"progress_seen\":true,\"ms\":" + std::to_string(Elapsed()));
}

void Robot::Record(const std::string& fields) {
    std::fprintf(m_transcript, "{%s}\n", fields.c_str());
    std::fflush(m_transcript);
}

bool Robot::Fail(const std::string& what) {
    Record("\"error\":" + JsonString(what) + ",\"ms\":" + std::to_string(Elapsed()));
    m_failed = true;
    return false;
}

// ---- helpers -------------------------------------------------------------------

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    for (unsigned char c : utf8) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                     0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size,
                          nullptr, nullptr);
    return out;
}

std::wstring FromUtf8(const std::string& text) {
    if (text.empty()) return {};
    int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size);
    return out;
}

std::string ClassName(HWND window) {
    char name[256] = "";
    ::GetClassNameA(window, name, sizeof name);
    return name;
}

std::string WindowTextUtf8(HWND window) {
    if (window == nullptr) return {};
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
        return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    ::SendMessageTimeoutW(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(&text[0]),
                          SMTO_ABORTIFHUNG, 5000, &copied);
    text.resize(copied);
    return ToUtf8(text);
}

bool IsMessageBox(HWND window) {
    return ClassName(window) == "#32770" && ::GetDlgItem(window, 0xFFFF) != nullptr;
}

bool RegisterRobotCommand(const char* name, RobotCommand command, const char* usage) {
    Commands()[name] = CommandEntry{command, usage};
    return true;
}

bool RegisterRobotTool(const char* name, RobotTool tool, const char* usage) {
    Tools()[name] = ToolEntry{tool, usage};
    return true;
}

// ---- main ----------------------------------------------------------------------

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    std::vector<std::wstring> args(argv + 1, argv + argc);
    ::LocalFree(argv);

    if (args.size() >= 2 && args[0] == L"--tool") {
        auto it = Tools().find(ToUtf8(args[1]));
        if (it == Tools().end()) return Usage();
        return it->second.tool(std::vector<std::wstring>(args.begin() + 2, args.end()));
    }
    DWORD timeoutMs = kDefaultTimeoutMs;
    size_t next = 0;
    if (args.size() >= 2 && args[0] == L"--timeout-ms") {
        timeoutMs = static_cast<DWORD>(std::wcstoul(args[1].c_str(), nullptr, 10));
        next = 2;
    }
    const bool open = args.size() > next && args[next] == L"--open";
    if (open) ++next;
    if (args.size() < next + 3) return Usage();
    return RunScript(timeoutMs, open, args[next], args[next + 1],
                     std::vector<std::wstring>(args.begin() + next + 2, args.end()));
}
