// Number and word conversions with the C library's scanf rules ("%d", "%u",
// "%s"), written out so that every input has a defined result: the library's
// own conversions have undefined behaviour when a number does not fit its
// type, and the texts converted here come from files off the web.
//
// All functions read a byte range, never past its end, own nothing, allocate
// nothing and throw nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace scan {

// White space as the C locale's isspace has it: space, tab, line feed,
// vertical tab, form feed, carriage return.
bool IsSpace(char c);

// Index of the first byte at or after pos that is not white space
// (text.size() when there is none).
size_t SkipSpace(std::string_view text, size_t pos);

// "%d" at pos: optional white space, an optional sign, one or more decimal
// digits; whatever follows the digits is left. On success stores the number,
// sets next to the index after the last digit and returns true. Returns false
// when no digit follows, and also when the number does not fit in int (where
// the library's conversion would be undefined).
bool ScanInt(std::string_view text, size_t pos, int& value, size_t& next);

// "%u" at pos, for a 32-bit unsigned int: optional white space, an optional
// sign, one or more decimal digits. A minus sign gives the unsigned 32-bit
// value of the negative number ("-1" gives 4294967295), as the library's
// unsigned conversion does. Returns false when no digit follows, and when the
// digits' magnitude exceeds 4294967295 (the library's result would depend on
// the width of its long, or be undefined).
bool ScanUnsigned32(std::string_view text, size_t pos, uint32_t& value, size_t& next);

// "%s" at pos: optional white space, then the longest run of bytes that are
// not white space. Returns false when no such byte follows; otherwise sets
// word to the run (a view into text) and next to the index after it.
bool ScanWord(std::string_view text, size_t pos, std::string_view& word, size_t& next);

// sscanf(text, "%d", &value) == 1, with ScanInt's defined overflow.
bool ScanOneInt(std::string_view text, int& value);

// sscanf(text, "%d : %d", &first, &second) == 2: two numbers separated by a
// colon with any amount of white space, none included, on either side.
// Text after the second number is ignored. Overflow fails as in ScanInt.
bool ScanIntColonInt(std::string_view text, int& first, int& second);

}  // namespace scan
