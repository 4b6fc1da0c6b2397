#include "app/ProgramFiles.h"

#include <cstdlib>
#include <cwchar>
#include <string>

#include <windows.h>

#include "afx/win32/Text.h"
#include "platform/platform.h"

void MakePath(wchar_t (&path)[kPathSize], const Folder& folder, const wchar_t* name, const wchar_t* ext) {
    size_t dirLength = std::wcslen(folder.dir);
    bool addSeparator = dirLength > 0 && folder.dir[dirLength - 1] != L'\\' &&
                        folder.dir[dirLength - 1] != L'/';
    bool addDot = ext[0] != L'\0' && ext[0] != L'.';
    size_t need = std::wcslen(folder.drive) + dirLength + addSeparator + std::wcslen(name) + addDot +
                  std::wcslen(ext) + 1;  // the terminator
    if (need > kPathSize) {
        path[0] = L'\0';
        return;
    }
    _wmakepath(path, folder.drive, folder.dir, name, ext);
}

const wchar_t* BaseName(const wchar_t* path) {
    const wchar_t* base = path;
    for (const wchar_t* p = path; *p != L'\0'; ++p) {
        if (*p == L'\\' || *p == L'/') base = p + 1;
    }
    return base;
}

std::string Utf8(const wchar_t* path) { return AfxFromWide(CP_UTF8, path); }

bool ReadTextFile(const wchar_t* path, CString& text) {
    text.Empty();
    text.FreeExtra();
    std::string bytes;
    if (!plat::ReadWholeFile(Utf8(path), &bytes)) return false;
    // As a C string: the text ends at its first NUL, never gluing the line
    // before a NUL to the line after it.
    text = bytes.c_str();
    return true;
}

bool CreateFromSample(const Folder& folder, const wchar_t* name) {
    wchar_t target[kPathSize], sample[kPathSize];
    MakePath(target, folder, name, L"txt");
    MakePath(sample, folder, (std::wstring(name) + L".sample").c_str(), L"txt");
    if (target[0] == L'\0' || sample[0] == L'\0' || ::GetFileAttributesW(sample) == INVALID_FILE_ATTRIBUTES)
        return true;
    // Fails, and leaves it, when the user's file exists.
    return ::CopyFileW(sample, target, TRUE) || ::GetLastError() == ERROR_FILE_EXISTS;
}
