// The program's arguments, split from its command line as Windows' own
// CommandLineToArgvW splits them, without loading the shell for it: the
// shell's libraries cost every start time and memory before the first box.
#pragma once

#include <string>
#include <vector>

// Splits line into arguments. The first (the program) runs to the next quote
// when the line starts with one, otherwise to the first blank (space or
// tab); no escapes apply to it. In the others, blanks separate arguments
// outside quotes; 2n backslashes before a quote give n backslashes and the
// quote opens or closes a quoted part; 2n+1 give n backslashes and a
// literal quote; backslashes before anything else stay as they are; inside a
// quoted part a doubled quote gives one literal quote. A quoted part may be
// empty (""), which gives an empty argument. Owns nothing; throws nothing
// but std::bad_alloc.
std::vector<std::wstring> SplitCommandLine(const std::wstring& line);
