#include "afx/win32/Text.h"

#include <cwchar>

namespace {
// A string resource holds at most this many characters.
constexpr int kMaxResourceString = 4096;
}  // namespace

std::wstring AfxToWide(UINT codePage, const char* text, DWORD flags) {
    const int size = ::MultiByteToWideChar(codePage, flags, text, -1, nullptr, 0);
    if (size <= 1) return std::wstring();
    std::wstring wide(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(codePage, flags, text, -1, &wide[0], size);
    wide.resize(static_cast<size_t>(size) - 1);
    return wide;
}

std::string AfxFromWide(UINT codePage, const wchar_t* text, int length, DWORD flags) {
    if (length < 0) length = static_cast<int>(std::wcslen(text));
    if (length == 0) return std::string();
    const int size = ::WideCharToMultiByte(codePage, flags, text, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string narrow(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(codePage, flags, text, length, &narrow[0], size, nullptr, nullptr);
    return narrow;
}

std::wstring AfxGetWindowTextW(HWND window) {
    const int length = ::GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int got = ::GetWindowTextW(window, &text[0], length + 1);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

std::wstring AfxWide(const char* text) { return AfxToWide(kAfxCodePage, text); }

std::string AfxNarrow(const wchar_t* text, int length) { return AfxFromWide(kAfxCodePage, text, length); }

std::string AfxGetWindowTextUtf8(HWND window) {
    const std::wstring text = AfxGetWindowTextW(window);
    return AfxFromWide(CP_UTF8, text.c_str(), static_cast<int>(text.size()));
}

void AfxSetWindowTextUtf8(HWND window, const char* text) { ::SetWindowTextW(window, AfxToWide(CP_UTF8, text).c_str()); }

void AfxSetWindowText(HWND window, const char* text) { ::SetWindowTextW(window, AfxWide(text).c_str()); }

std::string AfxGetWindowText(HWND window) {
    const std::wstring text = AfxGetWindowTextW(window);
    return AfxNarrow(text.c_str(), static_cast<int>(text.size()));
}

void AfxSetDlgItemText(HWND dialog, int id, const char* text) { AfxSetWindowText(::GetDlgItem(dialog, id), text); }

std::string AfxGetDlgItemText(HWND dialog, int id) { return AfxGetWindowText(::GetDlgItem(dialog, id)); }

std::wstring AfxLoadString(unsigned id) {
    wchar_t text[kMaxResourceString + 1] = L"";
    // LoadStringW leaves the buffer terminated (empty when the id is absent).
    ::LoadStringW(::GetModuleHandleW(nullptr), id, text, kMaxResourceString + 1);
    return text;
}
