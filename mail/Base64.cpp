#include "mail/Base64.h"

#include <cstddef>
#include <cstdint>

namespace smtp {

std::string Base64(const std::string& data) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    for (size_t i = 0; i < data.size(); i += 3) {
        const size_t n = data.size() - i < 3 ? data.size() - i : 3;
        uint32_t v = static_cast<unsigned char>(data[i]) << 16;
        if (n > 1) v |= static_cast<unsigned char>(data[i + 1]) << 8;
        if (n > 2) v |= static_cast<unsigned char>(data[i + 2]);
        out += kDigits[(v >> 18) & 63];
        out += kDigits[(v >> 12) & 63];
        out += n > 1 ? kDigits[(v >> 6) & 63] : '=';
        out += n > 2 ? kDigits[v & 63] : '=';
    }
    return out;
}

}  // namespace smtp
