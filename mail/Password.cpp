#include "mail/Password.h"

#include "platform/platform.h"
#include "platform/tls.h"

namespace {

// Never the start of code page 932 text: 0xEF 0xBB is no character there.
const char kUtf8Mark[] = "\xEF\xBB\xBF";
constexpr size_t kUtf8MarkSize = sizeof kUtf8Mark - 1;

}  // namespace

std::string AuthText(const std::string& text) {
    std::string utf8;
    return plat::Cp932ToUtf8(text, &utf8) ? utf8 : text;
}

bool ProtectPassword(const std::string& utf8, std::string* hex) {
    return plat::ProtectSecret(kUtf8Mark + utf8, hex);
}

bool UnprotectPassword(const std::string& hex, std::string* utf8) {
    std::string clear;
    if (!plat::UnprotectSecret(hex, &clear)) return false;
    *utf8 = clear.compare(0, kUtf8MarkSize, kUtf8Mark) == 0 ? clear.substr(kUtf8MarkSize) : AuthText(clear);
    return true;
}
