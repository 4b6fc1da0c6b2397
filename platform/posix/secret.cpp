// posix side of the stored-secret functions. There is no per-user key store
// to lean on here, and the native build only serves the tests: the text is
// encoded, not encrypted. The digits are a marker, the user id, the text and
// a checksum; a value made for another user, or damaged, does not come back.
#include <unistd.h>

#include <cstdint>

#include "platform/common.h"
#include "platform/tls.h"

namespace plat {

namespace {

const char kMarker[] = "QP1";

std::string UserTag() { return kMarker + std::to_string(::getuid()) + ":"; }

// FNV-1a: catches a changed digit, which is all it is for.
std::string Checksum(const std::string& bytes) {
    uint32_t hash = 2166136261u;
    for (unsigned char c : bytes) hash = (hash ^ c) * 16777619u;
    return std::string{static_cast<char>(hash >> 24), static_cast<char>(hash >> 16), static_cast<char>(hash >> 8),
                       static_cast<char>(hash)};
}
constexpr size_t kChecksumSize = 4;

}  // namespace

bool ProtectSecret(const std::string& clear, std::string* hex) {
    const std::string bytes = UserTag() + clear;
    const std::string sealed = bytes + Checksum(bytes);
    *hex = HexDigits(sealed.data(), sealed.size(), HexCase::kUpper);
    return true;
}

bool UnprotectSecret(const std::string& hex, std::string* clear) {
    std::string bytes;
    if (!HexBytes(hex, &bytes)) return false;
    const std::string tag = UserTag();
    if (bytes.size() < tag.size() + kChecksumSize || bytes.compare(0, tag.size(), tag) != 0) return false;
    const std::string body = bytes.substr(0, bytes.size() - kChecksumSize);
    if (Checksum(body) != bytes.substr(body.size())) return false;
    *clear = body.substr(tag.size());
    return true;
}

}  // namespace plat
