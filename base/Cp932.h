// Code page 932 (Shift-JIS), the encoding of all the program's text: a byte
// may be the first half of a double-byte character, whose second half can
// look like ASCII (ソ is 0x83 0x5C, a backslash). Scans that look for ASCII
// bytes step over whole characters with this test.
#pragma once

namespace cp932 {

// Whether c begins a double-byte character (0x81-0x9F or 0xE0-0xFC).
inline bool IsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

}  // namespace cp932
