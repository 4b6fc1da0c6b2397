#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <ctime>
#include <functional>
#include <regex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/BoxShell.h"
#include "mail/Password.h"
#include "mail/SmtpMailer.h"
#include "platform/platform.h"
#include "reserve/History.h"
#include "reserve/IepgText.h"
#include "reserve/ReserveTimes.h"
#include "reserve/Reserver.h"
#include "reserve/Scan.h"
#include "reserve/StationTable.h"
#include "tests/support/LogCapture.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/SmtpPeer.h"
#include "tests/support/TimeZone.h"
#include "tests/support/Times.h"

namespace {

const char* const kStationTxt =
    "# チャンネル 局名\r\n"
    "1 ＮＨＫ総合\r\n"
    "3 ＮＨＫ教育\r\n"
    "4 日本テレビ\r\n"
    "6 ＴＢＳ\r\n"
    "8 フジテレビ\r\n"
    "0 テレビ東京\r\n"
    "12 DFS00400\r\n";

constexpr unsigned kWarning = MB_ICONEXCLAMATION;
constexpr unsigned kQuestion = MB_YESNO | MB_ICONQUESTION;

// The six header values of a version 1 file.
struct Header {
    std::string station = "ＮＨＫ総合";
    std::string year = "2004";
    std::string month = "1";
    std::string date = "05";
    std::string start = "21:00";
    std::string end = "21:54";
};

// A version 1 iEPG file as a TV guide page serves it: header, blank line,
// programme text.
std::string Version1(const Header& h, const std::string& eol = "\r\n", const std::string& title = "ニュース７") {
    return "Content-type: application/x-tv-program-info; charset=shift_jis" + eol +  //
           "version: 1" + eol +                                                   //
           "station: " + h.station + eol +                                        //
           "year: " + h.year + eol +                                              //
           "month: " + h.month + eol +                                            //
           "date: " + h.date + eol +                                              //
           "start: " + h.start + eol +                                            //
           "end: " + h.end + eol +                                                //
           "program-title: " + title + eol +                                     //
           eol +                                                                  //
           "今日のニュースと天気予報をお伝えします。" + eol;
}

// A version 2 file: the station key holds the station's code, the name
// comes in its own key, and more keys follow.
std::string Version2(const std::string& eol = "\r\n", const std::string& nameLine = "station-name: ＮＨＫ総合") {
    return "Content-type: application/x-tv-program-info; charset=shift_jis" + eol +
           "version: 2" + eol +
           "station: DFS00400" + eol +
           (nameLine.empty() ? "" : nameLine + eol) +
           "year: 2004" + eol +
           "month: 01" + eol +
           "date: 05" + eol +
           "start: 21:00" + eol +
           "end: 21:54" + eol +
           "program-title: ニュース７" + eol +
           "program-subtitle: 天気予報" + eol +
           "performer: 鈴木一郎" + eol +
           "genre-1: 1" + eol +
           "subgenre-1: 0" + eol +
           "program-id: 1234" + eol +
           eol +
           "今日のニュースと天気予報をお伝えします。" + eol;
}

// A file with several programmes: the outer header, each part after a
// boundary line, the closing line.
std::string Multi(const std::vector<std::string>& parts, const std::string& eol = "\r\n") {
    std::string text = "Content-type: application/x-multi-tv-program-info; charset=shift_jis" + eol +
                       "version: 1" + eol + "boundary: ----QuorpaPart" + eol + eol;
    for (const std::string& part : parts) text += "----QuorpaPart" + eol + part;
    return text + "----QuorpaPart--" + eol;
}

// h with its station and times changed.
Header Programme(const std::string& station, const std::string& start, const std::string& end,
                 const std::string& year = "2004") {
    Header h;
    h.station = station;
    h.start = start;
    h.end = end;
    h.year = year;
    return h;
}

// Whether the C runtime represents the year 99999 (glibc does; Windows'
// runtime stops at 3000, where a time it cannot represent fails without a
// word, as it always did).
bool RuntimeHasYear99999() {
    tm t = MakeTm(99999, 1, 5, 21, 0);
    return plat::NormaliseCalendarTime(t);
}

// text with the first line that begins with key taken out.
std::string Without(std::string text, const std::string& key) {
    const size_t at = text.find("\n" + key) + 1;
    return text.erase(at, text.find('\n', at) + 1 - at);
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string StationBlock(const Header& h) {
    return "I:Station=" + h.station + "\r\nI:Date=" + h.year + "/" + h.month + "/" + h.date +
           "\r\nI:Start=" + h.start + "\r\nI:End=" + h.end + "\r\n";
}

// The normalised local time of the given fields (standard time).
tm LocalTime(int year, int month, int day, int hour, int minute) {
    tm t = MakeTm(year, month, day, hour, minute);
    EXPECT_NE(std::mktime(&t), static_cast<time_t>(-1));
    return t;
}

// The log's two adjusted times, given as they read ("Mon Jan  5 21:00:00
// 2004"). The runtime's asctime pads a day below 10 with a blank (the C
// library of Linux) or a zero (Windows'): the log shows the runtime's pad.
std::string AdjustedLines(std::string start, std::string end) {
    tm fifth = MakeTm(2004, 1, 5, 0, 0);
    const char pad = std::asctime(&fifth)[8];
    for (std::string* text : {&start, &end})
        if ((*text)[8] == ' ') (*text)[8] = pad;
    return "I:AdjustedStart=" + start + "\n\r\nI:AdjustedEnd=" + end + "\n\r\n";
}

// The tests' shell: every box is the program's (BoxShell, through
// AfxMessageBox: a MessageBoxRecorder answers it) and the mail goes on the
// calling thread, without a window.
class DirectShell : public BoxShell {
public:
    explicit DirectShell(CSmtpMailer& mailer) : m_mailer(mailer) {}
    bool Send(const MailProgramme& programme) override { return m_mailer.SendMail(programme); }
    bool Stopped() const override { return m_mailer.Cancelled(); }
    bool SenderRefused() const override { return m_mailer.SenderRefused(); }
    void SendEach(const std::vector<MailProgramme>& programmes, const std::function<void(size_t)>& each) override {
        ++batches;
        m_mailer.BeginBatch(programmes);
        for (size_t i = 0; i < programmes.size(); ++i) each(i);
        m_mailer.EndBatch();
    }
    // 放送局の登録: each question recorded (text, suggestion), answered
    // from channels in turn (0, キャンセル, when they have run out).
    uint32_t AskStation(const std::string& text, const std::string& suggested) override {
        asked.emplace_back(text, suggested);
        return asked.size() <= channels.size() ? channels[asked.size() - 1] : 0;
    }
    int batches = 0;  // SendEach calls
    std::vector<uint32_t> channels;
    std::vector<std::pair<std::string, std::string>> asked;

private:
    CSmtpMailer& m_mailer;
};

class ReserveTest : public ::testing::Test {
protected:
    void SetUp() override { UseJapanTime(); }

    // Runs the driver over file with the given answers to its boxes; with
    // snapshots, each box records the log as it stood.
    bool Run(const std::string& file, std::vector<int> answers = {}, bool snapshots = false) {
        MessageBoxRecorder boxes(std::move(answers), snapshots ? &log : nullptr);
        const bool result = Reserve(table, CString(file.data(), static_cast<int>(file.size())));
        calls = boxes.Calls();
        return result;
    }

    // The driver over text with table, as the program runs it for one file.
    bool Reserve(CStationTable& stations, const CString& text) {
        return reserve::Reserver(shell, options).ReserveFile(text, stations, "prog.epg");
    }

    reserve::ReserveOptions options;
    CStationTable table{kStationTxt};
    CSmtpMailer mailer{MailAccount()};
    DirectShell shell{mailer};
    LogCapture log;
    std::vector<MessageBoxCall> calls;
};

}  // namespace

// ---- extraction and conversion ------------------------------------------

TEST(IepgText, ValueExtraction) {
    const struct {
        const char* what;
        std::string text;
        const char* key;
        bool found;
        std::string value;
    } cases[] = {
        {"LF line", "station: ＮＨＫ総合\n", "station:", true, "ＮＨＫ総合"},
        {"CRLF line", "station: ＮＨＫ総合\r\n", "station:", true, "ＮＨＫ総合"},
        {"blanks trimmed, inner kept", "station: \t ＮＨＫ 総合 \v\f\t\r\n", "station:", true, "ＮＨＫ 総合"},
        {"trail byte 0x5C kept", "station: ソニー\n", "station:", true, "ソニー"},
        {"value starts at the first space", "station:\tＮＨＫ  x\n", "station:", true, "x"},
        {"no space: the next line's text", "station:ＮＨＫ\nyear: 2004\n", "station:", true, "2004"},
        {"key with nothing after it", "station:\nyear: 2004\n", "station:", true, "2004"},
        {"empty value", "station: \n", "station:", true, ""},
        {"key inside another value", "title: start: 5\nstart: 21:00\n", "start:", true, "5"},
        {"capital letter", "Station: ＮＨＫ\n", "station:", false, ""},
        {"no line feed", "station: ＮＨＫ総合", "station:", false, ""},
        {"only a carriage return", "station: ＮＨＫ総合\r", "station:", false, ""},
        {"no space at all", "station:ＮＨＫ\n", "station:", false, ""},
        {"key cut short at the end", "statio", "station:", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string value = "unchanged";
        EXPECT_EQ(iepg::ExtractValue(c.text, c.key, value), c.found);
        EXPECT_EQ(value, c.found ? c.value : "unchanged");
    }
}

TEST(IepgText, KeyNeverMatchesFromATrailByte) {
    // Each decoy is a double-byte character whose second byte is the key's
    // first letter, followed by the rest of the key: ピ = 83 73 ('s'),
    // ペ = 83 79 ('y'), ノ = 83 6D ('m'), ヅ = 83 64 ('d'), テ = 83 65 ('e').
    const struct {
        const char* key;
        std::string decoy;
    } cases[] = {
        {"station:", "ピtation: 偽\n"}, {"year:", "ペear: 1999\n"},   {"month:", "ノonth: 12\n"},
        {"date:", "ヅate: 31\n"},       {"start:", "ピtart: 00:00\n"}, {"end:", "テnd: 00:01\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        const std::string text = "title: " + c.decoy + c.key + " real\n";
        EXPECT_EQ(iepg::FindKey(text, c.key), text.find(std::string("\n") + c.key) + 1);
        std::string value;
        ASSERT_TRUE(iepg::ExtractValue(text, c.key, value));
        EXPECT_EQ(value, "real");
    }
    // Full-width letters hide keys too: Ｔ = 82 73 ('s').
    EXPECT_EQ(iepg::FindKey("Ｔtation: x\n", "station:"), std::string::npos);
    // A single-byte character before the key does not shift it.
    EXPECT_EQ(iepg::FindKey("ｱstation: x\n", "station:"), 1u);
}

TEST(IepgText, LeadByteAtTheEnd) {
    // The last byte is a lead byte with no partner. Each text sits in a heap
    // block of exactly its size, so the sanitizer build sees any read past it.
    const std::string cases[] = {"\x83", "ab\x83", "station: x\n\x83", "st\xE0", "year\xFC"};
    for (const std::string& text : cases) {
        const std::vector<char> exact(text.begin(), text.end());
        const std::string_view view(exact.data(), exact.size());
        EXPECT_EQ(iepg::FindKey(view, "year:"), std::string::npos);
        std::string value;
        EXPECT_EQ(iepg::ExtractValue(view, "station:", value), text == "station: x\n\x83");
    }
    std::string value;
    EXPECT_TRUE(iepg::ExtractValue("station: x\n\x83", "station:", value));
    EXPECT_EQ(value, "x");
    EXPECT_FALSE(iepg::ExtractValue("station: x\x83", "station:", value));
}

TEST(Scan, OneIntLikePercentD) {
    const struct {
        const char* text;
        bool ok;
        int value;
    } cases[] = {
        {"2004", true, 2004},          {"2004年", true, 2004},         {" \t\v\f\r\n7", true, 7},
        {"+12x", true, 12},            {"-5", true, -5},               {"0x10", true, 0},
        {"-0", true, 0},               {"0000000000000000000042", true, 42},
        {"2147483647", true, INT_MAX}, {"-2147483648", true, INT_MIN},
        {"2147483648", false, 0},      {"-2147483649", false, 0},      {"99999999999999999999999", false, 0},
        {"", false, 0},                {"   ", false, 0},             {"abc", false, 0},
        {"+", false, 0},               {"- 1", false, 0},              {"+-1", false, 0},
        {"１２", false, 0},  // full-width digits are not digits
    };
    for (const auto& c : cases) {
        int value = -777;
        EXPECT_EQ(scan::ScanOneInt(c.text, value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

TEST(Scan, TimeLikePercentDColonPercentD) {
    const struct {
        const char* text;
        bool ok;
        int hours, minutes;
    } cases[] = {
        {"21:00", true, 21, 0},      {"21 : 00", true, 21, 0},      {"21: 00", true, 21, 0},
        {"21 :00", true, 21, 0},     {"21\t:\r\n05", true, 21, 5},  {"21:00:30", true, 21, 0},
        {"-1:-5", true, -1, -5},     {"24:75", true, 24, 75},       {"9:5分", true, 9, 5},
        {"2100", false, 0, 0},       {"21-00", false, 0, 0},        {"21:", false, 0, 0},
        {":00", false, 0, 0},        {"21:x", false, 0, 0},         {"21：00", false, 0, 0},
        {"21:2147483648", false, 0, 0}, {"99999999999:00", false, 0, 0}, {"", false, 0, 0},
    };
    for (const auto& c : cases) {
        int h = -1, m = -1;
        EXPECT_EQ(scan::ScanIntColonInt(c.text, h, m), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(h, c.hours) << c.text;
            EXPECT_EQ(m, c.minutes) << c.text;
        }
    }
}

TEST(ReserveTimes, TextsOutsideAsctimesYears) {
    tm t{};
    t.tm_year = 12345 - 1900;
    t.tm_mday = 1;
    t.tm_wday = 6;
    EXPECT_EQ(reserve::AsctimeText(t), "Sat Jan  1 00:00:00 12345\n");
    t.tm_year = INT_MAX;  // the year itself beyond int
    t.tm_mon = 11;
    t.tm_mday = 31;
    t.tm_hour = 23;
    t.tm_min = 59;
    EXPECT_EQ(reserve::AsctimeText(t), "Sat Dec 31 23:59:00 2147485547\n");
    t.tm_wday = 9;  // never after mktime, but still no read outside the names
    t.tm_mon = -1;
    EXPECT_EQ(reserve::AsctimeText(t), "??? ??? 31 23:59:00 2147485547\n");
    // Fields out of range in asctime's years (never after mktime): written
    // as they are, not given to asctime.
    tm odd = MakeTm(2004, 1, 5, 24, 60, 61, 1);
    EXPECT_EQ(reserve::AsctimeText(odd), "Mon Jan  5 24:60:61 2004\n");
    odd = MakeTm(2004, 13, 32, 21, 0);
    odd.tm_wday = 7;
    EXPECT_EQ(reserve::AsctimeText(odd), "??? ??? 32 21:00:00 2004\n");
    EXPECT_STREQ(reserve::WeekdayName(7), "?");
    EXPECT_STREQ(reserve::WeekdayName(-1), "?");
}

TEST(ReserveTimes, ConfirmationShowsEveryWeekday) {
    UseJapanTime();
    const char* const names[] = {"日", "月", "火", "水", "木", "金", "土"};
    for (int day = 4; day <= 10; ++day) {  // Sunday 4 January 2004 to Saturday 10 January
        const tm start = LocalTime(2004, 1, day, 9, 5);
        const tm end = LocalTime(2004, 1, day, 10, 0);
        EXPECT_EQ(reserve::ConfirmationText(start, end, 4294967295u),
                  "2004/01/" + std::string(day < 10 ? "0" : "") + std::to_string(day) + "(" + names[day - 4] +
                      ") 09:05～10:00\n4294967295チャンネルで予約を実行します\nよろしいですか？");
    }
}

// ---- the driver ----------------------------------------------------------

TEST_F(ReserveTest, TimeZoneIsPinned) { EXPECT_EQ(plat::TimezoneSeconds(), -32400); }

TEST_F(ReserveTest, Version1FileDeclined) {
    for (const char* eol : {"\r\n", "\n"}) {
        SCOPED_TRACE(eol[0] == '\r' ? "CRLF" : "LF");
        LogCapture runLog;
        const Header h;
        EXPECT_TRUE(Run(Version1(h, eol), {IDNO}));
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls[0].text,
                  "2004/01/05(月) 21:00～21:54\n1チャンネルで予約を実行します\nよろしいですか？");
        EXPECT_EQ(calls[0].type, kQuestion);
        EXPECT_EQ(calls[1].text, "予約を中止しました");
        EXPECT_EQ(calls[1].type, MB_ICONINFORMATION);
        EXPECT_EQ(runLog.Text(), StationBlock(h) + "I:CH=1\r\n" +
                                     AdjustedLines("Mon Jan  5 21:00:00 2004", "Mon Jan  5 21:54:00 2004"));
    }
}

TEST_F(ReserveTest, AnyAnswerButYesDeclines) {
    for (int answer : {IDNO, IDCANCEL, IDOK, 0}) {
        EXPECT_TRUE(Run(Version1(Header()), {answer}));
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls[1].text, "予約を中止しました");
    }
}

TEST_F(ReserveTest, Version2FileReservesThroughItsStationKey) {
    EXPECT_TRUE(Run(Version2(), {IDNO}));
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].text, "2004/01/05(月) 21:00～21:54\n12チャンネルで予約を実行します\nよろしいですか？");
    EXPECT_NE(log.Text().find("I:Station=DFS00400\r\nI:Date=2004/01/05\r\n"), std::string::npos);

    // A table that knows only the name reaches it through station-name:;
    // without one (absent or empty) the code alone cannot, and the box
    // names whatever the file gave.
    CStationTable byName("1 ＮＨＫ総合\n");
    const struct {
        const char* what;
        std::string nameLine;
        bool reserved;
        const char* box;
    } cases[] = {
        {"station-name", "station-name: ＮＨＫ総合", true,
         "2004/01/05(月) 21:00～21:54\n1チャンネルで予約を実行します\nよろしいですか？"},
        {"station-name absent", "", false, "<DFS00400>をチャンネル番号に変換できません\nStation.txtに設定してください"},
        {"station-name empty", "station-name:", false,
         "<DFS00400>をチャンネル番号に変換できません\nStation.txtに設定してください"},
        {"station-name unknown", "station-name: ＮＨＫ総合１・東京", false,
         "<DFS00400>(ＮＨＫ総合１・東京)をチャンネル番号に変換できません\nStation.txtに設定してください"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MessageBoxRecorder boxes({IDNO});
        const std::string file = Version2("\n", c.nameLine);
        EXPECT_EQ(Reserve(byName, CString(file.c_str())), c.reserved);
        ASSERT_FALSE(boxes.Calls().empty());
        EXPECT_EQ(boxes.Calls()[0].text, c.box);
    }
}

// A file with several programmes: each read from its own part and asked
// about in turn, led by its place, title and station; one that cannot be
// reserved gets its box and the others still go.
TEST_F(ReserveTest, SeveralProgrammesAreAskedAboutInTurn) {
    const std::string news = Version1(Header());
    const std::string ntv = Version1(Programme("日本テレビ", "22:00", "22:54"), "\r\n", "天気");
    const std::string q1 = "2004/01/05(月) 21:00～21:54\n1チャンネルで予約を実行します\nよろしいですか？";
    const std::string q2 = "2004/01/05(月) 22:00～22:54\n4チャンネルで予約を実行します\nよろしいですか？";
    std::string longTitle;
    for (int i = 0; i < 40; ++i) longTitle += "あ";
    const std::string shown32 = "ああああああああああああああああああああああああああああああああ…";
    const struct {
        const char* what;
        std::string file;
        bool result;
        std::vector<std::string> boxes;
        const char* logEnd;  // empty: nothing logged
    } cases[] = {
        {"both declined, without a box after each No", Multi({news, ntv}), true,
         {"(1/2) ニュース７  ＮＨＫ総合\n" + q1, "(2/2) 天気  日本テレビ\n" + q2}, "I:Sent=0/2\r\n"},
        {"a missing key is never taken from the next part", Multi({Without(news, "end:"), ntv}), false,
         {"(1/2) 番組に<end:>がありません\nこの番組は予約されません", "(2/2) 天気  日本テレビ\n" + q2}, "I:Sent=0/2\r\n"},
        {"nor the title", Multi({Without(news, "program-title:"), ntv}), true,
         {"(1/2) ＮＨＫ総合\n" + q1, "(2/2) 天気  日本テレビ\n" + q2}, "I:Sent=0/2\r\n"},
        {"the last part without a station", Multi({news, Without(ntv, "station:")}), false,
         {"(1/2) ニュース７  ＮＨＫ総合\n" + q1, "(2/2) 番組に<station:>がありません\nこの番組は予約されません"},
         "I:Sent=0/2\r\n"},
        {"unknown code and name", Multi({news, [] {
                                             std::string v2 = Version2("\r\n", "station-name: 謎の局");
                                             v2.replace(v2.find("DFS00400"), 8, "DFS00999");
                                             return v2;
                                         }()}),
         false,
         {"(1/2) ニュース７  ＮＨＫ総合\n" + q1,
          "(2/2) <DFS00999>(謎の局)をチャンネル番号に変換できません\nStation.txtに設定してください"},
         "I:Sent=0/2\r\n"},
        {"unreadable time", Multi({Version1(Programme("ＮＨＫ総合", "2100", "21:54")), ntv}), false,
         {"(1/2) 番組の日時を読み取れません\nこの番組は予約されません", "(2/2) 天気  日本テレビ\n" + q2},
         "I:Sent=0/2\r\n"},
        {"a year the history cannot hold", Multi({Version1(Programme("ＮＨＫ総合", "21:00", "21:54", "99999")), ntv}),
         false,
         {RuntimeHasYear99999() ? "(1/2) 日時(99999/1/05 21:00～21:54)を予約できません\n予約は送信されていません"
                                : "(1/2) 番組の日時を読み取れません\nこの番組は予約されません",
          "(2/2) 天気  日本テレビ\n" + q2},
         "I:Sent=0/2\r\n"},
        {"a long title is cut between characters", Multi({Version1(Header(), "\r\n", longTitle), ntv}), true,
         {"(1/2) " + shown32 + "  ＮＨＫ総合\n" + q1, "(2/2) 天気  日本テレビ\n" + q2}, "I:Sent=0/2\r\n"},
        {"one part: the box of a single file", Multi({news}), true, {q1, "予約を中止しました"}, ""},
        {"one part without a key says so", Multi({Without(news, "year:")}), false,
         {"番組に<year:>がありません\nこの番組は予約されません"}, ""},
        {"no boundary", [&] {
             std::string m = Multi({news, ntv});
             return m.replace(m.find("boundary: ----QuorpaPart"), 24, "boundary:");
         }(),
         false, {"複数の番組のファイルに区切り(boundary:)がありません\n予約は送信されていません"}, ""},
        {"a boundary that never ends", [&] {
             std::string m = Multi({news, ntv});
             return m.substr(0, m.find("----QuorpaPart--"));
         }(),
         false, {"複数の番組のファイルが途中で終わっています\n予約は送信されていません"}, ""},
        {"201 parts", Multi(std::vector<std::string>(201, news)), false,
         {"複数の番組のファイルの番組が多すぎます(200件まで)\n予約は送信されていません"}, ""},
        {"a leading blank line: each one asked", "\r\n" + Multi({news, ntv}), true,
         {"(1/2) ニュース７  ＮＨＫ総合\n" + q1, "(2/2) 天気  日本テレビ\n" + q2}, "I:Sent=0/2\r\n"},
        {"a byte order mark: each one asked", "\xEF\xBB\xBF" + Multi({news, ntv}, "\n"), true,
         {"(1/2) ニュース７  ＮＨＫ総合\n" + q1, "(2/2) 天気  日本テレビ\n" + q2}, "I:Sent=0/2\r\n"},
        {"several under the single type: refused, no end: borrowed", [&] {
             std::string m = Multi({Without(news, "end:"), ntv});
             return m.replace(m.find("x-multi-"), 8, "x-");
         }(),
         false, {"ファイルに複数の番組がありますが、番組の区切りを読み取れません\n予約は送信されていません"}, ""},
        {"a megabyte station-name: a bounded box", Multi({news, [] {
                                                         std::string name;
                                                         for (int i = 0; i < 500000; ++i) name += "謎";
                                                         std::string v2 = Version2("\r\n", "station-name: " + name);
                                                         return v2.replace(v2.find("DFS00400"), 8, "DFS00999");
                                                     }()}),
         false,
         {"(1/2) ニュース７  ＮＨＫ総合\n" + q1,
          "(2/2) <DFS00999>(謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎…)をチャンネル番号に変換できません\n"
          "Station.txtに設定してください"},
         "I:Sent=0/2\r\n"},
        {"a megabyte station-name of a known code: a bounded mark", Multi({[] {
             std::string name;
             for (int i = 0; i < 500000; ++i) name += "謎";
             return Version2("\r\n", "station-name: " + name);
         }(), ntv}),
         true,
         {"(1/2) ニュース７  DFS00400(謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎謎…)\n"
          "2004/01/05(月) 21:00～21:54\n12チャンネルで予約を実行します\nよろしいですか？",
          "(2/2) 天気  日本テレビ\n" + q2},
         "I:Sent=0/2\r\n"},
        {"an ASCII title", Multi({Version1(Header(), "\r\n", "News 7"), ntv}), true,
         {"(1/2) News 7  ＮＨＫ総合\n" + q1, "(2/2) 天気  日本テレビ\n" + q2}, "I:Sent=0/2\r\n"},
        {"two programmes in one part: refused", Multi({Without(news, "end:") + ntv, news}), false,
         {"複数の番組のファイルに区切りの欠けた番組があります\n予約は送信されていません"}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LogCapture runLog;
        EXPECT_EQ(Run(c.file, std::vector<int>(c.boxes.size(), IDNO)), c.result);
        std::vector<std::string> texts;
        for (const MessageBoxCall& call : calls) texts.push_back(call.text);
        EXPECT_EQ(texts, c.boxes);
        if (std::string(c.logEnd).empty()) {
            EXPECT_EQ(runLog.Text().find("I:Sent="), std::string::npos);
        } else {
            EXPECT_TRUE(EndsWith(runLog.Text(), c.logEnd)) << runLog.Text();
        }
    }
}

TEST_F(ReserveTest, TwoHundredProgrammesAreEachAskedOnce) {
    std::vector<std::string> parts;
    for (int i = 0; i < 200; ++i) parts.push_back(Version1(Header()));
    LogCapture runLog;
    EXPECT_TRUE(Run(Multi(parts), std::vector<int>(200, IDNO)));
    ASSERT_EQ(calls.size(), 200u);
    EXPECT_EQ(calls[199].text.rfind("(200/200) ニュース７  ＮＨＫ総合\n", 0), 0u);
    EXPECT_TRUE(EndsWith(runLog.Text(), "I:Sent=0/200\r\n"));
}

// A date the history cannot hold is refused in a single file too, after
// the lines that show it.
TEST_F(ReserveTest, YearsBeyondTheHistoryAreRefusedWithTheirDate) {
    const Header h = Programme("ＮＨＫ総合", "21:00", "21:54", "99999");
    LogCapture runLog;
    EXPECT_FALSE(Run(Version1(h), {IDYES}));
    if (!RuntimeHasYear99999()) {
        EXPECT_TRUE(calls.empty());
        EXPECT_EQ(runLog.Text(), StationBlock(h) + "I:CH=1\r\n");
        return;
    }
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].text, "日時(99999/1/05 21:00～21:54)を予約できません\n予約は送信されていません");
    EXPECT_EQ(calls[0].type, kWarning);
    EXPECT_EQ(runLog.Text(), StationBlock(h) + "I:CH=1\r\n" +
                                 "I:AdjustedStart=Tue Jan  5 21:00:00 99999\n\r\nI:AdjustedEnd=Tue Jan  5 21:54:00 99999\n\r\n");
}

// ---- the four outcomes of the send, against a scripted SMTP server ------

class ReserveSendTest : public ReserveTest {
protected:
    void SetUp() override {
        ReserveTest::SetUp();
        account.sender = account.recipient = "recorder@example.jp";
        options.adjust.start = -5;
        options.adjust.end = 10;
    }
    void Use(const SmtpPeer& peer) {
        account.address = peer.Address();
        account.port = peer.Port();
        // The reservation's adjusted times and channel must reach the mail;
        // a broken dialogue must fail the test, not hang it.
        mailer = CSmtpMailer(account, "Subject: ch%chno% %syea%/%smon%/%sday% %shou%:%smin%-%ehou%:%emin%\r\n",
                             nullptr, {10000, 10000});
    }
    MailAccount account;
    // The log up to the confirmation: what every send outcome starts with.
    static std::string LogBeforeSend() {
        return StationBlock(Header()) + "I:CH=1\r\n" +
               AdjustedLines("Mon Jan  5 20:55:00 2004", "Mon Jan  5 22:04:00 2004");
    }
};

TEST_F(ReserveSendTest, AcceptedMailEndsTheFileWithoutAMessage) {
    SmtpPeer peer(SmtpPeer::Accepting());
    Use(peer);
    EXPECT_TRUE(Run(Version1(Header()), {IDYES}));
    peer.Join();
    EXPECT_EQ(peer.Error(), "");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].text, "2004/01/05(月) 20:55～22:04\n1チャンネルで予約を実行します\nよろしいですか？");
    EXPECT_NE(peer.Received().find("Subject: ch1 04/01/05 20:55-22:04\r\n"), std::string::npos);
    const std::string text = log.Text();
    EXPECT_EQ(text.find(LogBeforeSend() + "R:220 peer ready\r\n"), 0u);
    EXPECT_TRUE(EndsWith(text, "R:221 bye\r\n")) << text;
    EXPECT_EQ(text.find("E:"), std::string::npos);
}

TEST_F(ReserveSendTest, DeclinedReservationSendsNothing) {
    SmtpPeer peer(SmtpPeer::Accepting());
    Use(peer);
    EXPECT_TRUE(Run(Version1(Header()), {IDNO}));
    EXPECT_EQ(peer.Connections(), 0);
    EXPECT_EQ(log.Text(), LogBeforeSend());
}

TEST_F(ReserveSendTest, RefusedMailShowsServerErrorThenLogsIt) {
    SmtpPeer peer(SmtpPeer::RefusingAt(SmtpPeer::kRcpt, "550 no such user\r\n"));
    Use(peer);
    EXPECT_FALSE(Run(Version1(Header()), {IDYES}, true));
    peer.Join();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].text, "メール送信に失敗しました(サーバエラー)");
    EXPECT_EQ(calls[1].type, kWarning);
    const std::string text = log.Text();
    EXPECT_TRUE(EndsWith(text, "R:550 no such user\r\nE:SMTP error!\r\n")) << text;
    // The box came before the log line.
    EXPECT_EQ(calls[1].logSoFar, text.substr(0, text.size() - 15));
}

