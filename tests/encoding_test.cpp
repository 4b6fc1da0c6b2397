// The program's texts reach the binary in code page 932. These bytes show
// that the compiler's literal encoding is CP932, including the characters
// whose second byte is a backslash (0x5C), which a wrong encoding or a
// byte-wise escape would break.
#include <gtest/gtest.h>

#include "base/TextFile.h"
#include "mail/TemplateCharset.h"

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

// Station.txt and MailFormat.txt as editors save them, each read as the same
// code page 932 text. The UTF-8 and UTF-16 bytes are written out (this
// source's literals become code page 932), the expected text as literals.
namespace {

// "1 ＮＨＫ総合" in UTF-8 and in UTF-16 little-endian.
#define NHK_UTF8 "1 \xEF\xBC\xAE\xEF\xBC\xA8\xEF\xBC\xAB\xE7\xB7\x8F\xE5\x90\x88"
#define NHK_UTF16 "1\0 \0\x2E\xFF\x28\xFF\x2B\xFF\xCF\x7D\x08\x54"

const char* EncodingName(text::Encoding e) {
    switch (e) {
    case text::Encoding::kCp932: return "cp932";
    case text::Encoding::kUtf8: return "utf8";
    case text::Encoding::kUtf8Bom: return "utf8bom";
    case text::Encoding::kUtf16Le: return "utf16le";
    }
    return "?";
}

}  // namespace

