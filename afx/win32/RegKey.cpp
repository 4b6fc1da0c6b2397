#include "afx/win32/RegKey.h"

namespace {
// The registry's name for the default value is a null pointer.
const wchar_t* NameOf(const std::wstring& name) { return name.empty() ? nullptr : name.c_str(); }

// The value name of key as raw bytes of its type, or false when it is
// missing, of another type or longer than the limit.
bool Query(HKEY key, const std::wstring& name, DWORD wanted, std::vector<BYTE>& data) {
    data.assign(CRegKey::kMaxValueBytes, 0);
    DWORD size = CRegKey::kMaxValueBytes - sizeof(wchar_t);  // room for a zero the value may lack
    DWORD type = 0;
    if (::RegQueryValueExW(key, NameOf(name), nullptr, &type, data.data(), &size) != ERROR_SUCCESS || type != wanted)
        return false;
    data.resize(size);
    return true;
}
}  // namespace

CRegKey::~CRegKey() { Close(); }

void CRegKey::Close() {
    if (m_key != nullptr) ::RegCloseKey(m_key);
    m_key = nullptr;
}

LSTATUS CRegKey::Create(HKEY parent, const std::wstring& subKey) {
    Close();
    return ::RegCreateKeyExW(parent, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE | KEY_READ,
                             nullptr, &m_key, nullptr);
}

bool CRegKey::Open(HKEY parent, const std::wstring& subKey, REGSAM access) {
    Close();
    return ::RegOpenKeyExW(parent, subKey.c_str(), 0, access, &m_key) == ERROR_SUCCESS;
}

bool CRegKey::SetString(const std::wstring& name, const std::wstring& value) {
    const DWORD size = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(m_key, NameOf(name), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), size) ==
           ERROR_SUCCESS;
}

bool CRegKey::SetEmpty(const std::wstring& name) {
    return ::RegSetValueExW(m_key, NameOf(name), 0, REG_NONE, nullptr, 0) == ERROR_SUCCESS;
}

bool CRegKey::SetBinary(const std::wstring& name, const std::vector<BYTE>& data) {
    return ::RegSetValueExW(m_key, NameOf(name), 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size())) ==
           ERROR_SUCCESS;
}

std::wstring CRegKey::GetString(const std::wstring& name) const {
    std::vector<BYTE> data;
    if (!Query(m_key, name, REG_SZ, data)) return std::wstring();
    const auto* text = reinterpret_cast<const wchar_t*>(data.data());
    return std::wstring(text, ::wcsnlen(text, data.size() / sizeof(wchar_t)));
}

std::vector<BYTE> CRegKey::GetBinary(const std::wstring& name) const {
    std::vector<BYTE> data;
    if (!Query(m_key, name, REG_BINARY, data)) data.clear();
    return data;
}

bool CRegKey::HasValue(const std::wstring& name) const {
    return ::RegQueryValueExW(m_key, NameOf(name), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool CRegKey::DeleteValue(const std::wstring& name) {
    const LSTATUS status = ::RegDeleteValueW(m_key, NameOf(name));
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

bool CRegKey::IsEmpty() const {
    DWORD subKeys = 0, values = 0;
    return ::RegQueryInfoKeyW(m_key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr,
                              nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           subKeys == 0 && values == 0;
}

std::vector<std::wstring> CRegKey::SubKeyNames() const {
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[kMaxValueBytes / sizeof(wchar_t)];
        DWORD size = kMaxValueBytes / sizeof(wchar_t);
        const LSTATUS status = ::RegEnumKeyExW(m_key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS) break;
        names.emplace_back(name, size);
    }
    return names;
}