TEST_F(ReserveSendTest, ServerHangingUpShowsSocketErrorThenLogsIt) {
    SmtpPeer peer(SmtpPeer::ClosingAt(SmtpPeer::kData));
    Use(peer);
    EXPECT_FALSE(Run(Version1(Header()), {IDYES}, true));
    peer.Join();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].text, "メール送信に失敗しました(ソケットエラー)");
    EXPECT_EQ(calls[1].type, kWarning);
    const std::string text = log.Text();
    const size_t e = text.find("S:DATA\r\nE:<SocketClose> at net/");
    ASSERT_NE(e, std::string::npos) << text;
    EXPECT_EQ(calls[1].logSoFar, text.substr(0, e + 8));
    EXPECT_TRUE(std::regex_match(text.substr(e + 8), std::regex("E:<SocketClose> at net/[A-Za-z]+\\.cpp\\([0-9]+\\)\r\n")))
        << text.substr(e + 8);
}

TEST_F(ReserveSendTest, StoppedSendShowsItsOwnBoxThenLogsIt) {
    // The server accepts the connection and never greets; the user stops the
    // send from another thread (the progress window's 中止).
    SmtpPeer peer(SmtpPeer::SilentAt(SmtpPeer::kGreeting));
    Use(peer);
    std::thread user([&] {
        for (int i = 0; i < 500 && peer.Connections() == 0; ++i) plat::SleepMs(10);
        mailer.Cancel();
    });
    EXPECT_FALSE(Run(Version1(Header()), {IDYES}, true));
    user.join();
    peer.Join();
    EXPECT_EQ(peer.Received(), "");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].text, "メール送信を中止しました\n予約は送信されていません");
    EXPECT_EQ(calls[1].type, kWarning);
    EXPECT_EQ(calls[1].logSoFar, LogBeforeSend());
    EXPECT_EQ(log.Text(), LogBeforeSend() + "E:Stopped by user!\r\n");
}

