// The history's lines: an entry (Entry.h) as one line of the file and
// back, and the field rules the lines share with the rest of the history
// (History.h). Nothing here throws but std::bad_alloc.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "reserve/Entry.h"

namespace history {

// Whether the history can hold t as a time: a year of four digits from 1900,
// every other field in its range (as after normalisation). A reservation
// whose times it cannot hold is to be refused before it is sent; Append,
// Replace and AppendUnlessSent refuse such an entry.
bool CanHold(const tm& t);

// The entries of a history file's text, oldest first; unreadable lines are
// left out.
std::vector<Entry> Parse(const std::string& text);
// The file's text for entries (all of them; the caller keeps the limit).
std::string Format(const std::vector<Entry>& entries);

// text as a field holds it: a tab or a line break becomes a space (no
// second byte of a double-byte character is one), and a longer text is cut
// at kMaxFieldBytes, never inside a character.
std::string Field(const std::string& text);

// Whether text may stand as an identity or a program-id: letters, digits,
// '.', '-' and '_', 1 to 64 of them, so that it never holds a separator.
bool IsToken(const std::string& text);

}  // namespace history
