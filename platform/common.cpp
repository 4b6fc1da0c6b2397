// The platform layer's portable helpers (common.h) and what the interface
// gives the same way on both sides (ReadWholeFile, the library failure).
#include "platform/common.h"

#include <atomic>

#include "platform/libraries.h"
#include "platform/platform.h"

namespace plat {

namespace {

int Nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string HexDigits(const void* data, size_t length, HexCase letters) {
    const char* digits = letters == HexCase::kUpper ? "0123456789ABCDEF" : "0123456789abcdef";
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

bool HexBytes(const std::string& digits, std::string* bytes) {
    if (digits.size() % 2 != 0) return false;
    bytes->clear();
    for (size_t i = 0; i < digits.size(); i += 2) {
        const int high = Nibble(digits[i]);
        const int low = Nibble(digits[i + 1]);
        if (high < 0 || low < 0) return false;
        *bytes += static_cast<char>(high << 4 | low);
    }
    return true;
}

bool ReadWholeFile(const std::string& path, std::string* data) {
    data->clear();
    FILE* fp = OpenForReading(path);
    if (fp == nullptr) return false;
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, fp)) > 0) data->append(buffer, got);
    const bool ok = std::ferror(fp) == 0;
    std::fclose(fp);
    if (!ok) data->clear();
    return ok;
}

// Constant-initialised: there before any dynamic initialisation sets it.
namespace {
std::atomic<LibraryFailure> g_libraryFailure{nullptr};
}  // namespace

void SetLibraryFailure(LibraryFailure fail) noexcept { g_libraryFailure = fail; }
LibraryFailure LibraryFailureSet() noexcept { return g_libraryFailure; }

}  // namespace plat