// The history keeps each send's outcome with the file's name; sending the
// entry again writes over it, with the times as recorded (not adjusted twice).
TEST_F(ReserveSendTest, HistoryKeepsTheOutcomeAndAResendWritesOverIt) {
    options.historyPath =
        ::testing::TempDir() + "reserve_test." + std::to_string(plat::CurrentProcessId()) + ".history";
    std::remove(options.historyPath.c_str());
    SmtpPeer refusing(SmtpPeer::RefusingAt(SmtpPeer::kRcpt, "550 no such user\r\n"));
    Use(refusing);
    EXPECT_FALSE(Run(Version1(Header()), {IDYES}));
    refusing.Join();
    std::vector<history::Entry> entries = history::Load(options.historyPath);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].outcome, history::Outcome::kFailed);
    EXPECT_EQ(entries[0].reason, "SMTP error");
    EXPECT_EQ(entries[0].channel, 1u);
    EXPECT_EQ(entries[0].title, "ニュース７");
    EXPECT_EQ(entries[0].file, "prog.epg");

    SmtpPeer accepting(SmtpPeer::Accepting());
    Use(accepting);
    {
        MessageBoxRecorder boxes;
        EXPECT_TRUE(reserve::Reserver(shell, options).Resend(entries[0]));
        EXPECT_TRUE(boxes.Calls().empty());
    }
    accepting.Join();
    EXPECT_NE(accepting.Received().find("Subject: ch1 04/01/05 20:55-22:04\r\n"), std::string::npos);
    entries = history::Load(options.historyPath);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].outcome, history::Outcome::kSent);
    EXPECT_EQ(entries[0].reason, "");
    std::remove(options.historyPath.c_str());
}

