// Files with several programmes: splitting one iEPG file into the texts of
// its programmes, each read on its own, so that no key of one programme can
// be taken from another.
//
// A file with several programmes has an outer header whose "Content-type:"
// is application/x-multi-tv-program-info or
// application/x-multi-tv-program-digital-info and which gives "version:" and
// "boundary:" (before the first programme's own Content-type). Each
// programme then starts on a line holding the boundary, and a line holding
// the boundary followed by "--" ends the file; each programme is a whole
// file of its own (its Content-type, keys and body).
// Lines end in CRLF or LF. Every function here reads only the given text,
// owns nothing, works in time linear in the text's length and throws only
// std::bad_alloc.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace iepg {

// The most programmes one file may hold. Each asks its own confirmation and
// sends its own mail: a guide page's selection holds a few, a season's
// recordings a few dozen. A file with more is refused whole
// (PartsError::kTooManyParts) rather than asking the user hundreds of times.
constexpr size_t kMaxParts = 200;

// Why a file with several programmes cannot be split. Each refuses the
// whole file: nothing of it is reserved.
enum class PartsError {
    kNone,
    kNoBoundary,    // no "boundary:" line in the outer header, or an empty one
    kNoEnd,         // the closing line (the boundary and "--") never comes: the file is cut short
    kNoParts,       // the closing line comes before any programme
    kTooManyParts,  // more than kMaxParts programmes
    // A file that is not of the type with several programmes, yet holds a
    // second "Content-type:" line or a "boundary:" line: programmes that
    // cannot be told apart, so that one would take keys from another.
    kUnrecognised,
    // A programme of a file with several that holds a second
    // "Content-type:" or a "boundary:" line: a boundary line is lost.
    kMergedParts,
};

// Whether text is a file with several programmes: the first line of its
// header that begins with "Content-type:" (in any case) names one of the two
// multi types (in any case, ending at ';' or white space). The header is the
// lines before the first blank line that follows a line of text: a UTF-8
// byte order mark (an editor's) and blank lines before it are skipped.
bool IsMultiFile(std::string_view text);

// The programmes of text, as views into it, in file order. A file that is
// not IsMultiFile is one programme, its whole text as it is, unless a line
// of it begins with "boundary:" or a second one with "Content-type:" (in
// any case; kUnrecognised). Otherwise each
// programme runs from the line after a boundary line up to the next
// boundary line or the closing line; a line is a boundary line when,
// trimmed of white space, it is the boundary or "--" and the boundary, and
// the closing line when it is either of those followed by "--". Text before
// the first boundary line and after the closing line is not read, nor is a
// programme holding nothing but white space. A programme holding a line that
// begins with "boundary:" or a second one with "Content-type:" refuses the
// file (kMergedParts). On an error parts is empty.
PartsError SplitParts(std::string_view text, std::vector<std::string_view>& parts);

// The warning shown for error (code page 932): what is wrong with the file,
// and that nothing was sent. Empty for kNone.
std::string PartsErrorText(PartsError error);

}  // namespace iepg
