// posix side of the code page 932 conversions: glibc's iconv "CP932", which
// is Windows' table (～ is U+FF5E, not U+301C as in Shift_JIS), and which
// fails on a character it has no form for instead of substituting.
#include "platform/text.h"

#include <iconv.h>

namespace plat {

namespace {

// One open conversion, closed with the scope.
class Converter {
public:
    Converter(const char* to, const char* from) : m_cd(::iconv_open(to, from)) {}
    ~Converter() {
        if (Ok()) ::iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool Ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // Converts size bytes at in, appending to out. false when the input
    // stops being convertible; *done then holds the bytes taken.
    bool Run(const char* in, size_t size, std::string* out, size_t* done) {
        std::string buffer(size * 4 + 8, '\0');  // UTF-16 from one byte: 2 bytes; 932 from 2 bytes: 2 at most
        char* from = const_cast<char*>(in);
        size_t fromLeft = size;
        char* to = &buffer[0];
        size_t toLeft = buffer.size();
        const bool ok = ::iconv(m_cd, &from, &fromLeft, &to, &toLeft) != static_cast<size_t>(-1) && fromLeft == 0;
        out->append(buffer.data(), buffer.size() - toLeft);
        *done = size - fromLeft;
        return ok;
    }

private:
    iconv_t m_cd;
};

}  // namespace

bool Utf16ToCp932(const std::u16string& text, std::string* cp932, size_t* bad) {
    cp932->clear();
    Converter convert("CP932", "UTF-16LE");
    Converter back("UTF-16LE", "CP932");
    // Character by character, each converted back as well: glibc also maps
    // some characters to a look-alike (U+2014 to the bar that reads back as
    // U+2015), which Windows' table without best fit refuses. Only a
    // character that comes back as itself has a code page 932 form.
    for (size_t i = 0; i < text.size();) {
        const size_t count =
            text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF
                ? 2
                : 1;
        std::string units;
        for (size_t k = i; k < i + count; ++k) {
            units += static_cast<char>(text[k] & 0xFF);
            units += static_cast<char>(text[k] >> 8);
        }
        std::string bytes, again;
        size_t done = 0;
        if (!convert.Ok() || !back.Ok() || !convert.Run(units.data(), units.size(), &bytes, &done) ||
            !back.Run(bytes.data(), bytes.size(), &again, &done) || again != units) {
            *bad = i;
            return false;
        }
        *cp932 += bytes;
        i += count;
    }
    return true;
}

bool Cp932ToUtf16(const std::string& cp932, std::u16string* text) {
    text->clear();
    Converter convert("UTF-16LE", "CP932");
    std::string bytes;
    size_t done = 0;
    if (!convert.Ok() || !convert.Run(cp932.data(), cp932.size(), &bytes, &done)) return false;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        *text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                       static_cast<unsigned char>(bytes[i + 1]) << 8);
    return true;
}

}  // namespace plat
