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

// The value of a key that stands at the start of a line: the first line of
// text that begins with key, from after the key to the line's end (its line
// feed or the end of text), with white space trimmed as in ExtractValue and
// every other control character inside turned into a space. Never reads into
// another line, so an empty "station-name:" stays empty. Returns false,
// leaving value unchanged, when no line begins with key.
bool ExtractLineValue(std::string_view text, std::string_view key, std::string& value);

// What a reservation reads from one programme's text (a whole file, or one
// part of a file with several programmes).
struct Programme {
    // Required, read with ExtractValue exactly as files have always been read.
    std::string station;  // "station:": a name (version 1) or a code (version 2)
    std::string year, month, date, start, end;
    // Optional: empty when absent.
    std::string title;        // "program-title:", read with ExtractValue
    std::string stationName;  // "station-name:", read with ExtractLineValue
    std::string programId;    // "program-id:", read with ExtractLineValue
};

// The required keys, in the order they are read.
constexpr int kRequiredKeyCount = 6;
extern const char* const kRequiredKeys[kRequiredKeyCount];

// Reads programme from text. Returns nullptr when every required key was
// read (the optional fields are then set, empty when absent); otherwise the
// first required key missing (one of kRequiredKeys), with the keys after it
// and the optional fields left as they were.
const char* ReadProgramme(std::string_view text, Programme& programme);

}  // namespace iepg
