// The file-type registration as data: every registry value that makes this
// program the handler of iEPG files, as rows of {root, key, name, value}.
// One table serves 関連付け登録 (the rows written in order), 関連付け解除
// (the same rows taken away where they still hold what was written, in
// reverse order), the box that lists what was registered (ListedKey) and
// the installer's registry entries (packaging/wxsrows.cpp prints the rows
// for the .wxs). Plain C++ with no Windows header, so that the installer's
// generator builds it on Linux; nothing here throws but std::bad_alloc.
#pragma once

#include <string>
#include <vector>

namespace assoc {

// Where a row's key lies. Classes and Software stand for the place the
// registration goes to: HKEY_LOCAL_MACHINE\Software\Classes and
// HKEY_LOCAL_MACHINE for every user, HKEY_CURRENT_USER\Software\Classes and
// HKEY_CURRENT_USER for the current user only. User is always
// HKEY_CURRENT_USER (the memory of the registered extensions).
enum class Root { kClasses, kSoftware, kUser };

enum class Type {
    kString,  // REG_SZ
    kFlags,   // REG_BINARY, the value as eight hexadecimal digits of its four bytes
    kNone,    // REG_NONE, empty (an OpenWithProgids entry)
};

struct Row {
    Root root;
    std::wstring key;
    std::wstring name;  // empty: the key's default value
    Type type;
    std::wstring value;
    // The key belongs to Windows or to another program: only the value is
    // ours, and the box names the value rather than the key.
    bool shared;
};

// One extension of a registration. An extension whose default value names
// another program keeps it: Quorpa is then only added to its
// OpenWithProgids (owned false).
struct Extension {
    std::wstring name;
    bool owned;
};

// The file type every extension points at.
constexpr const wchar_t* kFileType = L"epgfile";
// The key below HKEY_CURRENT_USER that remembers each registered extension
// in a key of its own, so that 関連付け解除 finds every one of them.
constexpr const wchar_t* kMemoryKey = L"Software\\Quorpa\\Associations";
// The software key of the program, below the place's software root: removed
// with the last of its subkeys.
constexpr const wchar_t* kProgramKey = L"Software\\Quorpa";

// Whether text may be registered as an extension: a dot followed by 1 to
// kMaxExtensionChars of A-Z a-z 0-9 _ -. Anything else (an empty text, "*",
// a key path such as exefile\shell, a name without the dot) would write
// into keys that are not an extension's.
constexpr size_t kMaxExtensionChars = 15;
bool IsExtension(const std::wstring& text);

// Whether two registry names are the same (the registry ignores ASCII case).
bool SameName(const std::wstring& a, const std::wstring& b);

// The extensions a registration with the typed extension covers: ".tvpi",
// ".tvpid", then typed unless it is one of them.
std::vector<std::wstring> ExtensionNames(const std::wstring& typed);

// Every row of a registration of exts, in the order they are written: the
// file type with its open command and icon, the shell's "open with" entry
// of the program, the capabilities for Windows' default apps, then for each
// extension its memory (remembered: the place's classes root as its value),
// its own values and those of the MIME types saved with it. exe: the
// executable's full path, for the open command ("exe" "%1"), the icon
// ("exe",0) and the description (the string resource, "@exe,-104").
std::vector<Row> Rows(const std::vector<Extension>& exts, const std::wstring& exe, const std::wstring& remembered);

// The rows of one extension only (a part of Rows).
std::vector<Row> ExtensionRows(const Extension& ext, const std::wstring& remembered);

// The key the box names for rows[index]: the first row's key of which it is
// a subkey (or itself), so the box lists "epgfile" once for its subkeys; a
// shared value not below such a key is named with its value name.
std::wstring ListedKey(const std::vector<Row>& rows, size_t index);

// The top of the keys of rows[index] that are ours to delete once empty:
// ListedKey without a shared value's name.
std::wstring TopKey(const std::vector<Row>& rows, size_t index);

}  // namespace assoc
