#include "platform/platform.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace plat {

void SleepMs(uint32_t ms) { ::Sleep(ms); }
uint32_t TickCount() { return ::GetTickCount(); }
uint32_t CurrentThreadId() { return ::GetCurrentThreadId(); }
uint32_t CurrentProcessId() { return ::GetCurrentProcessId(); }

long TimezoneSeconds() {
    _tzset();
    return _timezone;
}

bool NormaliseCalendarTime(tm& t) { return _mkgmtime64(&t) != -1; }

std::string ErrnoText(int errorNo) { return std::strerror(errorNo); }

int ShowMessageBox(const char* text, unsigned type) {
    // Titled with the executable's base name, as the framework's box is.
    wchar_t path[MAX_PATH] = L"";
    wchar_t title[_MAX_FNAME] = L"";
    if (::GetModuleFileNameW(nullptr, path, MAX_PATH) != 0) _wsplitpath(path, nullptr, nullptr, title, nullptr);
    // The text is code page 932 whatever the process code page is (Windows 10
    // ignores the manifest's activeCodePage): shown through UTF-16.
    const int size = ::MultiByteToWideChar(932, 0, text, -1, nullptr, 0);
    std::wstring wide(size > 0 ? static_cast<size_t>(size) : 1, L'\0');
    if (size > 0) ::MultiByteToWideChar(932, 0, text, -1, &wide[0], size);
    // Owned by the thread's active window (the settings dialog when a check
    // fails), so that window is disabled while the box is up and gets the
    // activation back when it closes. Without a window (reserve mode) the box
    // is task-modal and asks for the foreground: Windows' foreground rules
    // would otherwise leave an ownerless box behind the window that holds it
    // (a program PreExec started, say), only flashing on the taskbar. The
    // foreground is not always granted (a browser in front that started the
    // program through a download, the user typing elsewhere): the box is also
    // topmost, so it is seen above the browser even then, if not yet active.
    HWND owner = ::GetActiveWindow();
    return ::MessageBoxW(owner, wide.c_str(), title,
                         owner != nullptr ? type : type | MB_TASKMODAL | MB_SETFOREGROUND | MB_TOPMOST);
}

bool Cp932ToUtf8(const std::string& text, std::string* utf8) {
    if (text.empty()) {
        utf8->clear();
        return true;
    }
    const int length = static_cast<int>(text.size());
    const int wide = ::MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (wide <= 0) return false;
    std::wstring utf16(static_cast<size_t>(wide), L'\0');
    ::MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text.data(), length, &utf16[0], wide);
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return false;
    std::string out(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, &out[0], bytes, nullptr, nullptr);
    *utf8 = out;
    return true;
}

}  // namespace plat
