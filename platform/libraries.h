// Where the program's system libraries come from, and what becomes of a call
// into one that cannot be had.
//
// The executable imports the core of Windows at start-up (kernel32, user32,
// gdi32, advapi32, ws2_32, msvcrt: the loader maps those from the system's
// KnownDLLs, never from a folder) and the common controls through its
// manifest. What only some runs use (SChannel in secur32, the certificate
// and DPAPI functions in crypt32, COM in ole32, the shell in shell32) is
// imported on first use by the runtime's delay-load helper. On Windows its
// hooks load those libraries from the system folder only, never from the
// executable's folder (Quorpa.exe may run from Downloads, beside a planted
// secur32.dll), and turn a library or function that cannot be had into the
// program's own failure instead of the helper's structured exception, which
// no catch clause of the program sees and which would end the process
// without a word:
//   - a call that releases something, or whose failure its caller already
//     handles as a quiet "did not work" (starting COM, opening a shortcut,
//     telling Explorer of a registration, protecting a password), returns
//     that call's failure result;
//   - every other call raises the failure set by SetLibraryFailure on the
//     calling thread, from the call itself, as if the function had thrown
//     it (the program's is CSystemLibraryMissing, set by base/): the send
//     and the connection test report it as a failure.
// The library is never loaded before its first use, so a run that needs no
// TLS still shows its confirmation box without SChannel.
#pragma once

namespace plat {

// Raises the failure of a call into a library that cannot be had, with
// where it was found (file, line), the system's error code and a text
// ("SystemLibraryMissing(secur32.dll)"). Must throw; never returns.
using LibraryFailure = void (*)(const char* file, unsigned line, long error, const char* text);
// Sets what such a call raises (the upper floor's exception; before it is
// set, std::runtime_error with the text). Set once, at static
// initialisation; throws nothing.
void SetLibraryFailure(LibraryFailure fail) noexcept;
// The failure set (null: none yet), for the win32 side's stand-ins.
LibraryFailure LibraryFailureSet() noexcept;

// Takes the executable's folder and the current folder out of the library
// search of the whole process (only the system folder is searched), where
// Windows offers that (Windows 8 and later; Windows 7 with update
// KB2533623). Call first at start-up, before anything loads a library.
// Throws nothing.
void ConfineLibrarySearch();

}  // namespace plat
