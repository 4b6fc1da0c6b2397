// The program's files beside the executable (INI, log, history, Station.txt,
// MailFormat.txt, the hook shortcuts): their paths and reading them. Paths
// are wide throughout, so a name with characters outside code page 932
// (café, 𠮷野) opens the file it names. Used by the start-up (ReserveApp.cpp)
// and both modes (SettingMode.cpp, ReserveMode.cpp).
#pragma once

#include <cstddef>
#include <string>

#include "afx/afx.h"

// Buffer sizes of the path handling, in UTF-16 units: the runtime's
// _MAX_PATH for a whole path, _MAX_DRIVE for "C:", _MAX_FNAME for a
// directory, name or extension.
constexpr size_t kPathSize = 260;
constexpr size_t kDriveSize = 3;
constexpr size_t kPartSize = 256;

// The directory part of the executable's path, for the files beside it.
struct Folder {
    wchar_t drive[kDriveSize] = L"";
    wchar_t dir[kPartSize] = L"";
};

// Joins folder, name and ext into path (kPathSize units) as _wmakepath does.
// A path that would not fit is left empty rather than overflowing the
// buffer (a directory near the path limit leaves no room for a longer file
// name than the executable's): opening it then fails like opening a missing
// file.
void MakePath(wchar_t (&path)[kPathSize], const Folder& folder, const wchar_t* name, const wchar_t* ext);

// The part of path after its last separator ('\' or '/'), or the whole path
// without one. In UTF-16 no unit of another character looks like a
// separator (unlike the second byte of ソ, 0x83 0x5C, in code page 932).
const wchar_t* BaseName(const wchar_t* path);

// path in UTF-8, as the portable core takes paths (any character of the
// folder's name survives).
std::string Utf8(const wchar_t* path);

// Reads the whole file at path in binary mode into text (emptied first), up
// to its first NUL byte: the text ends there. Returns false, with text
// empty, when the file cannot be opened or read.
bool ReadTextFile(const wchar_t* path, CString& text);

// The installer ships the samples as <name>.sample.txt, never as the user's
// own files, so that no upgrade or uninstall replaces or removes what the
// user changed. Copies folder's <name>.sample.txt to <name>.txt when there
// is no <name>.txt yet (nothing happens without the sample, as in an
// unpacked zip, which ships the files themselves). False when the copy
// was wanted and failed.
bool CreateFromSample(const Folder& folder, const wchar_t* name);
