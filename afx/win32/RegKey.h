// One registry key, opened or created below a parent and closed when the
// object goes out of scope, so keys opened in one block close newest first.
// Names and texts are UTF-16 through the wide calls, so a path outside code
// page 932 is stored whole. An empty value name is the key's default value.
// Windows only; nothing here throws: every call reports its result.
#pragma once

#include <string>
#include <vector>

#include <windows.h>

class CRegKey {
public:
    // Longest value read back (bytes, a string's terminating zero included).
    static constexpr DWORD kMaxValueBytes = 2048;

    CRegKey() = default;
    ~CRegKey();
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;

    // Creates subKey (non-volatile) below parent for writing, or opens it
    // when it exists. The registry's status (ERROR_SUCCESS,
    // ERROR_ACCESS_DENIED, ...).
    LSTATUS Create(HKEY parent, const std::wstring& subKey);
    // Opens an existing subKey below parent with access (default: reading).
    bool Open(HKEY parent, const std::wstring& subKey, REGSAM access = KEY_READ);
    // A REG_SZ value, stored with its terminating zero counted in the size.
    bool SetString(const std::wstring& name, const std::wstring& value);
    // An empty value of type REG_NONE (an OpenWithProgids entry).
    bool SetEmpty(const std::wstring& name);
    bool SetBinary(const std::wstring& name, const std::vector<BYTE>& data);
    // The REG_SZ value name; empty when there is none, it is no string or
    // it is longer than kMaxValueBytes.
    std::wstring GetString(const std::wstring& name) const;
    // The bytes of a REG_BINARY value; empty as above.
    std::vector<BYTE> GetBinary(const std::wstring& name) const;
    // Whether a value name exists, of any type.
    bool HasValue(const std::wstring& name) const;
    // Deletes the value name; true when it is gone (also when it was not
    // there). The key must be open for KEY_SET_VALUE.
    bool DeleteValue(const std::wstring& name);
    // True when the key holds no value and no subkey (and can be read).
    bool IsEmpty() const;
    // The names of the subkeys, in the registry's order; those longer than
    // kMaxValueBytes are left out (no name the program writes is).
    std::vector<std::wstring> SubKeyNames() const;
    // Closes the key now (before deleting it, say); the object can open
    // or create again.
    void Close();
    // The open key (null before a successful Open or Create), still owned here.
    HKEY get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};
