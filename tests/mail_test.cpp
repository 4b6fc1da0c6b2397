// The mail composer: placeholder replacement, Date, Zone and message
// identifier texts, dot-stuffing and the composed message.
#include <gtest/gtest.h>

#include "tests/support/Times.h"

#include <climits>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <ctime>
#include <string>

#include "mail/MailAccount.h"
#include "mail/MailComposer.h"
#include "platform/platform.h"
#include "tests/support/LogCapture.h"

namespace {

// 2004-01-05 12:00:00 UTC and 2004-07-05 12:00:00 UTC.
constexpr time_t kWinterNoon = 1073304000;
constexpr time_t kSummerNoon = 1088942400;

std::string Repeat(const std::string& text, size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i) out += text;
    return out;
}

// "ア" in code page 932: a double-byte character.
const std::string kA = "\x83\x41";

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
    // BDAT carries what the server takes after DATA: the end mark's period
    // line gone, each doubled period single again.
    for (const auto& row : table)
        EXPECT_EQ(Unstuffed(row.expected + std::string("\r\n.\r\n")), row.body + std::string("\r\n")) << row.body;
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
        return ComposeBody(m_format, m_account, {start, end, channel, m_title, m_station}, now).text;
    }
    // The message finished from the template format, its values filled.
    std::string Finish(const std::string& format, uint32_t localAddr) const {
        return FinishMessage(ComposeBody(format, m_account, {m_start, m_end, 8, m_title, m_station}, 0), m_account,
                             m_start, localAddr);
    }
    MailAccount m_account;
    std::string m_format;
    std::string m_title;
    std::string m_station;
    tm m_start = MakeTm(2004, 1, 5, 21, 30);
    tm m_end = MakeTm(2004, 1, 5, 23, 4);
    LogCapture m_log;  // a cut value is logged
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

TEST_F(Composer, ValuesAreNeverScanned) {
    m_format = "%from%|%rcpt%";
    m_account.sender = "ch%chno%@%rcpt%";
    m_account.recipient = "%from%";
    // One pass over the template: a placeholder inside a value stays as written.
    EXPECT_EQ(Compose(m_start, m_end, 9, 0), "ch%chno%@%rcpt%|%from%");
}