namespace {

// A peer that takes every mail of a connection, with RSET between them,
// then QUIT.
SmtpPeer::Script TakingMails(int mails) {
    const std::vector<std::string> r = SmtpPeer::AcceptingReplies();
    SmtpPeer::Script script = {SmtpPeer::Send(r[SmtpPeer::kGreeting]), SmtpPeer::ReadLine(),
                               SmtpPeer::Send(r[SmtpPeer::kHelo])};
    for (int m = 0; m < mails; ++m) {
        if (m > 0) script.insert(script.end(), {SmtpPeer::ReadLine(), SmtpPeer::Send("250 reset\r\n")});
        for (int step : {SmtpPeer::kMail, SmtpPeer::kRcpt, SmtpPeer::kData}) {
            script.insert(script.end(), {SmtpPeer::ReadLine(), SmtpPeer::Send(r[step])});
        }
        script.insert(script.end(), {SmtpPeer::ReadData(), SmtpPeer::Send(r[SmtpPeer::kMessage])});
    }
    script.insert(script.end(), {SmtpPeer::ReadLine(), SmtpPeer::Send(r[SmtpPeer::kQuit]), SmtpPeer::WaitForClose()});
    return script;
}

// A peer that offers PIPELINING: the first mail's group (AUTH PLAIN, MAIL
// FROM, RCPT TO, DATA) answered with first; when that refuses it, the next
// group begins with RSET. The second mail is taken, then QUIT.
SmtpPeer::Script PipelinedMails(const char* first) {
    const bool taken = std::string(first).find("354") != std::string::npos;
    SmtpPeer::Script script = {SmtpPeer::Send("220 peer ready\r\n"), SmtpPeer::ReadLine(),
                               SmtpPeer::Send("250-peer\r\n250-PIPELINING\r\n250 AUTH PLAIN\r\n"),
                               SmtpPeer::ReadGroup(4), SmtpPeer::Send(first)};
    if (taken) script.insert(script.end(), {SmtpPeer::ReadData(), SmtpPeer::Send("250 queued\r\n")});
    script.insert(script.end(), {SmtpPeer::ReadGroup(taken ? 3 : 4),
                                 SmtpPeer::Send(std::string(taken ? "" : "250 reset\r\n") + "250 ok\r\n250 ok\r\n354 go\r\n"),
                                 SmtpPeer::ReadData(), SmtpPeer::Send("250 queued\r\n"), SmtpPeer::ReadLine(),
                                 SmtpPeer::Send("221 bye\r\n"), SmtpPeer::WaitForClose()});
    return script;
}

}  // namespace

