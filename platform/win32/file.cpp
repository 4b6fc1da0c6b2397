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

namespace {

// Errors of a replacement that another program's open of the file causes
// and that end when it closes the file.
bool HeldOpen(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_UNABLE_TO_REMOVE_REPLACED;
}

// Puts fresh in target's place. ReplaceFileW first: it replaces a file that
// others hold open with delete sharing, which MoveFileExW refuses, and keeps
// the file's attributes and identity. MoveFileExW where there is no file to
// replace (yet, or any more: ReplaceFileW can fail after removing it).
// Returns 0 or the error.
DWORD MoveIntoPlace(const std::wstring& fresh, const std::wstring& target) {
    if (::ReplaceFileW(target.c_str(), fresh.c_str(), nullptr,
                       REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr, nullptr))
        return 0;
    const DWORD replaceError = ::GetLastError();
    if (::MoveFileExW(fresh.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
    const DWORD moveError = ::GetLastError();
    return HeldOpen(replaceError) ? replaceError : moveError;
}

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

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
    if (ok && !IsFolder(target)) {
        // Indexers and virus scanners open a freshly written file for a
        // moment, often without delete sharing: wait them out, briefly.
        const DWORD startedAt = ::GetTickCount();
        DWORD pause = 10;
        for (;;) {
            const DWORD error = MoveIntoPlace(fresh, target);
            if (error == 0) return true;
            if (!HeldOpen(error)) break;
            if (::GetTickCount() - startedAt >= kReplaceRetryMs) {
                // Still held: the new file stays, whole, for the next write.
                return false;
            }
            ::Sleep(pause);
            pause = pause < 160 ? pause * 2 : pause;
        }
    }
    ::DeleteFileW(fresh.c_str());
    return false;
}

}  // namespace plat
