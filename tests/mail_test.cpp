// The mail composer: placeholder replacement, Date, Zone and message
// identifier texts, dot-stuffing and the composed message.
#include <gtest/gtest.h>

#include "tests/support/Times.h"

#include <climits>
#include <clocale>
#include <cstdlib>
#include <ctime>
#include <string>

#include "mail/MailAccount.h"
#include "mail/MailComposer.h"
#include "platform/platform.h"

namespace {

// 2004-01-05 12:00:00 UTC and 2004-07-05 12:00:00 UTC.
constexpr time_t kWinterNoon = 1073304000;
constexpr time_t kSummerNoon = 1088942400;

}  // namespace

TEST(ReplaceAll, ReplacesEveryOccurrenceWithoutRescanningItsOwnValue) {
    const struct {
        const char* text;
        const char* key;
        const char* value;
        const char* expected;
    } table[] = {
        {"%chno% and %chno%%chno%", "%chno%", "7", "7 and 77"},
        {"<%from%> <%from%>", "%from%", "%from%", "<%from%> <%from%>"},  // inserted once each
        {"%from%from%", "%from%", "%", "%from%"},  // value and following text form the key again
        {"a%rcpt%b", "%rcpt%", "", "ab"},
        {"%FROM% %fro% %other% %from", "%from%", "x", "%FROM% %fro% %other% %from"},
        {"no placeholder", "%date%", "x", "no placeholder"},
        {"", "%date%", "x", ""},
        {"unchanged", "", "x", "unchanged"},
    };
    for (const auto& row : table) {
        std::string text = row.text;
        ReplaceAll(text, row.key, row.value);
        EXPECT_EQ(text, row.expected) << row.text << " / " << row.key << " / " << row.value;
    }
}

TEST(DateText, EnglishNamesTwoDigitFieldsWhateverTheLocale) {
    // A Japanese time locale would give other day and month names to strftime.
    if (!std::setlocale(LC_ALL, "ja_JP.UTF-8")) std::setlocale(LC_ALL, "Japanese_Japan.932");
    const struct {
        tm time;
        const char* expected;
    } table[] = {
        {MakeTm(2004, 1, 5, 21, 30, 0, 1), "Mon, 05 Jan 2004 21:30:00"},
        {MakeTm(2000, 12, 31, 0, 0, 9, 0), "Sun, 31 Dec 2000 00:00:09"},
        {MakeTm(2026, 7, 9, 7, 5, 59, 4), "Thu, 09 Jul 2026 07:05:59"},
        {MakeTm(1999, 2, 27, 23, 59, 60, 6), "Sat, 27 Feb 1999 23:59:60"},
    };
    for (const auto& row : table) EXPECT_EQ(DateText(row.time), row.expected);
    std::setlocale(LC_ALL, "C");
}

TEST(ZoneText, SignHoursMinutes) {
    const struct {
        long seconds;
        const char* expected;
    } table[] = {
        {32400, "+0900"}, {0, "+0000"}, {-12600, "-0330"}, {19800, "+0530"},
        {-36000, "-1000"}, {50400, "+1400"}, {20700, "+0545"},
    };
    for (const auto& row : table) EXPECT_EQ(ZoneText(row.seconds), row.expected) << row.seconds;
}

TEST(ZoneText, OffsetFromLocalAndUtcFormsOfOneInstant) {
    const struct {
        tm local;
        tm utc;
        long expected;
    } table[] = {
        // Same day, east: Japan.
        {MakeTm(2004, 1, 5, 21, 30, 0, 1, 4), MakeTm(2004, 1, 5, 12, 30, 0, 1, 4), 32400},
        // East, local already in the new year.
        {MakeTm(2004, 1, 1, 5, 0, 0, 4, 0), MakeTm(2003, 12, 31, 20, 0, 0, 3, 364), 32400},
        // West, UTC already in the new year.
        {MakeTm(2003, 12, 31, 22, 0, 0, 3, 364), MakeTm(2004, 1, 1, 3, 0, 0, 4, 0), -18000},
        // West across midnight inside a year, half-hour zone.
        {MakeTm(2004, 3, 1, 21, 0, 0, 1, 60), MakeTm(2004, 3, 2, 0, 30, 0, 2, 61), -12600},
        // Daylight saving time in central Europe.
        {MakeTm(2004, 7, 5, 14, 0, 0, 1, 186), MakeTm(2004, 7, 5, 12, 0, 0, 1, 186), 7200},
        {MakeTm(2004, 7, 5, 12, 0, 0, 1, 186), MakeTm(2004, 7, 5, 12, 0, 0, 1, 186), 0},
    };
    for (const auto& row : table) EXPECT_EQ(UtcOffsetSeconds(row.local, row.utc), row.expected);
}

