// win32 side of the file functions: paths go to the system as UTF-16;
// ReadWholeFile is common.cpp's.
#include <cstdio>
#include <string>

#include "platform/common.h"
#include "platform/platform.h"

namespace plat {

namespace {

std::wstring FromUtf8(const std::string& text) {
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (size <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], size);
    wide.resize(static_cast<size_t>(size) - 1);
    return wide;
}

}  // namespace

FILE* OpenForReading(const std::string& path) {
    return ::_wfopen(FromUtf8(path).c_str(), L"rb");
}

bool ReplaceWholeFile(const std::string& path, const std::string& data,
                      bool (*beforeReplace)(const std::string& fresh)) {
    const std::wstring target = FromUtf8(path);
    if (target.empty()) return false;
    const std::wstring fresh = target + L".new";
    HANDLE file = ::CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = data.empty() || (::WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
                               written == data.size());
    // On the disk before the move, so that a crash leaves the old file or the new one.
    ok = ::FlushFileBuffers(file) && ok;
    ::CloseHandle(file);
    ok = ok && (beforeReplace == nullptr || beforeReplace(path + ".new"));
    if (ok && ::MoveFileExW(fresh.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    ::DeleteFileW(fresh.c_str());
    return false;
}

}  // namespace plat