// The confirmed programmes of a file with several go out after every
// question, in one batch and one connection where the server allows; each
// has its own outcome, told after the batch, and its own history entry.
TEST_F(ReserveSendTest, SeveralProgrammesGoOutTogether) {
    const std::string file =
        Multi({Version1(Header()), Version1(Programme("日本テレビ", "22:00", "22:54"), "\r\n", "天気")});
    const std::string mail1 = "MAIL;Subject: ch1 04/01/05 20:55-22:04\r\n",
                      mail2 = "MAIL;Subject: ch4 04/01/05 21:55-23:04\r\n";
    const struct {
        const char* what;
        SmtpPeer::Script script;
        int connections;
        std::vector<int> answers;
        bool result;
        std::vector<std::string> received;  // what each connection carried, in order: mails, RSET
        std::vector<std::string> failures;  // the boxes after the two questions
        std::vector<history::Outcome> outcomes;
        const char* logEnd;
        bool stop = false;       // the user stops the send once connected
        bool pipelined = false;  // the account signs in: EHLO, and the peer offers PIPELINING
    } cases[] = {
        {"pipelined: both in one connection, no RSET", PipelinedMails("235 ok\r\n250 ok\r\n250 ok\r\n354 go\r\n"), 1,
         {IDYES, IDYES}, true, {mail1 + mail2}, {}, {history::Outcome::kSent, history::Outcome::kSent},
         "S:QUIT\r\nR:250 queued\r\nR:221 bye\r\nI:Sent=2/2\r\n", false, true},
        {"pipelined: a refused programme leaves the other sent",
         PipelinedMails("235 ok\r\n250 ok\r\n550 no such user\r\n554 no valid recipients\r\n"), 1, {IDYES, IDYES},
         false, {"MAIL;RSET\r\n" + mail2}, {"(1/2) メール送信に失敗しました(サーバエラー)"},
         {history::Outcome::kFailed, history::Outcome::kSent}, "E:SMTP error!\r\nI:Sent=1/2\r\n", false, true},
        {"both in one connection", TakingMails(2), 1, {IDYES, IDYES}, true, {mail1 + "RSET\r\n" + mail2}, {},
         {history::Outcome::kSent, history::Outcome::kSent}, "S:QUIT\r\nR:221 bye\r\nI:Sent=2/2\r\n"},
        {"No on the first sends only the second", TakingMails(1), 1, {IDNO, IDYES}, true, {mail2}, {},
         {history::Outcome::kSent}, "R:221 bye\r\nI:Sent=1/2\r\n"},
        {"a refused mail, the next still tried", SmtpPeer::RefusingAt(SmtpPeer::kRcpt, "550 no such user\r\n"), 2,
         {IDYES, IDYES}, false, {"MAIL;", "MAIL;"},
         {"(1/2) メール送信に失敗しました(サーバエラー)", "(2/2) メール送信に失敗しました(サーバエラー)"},
         {history::Outcome::kFailed, history::Outcome::kFailed},
         "R:550 no such user\r\nE:SMTP error!\r\nE:SMTP error!\r\nI:Sent=0/2\r\n"},
        {"a hang-up ends the batch", SmtpPeer::ClosingAt(SmtpPeer::kData), 1, {IDYES, IDYES}, false, {"MAIL;"},
         {"(1/2) メール送信に失敗しました(ソケットエラー)\n以降の番組も送信されていません"},
         {history::Outcome::kFailed, history::Outcome::kFailed},
         "I:Sent=0/2\r\n"},
        // Last: the mailer stays stopped.
        {"stopped by the user", SmtpPeer::SilentAt(SmtpPeer::kGreeting), 1, {IDYES, IDYES}, false, {""},
         {"メール送信を中止しました\n予約は送信されていません"}, {history::Outcome::kStopped, history::Outcome::kStopped},
         "E:Stopped by user!\r\nI:Sent=0/2\r\n", true},
    };
    options.historyPath =
        ::testing::TempDir() + "reserve_test_batch." + std::to_string(plat::CurrentProcessId()) + ".history";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::remove(options.historyPath.c_str());
        SmtpPeer peer(c.script, c.connections);
        account.user = c.pipelined ? "user" : "";
        account.password = SmtpPassword::Typed(c.pipelined ? "secret" : "");
        Use(peer);
        LogCapture runLog;
        shell.batches = 0;
        std::thread user([&] {  // the progress window's 中止
            for (int i = 0; c.stop && i < 500 && peer.Connections() == 0; ++i) plat::SleepMs(10);
            if (c.stop) mailer.Cancel();
        });
        EXPECT_EQ(Run(file, c.answers), c.result);
        user.join();
        peer.Join();
        EXPECT_EQ(peer.Error(), "");
        EXPECT_EQ(shell.batches, 1);
        EXPECT_EQ(peer.Connections(), c.connections);
        for (int i = 0; i < c.connections; ++i) {
            std::string seen;  // MAIL FROM (as "MAIL;"), the subjects and RSETs, in order
            std::string received = peer.Received(i);
            for (size_t at = 0; at < received.size();) {
                const size_t eol = received.find("\r\n", at);
                const std::string line = received.substr(at, eol + 2 - at);
                if (line.rfind("Subject:", 0) == 0 || line == "RSET\r\n") seen += line;
                if (line.rfind("MAIL FROM:", 0) == 0) seen += "MAIL;";
                at = eol + 2;
            }
            EXPECT_EQ(seen, c.received[i]) << i;
        }
        ASSERT_GE(calls.size(), 2u);
        EXPECT_EQ(calls[0].text.rfind("(1/2) ニュース７  ＮＨＫ総合\n", 0), 0u);
        EXPECT_EQ(calls[1].text.rfind("(2/2) 天気  日本テレビ\n", 0), 0u);
        std::vector<std::string> failures;
        for (size_t i = 2; i < calls.size(); ++i) failures.push_back(calls[i].text);
        EXPECT_EQ(failures, c.failures);
        EXPECT_TRUE(EndsWith(runLog.Text(), c.logEnd)) << runLog.Text();
        // 2004 is long over: no duplicate question, yet each has its line.
        const std::vector<history::Entry> entries = history::Load(options.historyPath);
        ASSERT_EQ(entries.size(), c.outcomes.size());
        for (size_t i = 0; i < entries.size(); ++i) EXPECT_EQ(entries[i].outcome, c.outcomes[i]) << i;
        if (entries.size() == 2) {
            EXPECT_NE(entries[0].id, entries[1].id);
        }
    }
    std::remove(options.historyPath.c_str());
}

