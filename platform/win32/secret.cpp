// win32 side of the stored-secret functions: DPAPI, bound to the current
// user, no extra entropy and never a prompt, so that a setup script can make
// the same value.
#include "platform/tls.h"

// After windows.h, which platform/tls.h brings in.
#include <wincrypt.h>

namespace plat {

namespace {

int Nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool ProtectSecret(const std::string& clear, std::string* hex) {
    DATA_BLOB in{static_cast<DWORD>(clear.size()), reinterpret_cast<BYTE*>(const_cast<char*>(clear.data()))};
    DATA_BLOB out{};
    if (!::CryptProtectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out)) return false;
    static const char kDigits[] = "0123456789ABCDEF";
    hex->clear();
    for (DWORD i = 0; i < out.cbData; ++i) {
        *hex += kDigits[out.pbData[i] >> 4];
        *hex += kDigits[out.pbData[i] & 15];
    }
    ::LocalFree(out.pbData);
    return true;
}

bool UnprotectSecret(const std::string& hex, std::string* clear) {
    if (hex.empty() || hex.size() % 2 != 0) return false;
    std::string blob;
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int high = Nibble(hex[i]);
        const int low = Nibble(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        blob += static_cast<char>(high << 4 | low);
    }
    DATA_BLOB in{static_cast<DWORD>(blob.size()), reinterpret_cast<BYTE*>(&blob[0])};
    DATA_BLOB out{};
    if (!::CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out)) return false;
    clear->assign(reinterpret_cast<const char*>(out.pbData), out.cbData);
    ::SecureZeroMemory(out.pbData, out.cbData);
    ::LocalFree(out.pbData);
    return true;
}

}  // namespace plat
