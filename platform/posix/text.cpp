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
    std::string bytes;
    for (char16_t u : text) {
        bytes += static_cast<char>(u & 0xFF);
        bytes += static_cast<char>(u >> 8);
    }
    Converter convert("CP932", "UTF-16LE");
    size_t done = 0;
    if (convert.Ok() && convert.Run(bytes.data(), bytes.size(), cp932, &done)) return true;
    *bad = done / 2;
    return false;
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
