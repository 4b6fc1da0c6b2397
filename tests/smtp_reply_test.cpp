// SMTP reply texts: completeness, joining pieces under the size cap, the
// capabilities of an EHLO reply, reply codes, Base64 for AUTH.
#include "mail/Base64.h"
#include "mail/SmtpReply.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "mail/SmtpConnection.h"

TEST(SmtpReply, CompleteOnlyWithAFinalLineAndItsLineFeed) {
    EXPECT_FALSE(smtp::ReplyComplete(""));
    EXPECT_FALSE(smtp::ReplyComplete("250 ok"));
    EXPECT_FALSE(smtp::ReplyComplete("250-a\r\n250-b\r\n"));
    EXPECT_TRUE(smtp::ReplyComplete("250-a\r\n250 b\r\n"));
    EXPECT_TRUE(smtp::ReplyComplete("250\r\n"));
    EXPECT_TRUE(smtp::ReplyComplete("hello\n"));  // anything but "ddd-" ends a reply
}

TEST(SmtpReply, PiecesStopAtTheirZeroByteAndTheCapHolds) {
    std::string reply;
    EXPECT_TRUE(smtp::AppendPiece(reply, "25\0x", 4, 10));
    EXPECT_EQ(reply, "25");
    EXPECT_TRUE(smtp::AppendPiece(reply, "0 ok\r\n\0", 7, 10));
    EXPECT_EQ(reply, "250 ok\r\n");
    EXPECT_FALSE(smtp::AppendPiece(reply, "abc", 3, 10));  // 11 > 10: nothing appended
    EXPECT_EQ(reply, "250 ok\r\n");
    EXPECT_TRUE(smtp::AppendPiece(reply, "ab\0cdef", 7, 10));  // the part after the zero does not count
    EXPECT_EQ(reply.size(), 10u);
}

TEST(SmtpReply, CapabilitiesOfAMultiLineEhloReply) {
    const smtp::Capabilities caps = smtp::ParseCapabilities(
        "250-mail.example.jp Hello there\r\n250-PIPELINING\r\n250-starttls\r\n250-AUTH=LOGIN\r\n"
        "250-AUTH CRAM-MD5 plain\r\n250-8BITMIME\r\n250 chunking\r\n");
    EXPECT_EQ(caps.serverName, "mail.example.jp");
    EXPECT_TRUE(caps.startTls);
    EXPECT_TRUE(caps.authPlain);
    EXPECT_TRUE(caps.authLogin);
    EXPECT_TRUE(caps.pipelining);
    EXPECT_TRUE(caps.chunking);
    EXPECT_FALSE(smtp::ParseCapabilities("250-host\r\n250 PIPELINING\r\n").chunking);
    EXPECT_FALSE(smtp::ParseCapabilities("250-host\r\n250-PIPELININGX\r\n250 SIZE PIPELINING\r\n").pipelining);

    // The first line names the server: a keyword there is no capability.
    const smtp::Capabilities none = smtp::ParseCapabilities("250 STARTTLS\r\n");
    EXPECT_EQ(none.serverName, "STARTTLS");
    EXPECT_FALSE(none.startTls);
    EXPECT_FALSE(none.authAny());
    EXPECT_FALSE(smtp::ParseCapabilities("250-host STARTTLS greets\r\n250 SIZE\r\n").startTls);
    // Refusals and look-alikes announce nothing.
    const smtp::Capabilities odd =
        smtp::ParseCapabilities("250-host\r\n550-STARTTLS\r\n250-STARTTLSX\r\n250 AUTHX PLAIN\r\n");
    EXPECT_FALSE(odd.startTls);
    EXPECT_FALSE(odd.authAny());
    // A greeting line with no name: the next line is a capability.
    const smtp::Capabilities bare = smtp::ParseCapabilities("250-\r\n250 AUTH PLAIN\r\n");
    EXPECT_EQ(bare.serverName, "");
    EXPECT_TRUE(bare.authPlain);
}