// The duplicate question asks by the programme as its file gives it, and
// the check and the record happen in one turn of the history: another run's
// send, recorded while this one asked, is asked about again.
TEST_F(ReserveSendTest, DuplicatesAreAskedByTheProgrammeAndAgainUnderTheLock) {
    options.historyPath =
        ::testing::TempDir() + "reserve_test_dup." + std::to_string(plat::CurrentProcessId()) + ".history";
    std::remove(options.historyPath.c_str());
    const Header h = Programme("ＮＨＫ総合", "21:00", "21:54", "2099");
    const std::string file = Version1(h);
    // "この番組は 12/7 09:30 に予約メールを送信済みです。\n送信済み: ..." naming
    // the earlier send's programme as reserved (a regex would read the trail
    // bytes of code page 932 as its own).
    const auto isDuplicate = [](const std::string& text) {
        const std::string head = "この番組は ",
                          tail = " に予約メールを送信済みです。\n送信済み: ニュース７ 2099/01/05 20:55～22:04\n"
                                 "もう一度送信しますか？";
        return text.size() > head.size() + tail.size() && text.rfind(head, 0) == 0 && EndsWith(text, tail) &&
               std::regex_match(text.substr(head.size(), text.size() - head.size() - tail.size()),
                                std::regex("[0-9]+/[0-9]+ [0-9]{2}:[0-9]{2}"));
    };
    const std::string question = "2099/01/05(月) 20:55～22:04\n1チャンネルで予約を実行します\nよろしいですか？";
    {
        SmtpPeer peer(SmtpPeer::Accepting(), 2);
        Use(peer);
        EXPECT_TRUE(Run(file, {IDYES}));
        // The same second, another run: asked, and both lines stay.
        EXPECT_TRUE(Run(file, {IDYES, IDYES}));
        peer.Join();
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_TRUE(isDuplicate(calls[0].text)) << calls[0].text;
        EXPECT_EQ(calls[0].type, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
        EXPECT_EQ(calls[1].text, question);
    }
    std::vector<history::Entry> entries = history::Load(options.historyPath);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].outcome, history::Outcome::kSent);
    EXPECT_EQ(entries[1].outcome, history::Outcome::kSent);
    EXPECT_NE(entries[0].id, entries[1].id);

    // Other adjustments still find it.
    options.adjust.start = -1;
    options.adjust.end = 2;
    EXPECT_TRUE(Run(file, {IDNO}));
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_TRUE(isDuplicate(calls[0].text)) << calls[0].text;
    EXPECT_EQ(calls[1].text, "予約を中止しました");

    // A programme not yet sent, which another run records as being sent
    // while this one shows its confirmation: asked again, No sends nothing.
    std::remove(options.historyPath.c_str());
    SmtpPeer idle(SmtpPeer::Accepting());
    Use(idle);
    std::vector<std::string> texts;
    const MessageBoxHandler previous = AfxSetMessageBoxHandler([&](const char* text, unsigned) {
        texts.push_back(text);
        if (texts.size() > 1) return IDNO;
        history::Entry other = entries[0];
        other.id = "another-run";
        other.outcome = history::Outcome::kSending;
        const time_t now = std::time(nullptr);
        other.sent = *std::localtime(&now);
        EXPECT_TRUE(history::Append(options.historyPath, other));
        return IDYES;
    });
    EXPECT_TRUE(Reserve(table, CString(file.c_str())));
    AfxSetMessageBoxHandler(previous);
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], "2099/01/05(月) 20:59～21:56\n1チャンネルで予約を実行します\nよろしいですか？");
    EXPECT_TRUE(isDuplicate(texts[1])) << texts[1];
    EXPECT_EQ(texts[2], "予約を中止しました");
    EXPECT_EQ(idle.Connections(), 0);
    EXPECT_EQ(history::Load(options.historyPath).size(), 1u);
    std::remove(options.historyPath.c_str());
}

TEST_F(ReserveSendTest, ForeignExceptionInTheGuardedRegionIsUnknown) {
    // A failure that is not one of the program's own exception classes, here
    // raised while the refusal is being reported, ends in the last branch.
    SmtpPeer peer(SmtpPeer::RefusingAt(SmtpPeer::kHelo, "421 closing\r\n"));
    Use(peer);
    std::vector<std::string> texts;
    const MessageBoxHandler previous = AfxSetMessageBoxHandler([&](const char* text, unsigned) {
        texts.push_back(text);
        if (texts.size() == 2) throw std::runtime_error("not ours");
        return texts.size() == 1 ? IDYES : IDOK;
    });
    const std::string file = Version1(Header());
    EXPECT_FALSE(Reserve(table, CString(file.c_str())));
    AfxSetMessageBoxHandler(previous);
    peer.Join();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[1], "メール送信に失敗しました(サーバエラー)");
    EXPECT_EQ(texts[2], "メール送信に失敗しました");
    const std::string text = log.Text();
    EXPECT_TRUE(EndsWith(text, "R:421 closing\r\nE:UnknownException!\r\n")) << text;
}

TEST_F(ReserveTest, MalformedFilesFailSilently) {
    const std::string good = Version1(Header());
    const auto without = [&](const std::string& key) {
        std::string text = good;
        text.replace(text.find("\r\n" + key) + 2, key.size(), "x" + key.substr(1));
        return text;
    };
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"no station key", without("station:")},
        {"no year key", without("year:")},
        {"no month key", without("month:")},
        {"no date key", without("date:")},
        {"no start key", without("start:")},
        {"no end key", without("end:")},
        {"key in capitals", [&] {
             std::string t = good;
             t[t.find("station:")] = 'S';
             return t;
         }()},
        {"last value needed without a line feed",
         "station: ＮＨＫ総合\nyear: 2004\nmonth: 1\ndate: 5\nstart: 21:00\nend: 21:54"},
        {"last key without a space after it", "station: ＮＨＫ総合\nyear: 2004\nmonth: 1\ndate: 5\nstart: 21:00\nend:21:54\n"},
        {"lead byte right after the last value", "station: ＮＨＫ総合\nyear: 2004\nmonth: 1\ndate: 5\nstart: 21:00\nend: 21:54\x83"},
        {"empty file", ""},
        {"text ends at a NUL before the keys", std::string("\0", 1) + good},
        {"NUL inside the station value", [&] {
             std::string t = good;
             t.insert(t.find("総合"), 1, '\0');
             return t;
         }()},
        {"only a programme text", "今日のニュースと天気予報をお伝えします。\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LogCapture runLog;
        EXPECT_FALSE(Run(c.text, {IDYES}));
        EXPECT_TRUE(calls.empty());
        EXPECT_EQ(runLog.Text(), "");
    }
}

TEST_F(ReserveTest, BinaryGarbageNeverCrashes) {
    std::string garbage;
    uint32_t x = 12345;
    for (int i = 0; i < 200000; ++i) {
        x = x * 1103515245u + 12345u;
        garbage += static_cast<char>(x >> 24);
    }
    for (const std::string& text : {garbage, garbage + "\x81", "station: ＮＨＫ総合\n" + garbage}) {
        LogCapture runLog;
        EXPECT_FALSE(Run(text, {IDYES}));
        EXPECT_TRUE(calls.empty());
    }
}

TEST_F(ReserveTest, StationNotFound) {
    const struct {
        const char* what;
        std::string station;
    } cases[] = {
        {"not in the table", "ＢＳ日テレ"},
        {"mapped to channel 0", "テレビ東京"},
        {"kana are not folded", "ＢＳにってれ"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Header h;
        h.station = c.station;
        h.start = "xx:yy";  // the lookup comes before any number is read
        LogCapture runLog;
        EXPECT_FALSE(Run(Version1(h), {IDYES}));
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].text, "<" + c.station + ">をチャンネル番号に変換できません\nStation.txtに設定してください");
        EXPECT_EQ(calls[0].type, kWarning);
        EXPECT_EQ(runLog.Text(), StationBlock(h) + "I:CH=0\r\n");
    }
}

// Station names as people write them: half-width letters and blanks reach
// the table's ＮＨＫ総合.
TEST_F(ReserveTest, StationFoundByItsFoldedName) {
    for (const char* station : {"ＮＨＫ 総合", "NHK総合", "nhk　総合"}) {
        Header h;
        h.station = station;
        EXPECT_TRUE(Run(Version1(h), {IDNO}));
        ASSERT_EQ(calls.size(), 2u) << station;
        EXPECT_EQ(calls[0].text, "2004/01/05(月) 21:00～21:54\n1チャンネルで予約を実行します\nよろしいですか？");
    }
}

TEST_F(ReserveTest, KeyWithoutSpaceTakesTheNextLine) {
    std::string file = Version1(Header());
    file.replace(file.find("station: "), 9, "station:");
    EXPECT_FALSE(Run(file, {IDYES}));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].text, "<2004>をチャンネル番号に変換できません\nStation.txtに設定してください");
}

