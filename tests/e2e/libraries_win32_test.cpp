// The delay-load hooks (platform/win32/libraries.cpp): called as the
// runtime's helper calls them, and through the helper itself with two
// imports that cannot be had (tests/e2e/absent/*.def): a library that does
// not exist and a function the shell does not have.
#include <windows.h>

#include <delayimp.h>
#include <gtest/gtest.h>

#include <string>

#include "base/Exceptions.h"

extern "C" __declspec(dllimport) int WINAPI QuorpaAbsent(int);
extern "C" __declspec(dllimport) int WINAPI QuorpaNoSuchFunction(int);

namespace {

DelayLoadInfo Info(const char* library, const char* function, DWORD error = 0) {
    DelayLoadInfo info{};
    info.cb = sizeof info;
    info.szDll = library;
    info.dlp.fImportByName = TRUE;
    info.dlp.szProcName = function;
    info.dwLastError = error;
    return info;
}

// What a stand-in does when called: the exception's text and error number,
// or the value it returns and the last error it leaves.
struct Outcome {
    std::string thrown;
    int32_t error;
    LONG returned;
};

Outcome Call(FARPROC standIn) {
    ::SetLastError(0);
    try {
        const LONG value = reinterpret_cast<LONG(WINAPI*)()>(reinterpret_cast<void*>(standIn))();
        return {"", static_cast<int32_t>(::GetLastError()), value};
    } catch (const CSystemLibraryMissing& e) {
        return {e.what(), e.GetErrorNo(), 0};
    }
}

}  // namespace

TEST(DelayLoadHooks, AMissingLibraryGivesStandInsThatFailAsTheCallWould) {
    // Never null for the helper (it would then search by bare name): the
    // executable stands in for the library, and each function for a call.
    DelayLoadInfo info = Info("quorpa-absent.dll", nullptr);
    auto module = reinterpret_cast<HMODULE>(__pfnDliNotifyHook2(dliNotePreLoadLibrary, &info));
    ASSERT_EQ(module, ::GetModuleHandleW(nullptr));
    const struct {
        const char* function;
        Outcome expected;
    } table[] = {
        {"AcquireCredentialsHandleA", {"SystemLibraryMissing(quorpa-absent.dll)", ERROR_MOD_NOT_FOUND, 0}},
        {"CryptUnprotectData", {"SystemLibraryMissing(quorpa-absent.dll)", ERROR_MOD_NOT_FOUND, 0}},
        {"FreeCredentialsHandle", {"", ERROR_MOD_NOT_FOUND, LONG(0x8007007E)}},
        {"ApplyControlToken", {"", ERROR_MOD_NOT_FOUND, LONG(0x8007007E)}},
        {"CertFreeCertificateChain", {"", ERROR_MOD_NOT_FOUND, 0}},
        {"CryptProtectData", {"", ERROR_MOD_NOT_FOUND, 0}},
        {"CoInitializeEx", {"", ERROR_MOD_NOT_FOUND, LONG(0x8007007E)}},
        {"ShellExecuteExW", {"", ERROR_MOD_NOT_FOUND, 0}},
    };
    for (const auto& row : table) {
        DelayLoadInfo call = Info("quorpa-absent.dll", row.function);
        call.hmodCur = module;
        const FARPROC standIn = __pfnDliNotifyHook2(dliNotePreGetProcAddress, &call);
        ASSERT_NE(standIn, nullptr) << row.function;
        const Outcome got = Call(standIn);
        EXPECT_EQ(got.thrown, row.expected.thrown) << row.function;
        EXPECT_EQ(got.error, row.expected.error) << row.function;
        EXPECT_EQ(got.returned, row.expected.returned) << row.function;
    }
}

namespace {

struct Unwound {
    bool& flag;
    ~Unwound() { flag = true; }
};

template <int (WINAPI* Import)(int)>
void CallWithGuard(bool& unwound) {
    Unwound guard{unwound};
    Import(1);
}

}  // namespace

// Through the helper: its thunk jumps to the stand-in with the caller's
// frame in place, and the exception unwinds through the caller as from any
// call (its objects are destroyed), on every call, not only the first.
TEST(DelayLoadHooks, ThroughTheHelperTheCallThrowsAndTheCallerUnwinds) {
    const struct {
        void (*call)(bool&);
        const char* text;
    } table[] = {
        {CallWithGuard<QuorpaAbsent>, "SystemLibraryMissing(quorpa-absent.dll)"},
        {CallWithGuard<QuorpaNoSuchFunction>, "SystemLibraryMissing(shell32.dll!QuorpaNoSuchFunction)"},
    };
    for (int round = 0; round < 2; ++round) {
        for (const auto& row : table) {
            bool unwound = false;
            std::string thrown;
            try {
                row.call(unwound);
            } catch (const CSystemLibraryMissing& e) {
                thrown = e.what();
            }
            EXPECT_EQ(thrown, row.text) << round;
            EXPECT_TRUE(unwound) << round;
        }
    }
}
