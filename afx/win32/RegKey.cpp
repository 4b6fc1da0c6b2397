#include "afx/win32/RegKey.h"

#include <cstring>

CRegKey::~CRegKey() { Close(); }

void CRegKey::Close() {
    if (m_key != nullptr) ::RegCloseKey(m_key);
    m_key = nullptr;
}

LSTATUS CRegKey::Create(HKEY parent, const char* subKey) {
    return ::RegCreateKeyExA(parent, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &m_key,
                             nullptr);
}

bool CRegKey::Open(HKEY parent, const char* subKey, REGSAM access) {
    return ::RegOpenKeyExA(parent, subKey, 0, access, &m_key) == ERROR_SUCCESS;
}

bool CRegKey::SetString(const char* name, const char* value) {
    const DWORD size = static_cast<DWORD>(std::strlen(value) + 1);
    return ::RegSetValueExA(m_key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), size) == ERROR_SUCCESS;
}

bool CRegKey::SetEmpty(const char* name) {
    return ::RegSetValueExA(m_key, name, 0, REG_NONE, nullptr, 0) == ERROR_SUCCESS;
}

bool CRegKey::SetWideString(const std::wstring& value) {
    const DWORD size = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(m_key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), size) ==
           ERROR_SUCCESS;
}

bool CRegKey::SetBinary(const char* name, const BYTE* data, DWORD size) {
    return ::RegSetValueExA(m_key, name, 0, REG_BINARY, data, size) == ERROR_SUCCESS;
}

CString CRegKey::GetString(const char* name) const {
    char value[kMaxValueBytes] = "";
    DWORD size = sizeof value - 1;  // room for a zero the value may lack
    DWORD type = 0;
    if (::RegQueryValueExA(m_key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return CString();
    value[size] = '\0';
    return CString(value);
}

std::wstring CRegKey::GetWideString() const {
    wchar_t value[kMaxValueBytes / sizeof(wchar_t)] = L"";
    DWORD size = sizeof value - sizeof(wchar_t);  // room for a zero the value may lack
    DWORD type = 0;
    if (::RegQueryValueExW(m_key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return std::wstring();
    value[size / sizeof(wchar_t)] = L'\0';
    return value;
}

bool CRegKey::HasValue(const char* name) const {
    return ::RegQueryValueExA(m_key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool CRegKey::DeleteValue(const char* name) {
    const LSTATUS status = ::RegDeleteValueA(m_key, name);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

bool CRegKey::IsEmpty() const {
    DWORD subKeys = 0, values = 0;
    return ::RegQueryInfoKeyA(m_key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr,
                              nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           subKeys == 0 && values == 0;
}

std::vector<std::string> CRegKey::SubKeyNames() const {
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        char name[kMaxValueBytes];
        DWORD size = sizeof name;
        const LSTATUS status = ::RegEnumKeyExA(m_key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS) break;
        names.emplace_back(name, size);
    }
    return names;
}
