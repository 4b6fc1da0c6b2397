// win32 side of the library search and the delay-load hooks (see
// platform/libraries.h).
//
// The runtime's delay-load helper (__delayLoadHelper2) calls the two hook
// pointers defined here. Defined in this object, which the entry point
// pulls in through ConfineLibrarySearch, they take the place of the
// runtime's empty ones. The hooks run inside the helper, below a thunk that
// has no unwind information: they never throw. A failure becomes a stand-in
// function that the helper writes into the import table and then jumps to,
// with the caller's own arguments, as it would to the real function; from
// there, one frame above the caller, a C++ exception unwinds as from any
// other call.
#include "platform/libraries.h"

#include <windows.h>

#include <delayimp.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace {

// LOAD_LIBRARY_SEARCH_SYSTEM32 (Windows 8, or Windows 7 with KB2533623):
// spelled out because the headers offer it only for those targets.
constexpr DWORD kSearchSystem32 = 0x00000800;

// The delay-loaded libraries, one failure record each; the last slot takes
// any other name.
constexpr const char* kLibraries[] = {"secur32.dll", "crypt32.dll", "ole32.dll", "shell32.dll"};
constexpr size_t kSlots = sizeof kLibraries / sizeof kLibraries[0] + 1;

// What failed first in a library: "secur32.dll", or "crypt32.dll!Name" for
// a function the library lacks, and the system's error code. Written once,
// by the first failure (state 0 -> 1 -> 2), read by the stand-ins.
struct Failure {
    std::atomic<int> state{0};
    char what[96] = "";
    DWORD error = 0;
};
Failure g_failures[kSlots];

size_t SlotOf(const char* library) {
    for (size_t i = 0; i + 1 < kSlots; ++i) {
        if (library != nullptr && ::lstrcmpiA(library, kLibraries[i]) == 0) return i;
    }
    return kSlots - 1;
}

void Record(size_t slot, const char* library, const char* function, DWORD error) {
    Failure& f = g_failures[slot];
    int expected = 0;
    if (!f.state.compare_exchange_strong(expected, 1)) return;
    if (function != nullptr)
        std::snprintf(f.what, sizeof f.what, "%s!%s", library, function);
    else
        std::snprintf(f.what, sizeof f.what, "%s", library);
    f.error = error;
    f.state = 2;
}

// The stand-ins. x64 has one calling convention, in which the caller owns
// its arguments: a function without parameters stands in for any other.
// The quiet ones give the failure result of the calls they stand for.
template <size_t Slot>
[[noreturn]] void Missing() {
    const Failure& f = g_failures[Slot];
    const bool known = f.state == 2;
    char text[128];
    // Not yet known only while another thread is still recording it.
    std::snprintf(text, sizeof text, "SystemLibraryMissing(%s)", known ? f.what : "?");
    const DWORD error = known ? f.error : ERROR_MOD_NOT_FOUND;
    if (const plat::LibraryFailure raise = plat::LibraryFailureSet()) raise(__FILE__, __LINE__, static_cast<long>(error), text);
    throw std::runtime_error(text);
}

// BOOL FALSE, a null pointer, or nothing (void).
LONG WINAPI QuietFalse() {
    ::SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
}

// A failed HRESULT or SECURITY_STATUS.
LONG WINAPI QuietStatus() {
    ::SetLastError(ERROR_MOD_NOT_FOUND);
    return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
}

// The calls answered quietly: releases (run in destructors, where an
// exception would end the process, and never reached with nothing to
// release), and calls whose failure the caller already treats as "not
// done" (a hook not opened, a password not protected, COM not started).
struct Quiet {
    const char* function;
    LONG(WINAPI* standIn)();
};
constexpr Quiet kQuiet[] = {
    {"FreeCredentialsHandle", QuietStatus},  {"DeleteSecurityContext", QuietStatus},
    {"FreeContextBuffer", QuietStatus},      {"ApplyControlToken", QuietStatus},
    {"CertFreeCertificateContext", QuietFalse}, {"CertFreeCertificateChain", QuietFalse},
    {"CryptProtectData", QuietFalse},        {"CoInitializeEx", QuietStatus},
    {"CoUninitialize", QuietFalse},          {"ShellExecuteExW", QuietFalse},
    {"SHChangeNotify", QuietFalse},
};

