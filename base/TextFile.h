// The text files a user edits beside the program (Station.txt,
// MailFormat.txt), as editors save them: code page 932 as ever, or UTF-8
// with or without a byte order mark, or UTF-16 little-endian with one (what
// Notepad calls "Unicode"). Each is read as the same code page 932 text,
// kept line by line beside the line's own bytes, so that a file written back
// keeps its encoding and every line nobody changed.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace text {

enum class Encoding {
    kCp932,     // as the program writes text; also any file that is not one of the others
    kUtf8,      // valid UTF-8 holding at least one byte beyond ASCII, no byte order mark
    kUtf8Bom,   // EF BB BF, then valid UTF-8
    kUtf16Le,   // FF FE, then UTF-16 little-endian code units
};

struct Lines {
    Encoding encoding = Encoding::kCp932;
    std::string mark;               // the byte order mark, as the file has it; empty for none
    std::vector<std::string> raw;   // each line's bytes in the file, its line end included
    std::vector<std::string> text;  // the same lines in code page 932, line ends as they are
};

// Reads raw (a whole file's bytes) into *lines (replaced). The encoding is
// told by the byte order mark, else by raw being valid UTF-8 with some byte
// beyond ASCII; anything else (a UTF-8 mark before bytes that are not
// UTF-8, an odd number of UTF-16 bytes) is code page 932, its text raw
// itself, exactly as such files were always read. Lines end after each line
// feed (the UTF-16 unit 0x000A for UTF-16); the last may end without one.
// Returns 0, or the 1-based number of the first line holding a character
// that has no code page 932 form (*lines is then unspecified). Throws only
// std::bad_alloc.
size_t ReadLines(const std::string& raw, Lines* lines);

// The whole code page 932 text of lines.
std::string JoinText(const Lines& lines);
// The whole file: the mark and every line's bytes.
std::string JoinRaw(const Lines& lines);

// line (code page 932) as bytes of encoding, without any mark, into *raw
// (replaced). false when line is not code page 932 text. Throws only
// std::bad_alloc.
bool Encode(const std::string& line, Encoding encoding, std::string* raw);

// The line end the file uses: that of its first line that has one ("\r\n"
// or "\n", in code page 932); "\r\n", as the samples have it, when none has.
std::string LineEnd(const Lines& lines);

// The box for a line of file that has a character with no code page 932
// form: "Station.txt の 3 行目に、Shift-JIS にない文字があります ...".
std::string UnmappableText(const std::string& file, size_t line);

}  // namespace text
