// The start-up benchmark's stopwatch, run under Wine beside the program it
// measures:
//
//   startup_probe OUT PROGRAM [ARGS...]
//
// starts PROGRAM, waits for its first visible message box, reads the
// process's peak resident memory with the box up, presses Yes, and waits
// for the process to end. Writes one line to OUT:
//   box_us=N end_us=N peak_kib=N exit=N
// box_us: CreateProcess to the box being visible; end_us: Yes to the
// process's end. Timing only, no checks: the tests check what the box says.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

namespace {

// Longest a run may take before the probe gives up on it.
constexpr DWORD kGiveUpMs = 30000;

struct Search {
    DWORD pid;
    HWND box;
};

BOOL CALLBACK FindBox(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    char name[16] = "";
    ::GetClassNameA(window, name, sizeof name);
    if (pid != search->pid || !::IsWindowVisible(window) || std::string(name) != "#32770" ||
        ::GetDlgItem(window, IDYES) == nullptr)
        return TRUE;
    search->box = window;
    return FALSE;
}

double Microseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    static LARGE_INTEGER frequency{};
    if (frequency.QuadPart == 0) ::QueryPerformanceFrequency(&frequency);
    return double(to.QuadPart - from.QuadPart) * 1e6 / double(frequency.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fputs("usage: startup_probe OUT PROGRAM [ARGS...]\n", stderr);
        return 2;
    }
    std::wstring command;
    for (int i = 2; i < argc; ++i) command += (i > 2 ? L" \"" : L"\"") + std::wstring(argv[i]) + L"\"";

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    LARGE_INTEGER launched, shown, pressed, ended;
    ::QueryPerformanceCounter(&launched);
    if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        std::fprintf(stderr, "startup_probe: CreateProcess failed (%lu)\n", ::GetLastError());
        return 1;
    }
    Search search{process.dwProcessId, nullptr};
    const DWORD start = ::GetTickCount();
    while (search.box == nullptr) {
        ::EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
        if (search.box != nullptr) break;
        if (::WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0 || ::GetTickCount() - start > kGiveUpMs) {
            std::fputs("startup_probe: no box came\n", stderr);
            ::TerminateProcess(process.hProcess, 1);
            return 1;
        }
        ::Sleep(1);
    }
    ::QueryPerformanceCounter(&shown);
    // The peak so far, with the box up (under Wine: the process's VmHWM).
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    ::GetProcessMemoryInfo(process.hProcess, &memory, sizeof memory);

    ::QueryPerformanceCounter(&pressed);
    ::PostMessageW(search.box, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(search.box, IDYES)));
    if (::WaitForSingleObject(process.hProcess, kGiveUpMs) != WAIT_OBJECT_0) {
        std::fputs("startup_probe: the program did not end\n", stderr);
        ::TerminateProcess(process.hProcess, 1);
        return 1;
    }
    ::QueryPerformanceCounter(&ended);
    DWORD exitCode = 0;
    ::GetExitCodeProcess(process.hProcess, &exitCode);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);

    FILE* out = ::_wfopen(argv[1], L"w");
    if (out == nullptr) return 1;
    std::fprintf(out, "box_us=%.0f end_us=%.0f peak_kib=%zu exit=%lu\n", Microseconds(launched, shown),
                 Microseconds(pressed, ended), memory.PeakWorkingSetSize / 1024, exitCode);
    std::fclose(out);
    return 0;
}
