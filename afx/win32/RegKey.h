// One registry key, opened or created below a parent and closed when the
// object goes out of scope, so keys opened in one block close newest first.
// Texts are code page 932 through the ANSI calls, except the wide ones,
// which carry a text that need not fit it (a path). Windows only; nothing
// here throws: every call reports its result.
#pragma once

#include <string>
#include <vector>

#include <windows.h>

#include "afx/CString.h"

class CRegKey {
public:
    // Longest string value read back (bytes, the terminating zero included).
    static constexpr DWORD kMaxValueBytes = 1024;

    CRegKey() = default;
    ~CRegKey();
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;

    // Creates subKey below parent for writing, or opens it when it exists.
    // The registry's status (ERROR_SUCCESS, ERROR_ACCESS_DENIED, ...).
    LSTATUS Create(HKEY parent, const char* subKey);
    // Opens an existing subKey below parent with access (default: reading).
    bool Open(HKEY parent, const char* subKey, REGSAM access = KEY_READ);
    // Stores a string with its terminating zero counted in the size; a null
    // name is the key's default value.
    bool SetString(const char* name, const char* value);
    // An empty value of type REG_NONE (an OpenWithProgids entry).
    bool SetEmpty(const char* name);
    // The key's default value as a string that need not fit code page 932.
    bool SetWideString(const std::wstring& value);
    bool SetBinary(const char* name, const BYTE* data, DWORD size);
    // The string value name (null: the default value); empty when there is
    // none, it is no string or it is longer than kMaxValueBytes.
    CString GetString(const char* name) const;
    // The key's default value in UTF-16, for a path; empty as above.
    std::wstring GetWideString() const;
    // Whether a value name (null: the default value) exists, of any type.
    bool HasValue(const char* name) const;
    // Deletes the value name (null: the default value); true when it is gone
    // (also when it was not there). The key must be open for KEY_SET_VALUE.
    bool DeleteValue(const char* name);
    // True when the key holds no value and no subkey (and can be read).
    bool IsEmpty() const;
    // The names of the subkeys, in the registry's order; those longer than
    // kMaxValueBytes are left out (no name the program writes is).
    std::vector<std::string> SubKeyNames() const;
    // Closes the key now (before deleting it, say); the object can open
    // or create again.
    void Close();
    // The open key (null before a successful Open or Create), still owned here.
    HKEY get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};
