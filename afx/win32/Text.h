// The program's texts are code page 932; the window system's own are UTF-16.
// They meet here, converted explicitly, and never through the process code
// page: Windows 10 ignores the manifest's activeCodePage unless it names
// UTF-8, so on a PC whose system locale is not Japanese the A functions would
// show (and hand back) the texts in another code page.
#pragma once

#include <string>

#include <windows.h>

// The program's code page.
constexpr UINT kAfxCodePage = 932;

std::wstring AfxWide(const char* text);          // from code page 932
std::string AfxNarrow(const wchar_t* text, int length = -1);  // to code page 932

// The same between UTF-16 and any code page (CP_UTF8 for a path the portable
// core takes, CP_ACP where a caller means the process code page). flags go to
// MultiByteToWideChar / WideCharToMultiByte unchanged. text ends at its zero;
// a length of -1 for the wide text means the same. What does not convert
// gives an empty text; nothing throws.
std::wstring AfxToWide(UINT codePage, const char* text, DWORD flags = 0);
std::string AfxFromWide(UINT codePage, const wchar_t* text, int length = -1, DWORD flags = 0);

void AfxSetWindowText(HWND window, const char* text);
std::string AfxGetWindowText(HWND window);
std::wstring AfxGetWindowTextW(HWND window);  // as the window holds it, UTF-16
void AfxSetDlgItemText(HWND dialog, int id, const char* text);
std::string AfxGetDlgItemText(HWND dialog, int id);
// The same in UTF-8, for a text that may hold any character (a password,
// which AUTH carries as UTF-8).
std::string AfxGetWindowTextUtf8(HWND window);
void AfxSetWindowTextUtf8(HWND window, const char* text);
// String resource id of the executable, or an empty text when it is absent.
std::wstring AfxLoadString(unsigned id);