TEST_F(ReserveTest, UnreadableNumbersFailAfterTheChannelLine) {
    const auto with = [](void (*edit)(Header&)) {
        Header h;
        edit(h);
        return h;
    };
    const struct {
        const char* what;
        Header h;
        int startAdjust = 0, endAdjust = 0;
    } cases[] = {
        {"year without digits", with([](Header& h) { h.year = "平成16"; })},
        {"month without digits", with([](Header& h) { h.month = "January"; })},
        {"date sign only", with([](Header& h) { h.date = "-"; })},
        {"start without colon", with([](Header& h) { h.start = "2100"; })},
        {"end with a dash", with([](Header& h) { h.end = "21-54"; })},
        {"end minutes missing", with([](Header& h) { h.end = "21:"; })},
        {"year beyond int", with([](Header& h) { h.year = "2147483648"; })},
        {"year minus 1900 beyond int", with([](Header& h) { h.year = "-2147483648"; })},
        {"month minus 1 beyond int", with([](Header& h) { h.month = "-2147483648"; })},
        {"a megabyte of digits", with([](Header& h) { h.date = std::string(1 << 20, '9'); })},
        {"hours beyond int", with([](Header& h) { h.start = "99999999999 : 00"; })},
        {"next day beyond int", with([](Header& h) {
             h.date = "2147483647";
             h.start = "23:30";
             h.end = "00:30";
         })},
        {"date mktime cannot represent", with([](Header& h) {
             h.year = "2147483647";
             h.month = "2147483647";
         })},
        {"start adjustment beyond int", with([](Header& h) { h.start = "21:59"; }), INT_MAX, 0},
        {"end adjustment beyond int", with([](Header& h) { h.end = "21:-1"; }), 0, INT_MIN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        options.adjust.start = c.startAdjust;
        options.adjust.end = c.endAdjust;
        LogCapture runLog;
        EXPECT_FALSE(Run(Version1(c.h), {IDYES}));
        EXPECT_TRUE(calls.empty());
        EXPECT_EQ(runLog.Text(), StationBlock(c.h) + "I:CH=1\r\n");
    }
}

TEST_F(ReserveTest, TimesAndAdjustments) {
    const struct {
        const char* what;
        Header h;
        int startAdjust, endAdjust;
        const char* start;  // the adjusted times as the log shows them
        const char* end;
        const char* question;  // the first line of the confirmation
    } cases[] = {
        {"plain", Header(), 0, 0, "Mon Jan  5 21:00:00 2004", "Mon Jan  5 21:54:00 2004", "2004/01/05(月) 21:00～21:54"},
        {"midnight crossing", [] { Header h; h.start = "23:30"; h.end = "00:30"; return h; }(), 0, 0,
         "Mon Jan  5 23:30:00 2004", "Tue Jan  6 00:30:00 2004", "2004/01/05(月) 23:30～00:30"},
        {"same hour, earlier minute", [] { Header h; h.start = "23:50"; h.end = "23:10"; return h; }(), 0, 0,
         "Mon Jan  5 23:50:00 2004", "Tue Jan  6 23:10:00 2004", "2004/01/05(月) 23:50～23:10"},
        {"equal times stay on the day", [] { Header h; h.start = "21:00"; h.end = "21:00"; return h; }(), 0, 0,
         "Mon Jan  5 21:00:00 2004", "Mon Jan  5 21:00:00 2004", "2004/01/05(月) 21:00～21:00"},
        {"crossing decided before adjusting", [] { Header h; h.start = "23:50"; h.end = "23:55"; return h; }(), 0, 10,
         "Mon Jan  5 23:50:00 2004", "Tue Jan  6 00:05:00 2004", "2004/01/05(月) 23:50～00:05"},
        {"start moved to the previous day", [] { Header h; h.start = "00:00"; h.end = "00:30"; return h; }(), -5, 0,
         "Sun Jan  4 23:55:00 2004", "Mon Jan  5 00:30:00 2004", "2004/01/04(日) 23:55～00:30"},
        {"adjustments may reverse the times", Header(), 60, -60, "Mon Jan  5 22:00:00 2004", "Mon Jan  5 20:54:00 2004",
         "2004/01/05(月) 22:00～20:54"},
        {"end hour 24", [] { Header h; h.start = "23:00"; h.end = "24:30"; return h; }(), 0, 0,
         "Mon Jan  5 23:00:00 2004", "Tue Jan  6 00:30:00 2004", "2004/01/05(月) 23:00～00:30"},
        {"month 13", [] { Header h; h.month = "13"; return h; }(), 0, 0, "Wed Jan  5 21:00:00 2005", "Wed Jan  5 21:54:00 2005",
         "2005/01/05(水) 21:00～21:54"},
        {"day 0", [] { Header h; h.date = "0"; return h; }(), 0, 0, "Wed Dec 31 21:00:00 2003", "Wed Dec 31 21:54:00 2003",
         "2003/12/31(水) 21:00～21:54"},
        {"text after the numbers", [] { Header h; h.year = "2004年"; h.date = "5日(月)"; h.start = "21 : 00 頃"; h.end = "21: 54"; return h; }(),
         0, 0, "Mon Jan  5 21:00:00 2004", "Mon Jan  5 21:54:00 2004", "2004/01/05(月) 21:00～21:54"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        options.adjust.start = c.startAdjust;
        options.adjust.end = c.endAdjust;
        LogCapture runLog;
        EXPECT_TRUE(Run(Version1(c.h), {IDNO}));
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls[0].text, std::string(c.question) + "\n1チャンネルで予約を実行します\nよろしいですか？");
        // The log keeps the texts as written; only the adjusted times are normalised.
        EXPECT_EQ(runLog.Text(), StationBlock(c.h) + "I:CH=1\r\n" + AdjustedLines(c.start, c.end));
    }
}

TEST_F(ReserveTest, WallClockTimesIgnoreThePcsSummerTime) {
    // A summer day, and the day the PC's clocks go forward (02:30 does not
    // exist there): the file's Japanese times pass through unchanged.
    UseZoneWithDaylightSaving();
    const struct {
        Header h;
        const char* question;
        const char* start;
        const char* end;
    } cases[] = {
        {[] { Header h; h.year = "2024"; h.month = "7"; h.date = "1"; return h; }(),
         "2024/07/01(月) 21:00～21:54", "Mon Jul  1 21:00:00 2024", "Mon Jul  1 21:54:00 2024"},
        {[] { Header h; h.year = "2024"; h.month = "3"; h.date = "31"; h.start = "2:30"; h.end = "3:10"; return h; }(),
         "2024/03/31(日) 02:30～03:10", "Sun Mar 31 02:30:00 2024", "Sun Mar 31 03:10:00 2024"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.question);
        LogCapture runLog;
        EXPECT_TRUE(Run(Version1(c.h), {IDNO}));
        ASSERT_EQ(calls.size(), 2u);
        EXPECT_EQ(calls[0].text, std::string(c.question) + "\n1チャンネルで予約を実行します\nよろしいですか？");
        EXPECT_EQ(runLog.Text(), StationBlock(c.h) + "I:CH=1\r\n" + AdjustedLines(c.start, c.end));
    }
}

TEST_F(ReserveTest, FirstOccurrenceOfAKeyWins) {
    // A title before the header keys that contains "end:" supplies the end.
    const Header h;
    std::string file = Version1(h);
    file.insert(file.find("station:"), "program-title: Weekend: 特集\r\n");
    EXPECT_FALSE(Run(file, {IDYES}));
    EXPECT_TRUE(calls.empty());
    EXPECT_NE(log.Text().find("I:End=特集\r\nI:CH=1\r\n"), std::string::npos);

    // A second header line with the same key is never read.
    file = Version1(h);
    file += "year: 1999\r\nstart: 05:00\r\n";
    EXPECT_TRUE(Run(file, {IDNO}));
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0].text.find("2004/01/05(月) 21:00～21:54\n"), 0u);
}

TEST_F(ReserveTest, KeysHiddenInDoubleByteCharactersAreSkipped) {
    // Decoy lines before the header whose keys begin at a trail byte; each
    // would change the reservation if it were read.
    std::string file = Version1(Header());
    file.insert(file.find("station:"),
                "program-title: ピtation: ＴＢＳ ペear: 1999 ノonth: 12 ヅate: 31 ピtart: 00:00 テnd: 00:01\r\n"
                "memo: ピtation: ＴＢＳ\r\nmemo: ペear: 1999\r\nmemo: ノonth: 12\r\nmemo: ヅate: 31\r\n"
                "memo: ピtart: 00:00\r\nmemo: テnd: 00:01\r\n");
    EXPECT_TRUE(Run(file, {IDNO}));
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].text, "2004/01/05(月) 21:00～21:54\n1チャンネルで予約を実行します\nよろしいですか？");
}

