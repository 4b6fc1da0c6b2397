// The stored password: protected for this user as hexadecimal digits, read
// back in either case; damaged values never come back. It is kept as UTF-8,
// as AUTH sends it.
#include <gtest/gtest.h>

#include <string>

#include "mail/Password.h"
#include "platform/common.h"
#include "platform/tls.h"

TEST(Secret, RoundTripInEitherCaseAndDamagedValuesFail) {
    const std::string password = "p\xe4ss w\x83\x5crd:1";  // any bytes, a CP932 pair included
    std::string hex;
    ASSERT_TRUE(plat::ProtectSecret(password, &hex));
    EXPECT_EQ(hex.find(password), std::string::npos);
    EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos) << hex;
    std::string clear;
    ASSERT_TRUE(plat::UnprotectSecret(hex, &clear));
    EXPECT_EQ(clear, password);
    std::string lower = hex;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    ASSERT_TRUE(plat::UnprotectSecret(lower, &clear));
    EXPECT_EQ(clear, password);

    std::string flipped = hex;
    const size_t at = hex.size() - 10;  // in the text or its signature
    flipped[at] = flipped[at] == '0' ? '1' : '0';
    for (const std::string& bad : {std::string(), hex.substr(1), hex + "G0", flipped, std::string("00112233")}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(plat::UnprotectSecret(bad, &clear));
    }
}

TEST(Secret, StoredDigitsAreHexadecimalInEitherCase) {
    EXPECT_EQ(plat::HexDigits("\x0a\xff\x00", 3, plat::HexCase::kUpper), "0AFF00");
    EXPECT_EQ(plat::HexDigits("\x0a\xff\x00", 3, plat::HexCase::kLower), "0aff00");
    const struct {
        const char* digits;
        bool read;
        std::string bytes;
    } table[] = {
        {"0aFf09", true, "\x0a\xff\x09"}, {"", true, ""}, {"0", false, ""},
        // The neighbours of each range of digits.
        {"0/", false, ""}, {"0:", false, ""}, {"0@", false, ""}, {"0G", false, ""}, {"0`", false, ""}, {"0g", false, ""},
    };
    for (const auto& row : table) {
        std::string bytes;
        EXPECT_EQ(plat::HexBytes(row.digits, &bytes), row.read) << row.digits;
        EXPECT_EQ(row.read ? bytes : "", row.bytes) << row.digits;
    }
}

// Code page 932 bytes and the UTF-8 of the same text.
struct Text {
    const char* cp932;
    const char* utf8;
};
const Text kTexts[] = {
    {"pa55=word", "pa55=word"},
    {"\x97\x5c\x96\xf1\x83\x70\x83\x58", "\xe4\xba\x88\xe7\xb4\x84\xe3\x83\x91\xe3\x82\xb9"},  // 予約パス
    {"\x81\x60", "\xef\xbd\x9e"},                                                           // ～ is U+FF5E
    {"\xb1\xba", "\xef\xbd\xb1\xef\xbd\xba"},                                               // ｱｺ half-width
};

TEST(Password, AuthTextIsUtf8AndBytesThatAreNoCp932GoAsTheyAre) {
    for (const Text& t : kTexts) EXPECT_EQ(AuthText(t.cp932), t.utf8) << t.utf8;
    EXPECT_EQ(AuthText("a\x81"), "a\x81");  // a lead byte without its second half
}

TEST(Password, StoredAsUtf8AndPasswordsStoredInCp932StillRead) {
    // Any character survives, also one outside code page 932 (한).
    for (const std::string utf8 : {"pa55=word", "\xe4\xba\x88\xe7\xb4\x84", "\xed\x95\x9c\xe2\x82\xac"}) {
        std::string hex, back;
        ASSERT_TRUE(ProtectPassword(utf8, &hex));
        ASSERT_TRUE(UnprotectPassword(hex, &back));
        EXPECT_EQ(back, utf8);
    }
    for (const Text& t : kTexts) {
        std::string hex, back;
        ASSERT_TRUE(plat::ProtectSecret(t.cp932, &hex));  // as stored before
        ASSERT_TRUE(UnprotectPassword(hex, &back));
        EXPECT_EQ(back, t.utf8);
    }
    std::string back;
    EXPECT_FALSE(UnprotectPassword("00112233", &back));
}