TEST_F(Composer, FinishedMessageHasCrLfLineEndsAndEndsWithTheMark) {
    const struct {
        const char* body;
        const char* expected;
    } table[] = {
        {"a\nb\n", "a\r\nb\r\n\r\n.\r\n"},  // a bare LF or CR of the template becomes CR LF
        {"a\rb\r\r\n", "a\r\nb\r\n\r\n\r\n.\r\n"},
        {"\n.\r.\r\n.", "\r\n..\r\n..\r\n..\r\n.\r\n"},
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
        {"Subject: %titl% %titl%\n\n", "\x83\x41", "Subject: =?Shift_JIS?B?g0E=?= =?Shift_JIS?B?g0E=?=\r\n\r\n"},
        {"Subject: [%titl%]\n\n[%titl%]\n", "", "Subject: []\r\n\r\n[]\r\n"},
        {"\r\n%titl%\r\n", nullptr, "\r\n\x8C\x8E\x97\x6A\x83\x68\x83\x89\x83\x7D\r\n"},  // no header at all
        {"Subject: %titl%", "a\rb", "Subject: =?Shift_JIS?B?YQ1i?="},  // no body; a bare CR never goes in clear
        {"%titl%\n\n", "\x83\x41", "=?Shift_JIS?B?g0E=?=\r\n\r\n"},  // the template's first bytes; its LFs become CR LF
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

TEST_F(Composer, EncodedWordsLeaveRoomForTheHeaderNameAndTheTextAfterThem) {
    const struct {
        std::string format;
        std::string title;
        const char* expected;
    } table[] = {
        // 18 characters fit after "Subject: ", the rest goes on the next line.
        {"Subject: %titl% ch%chno%\r\n", Repeat(kA, 20),
         "Subject: =?Shift_JIS?B?g0GDQYNBg0GDQYNBg0GDQYNBg0GDQYNBg0GDQYNBg0GDQYNB?=\r\n"
         " =?Shift_JIS?B?g0GDQQ==?= ch8\r\n"},
        // All 18 would fit, but not with " ch8" after them.
        {"Subject: %titl% ch%chno%\r\n", Repeat(kA, 18),
         "Subject: =?Shift_JIS?B?g0GDQYNBg0GDQYNBg0GDQYNBg0GDQYNBg0GDQYNBg0GDQQ==?=\r\n"
         " =?Shift_JIS?B?g0E=?= ch8\r\n"},
        // A header name so long that no word fits after it.
        {std::string(60, 'X') + ": %titl%", Repeat(kA, 5),
         "XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX: \r\n =?Shift_JIS?B?g0GDQYNBg0GDQQ==?="},
    };
    for (const auto& row : table) {
        m_format = row.format;
        m_title = row.title;
        EXPECT_EQ(Compose(m_start, m_end, 8, 0), row.expected) << row.format;
    }
}

TEST_F(Composer, PlaceholderBombsEndAtOnceAndTheCutIsLogged) {
    const struct {
        const char* what;
        std::string format;
        std::string title;
        std::string station;
        std::string start;  // of the message
        std::string end;
        size_t identifiers;
        const char* log;
    } table[] = {
        // 240,000 bytes of %msid% in the title: its first 1 KB stays as text, one identifier.
        // Its line is broken at 998 bytes.
        {"%msid% in the title", "\r\n%titl%<%msid%>", Repeat("%msid%", 40000), "",
         "\r\n" + Repeat("%msid%", 166) + "%m\r\nsid%" + Repeat("%msid%", 3) + "%msi<1e155068$",
         "$0$rec@example.jp>\r\n.\r\n", 1,
         "I:program-title of 240000 bytes cut to 1024\r\nI:Mail lines over 998 bytes broken: 1\r\n"},
        // 198 KB of %stat% with a large station: each value once.
        {"%stat% in the title", "\r\n%titl%%stat%", Repeat("%stat%", 33000), std::string(50000, 's'),
         "\r\n" + Repeat("%stat%", 166) + "%s\r\ntat%" + Repeat("%stat%", 3) + "%sta" + std::string(972, 's') +
             "\r\n" + std::string(52, 's') + "\r\n.\r\n",
         "", 0,
         "I:program-title of 198000 bytes cut to 1024\r\nI:station of 50000 bytes cut to 1024\r\n"
         "I:Mail lines over 998 bytes broken: 1\r\n"},
        // The template's own 40,000 identifiers.
        {"%msid% in the template", "\r\n" + Repeat("%msid%\r\n", 40000), "", "", "\r\n1e155068$",
         "$0$rec@example.jp\r\n\r\n.\r\n", 40000, ""},
        // No line of the data passes 998 bytes: broken between two characters.
        {"a 1 KB title on a line", "\r\nab %titl%\r\n", Repeat(kA, 512), "",
         "\r\nab " + Repeat(kA, 497) + "\r\n" + Repeat(kA, 15) + "\r\n\r\n.\r\n", "", 0,
         "I:Mail lines over 998 bytes broken: 1\r\n"},
        {"a 1 KB title and station: 2,055 bytes", "\r\n番組: %titl% %stat%\r\n", Repeat(kA, 512),
         std::string(1024, 's'),
         "\r\n番組: " + Repeat(kA, 496) + "\r\n" + Repeat(kA, 16) + " " + std::string(965, 's') + "\r\n" +
             std::string(59, 's') + "\r\n\r\n.\r\n",
         "", 0, "I:Mail lines over 998 bytes broken: 1\r\n"},
        {"a leading period counts doubled", "\r\n.%stat%\r\n", "", std::string(1024, 's'),
         "\r\n.." + std::string(996, 's') + "\r\n" + std::string(28, 's') + "\r\n\r\n.\r\n", "", 0,
         "I:Mail lines over 998 bytes broken: 1\r\n"},
        {"a piece that begins with a period", "\r\n%stat%\r\n%stat%", "", std::string(998, 's') + ".x",
         "\r\n" + std::string(998, 's') + "\r\n..x\r\n" + std::string(998, 's') + "\r\n..x\r\n.\r\n", "", 0,
         "I:Mail lines over 998 bytes broken: 2\r\n"},
        {"a header line folded", "Subject: " + std::string(1000, 'h') + "\r\n\r\nbody", "", "",
         "Subject: " + std::string(989, 'h') + "\r\n " + std::string(11, 'h') + "\r\n\r\nbody\r\n.\r\n", "", 0,
         "I:Mail lines over 998 bytes broken: 1\r\n"},
        {"998 bytes stay whole", "\r\n%stat%", "", std::string(998, 's'),
         "\r\n" + std::string(998, 's') + "\r\n.\r\n", "", 0, ""},
    };
    for (const auto& row : table) {
        m_title = row.title;
        m_station = row.station;
        LogCapture log;
        const auto begun = std::chrono::steady_clock::now();
        const std::string message = Finish(row.format, 0);
        EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(2)) << row.what;
        EXPECT_EQ(message.substr(0, row.start.size()), row.start) << row.what;
        ASSERT_GE(message.size(), row.end.size()) << row.what;
        EXPECT_EQ(message.substr(message.size() - row.end.size()), row.end) << row.what;
        size_t identifiers = 0;
        for (size_t at = 0; (at = message.find("$rec@example.jp", at)) != std::string::npos; ++at) ++identifiers;
        EXPECT_EQ(identifiers, row.identifiers) << row.what;
        EXPECT_EQ(log.Text(), row.log) << row.what;
        for (size_t begin = 0, end; (end = message.find("\r\n", begin)) != std::string::npos; begin = end + 2)
            EXPECT_LE(end - begin, 998u) << row.what;
    }
}