// The box shows a name's first 64 bytes; the log keeps it whole.
TEST_F(ReserveTest, MegabyteValuesAreShownCutAndLoggedWhole) {
    Header h;
    h.station.clear();
    for (int i = 0; i < (1 << 19); ++i) h.station += "局";  // a megabyte, no white space
    LogCapture runLog;
    EXPECT_FALSE(Run(Version1(h), {IDYES}));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].text,
              "<局局局局局局局局局局局局局局局局局局局局局局局局局局局局局局局局…>をチャンネル番号に変換できません\n"
              "Station.txtに設定してください");
    EXPECT_EQ(runLog.Text(), StationBlock(h) + "I:CH=0\r\n");

    // Megabytes of programme text after the header change nothing.
    std::string file = Version1(Header()) + std::string(4 << 20, 'x');
    EXPECT_TRUE(Run(file, {IDNO}));
    EXPECT_EQ(calls.size(), 2u);
}

// A guide server's file: the station is a remote-control key the table may
// not know, and service-id with type name its code exactly.
TEST_F(ReserveTest, GuideServersServiceIdNamesTheCode) {
    const struct {
        const char* what;
        const char* extra;  // lines after station:
        const char* table;
        const char* box;
    } cases[] = {
        {"GR service id", "service-id: 1040\r\ntype: GR\r\n", "9 DFS00410\r\n",
         "2004/01/05(月) 21:00～21:54\n9チャンネルで予約を実行します\nよろしいですか？"},
        {"BS service id", "service-id: 101\r\ntype: BS\r\n", "101 BSDT101\r\n",
         "2004/01/05(月) 21:00～21:54\n101チャンネルで予約を実行します\nよろしいですか？"},
        {"the key known first", "service-id: 1040\r\ntype: GR\r\n", "4 4\r\n9 DFS00410\r\n",
         "2004/01/05(月) 21:00～21:54\n4チャンネルで予約を実行します\nよろしいですか？"},
        {"no type", "service-id: 1040\r\n", "9 DFS00410\r\n",
         "<0004>をチャンネル番号に変換できません\nStation.txtに設定してください"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string file = Version2();
        file.replace(file.find("station: DFS00400\r\nstation-name: ＮＨＫ総合\r\n"),
                     std::string("station: DFS00400\r\nstation-name: ＮＨＫ総合\r\n").size(),
                     std::string("station: 0004\r\n") + c.extra);
        MessageBoxRecorder boxes({IDNO});
        CStationTable stations(c.table);
        Reserve(stations, CString(file.c_str()));
        ASSERT_FALSE(boxes.Calls().empty());
        EXPECT_EQ(boxes.Calls()[0].text, c.box);
    }
}

// The station as the user sees it where the program names it: the table's
// line, the file's station-name beside it where that differs.
TEST(Reservation, ShownByTheTablesLine) {
    const struct {
        const char* station;
        const char* stationName;
        const char* tableName;
        const char* shown;
    } rows[] = {
        {"DFS00800", "ＮＨＫ総合１・大阪", "ＮＨＫ総合", "ＮＨＫ総合(ＮＨＫ総合１・大阪)"},
        {"DFS00800", "ＮＨＫ総合１・大阪", "ＮＨＫ総合１・大阪", "ＮＨＫ総合１・大阪"},
        {"NHK総合", "", "ＮＨＫ総合", "ＮＨＫ総合"},
        {"DFS00400", "テレビ東京", "ＮＨＫ総合", "ＮＨＫ総合(テレビ東京)"},
        {"DFS00800", "ＮＨＫ総合１・大阪", "", "ＮＨＫ総合１・大阪"},  // the table not asked
        {"DFS00800", "", "", "DFS00800"},
    };
    for (const auto& row : rows) {
        reserve::Reservation r;
        r.station = row.station;
        r.stationName = row.stationName;
        r.tableName = row.tableName;
        EXPECT_EQ(r.Shown(), row.shown) << row.station;
    }
}

// 放送局の登録: a station the table does not know is asked about once; the
// channel typed adds a line to Station.txt and to the table, and the
// programme goes on as if the line had been there.
TEST_F(ReserveTest, UnknownStationsAreRegistered) {
    const std::string osaka = Version2("\r\n", "station-name: ＮＨＫ総合１・大阪");
    const std::string dfs800 = [&] {
        std::string f = osaka;
        return f.replace(f.find("DFS00400"), 8, "DFS00800");
    }();
    const std::string bs234 = [&] {
        std::string f = osaka;
        return f.replace(f.find("DFS00400"), 8, "BSDT234");
    }();
    const std::string asked800 = "<DFS00800>(ＮＨＫ総合１・大阪)をチャンネル番号に変換できません\n"
                                 "録画機のチャンネル番号を入れて「登録して予約」を押すと、\nStation.txtに登録して予約します";
    const std::string confirm800 = "2004/01/05(月) 21:00～21:54\n800チャンネルで予約を実行します\nよろしいですか？";
    const std::string unknown800 =
        "<DFS00800>(ＮＨＫ総合１・大阪)をチャンネル番号に変換できません\nStation.txtに設定してください";
    const struct {
        const char* what;
        std::string file;
        std::vector<uint32_t> channels;  // typed in turn; none left: キャンセル
        bool writable;
        bool result;
        std::vector<std::pair<std::string, std::string>> asked;
        std::vector<std::string> boxes;
        std::string added;  // to Station.txt
    } cases[] = {
        {"a code registered", dfs800, {800}, true, true, {{asked800, ""}}, {confirm800, "予約を中止しました"},
         "800 DFS00800 ＮＨＫ総合１・大阪\r\n"},
        {"キャンセル", dfs800, {}, true, false, {{asked800, ""}}, {}, ""},
        {"a BS number suggested", bs234, {234}, true, true,
         {{"<BSDT234>(ＮＨＫ総合１・大阪)をチャンネル番号に変換できません\n録画機のチャンネル番号を入れて「登録して予約」"
           "を押すと、\nStation.txtに登録して予約します",
           "234"}},
         {"2004/01/05(月) 21:00～21:54\n234チャンネルで予約を実行します\nよろしいですか？", "予約を中止しました"},
         "234 BSDT234 ＮＨＫ総合１・大阪\r\n"},
        {"Station.txt not writable", dfs800, {800}, false, true, {{asked800, ""}},
         {"Station.txtに書き込めません\n今回だけ800チャンネルで予約します", confirm800, "予約を中止しました"}, ""},
        {"several programmes of one station: asked once", Multi({dfs800, dfs800}), {800}, true, true,
         {{"(1/2) " + asked800, ""}},
         {"(1/2) ニュース７  ＮＨＫ総合１・大阪\n" + confirm800, "(2/2) ニュース７  ＮＨＫ総合１・大阪\n" + confirm800},
         "800 DFS00800 ＮＨＫ総合１・大阪\r\n"},
        {"several programmes, キャンセル: the next one told as before", Multi({dfs800, dfs800}), {}, true, false,
         {{"(1/2) " + asked800, ""}}, {"(2/2) " + unknown800}, ""},
    };
    const std::string path =
        ::testing::TempDir() + "reserve_test_station." + std::to_string(plat::CurrentProcessId()) + ".txt";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(plat::ReplaceWholeFile(path, kStationTxt));
        options.stationPath = c.writable ? path : path + ".missing/Station.txt";
        shell.channels = c.channels;
        shell.asked.clear();
        CStationTable stations(kStationTxt);
        MessageBoxRecorder boxes({IDNO, IDNO, IDNO});
        EXPECT_EQ(Reserve(stations, CString(c.file.c_str())), c.result);
        EXPECT_EQ(shell.asked, c.asked);
        std::vector<std::string> texts;
        for (const MessageBoxCall& call : boxes.Calls()) texts.push_back(call.text);
        EXPECT_EQ(texts, c.boxes);
        std::string now;
        EXPECT_TRUE(plat::ReadWholeFile(path, &now));
        EXPECT_EQ(now, kStationTxt + c.added);
    }
    std::remove(path.c_str());
}

// The history keeps the station as the file names it, as the mail's %stat%
// does: a resend mails it again byte for byte, and the duplicate question
// still finds a programme sent before the table named its line.
TEST_F(ReserveSendTest, HistoryAndMailKeepTheFilesStation) {
    SmtpPeer peer(SmtpPeer::Accepting());
    Use(peer);
    mailer = CSmtpMailer(account, "Subject: ch%chno%\r\n\r\n%stat%\r\n", nullptr, {10000, 10000});
    options.historyPath =
        ::testing::TempDir() + "reserve_test_shown." + std::to_string(plat::CurrentProcessId()) + ".history";
    std::remove(options.historyPath.c_str());
    EXPECT_TRUE(Run(Version2("\r\n", "station-name: ＮＨＫ総合１・東京"), {IDYES}));
    peer.Join();
    EXPECT_EQ(peer.Error(), "");
    EXPECT_NE(peer.Received().find("\r\n\r\nＮＨＫ総合１・東京\r\n"), std::string::npos) << peer.Received();
    const std::vector<history::Entry> entries = history::Load(options.historyPath);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].station, "ＮＨＫ総合１・東京");
    std::remove(options.historyPath.c_str());
}
