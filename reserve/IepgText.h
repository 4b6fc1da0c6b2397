// Reading the header values of an iEPG file: text in code page 932
// (Shift-JIS), where a byte may be the second half of a double-byte
// character. The functions read only inside the given range, own nothing
// they are given and throw only std::bad_alloc (when a value is copied).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace iepg {

// Position of the first occurrence of key in text, searching from the start
// and stepping over whole characters, so that a match never begins at the
// second byte of a double-byte character. A lead byte as the last byte of
// text counts as one character. npos when the key does not occur or is empty.
size_t FindKey(std::string_view text, std::string_view key);

// The value of key: from the first space at or after the key's first
// occurrence (FindKey) through the first line feed after that space, with
// leading and trailing white space (space, tab, line feed, carriage return,
// vertical tab, form feed) removed; inner white space stays. Returns false,
// leaving value unchanged, when the key, the space or the line feed is
// missing.
bool ExtractValue(std::string_view text, std::string_view key, std::string& value);

}  // namespace iepg