TEST(ZoneText, FollowsDaylightSavingOfTheInstant) {
    // Central European time with summer time; both runtimes read TZ.
    const char* old = std::getenv("TZ");
    const std::string saved = std::string("TZ=") + (old ? old : "");
    static char central[] = "TZ=CET-1CEST";
    putenv(central);
    tzset();
    const long winter = UtcOffsetAt(kWinterNoon);
    const long summer = UtcOffsetAt(kSummerNoon);
    static std::string restore;
    restore = saved;
    putenv(&restore[0]);
    tzset();
    EXPECT_EQ(winter, 3600);
    EXPECT_EQ(summer, 7200);
    EXPECT_EQ(ZoneText(summer), "+0200");
}

TEST(MessageId, LayoutAndValues) {
    const MessageIdSource ids{0x1234, 0xab, 0x10, 0x0100007f, 0x0200a8c0};
    EXPECT_EQ(MessageId(MakeTm(2004, 1, 5, 21, 30), ids, "a@b"), "1e155068$1234$ab$10$100007f$200a8c0$a@b");
    // January 1 2000 at midnight: month 0, year 100; no leading zeros anywhere.
    EXPECT_EQ(MessageId(MakeTm(2000, 1, 1, 0, 0), MessageIdSource{0, 0, 0, 0, 0}, ""), "001064$0$0$0$0$0$");
    EXPECT_EQ(MessageId(MakeTm(2010, 12, 31, 23, 59), MessageIdSource{0xffffffffu, 1, 2, 3, 4}, "x"),
              "3b171fb6e$ffffffff$1$2$3$4$x");
    // A long address is carried whole.
    const std::string from(10000, 'f');
    const std::string id = MessageId(MakeTm(2004, 1, 5, 21, 30), ids, from);
    EXPECT_EQ(id.size(), std::string("1e155068$1234$ab$10$100007f$200a8c0$").size() + from.size());
    EXPECT_EQ(id.substr(id.size() - from.size()), from);
}

TEST(DotStuff, DoublesALeadingPeriodOnEveryLine) {
    const struct {
        const char* body;
        const char* expected;
    } table[] = {
        {".", ".."},
        {".\r\n", "..\r\n"},
        {"a\r\n.\r\nb", "a\r\n..\r\nb"},
        {"..two\r\n.x\r\n", "...two\r\n..x\r\n"},
        {"a.b\r\n c\r\n", "a.b\r\n c\r\n"},
        {"lf\n.only\n", "lf\n..only\n"},
        {"", ""},
    };
    for (const auto& row : table) EXPECT_EQ(DotStuff(row.body), row.expected) << row.body;
}

class Composer : public ::testing::Test {
protected:
    Composer() {
        m_account.sender = "rec@example.jp";
        m_account.recipient = "to@example.jp";
        m_account.address = 0x0100007f;
    }
    // The template, the title and the station as set, with these times.
    std::string Compose(const tm& start, const tm& end, unsigned channel, time_t now) const {
        return ComposeBody(m_format, m_account, {start, end, channel, m_title, m_station}, now);
    }
    std::string Finish(const std::string& body, uint32_t localAddr) const {
        return FinishMessage(body, m_account, m_start, localAddr);
    }
    MailAccount m_account;
    std::string m_format;
    std::string m_title;
    std::string m_station;
    tm m_start = MakeTm(2004, 1, 5, 21, 30);
    tm m_end = MakeTm(2004, 1, 5, 23, 4);
};

