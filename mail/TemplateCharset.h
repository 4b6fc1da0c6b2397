// A template saved as Unicode (UTF-8, UTF-16) is read as code page 932 like
// any other (text::ReadLines) and its mail is built in code page 932. Where
// the template's own Content-Type says UTF-8, its user wrote it for a mail in
// UTF-8: the finished message then goes out in UTF-8, the encoded words of
// its header (ASCII, labelled Shift_JIS) as they are.
#pragma once

#include <string>

namespace mail {

// Whether format's header (the lines before its first empty line) has a
// Content-Type line (any case) whose charset parameter is UTF-8 ("utf-8" or
// "utf8", any case, quoted or not). Throws only std::bad_alloc.
bool TemplateNamesUtf8(const std::string& format);

// message (code page 932) in UTF-8; message itself when it is not code page
// 932 text. Throws only std::bad_alloc.
std::string MessageInUtf8(const std::string& message);

}  // namespace mail
