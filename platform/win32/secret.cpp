// win32 side of the stored-secret functions: DPAPI, bound to the current
// user, no extra entropy and never a prompt, so that a setup script can make
// the same value.
#include "platform/tls.h"

#include "platform/common.h"

// After windows.h, which platform/tls.h brings in.
#include <wincrypt.h>

namespace plat {

bool ProtectSecret(const std::string& clear, std::string* hex) {
    DATA_BLOB in{static_cast<DWORD>(clear.size()), reinterpret_cast<BYTE*>(const_cast<char*>(clear.data()))};
    DATA_BLOB out{};
    if (!::CryptProtectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out)) return false;
    *hex = HexDigits(out.pbData, out.cbData, HexCase::kUpper);
    ::LocalFree(out.pbData);
    return true;
}

bool UnprotectSecret(const std::string& hex, std::string* clear) {
    if (hex.empty()) return false;
    std::string blob;
    if (!HexBytes(hex, &blob)) return false;
    DATA_BLOB in{static_cast<DWORD>(blob.size()), reinterpret_cast<BYTE*>(&blob[0])};
    DATA_BLOB out{};
    if (!::CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out)) return false;
    clear->assign(reinterpret_cast<const char*>(out.pbData), out.cbData);
    ::SecureZeroMemory(out.pbData, out.cbData);
    ::LocalFree(out.pbData);
    return true;
}

}  // namespace plat