TEST_F(Composer, EveryPlaceholderButTheIdentifier) {
    m_format =
        "Date: %date% %zone%\r\nFrom: %from%\r\nTo: %rcpt%\r\nMessage-Id: <%msid%>\r\n\r\n"
        "%syea%/%smon%/%sday% %shou%:%smin%-%eyea%/%emon%/%eday% %ehou%:%emin% ch%chno%\r\n";
    const tm* local = std::localtime(&kSummerNoon);
    ASSERT_NE(local, nullptr);
    const std::string date = DateText(*local);
    const std::string zone = ZoneText(UtcOffsetAt(kSummerNoon));
    EXPECT_EQ(Compose(m_start, m_end, 12, kSummerNoon),
              "Date: " + date + " " + zone +
                  "\r\nFrom: rec@example.jp\r\nTo: to@example.jp\r\nMessage-Id: <%msid%>\r\n\r\n"
                  "04/01/05 21:30-04/01/05 23:04 ch12\r\n");
}

TEST_F(Composer, ValuesAtTheirLimits) {
    m_format = "%syea% %eyea% %smon% %chno% [%from%] [%rcpt%] %SYEA% %chno%";
    m_account.sender = "";
    m_account.recipient = "";
    const struct {
        int tmYear;  // years since 1900
        unsigned channel;
        const char* expected;
    } table[] = {
        {100, 0, "00 00 01 0 [] [] %SYEA% 0"},
        {100, 123, "00 00 01 123 [] [] %SYEA% 123"},
        {100, 4294967295u, "00 00 01 4294967295 [] [] %SYEA% 4294967295"},
        {99, 1, "99 99 01 1 [] [] %SYEA% 1"},         // 1999
        {0, 1, "00 00 01 1 [] [] %SYEA% 1"},          // 1900
        {200, 1, "00 00 01 1 [] [] %SYEA% 1"},        // 2100
        {INT_MAX, 1, "47 47 01 1 [] [] %SYEA% 1"},    // mktime carries a file's year this far
        {-1905, 1, "95 95 01 1 [] [] %SYEA% 1"},      // the year -5
    };
    for (const auto& row : table) {
        tm t = MakeTm(2000, 1, 1, 0, 0);
        t.tm_year = row.tmYear;
        EXPECT_EQ(Compose(t, t, row.channel, 0), row.expected) << row.tmYear;
    }
}

TEST_F(Composer, LaterPassesScanInsertedValues) {
    m_format = "%from%|%rcpt%";
    m_account.sender = "ch%chno%@%rcpt%";
    m_account.recipient = "%from%";
    // "%rcpt%" inside the sender is filled by the next pass; the recipient's
    // own "%from%" stays because its pass has run already.
    EXPECT_EQ(Compose(m_start, m_end, 9, 0), "ch9@%from%|%from%");
}

TEST_F(Composer, FinishedMessageKeepsLineEndsAndEndsWithTheMark) {
    const struct {
        const char* body;
        const char* expected;
    } table[] = {
        {"a\nb\n", "a\nb\n\r\n.\r\n"},
        {"a\r\nb\r\n", "a\r\nb\r\n\r\n.\r\n"},
        {"no end", "no end\r\n.\r\n"},
        {"", "\r\n.\r\n"},
        {".\r\nrest", "..\r\nrest\r\n.\r\n"},
    };
    for (const auto& row : table) EXPECT_EQ(Finish(row.body, 0), row.expected);
}

TEST_F(Composer, IdentifierFilledAfterEveryOtherPlaceholder) {
    m_account.sender = "%msid%";
    const std::string message = Finish("<%msid%>", 0x0200a8c0);
    const std::string expectedTail = "$100007f$200a8c0$%msid%>\r\n.\r\n";
    ASSERT_GT(message.size(), expectedTail.size());
    EXPECT_EQ(message.substr(0, 10), "<1e155068$");
    EXPECT_EQ(message.substr(message.size() - expectedTail.size()), expectedTail);
    const std::string pid = "$" + [] {
        char hex[9];
        std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(plat::CurrentProcessId()));
        return std::string(hex);
    }() + "$100007f$";
    EXPECT_NE(message.find(pid), std::string::npos) << message;
}

