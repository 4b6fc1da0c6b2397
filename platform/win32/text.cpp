// win32 side of the code page 932 conversions: the system's own table,
// asked not to substitute (WC_NO_BEST_FIT_CHARS and the default-character
// flag; MB_ERR_INVALID_CHARS).
#include "platform/text.h"

#include <windows.h>

namespace plat {

namespace {

constexpr UINT kCodePage932 = 932;

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// One character (one unit, or a surrogate pair) in code page 932; false when
// it has no exact form.
bool OneCharacter(const wchar_t* units, int count, std::string* out) {
    char bytes[8];
    BOOL usedDefault = FALSE;
    const int n = ::WideCharToMultiByte(kCodePage932, WC_NO_BEST_FIT_CHARS, units, count, bytes, sizeof bytes,
                                        nullptr, &usedDefault);
    if (n <= 0 || usedDefault) return false;
    out->append(bytes, static_cast<size_t>(n));
    return true;
}

}  // namespace

bool Utf16ToCp932(const std::u16string& text, std::string* cp932, size_t* bad) {
    cp932->clear();
    // Character by character, so that the one without a form is found by its
    // place; these files are a few kilobytes.
    for (size_t i = 0; i < text.size();) {
        size_t count = 1;
        if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) count = 2;
        const bool lone = count == 1 && (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i]));
        if (lone || !OneCharacter(reinterpret_cast<const wchar_t*>(text.data() + i), static_cast<int>(count), cp932)) {
            *bad = i;
            return false;
        }
        i += count;
    }
    return true;
}

bool Cp932ToUtf16(const std::string& cp932, std::u16string* text) {
    text->clear();
    if (cp932.empty()) return true;
    const int length = static_cast<int>(cp932.size());
    const int units = ::MultiByteToWideChar(kCodePage932, MB_ERR_INVALID_CHARS, cp932.data(), length, nullptr, 0);
    if (units <= 0) return false;
    text->resize(static_cast<size_t>(units));
    return ::MultiByteToWideChar(kCodePage932, MB_ERR_INVALID_CHARS, cp932.data(), length,
                                 reinterpret_cast<wchar_t*>(&(*text)[0]), units) == units;
}

}  // namespace plat
