// The SMTP login's texts: AUTH carries the user name and the password as
// UTF-8 (RFC 4616, RFC 4954), while the program's texts are code page 932;
// and the password as Quorpa.ini stores it.
#pragma once

#include <string>

// text (code page 932) as UTF-8 for AUTH; bytes that are not code page 932
// go as they are.
std::string AuthText(const std::string& text);

// The password (UTF-8) protected for the current user (plat::ProtectSecret)
// as it is stored: the protected bytes are a UTF-8 byte-order mark and the
// text, so that any character survives. false on failure.
bool ProtectPassword(const std::string& utf8, std::string* hex);
// The reverse, giving UTF-8. A stored password without the mark is one
// stored before UTF-8 was kept: its text is code page 932 and is converted.
// false when it does not decrypt for this user.
bool UnprotectPassword(const std::string& hex, std::string* utf8);
