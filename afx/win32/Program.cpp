#include "afx/win32/Program.h"

#include <cstdlib>

std::wstring AfxModulePath() {
    wchar_t path[kAfxMaxModulePath] = L"";
    const DWORD length = ::GetModuleFileNameW(nullptr, path, kAfxMaxModulePath);
    if (length == 0 || length >= kAfxMaxModulePath) return std::wstring();
    return std::wstring(path, length);
}

std::wstring AfxProgramTitle() {
    wchar_t path[kAfxMaxModulePath] = L"";
    wchar_t name[_MAX_FNAME] = L"";
    if (::GetModuleFileNameW(nullptr, path, kAfxMaxModulePath) != 0) _wsplitpath(path, nullptr, nullptr, name, nullptr);
    return name;
}