// A function as the helper hands functions out.
template <typename Function>
FARPROC AsProc(Function* function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}

using Thrower = void (*)();
constexpr Thrower kThrowers[kSlots] = {Missing<0>, Missing<1>, Missing<2>, Missing<3>, Missing<4>};

FARPROC StandIn(const DelayLoadInfo& info, size_t slot) {
    if (info.dlp.fImportByName && info.dlp.szProcName != nullptr) {
        for (const Quiet& q : kQuiet) {
            if (std::strcmp(q.function, info.dlp.szProcName) == 0) return AsProc(q.standIn);
        }
    }
    return AsProc(kThrowers[slot]);
}

// The module the helper keeps for a library that could not be loaded: the
// executable itself, with a reference of its own (the helper frees one
// when two threads loaded at once). Never asked for a function: the notify
// hook answers for it first.
HMODULE StandInModule() {
    HMODULE self = nullptr;
    ::GetModuleHandleExW(0, nullptr, &self);
    return self;
}

bool IsStandInModule(HMODULE module) { return module != nullptr && module == ::GetModuleHandleW(nullptr); }

// The library from the system folder, by the system's own search where it
// can be limited to that folder, else by its full path there.
HMODULE LoadFromSystem(const char* library) {
    HMODULE module = ::LoadLibraryExA(library, nullptr, kSearchSystem32);
    if (module != nullptr || ::GetLastError() != ERROR_INVALID_PARAMETER) return module;
    // The flag is unknown to this Windows: the full path, its own
    // dependencies looked for beside it first.
    char path[MAX_PATH];
    const UINT length = ::GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length + 1 + std::strlen(library) >= MAX_PATH) return nullptr;
    path[length] = '\\';
    std::strcpy(path + length + 1, library);
    return ::LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

FARPROC WINAPI NotifyHook(unsigned notice, PDelayLoadInfo info) {
    if (info == nullptr) return nullptr;
    switch (notice) {
    case dliNotePreLoadLibrary: {
        // Never null: null would let the helper load the library by its
        // bare name, from the executable's folder first.
        HMODULE module = LoadFromSystem(info->szDll);
        if (module != nullptr) return reinterpret_cast<FARPROC>(module);
        Record(SlotOf(info->szDll), info->szDll, nullptr, ::GetLastError());
        return reinterpret_cast<FARPROC>(StandInModule());
    }
    case dliNotePreGetProcAddress:
        if (!IsStandInModule(info->hmodCur)) return nullptr;
        return StandIn(*info, SlotOf(info->szDll));
    default:
        return nullptr;
    }
}

FARPROC WINAPI FailureHook(unsigned notice, PDelayLoadInfo info) {
    if (info == nullptr) return nullptr;
    const size_t slot = SlotOf(info->szDll);
    if (notice == dliFailLoadLib) {
        Record(slot, info->szDll, nullptr, info->dwLastError);
        return reinterpret_cast<FARPROC>(StandInModule());
    }
    if (notice == dliFailGetProc) {
        Record(slot, info->szDll, info->dlp.fImportByName ? info->dlp.szProcName : "#ordinal", info->dwLastError);
        return StandIn(*info, slot);
    }
    return nullptr;
}

}  // namespace

extern "C" {
PfnDliHook __pfnDliNotifyHook2 = NotifyHook;
PfnDliHook __pfnDliFailureHook2 = FailureHook;
}

namespace plat {

void ConfineLibrarySearch() {
    // Looked up, not imported: an executable that imports it does not start
    // on a Windows 7 without the update.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    const auto setDefault = kernel == nullptr ? nullptr
        : reinterpret_cast<SetDefaultDllDirectoriesFn>(
              reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefault != nullptr && setDefault(kSearchSystem32)) return;
    // Without it, at least the current folder leaves the search.
    ::SetDllDirectoryW(L"");
}

}  // namespace plat
