// posix side of the stored-secret functions. There is no per-user key store
// to lean on here, and the native build only serves the tests: the text is
// encoded, not encrypted. The digits are a marker, the user id and the text;
// a value made for another user, or damaged, does not come back.
#include <unistd.h>

#include <cstdio>

#include "platform/tls.h"

namespace plat {

namespace {

const char kMarker[] = "QP1";

std::string ToHex(const std::string& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

int Nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string UserTag() { return kMarker + std::to_string(::getuid()) + ":"; }

}  // namespace

bool ProtectSecret(const std::string& clear, std::string* hex) {
    *hex = ToHex(UserTag() + clear);
    return true;
}

bool UnprotectSecret(const std::string& hex, std::string* clear) {
    if (hex.size() % 2 != 0) return false;
    std::string bytes;
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int high = Nibble(hex[i]);
        const int low = Nibble(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes += static_cast<char>(high << 4 | low);
    }
    const std::string tag = UserTag();
    if (bytes.compare(0, tag.size(), tag) != 0) return false;
    *clear = bytes.substr(tag.size());
    return true;
}

}  // namespace plat