// Base64 back to bytes, to read encoded words.
std::string FromBase64(const std::string& text) {
    static const std::string digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (char c : text) {
        if (c == '=') break;
        bits = bits << 6 | static_cast<unsigned>(digits.find(c));
        if ((count += 6) >= 8) out += static_cast<char>(bits >> (count -= 8) & 0xFF);
    }
    return out;
}

TEST_F(Composer, TitleAndStationEncodedInTheHeaderOnlyAndNotRescanned) {
    // "月曜ドラマ" and "NHK総合" in code page 932.
    const char* const kTitle = "\x8C\x8E\x97\x6A\x83\x68\x83\x89\x83\x7D";
    m_station = "NHK\x91\x8D\x8D\x87";
    const struct {
        const char* format;
        const char* title;  // null: the one above
        const char* expected;
    } table[] = {
        {"Subject: %titl% %stat%\r\n\r\n%titl%/%stat%\r\n", nullptr,
         "Subject: =?Shift_JIS?B?jI6XaoNog4mDfQ==?= =?Shift_JIS?B?TkhLkY2Nhw==?=\r\n\r\n"
         "\x8C\x8E\x97\x6A\x83\x68\x83\x89\x83\x7D/NHK\x91\x8D\x8D\x87\r\n"},
        {"Subject: [%titl%]\r\n\r\n[%titl%]\r\n", "News %chno%", "Subject: [News %chno%]\r\n\r\n[News %chno%]\r\n"},
        {"Subject: %titl% %titl%\n\n", "\x83\x41", "Subject: =?Shift_JIS?B?g0E=?= =?Shift_JIS?B?g0E=?=\n\n"},
        {"Subject: [%titl%]\n\n[%titl%]\n", "", "Subject: []\n\n[]\n"},
        {"\r\n%titl%\r\n", nullptr, "\r\n\x8C\x8E\x97\x6A\x83\x68\x83\x89\x83\x7D\r\n"},  // no header at all
        {"Subject: %titl%", "a\rb", "Subject: =?Shift_JIS?B?YQ1i?="},  // no body; a bare CR never goes in clear
        {"%titl%\n\n", "\x83\x41", "=?Shift_JIS?B?g0E=?=\n\n"},  // the template's first bytes
    };
    for (const auto& row : table) {
        m_title = row.title != nullptr ? row.title : kTitle;
        m_format = row.format;
        EXPECT_EQ(Compose(m_start, m_end, 8, 0), row.expected) << row.format;
    }
}

TEST(EncodedWords, ShortWordsWholeCharactersSameBytes) {
    std::string value;
    // Letters and katakana, none the same as the one five bytes before: 116 bytes.
    for (int i = 0; i < 70; ++i)
        value += i % 3 == 0 ? std::string(1, static_cast<char>('a' + i % 26)) : "\x83" + std::string(1, static_cast<char>(0x41 + i % 40));
    const std::string words = EncodedWords(value);
    std::string decoded;
    size_t count = 0;
    for (size_t begin = 0; begin < words.size(); ++count) {
        size_t end = words.find("\r\n ", begin);
        if (end == std::string::npos) end = words.size();
        const std::string word = words.substr(begin, end - begin);
        EXPECT_LE(word.size(), 75u) << word;
        ASSERT_EQ(word.compare(0, 14, "=?Shift_JIS?B?"), 0) << word;
        const std::string bytes = FromBase64(word.substr(14, word.size() - 16));
        EXPECT_NE(static_cast<unsigned char>(bytes.back()), 0x83) << "a character split after " << decoded.size();
        decoded += bytes;
        begin = end + 3;
    }
    EXPECT_EQ(decoded, value);
    EXPECT_EQ(count, 3u);
}
