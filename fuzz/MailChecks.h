// Checks of a finished reservation mail that hold whatever the file and the
// template hold, shared by the fuzz targets: the data has CR LF line ends
// only and ends exactly at its end-of-data mark, no header line exceeds 998
// characters (RFC 5322 section 2.1.1) and no line with an encoded word
// exceeds 76 (RFC 2047 section 2), and a header field that carries a value
// of the file gives back exactly its bytes. Each check aborts with a word on
// stderr, which libFuzzer reports as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "mail/MailComposer.h"

namespace mailcheck {

inline void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "mail check failed: %s\n", what);
        std::abort();
    }
}

constexpr char kWordPrefix[] = "=?Shift_JIS?B?";

// The lines of the header, without their CR LF: up to the first empty line.
inline std::vector<std::string> HeaderLines(const std::string& message) {
    std::vector<std::string> lines;
    for (size_t begin = 0, end; (end = message.find("\r\n", begin)) != std::string::npos; begin = end + 2) {
        if (end == begin) break;
        lines.push_back(message.substr(begin, end - begin));
    }
    return lines;
}

// The message as the server reads it: CR LF only, dot-stuffed, one end mark,
// no line over kMaxDataLine bytes.
inline void CheckData(const std::string& message) {
    size_t lineStart = 0;
    for (size_t i = 0; i < message.size(); ++i) {
        if (message[i] == '\n') {
            Require(i - 1 - lineStart <= kMaxDataLine, "a line over 998 bytes");
            lineStart = i + 1;
        }
        if (message[i] == '\r') Require(i + 1 < message.size() && message[i + 1] == '\n', "a bare CR");
        if (message[i] == '\n') Require(i > 0 && message[i - 1] == '\r', "a bare LF");
    }
    Require(message.size() >= 5 && message.compare(message.size() - 5, 5, "\r\n.\r\n") == 0, "no end mark");
    Require(message.find("\r\n.\r\n") == message.size() - 5, "the data ends early");
    Require(message.compare(0, 3, ".\r\n") != 0, "the data ends at once");
}

inline void CheckHeaderLines(const std::string& message) {
    for (const std::string& line : HeaderLines(message)) {
        Require(line.size() <= kMaxHeaderLine, "a header line over 998 characters");
        Require(line.find_first_not_of(" \t") != std::string::npos, "a header line of blanks only");
        if (line.find(kWordPrefix) != std::string::npos)
            Require(line.size() <= kMaxEncodedLine, "a line with an encoded word over 76 characters");
    }
}

inline std::string FromBase64(const std::string& text) {
    static const std::string digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (char c : text) {
        if (c == '=') break;
        const size_t digit = digits.find(c);
        Require(digit != std::string::npos, "not Base64");
        bits = bits << 6 | static_cast<unsigned>(digit);
        if ((count += 6) >= 8) out += static_cast<char>(bits >> (count -= 8) & 0xFF);
    }
    return out;
}

// Header field name's value unfolded, without the blank after the colon and
// without suffix (the template's text after the value), decoded: either the
// value in clear or encoded words only, the blanks between them dropped
// (RFC 2047 section 6.2).
inline std::string FieldValue(const std::string& message, const std::string& name, const std::string& suffix) {
    const std::vector<std::string> lines = HeaderLines(message);
    std::string value;
    bool found = false;
    for (const std::string& line : lines) {
        if (found && (line[0] == ' ' || line[0] == '\t')) {
            value += line;
        } else if (found) {
            break;
        } else if (line.compare(0, name.size() + 2, name + ": ") == 0) {
            found = true;
            value = line.substr(name.size() + 2);
        }
    }
    Require(found, "the field is missing");
    Require(value.size() >= suffix.size() && value.compare(value.size() - suffix.size(), suffix.size(), suffix) == 0,
            "the text after the value is lost");
    value.resize(value.size() - suffix.size());
    if (value.find(kWordPrefix) == std::string::npos) return value;
    std::string decoded;
    for (size_t begin = 0; begin < value.size();) {
        if (value[begin] == ' ') {
            ++begin;
            continue;
        }
        size_t end = value.find(' ', begin);
        if (end == std::string::npos) end = value.size();
        const std::string word = value.substr(begin, end - begin);
        Require(word.size() > 16 && word.compare(0, 14, kWordPrefix) == 0 && word.compare(word.size() - 2, 2, "?=") == 0,
                "text beside encoded words");
        Require(word.size() <= 75, "an encoded word over 75 characters");
        decoded += FromBase64(word.substr(14, word.size() - 16));
        begin = end;
    }
    return decoded;
}

// value as it must come back from a header: cut to kMaxValueBytes, at most
// one byte short of it (a double-byte character kept whole).
inline std::string CutValue(const std::string& value) {
    const std::string cut = CappedValue(value, kMaxValueBytes);
    Require(value.compare(0, cut.size(), cut) == 0, "the cut is not a prefix");
    Require(cut.size() == value.size() || cut.size() + 1 >= kMaxValueBytes, "cut too short");
    return cut;
}

}  // namespace mailcheck
