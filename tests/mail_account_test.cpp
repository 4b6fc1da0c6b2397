// The mail account: the password kept in its stored form until a send asks
// for it, and the one resolver of the server's name.
#include <gtest/gtest.h>

#include <string>

#include "mail/MailAccount.h"
#include "mail/Password.h"
#include "platform/net.h"

TEST(SmtpPassword, StoredOnesAreDecryptedOnceAndAnUnreadableOneStaysUnreadable) {
    std::string stored;
    ASSERT_TRUE(ProtectPassword("s\xc3\xa9same", &stored));  // "sésame"
    const struct {
        const char* what;
        SmtpPassword password;
        bool readable;
        const char* clear;  // for a readable one
    } table[] = {
        {"none", SmtpPassword(), true, ""},
        {"none stored", SmtpPassword::Stored(""), true, ""},
        {"typed", SmtpPassword::Typed("p\xc3\xa4ss"), true, "p\xc3\xa4ss"},
        {"stored", SmtpPassword::Stored(stored), true, "s\xc3\xa9same"},
        {"not stored by this user", SmtpPassword::Stored("00112233"), false, nullptr},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        SmtpPassword password = row.password;
        for (int call = 1; call <= 2; ++call) {
            std::string clear = "untouched";
            EXPECT_EQ(password.Reveal(&clear), row.readable) << call;
            EXPECT_EQ(clear, row.readable ? row.clear : "untouched") << call;
        }
    }
}

TEST(ResolveServer, DottedAddressesAndNamesButNeverTheBroadcastAddress) {
    plat::StartupWinsock();
    const struct {
        const char* server;
        bool resolved;
        uint32_t address;  // host byte order; unresolved: stays as it was
    } table[] = {
        {"127.0.0.1", true, 0x7f000001},
        {"192.0.2.25", true, 0xc0000219},
        {"localhost", true, 0x7f000001},
        {"255.255.255.255", false, 0x01020304},
        {"no-such-host.invalid", false, 0x01020304},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.server);
        MailAccount account;
        account.server = row.server;
        account.address = htonl(0x01020304);
        EXPECT_EQ(ResolveServer(account), row.resolved);
        EXPECT_EQ(ntohl(account.address), row.address);
    }
}

TEST(CheckAddress, WhatWouldEndOrExtendACommandAndNonAscii) {
    const struct {
        std::string address;
        AddressFault expected;
    } table[] = {
        {"rec@example.jp", AddressFault::kNone},
        {"", AddressFault::kNone},  // the null path, as before
        {"first.last+tag@sub.example.co.jp", AddressFault::kNone},
        {"\"odd\"@example.jp", AddressFault::kNone},
        {"me@example.jp> SIZE=1 BODY=8BITMIME", AddressFault::kForbidden},
        {"<rec@example.jp>", AddressFault::kForbidden},
        {"rec@example.jp>", AddressFault::kForbidden},
        {"<rec@example.jp", AddressFault::kForbidden},
        {"rec@example.jp ", AddressFault::kForbidden},
        {"rec@example.jp\r\nRSET", AddressFault::kForbidden},
        {"rec@exam\tple.jp", AddressFault::kForbidden},
        {std::string("rec@\0x", 6), AddressFault::kForbidden},
        {"rec@example.jp\x7f", AddressFault::kForbidden},
        {"録画@example.jp", AddressFault::kNotAscii},
        {"rec@example.\xb1", AddressFault::kNotAscii},  // a half-width katakana
        {"録画 @example.jp", AddressFault::kForbidden},
    };
    for (const auto& row : table) EXPECT_EQ(CheckAddress(row.address), row.expected) << row.address;
}
