// The field rules that the history's lines share with the rest of the
// history. Parse and Format, whole lines, are declared in History.h.
// Nothing here throws but std::bad_alloc.
#pragma once

#include <string>

namespace history {

// text as a field holds it: a tab or a line break becomes a space (no
// second byte of a double-byte character is one), and a longer text is cut
// at kMaxFieldBytes, never inside a character.
std::string Field(const std::string& text);

// Whether text may stand as an identity or a program-id: letters, digits,
// '.', '-' and '_', 1 to 64 of them, so that it never holds a separator.
bool IsToken(const std::string& text);

}  // namespace history
