// Code page 932 (Shift-JIS), the encoding of all the program's text: a byte
// may be the first half of a double-byte character, whose second half can
// look like ASCII (ソ is 0x83 0x5C, a backslash). Scans that look for ASCII
// bytes step over whole characters with this test.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace cp932 {

// Whether c begins a double-byte character (0x81-0x9F or 0xE0-0xFC).
inline bool IsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// text cut to at most maxBytes between two characters, followed by "…" when
// anything was cut: what a box shows of a value that may be of any length.
// A lead byte at the very end, without its second half, is cut off too.
// Throws std::bad_alloc.
inline std::string Shortened(std::string_view text, size_t maxBytes) {
    size_t length = 0;
    while (length < text.size()) {
        const size_t next = length + (IsLeadByte(static_cast<unsigned char>(text[length])) ? 2 : 1);
        if (next > maxBytes || next > text.size()) break;
        length = next;
    }
    if (length == text.size()) return std::string(text);
    return std::string(text.substr(0, length)) + "…";
}

}  // namespace cp932
