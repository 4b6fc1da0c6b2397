// The running executable as the program names it: its full path (to register
// it, to find the files beside it) and its base name (the title of its
// boxes). Windows only; nothing here throws or owns anything.
#pragma once

#include <string>

#include <windows.h>

// GetModuleFileName's buffer: the classic path limit.
constexpr DWORD kAfxMaxModulePath = MAX_PATH;

// The executable's full path in UTF-16 (a folder name outside code page 932
// would come back from the ANSI call with '?' in it, a path to nothing).
// Empty when it cannot be had whole: a path that fills the buffer was cut
// short, and would point at a file that does not exist.
std::wstring AfxModulePath();

// The executable's base name, without folder and extension ("Quorpa"), from
// what GetModuleFileName gives even when cut short; empty when it gives
// nothing.
std::wstring AfxProgramTitle();