TEST(SmtpReply, CodesAreThreeDigitsAndRefusalsBeginWith4Or5) {
    const struct {
        const char* reply;
        int code;
        bool refused;
    } table[] = {
        {"250 ok\r\n", 250, false}, {"354 go\r\n", 354, false}, {"421 bye\r\n", 421, true},
        {"554\r\n", 554, true},     {"25", 0, false},             {"", 0, false},
        {"2x0 ok\r\n", 0, false},   {"25: ok\r\n", 0, false},    {"/50 ok\r\n", 0, false},
        {"5", 0, true},              {"3", 0, false},
    };
    for (const auto& row : table) {
        EXPECT_EQ(smtp::ReplyCode(row.reply), row.code) << row.reply;
        EXPECT_EQ(smtp::Refused(row.reply), row.refused) << row.reply;
    }
}

TEST(SmtpReply, Base64OfAuthTexts) {
    EXPECT_EQ(smtp::Base64(""), "");
    EXPECT_EQ(smtp::Base64("f"), "Zg==");
    EXPECT_EQ(smtp::Base64("fo"), "Zm8=");
    EXPECT_EQ(smtp::Base64("foo"), "Zm9v");
    EXPECT_EQ(smtp::Base64(std::string("\0tim\0tanstaaftanstaaf", 21)), "AHRpbQB0YW5zdGFhZnRhbnN0YWFm");  // RFC 4616
    EXPECT_EQ(smtp::Base64("\xff\xfe"), "//4=");
}

TEST(SmtpReply, ARefusedSenderIsToldFromOtherRefusals) {
    const std::string from = "Me@Example.net";
    const struct {
        const char* reply;
        bool atMailFrom;
        const char* rcpt;
        bool sender;
    } cases[] = {
        {"550 5.7.1 Not allowed\r\n", true, "rec@example.com", true},
        {"451 4.3.0 try later\r\n", true, "rec@example.com", false},  // transient: not the address's fault
        {"553 5.7.1 <me@example.net>: Sender address rejected: not owned by user u\r\n", false,
         "rec@example.com", true},
        {"554 5.2.0 STOREDRV.Submission.Exception:SendAsDeniedException\r\n", false, "rec@example.com", true},
        {"550 5.7.1 <me@example.net> not permitted\r\n", false, "rec@example.com", true},
        {"550 5.7.1 <me@example.net> not permitted\r\n", false, "me@example.net", false},  // the recipient
        {"550 5.7.1 <me@example.net> not permitted\r\n", false, "ME@example.NET", false},
        {"553 5.7.1 SENDER ADDRESS REJECTED\r\n", false, "rec@example.com", true},
        {"550 5.7.1 <ME@EXAMPLE.NET> not permitted\r\n", false, "rec@example.com", true},
        {"554 5.7.1 <rec@example.com>: Relay access denied\r\n", false, "rec@example.com", false},
        {"250 2.1.0 Ok\r\n", true, "rec@example.com", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(smtp::RefusesSender(c.reply, c.atMailFrom, from, c.rcpt), c.sender) << c.reply;
}

TEST(SmtpReply, EhloGivesAFullyQualifiedNameOrTheAddressLiteral) {
    const unsigned char address[4] = {192, 0, 2, 1};  // network byte order
    uint32_t local = 0;
    std::memcpy(&local, address, sizeof local);
    const struct {
        const char* hostName;
        const char* ehlo;
    } table[] = {
        {"pc.example.jp", "pc.example.jp"},
        {"DESKTOP-AB12CD.corp.example", "DESKTOP-AB12CD.corp.example"},
        {"DESKTOP-AB12CD", "[192.0.2.1]"},                   // Windows' bare PC name
        {"", "[192.0.2.1]"},                                 // no name at all
        {"\x93\xfa\x96\x7b.example.jp", "[192.0.2.1]"},      // Japanese (code page 932)
        {"pc.example.jp.", "[192.0.2.1]"},                   // an empty label
        {"pc..example", "[192.0.2.1]"},
        {"-pc.example", "[192.0.2.1]"},                      // a label begins with a hyphen
        {"pc_1.example", "[192.0.2.1]"},
        {"pc-.example", "[192.0.2.1]"},                      // a label ends with a hyphen
        {"p-c.example", "p-c.example"},
        {"PC9.EXAMPLE", "PC9.EXAMPLE"},
        {"pc.example.j~", "[192.0.2.1]"},
        {"a.bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb",  // a 63-letter label
         "a.bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb"},
        {"a.bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb", "[192.0.2.1]"},  // 64
    };
    for (const auto& row : table) EXPECT_EQ(smtp::EhloDomain(row.hostName, local), row.ehlo) << row.hostName;
}
