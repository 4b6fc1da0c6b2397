// The program's texts reach the binary in code page 932. These bytes show
// that the compiler's literal encoding is CP932, including the characters
// whose second byte is a backslash (0x5C), which a wrong encoding or a
// byte-wise escape would break.
#include <gtest/gtest.h>

#include <string>

namespace {

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty()) out += ' ';
        out += digits[c >> 4];
        out += digits[c & 0x0F];
    }
    return out;
}

}  // namespace

TEST(Encoding, LiteralsAreCodePage932) {
    const struct {
        std::string text;
        const char* bytes;
    } table[] = {
        {"予約を中止しました", "97 5C 96 F1 82 F0 92 86 8E 7E 82 B5 82 DC 82 B5 82 BD"},
        {"ソ", "83 5C"},
        {"～", "81 60"},
        {"メール送信に失敗しました",
         "83 81 81 5B 83 8B 91 97 90 4D 82 C9 8E B8 94 73 82 B5 82 DC 82 B5 82 BD"},
        {"関連付け登録", "8A D6 98 41 95 74 82 AF 93 6F 98 5E"},
        // Half-width katakana are single bytes.
        {"ｿｹｯﾄ", "BF B9 AF C4"},
        // ASCII stays ASCII.
        {"I:CH=%u\r\n", "49 3A 43 48 3D 25 75 0D 0A"},
    };
    for (const auto& row : table) EXPECT_EQ(Hex(row.text), row.bytes) << row.bytes;
}
