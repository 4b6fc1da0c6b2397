// What the two sides of the platform layer share: helpers that do not
// depend on the operating system, compiled once (common.cpp) for both. Only
// platform/ includes this header; the rest of the program sees platform.h,
// net.h and tls.h.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace plat {

enum class HexCase { kLower, kUpper };

// length bytes from data as two hexadecimal digits each, in the case asked
// for ("0a1b..." or "0A1B..."). Owns nothing; throws only std::bad_alloc.
std::string HexDigits(const void* data, size_t length, HexCase letters);
// The bytes that hexadecimal digits (either case) stand for, into *bytes
// (replaced). false, *bytes unspecified, when the count is odd or a
// character is no digit; no digits at all give no bytes. Throws only
// std::bad_alloc.
bool HexBytes(const std::string& digits, std::string* bytes);

// Opens the file at the UTF-8 path for reading in binary mode, as fopen
// does; null when it cannot. The caller owns the stream and closes it with
// fclose. Each side defines it (file.cpp): Windows opens through the wide
// path, so that a folder outside the program's code page is reached.
FILE* OpenForReading(const std::string& path);

}  // namespace plat
