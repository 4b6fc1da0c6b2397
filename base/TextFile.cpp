#include "base/TextFile.h"

#include "platform/text.h"

namespace text {

namespace {

const char kUtf8Mark[] = "\xEF\xBB\xBF";
const char kUtf16LeMark[] = "\xFF\xFE";
constexpr char16_t kLineFeed = u'\n';

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Decodes one UTF-8 sequence at raw[i], as the standard has it (no overlong
// form, no surrogate, nothing beyond U+10FFFF). Returns its length, 0 when
// the bytes there are not UTF-8.
size_t Utf8Sequence(const std::string& raw, size_t i, char32_t* c) {
    const unsigned char b = static_cast<unsigned char>(raw[i]);
    size_t length = 0;
    char32_t value = 0, least = 0;
    if (b < 0x80) {
        *c = b;
        return 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
        length = 2, value = b & 0x1F, least = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3, value = b & 0x0F, least = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4, value = b & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (i + length > raw.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        const unsigned char next = static_cast<unsigned char>(raw[i + k]);
        if (!IsContinuation(next)) return 0;
        value = value << 6 | (next & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *c = value;
    return length;
}

// raw from begin as UTF-16 units; false when it is not UTF-8.
bool Utf8ToUtf16(const std::string& raw, size_t begin, std::u16string* units) {
    units->clear();
    for (size_t i = begin; i < raw.size();) {
        char32_t c = 0;
        const size_t length = Utf8Sequence(raw, i, &c);
        if (length == 0) return false;
        if (c >= 0x10000) {
            units->push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            units->push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            units->push_back(static_cast<char16_t>(c));
        }
        i += length;
    }
    return true;
}

std::string Utf16ToUtf8(const std::u16string& units) {
    std::string out;
    for (size_t i = 0; i < units.size(); ++i) {
        char32_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF)
            c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string Utf16LeBytes(const std::u16string& units) {
    std::string out;
    for (char16_t u : units) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    }
    return out;
}

bool HasMark(const std::string& raw, const char* mark, size_t size) { return raw.compare(0, size, mark, size) == 0; }

// The units of a UTF-16 little-endian file after its mark, cut into lines
// (each with its line feed).
std::vector<std::u16string> Utf16Lines(const std::string& raw, size_t begin) {
    std::vector<std::u16string> lines(1);
    for (size_t i = begin; i + 1 < raw.size(); i += 2) {
        const char16_t u = static_cast<char16_t>(static_cast<unsigned char>(raw[i]) |
                                                 static_cast<unsigned char>(raw[i + 1]) << 8);
        lines.back() += u;
        if (u == kLineFeed) lines.emplace_back();
    }
    if (lines.back().empty()) lines.pop_back();
    return lines;
}

// raw from begin cut after each line feed.
std::vector<std::string> ByteLines(const std::string& raw, size_t begin) {
    std::vector<std::string> lines;
    while (begin < raw.size()) {
        const size_t lf = raw.find('\n', begin);
        const size_t end = lf == std::string::npos ? raw.size() : lf + 1;
        lines.push_back(raw.substr(begin, end - begin));
        begin = end;
    }
    return lines;
}

}  // namespace

size_t ReadLines(const std::string& raw, Lines* lines) {
    *lines = Lines();
    std::u16string units;
    const size_t utf8Mark = sizeof kUtf8Mark - 1, utf16Mark = sizeof kUtf16LeMark - 1;
    if (HasMark(raw, kUtf16LeMark, utf16Mark) && (raw.size() - utf16Mark) % 2 == 0) {
        lines->encoding = Encoding::kUtf16Le;
        lines->mark = raw.substr(0, utf16Mark);
        for (const std::u16string& line : Utf16Lines(raw, utf16Mark)) {
            std::string cp932;
            size_t bad = 0;
            if (!plat::Utf16ToCp932(line, &cp932, &bad)) return lines->text.size() + 1;
            lines->raw.push_back(Utf16LeBytes(line));
            lines->text.push_back(cp932);
        }
        return 0;
    }
    const bool marked = HasMark(raw, kUtf8Mark, utf8Mark);
    const size_t begin = marked ? utf8Mark : 0;
    bool beyondAscii = false;
    for (const unsigned char c : raw) beyondAscii = beyondAscii || c >= 0x80;
    if ((marked || beyondAscii) && Utf8ToUtf16(raw, begin, &units)) {
        lines->encoding = marked ? Encoding::kUtf8Bom : Encoding::kUtf8;
        lines->mark = raw.substr(0, begin);
        for (const std::string& line : ByteLines(raw, begin)) {
            std::u16string lineUnits;
            Utf8ToUtf16(line, 0, &lineUnits);  // a part of valid UTF-8 cut at a line feed is valid
            std::string cp932;
            size_t bad = 0;
            if (!plat::Utf16ToCp932(lineUnits, &cp932, &bad)) return lines->text.size() + 1;
            lines->raw.push_back(line);
            lines->text.push_back(cp932);
        }
        return 0;
    }
    lines->raw = ByteLines(raw, 0);
    lines->text = lines->raw;
    return 0;
}

std::string JoinText(const Lines& lines) {
    std::string all;
    for (const std::string& line : lines.text) all += line;
    return all;
}

std::string JoinRaw(const Lines& lines) {
    std::string all = lines.mark;
    for (const std::string& line : lines.raw) all += line;
    return all;
}

bool Encode(const std::string& line, Encoding encoding, std::string* raw) {
    if (encoding == Encoding::kCp932) {
        *raw = line;
        return true;
    }
    std::u16string units;
    if (!plat::Cp932ToUtf16(line, &units)) return false;
    *raw = encoding == Encoding::kUtf16Le ? Utf16LeBytes(units) : Utf16ToUtf8(units);
    return true;
}

std::string LineEnd(const Lines& lines) {
    for (const std::string& line : lines.text) {
        if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) return "\r\n";
        if (!line.empty() && line.back() == '\n') return "\n";
    }
    return "\r\n";
}

std::string UnmappableText(const std::string& file, size_t line) {
    return file + "の" + std::to_string(line) +
           "行目に、シフトJISで表せない文字があります\nその文字を書き換えて保存してください";
}

}  // namespace text
