// Conversions between code page 932 (the program's text) and UTF-16 (the
// code units of the Unicode files an editor saves), with Windows' code page
// 932 table on both sides. Strict both ways: a character that has no exact
// form on the other side fails the conversion rather than turning into a
// look-alike or a question mark. Both own nothing they are given and throw
// only std::bad_alloc.
#pragma once

#include <cstddef>
#include <string>

namespace plat {

// text (UTF-16 code units, surrogate pairs for characters beyond the basic
// plane) in code page 932, into *cp932 (replaced). false when a character
// has no code page 932 form, or a surrogate stands unpaired: *bad is then
// the index of its first unit and *cp932 is unspecified.
bool Utf16ToCp932(const std::u16string& text, std::string* cp932, size_t* bad);

// cp932 as UTF-16 code units, into *text (replaced). false when cp932 is not
// code page 932 (a lead byte without its second byte, an unassigned
// character); *text is then unspecified.
bool Cp932ToUtf16(const std::string& cp932, std::u16string* text);

}  // namespace plat
