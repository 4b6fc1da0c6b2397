// The stored password: protected for this user as hexadecimal digits, read
// back in either case; damaged values never come back.
#include <gtest/gtest.h>

#include <string>

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
