// A stand-in for a library planted beside Quorpa.exe (a secur32.dll in the
// Downloads folder): loaded into any process, it leaves the empty file
// "<its own path>.loaded" beside itself and does nothing else. Mark is an
// entry point for rundll32, which the tests use to prove the mark works.
#include <windows.h>

#include <cwchar>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t path[MAX_PATH + 8];
    const DWORD length = ::GetModuleFileNameW(instance, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return TRUE;
    std::wcscpy(path + length, L".loaded");
    HANDLE mark = ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (mark != INVALID_HANDLE_VALUE) ::CloseHandle(mark);
    return TRUE;
}

extern "C" __declspec(dllexport) void CALLBACK Mark(HWND, HINSTANCE, LPSTR, int) {}