TEST(Encoding, UserFilesAsEditorsSaveThem) {
    const struct {
        const char* what;
        std::string raw;
        const char* encoding;
        std::string text;  // code page 932; for a bad line, unchecked
        size_t lines;
        size_t badLine;
    } rows[] = {
        {"code page 932 as ever", "1 ＮＨＫ総合\r\n# ソ表\r\n", "cp932", "1 ＮＨＫ総合\r\n# ソ表\r\n", 2, 0},
        {"UTF-8 without a mark", NHK_UTF8 "\r\n3 A\r\n", "utf8", "1 ＮＨＫ総合\r\n3 A\r\n", 2, 0},
        {"UTF-8 with a mark, LF lines", "\xEF\xBB\xBF" NHK_UTF8 "\n3 A", "utf8bom", "1 ＮＨＫ総合\n3 A", 2, 0},
        {"UTF-16 little-endian", std::string("\xFF\xFE" NHK_UTF16 "\r\0\n\0" "3\0 \0A\0", 26), "utf16le",
         "1 ＮＨＫ総合\r\n3 A", 2, 0},
        {"ASCII alone is code page 932", "1 NHK\n", "cp932", "1 NHK\n", 1, 0},
        {"a UTF-8 mark before code page 932 bytes", "\xEF\xBB\xBF" "1 ＮＨＫ\n", "cp932", "\xEF\xBB\xBF" "1 ＮＨＫ\n",
         1, 0},
        {"code page 932 that is no UTF-8", "8 ソニー\r\n", "cp932", "8 ソニー\r\n", 1, 0},
        {"UTF-8 katakana with a 0x5C second byte, half-width kana",
         "8 \xE3\x82\xBD\n9 \xEF\xBD\xBF\n", "utf8", "8 ソ\n9 ｿ\n", 2, 0},
        {"an odd count of UTF-16 bytes is code page 932", std::string("\xFF\xFE" "1\0 ", 5), "cp932",
         std::string("\xFF\xFE" "1\0 ", 5), 1, 0},
        {"UTF-8: an accented e has no code page 932 form", "1 A\n2 caf\xC3\xA9\n", "", "", 0, 2},
        {"UTF-8: an emoji on line 3", "1 A\r\n\r\n3 \xF0\x9F\x98\x80\r\n", "", "", 0, 3},
        {"UTF-16: an emoji", std::string("\xFF\xFE" "1\0\n\0\x3D\xD8\x00\xDE", 10), "", "", 0, 2},
        {"UTF-16: a lone surrogate", std::string("\xFF\xFE\x00\xD8", 4), "", "", 0, 1},
        // Windows' table has no exact form for U+2014 (its bar is U+2015)
        // nor for U+301C (its wave is U+FF5E): a look-alike is no form.
        {"UTF-8: an em dash", "1 A\n2 \xE2\x80\x94\n", "", "", 0, 2},
        {"UTF-8: a wave dash", "\xE3\x80\x9C\n", "", "", 0, 1},
        {"UTF-8: the bar and the full-width tilde", "\xE2\x80\x95\xEF\xBD\x9E\n", "utf8", "―～\n", 1, 0},
        {"an overlong form is no UTF-8", "1 \xE0\x80\xAF\n", "cp932", "1 \xE0\x80\xAF\n", 1, 0},
        {"a surrogate written in UTF-8 is no UTF-8", "1 \xED\xA0\x80\n", "cp932", "1 \xED\xA0\x80\n", 1, 0},
        {"empty", "", "cp932", "", 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        text::Lines lines;
        EXPECT_EQ(text::ReadLines(row.raw, &lines), row.badLine);
        if (row.badLine != 0) continue;
        EXPECT_STREQ(EncodingName(lines.encoding), row.encoding);
        EXPECT_EQ(Hex(text::JoinText(lines)), Hex(row.text));
        EXPECT_EQ(lines.raw.size(), row.lines);
        EXPECT_EQ(Hex(text::JoinRaw(lines)), Hex(row.raw));  // every byte kept
    }
}

TEST(Encoding, LinesWrittenBackInTheFilesEncoding) {
    const struct {
        const char* line;
        text::Encoding encoding;
        const char* bytes;
    } rows[] = {
        {"800 DFS00800 ＮＨＫ\r\n", text::Encoding::kCp932,
         "38 30 30 20 44 46 53 30 30 38 30 30 20 82 6D 82 67 82 6A 0D 0A"},
        {"1 ソ～\n", text::Encoding::kUtf8, "31 20 E3 82 BD EF BD 9E 0A"},
        {"1 ソ～\n", text::Encoding::kUtf8Bom, "31 20 E3 82 BD EF BD 9E 0A"},
        {"1 ソ\r\n", text::Encoding::kUtf16Le, "31 00 20 00 BD 30 0D 00 0A 00"},
    };
    for (const auto& row : rows) {
        std::string raw;
        EXPECT_TRUE(text::Encode(row.line, row.encoding, &raw));
        EXPECT_EQ(Hex(raw), row.bytes) << row.bytes;
    }
    std::string raw;
    EXPECT_FALSE(text::Encode("\x82", text::Encoding::kUtf8, &raw));  // a lead byte alone
}

TEST(Encoding, LineEndOfTheFile) {
    const struct {
        std::string raw;
        const char* end;
    } rows[] = {
        {"1 A\r\n2 B\n", "\r\n"}, {"# x\n1 A\r\n", "\n"}, {"1 A", "\r\n"}, {"", "\r\n"},
        {std::string("\xFF\xFE" "1\0\n\0", 6), "\n"},
    };
    for (const auto& row : rows) {
        text::Lines lines;
        text::ReadLines(row.raw, &lines);
        EXPECT_EQ(text::LineEnd(lines), row.end);
    }
    EXPECT_EQ(text::UnmappableText("Station.txt", 3),
              "Station.txtの3行目に、シフトJISで表せない文字があります\nその文字を書き換えて保存してください");
}

// A template saved as UTF-8 whose own Content-Type says UTF-8 has its mail
// sent in UTF-8; every other keeps code page 932.
TEST(Encoding, TemplatesThatNameUtf8) {
    const std::pair<const char*, bool> rows[] = {
        {"Subject: x\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\nbody\r\n", true},
        {"content-type: text/plain; CHARSET=\"utf8\"\n\n", true},
        {"Content-Type: text/plain; charset=utf-8; format=flowed\r\n\r\n", true},
        {"Content-Type: text/plain; charset=Shift_JIS\r\n\r\n", false},
        {"Content-Type: text/plain; charset=utf-16\r\n\r\n", false},
        {"Subject: x\r\n\r\nContent-Type: text/plain; charset=UTF-8\r\n", false},  // in the body
        {"Content-Type: text/plain\r\n\r\n", false},
        {"", false},
    };
    for (const auto& row : rows) EXPECT_EQ(mail::TemplateNamesUtf8(row.first), row.second) << row.first;
    EXPECT_EQ(Hex(mail::MessageInUtf8("Subject: =?Shift_JIS?B?gms=?=\r\n\r\nソ\r\n")),
              Hex("Subject: =?Shift_JIS?B?gms=?=\r\n\r\n\xE3\x82\xBD\r\n"));
    EXPECT_EQ(Hex(mail::MessageInUtf8("\x82")), "82");  // not code page 932: as it is
}
