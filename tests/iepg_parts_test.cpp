// One table of the file shapes that guide sites, TV viewers' servers and
// browser extensions produce: each file split into its programmes, each
// programme read, its station looked up in a Kanto table like the sample's
// and its times built, down to the channel and times a reservation gets.
#include "reserve/IepgParts.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "reserve/IepgText.h"
#include "reserve/ReserveTimes.h"
#include "reserve/StationTable.h"

namespace {

using iepg::PartsError;

// As examples/Station.txt has them: names, codes and remote keys.
const CStationTable kKanto(
    "# 見本\r\n1 ＮＨＫ総合\r\n1 DFS00400\r\n1 0001\r\n4 日テレ\r\n4 DFS00410\r\n4 0004\r\n"
    "6 ＴＢＳ\r\n6 DFS00418\r\n7 テレビ東京\r\n7 DFS00430\r\n9 ＴＯＫＹＯ　ＭＸ\r\n9 DFS05C38\r\n"
    "181 ＢＳフジ\r\n181 BSDT181\r\n");

struct File {
    std::string station = "ＮＨＫ総合";
    const char* stationName = nullptr;  // version 2 when set ("" for an empty key)
    std::string start = "21:00";
    std::string end = "21:54";
    std::string date = "05";
    std::string eol = "\r\n";
    std::string title = "ニュース";
};

std::string Text(const File& f) {
    const bool v2 = f.stationName != nullptr;
    std::string t = std::string("Content-type: application/x-tv-program") + (v2 ? "-digital" : "") +
                    "-info; charset=shift_jis" + f.eol + "version: " + (v2 ? "2" : "1") + f.eol +
                    "station: " + f.station + f.eol;
    if (v2) t += std::string("station-name:") + (*f.stationName ? " " : "") + f.stationName + f.eol;
    t += "year: 2004" + f.eol + "month: 1" + f.eol + "date: " + f.date + f.eol + "start: " + f.start + f.eol +
         "end: " + f.end + f.eol + "program-title: " + f.title + f.eol;
    if (v2) t += "program-id: 77" + f.eol;  // often no blank line and no body
    else t += f.eol + "番組の説明" + f.eol;
    return t;
}

std::string Multi(const std::vector<std::string>& parts, const std::string& eol = "\r\n",
                  const std::string& type = "application/x-multi-tv-program-info") {
    std::string t = "Content-type: " + type + "; charset=shift_jis" + eol + "version: 1" + eol + "boundary: ==B7==" + eol + eol;
    for (const std::string& p : parts) t += "==B7==" + eol + p;
    return t + "==B7==--" + eol;
}

// What one programme becomes: "<channel> <start>-<end> <title>|<program-id>",
// the unknown-station warning, or the first key missing.
std::string Outcome(std::string_view part) {
    iepg::Programme p;
    if (const char* missing = iepg::ReadProgramme(part, p)) return std::string("missing ") + missing;
    const uint32_t channel = kKanto.FindStation(p.station, p.stationName);
    if (channel == 0) return reserve::UnknownStationText(p.station, p.stationName);
    tm start{};
    tm end{};
    if (!reserve::BuildTimes(p.year, p.month, p.date, p.start, p.end, start, end) ||
        !reserve::AdjustTime(start, 0) || !reserve::AdjustTime(end, 0))
        return "bad time";
    char text[96];
    std::snprintf(text, sizeof text, "%u %02d/%02d %02d:%02d-%02d/%02d %02d:%02d ", channel, start.tm_mon + 1,
                  start.tm_mday, start.tm_hour, start.tm_min, end.tm_mon + 1, end.tm_mday, end.tm_hour, end.tm_min);
    return text + p.title + "|" + p.programId;
}

File With(void (*change)(File&)) {
    File f;
    change(f);
    return f;
}

// A version 2 file; stationName null leaves the key out.
std::string V2(const char* station, const char* stationName, const std::string& eol = "\r\n") {
    File f;
    f.station = station;
    f.stationName = stationName ? stationName : "";
    f.eol = eol;
    std::string text = Text(f);
    return stationName ? text : text.erase(text.find("station-name:"), 13 + eol.size());
}

std::string Unknown(const std::string& shown) {
    return shown + "をチャンネル番号に変換できません\nStation.txtに設定してください";
}

const std::string kNews = "1 01/05 21:00-01/05 21:54 ニュース|";
const char* const kMulti = "Content-type: application/x-multi-tv-program-info\r\n";

}  // namespace

TEST(IepgParts, FileShapes) {
    const std::string mimeStyle = [] {
        std::string t = Multi({Text(File()), V2("DFS00410", "", "\n")}, "\n",
                              "Application/X-Multi-TV-Program-Digital-Info");
        for (size_t at = t.find("\n==B7=="); at != std::string::npos; at = t.find("\n==B7==", at + 3))
            t.insert(at + 1, "--");
        return t;
    }();
    const std::string noYear = [] {
        std::string t = Text(File());
        return t.erase(t.find("year:"), 12);
    }();
    std::string endless = "Content-type: application/x-multi-tv-program-info\nboundary: B\n";
    for (int i = 0; i < 1000000; ++i) endless += "B\n";
    const std::string oneMulti = Multi({Text(File())});
    const std::string two = Multi({Text(File()), V2("DFS00430", "テレ東１")});
    const std::string noEnd = [] {
        std::string t = Text(File());
        return t.erase(t.find("end:"), 12);
    }();

    const struct {
        const char* what;
        std::string file;
        PartsError error;
        std::vector<std::string> outcomes;
    } cases[] = {
        {"v1 CRLF", Text(File()), PartsError::kNone, {kNews}},
        {"v1 LF", Text(With([](File& f) { f.eol = "\n", f.station = "テレビ東京"; })), PartsError::kNone,
         {"7 01/05 21:00-01/05 21:54 ニュース|"}},
        {"v1 unknown: the warning as ever", Text(With([](File& f) { f.station = "ソ表テレビ"; })),
         PartsError::kNone, {Unknown("<ソ表テレビ>")}},
        {"v2 CRLF", V2("DFS00400", "ＮＨＫ総合１・東京"), PartsError::kNone, {kNews + "77"}},
        {"v2 LF, lower-case hex", V2("DFS05c38", "", "\n"), PartsError::kNone,
         {"9 01/05 21:00-01/05 21:54 ニュース|77"}},
        {"v2 BS", V2("BSDT181", "ＢＳフジ・１８１"), PartsError::kNone, {"181 01/05 21:00-01/05 21:54 ニュース|77"}},
        {"v2 remote key", V2("0004", "日テレ１"), PartsError::kNone, {"4 01/05 21:00-01/05 21:54 ニュース|77"}},
        {"v2 unknown code, known name", V2("DFS7FE8", "ＴＢＳ"), PartsError::kNone,
         {"6 01/05 21:00-01/05 21:54 ニュース|77"}},
        {"v2 unknown: the warning names both", V2("DFS00408", "ＮＨＫＥテレ１東京"), PartsError::kNone,
         {Unknown("<DFS00408>(ＮＨＫＥテレ１東京)")}},
        {"v2 station-name empty: never the next line's", V2("DFS00408", ""), PartsError::kNone,
         {Unknown("<DFS00408>")}},
        {"v2 station-name with a control character", V2("DFS00408", "Ｅテレ\x01１"), PartsError::kNone,
         {Unknown("<DFS00408>(Ｅテレ １)")}},
        {"v2 station-name absent", V2("DFS00408", nullptr), PartsError::kNone, {Unknown("<DFS00408>")}},
        {"25:30", Text(With([](File& f) { f.start = "25:30", f.end = "26:00"; })), PartsError::kNone,
         {"1 01/06 01:30-01/06 02:00 ニュース|"}},
        {"24:45 to 1:15", Text(With([](File& f) { f.start = "24:45", f.end = "1:15"; })), PartsError::kNone,
         {"1 01/06 00:45-01/06 01:15 ニュース|"}},
        {"past midnight, month end", Text(With([](File& f) { f.start = "23:30", f.end = "00:30", f.date = "31"; })),
         PartsError::kNone, {"1 01/31 23:30-02/01 00:30 ニュース|"}},
        {"multi, two parts", Multi({Text(File()), V2("DFS00430", "テレ東１")}), PartsError::kNone,
         {kNews, "7 01/05 21:00-01/05 21:54 ニュース|77"}},
        {"multi digital, LF, MIME-style lines", mimeStyle, PartsError::kNone,
         {kNews, "4 01/05 21:00-01/05 21:54 ニュース|77"}},
        {"multi: a part's missing key is not borrowed", Multi({noYear, Text(File())}), PartsError::kNone,
         {"missing year:", kNews}},
        {"multi: blank parts skipped", Multi({"\r\n", Text(File()), " \r\n"}), PartsError::kNone, {kNews}},
        {"multi: the most parts", Multi(std::vector<std::string>(iepg::kMaxParts, Text(File()))), PartsError::kNone,
         std::vector<std::string>(200, kNews)},
        {"multi: one part too many", Multi(std::vector<std::string>(iepg::kMaxParts + 1, Text(File()))),
         PartsError::kTooManyParts, {}},
        {"multi: no boundary key", kMulti + std::string("version: 1\r\n\r\n==B7==\r\n") + Text(File()) + "==B7==--\r\n",
         PartsError::kNoBoundary, {}},
        {"multi: boundary key only in a part", kMulti + std::string("==B7==\r\n") + Text(File()) +
         "boundary: ==B7==\r\n==B7==--\r\n", PartsError::kNoBoundary, {}},
        {"multi: empty boundary", kMulti + std::string("boundary: \t\r\n\r\n\r\n") + Text(File()) + "--\r\n",
         PartsError::kNoBoundary, {}},
        {"multi: never ends", oneMulti.substr(0, oneMulti.rfind("==B7==--")), PartsError::kNoEnd, {}},
        {"multi: a million boundary lines, no end", endless, PartsError::kNoEnd, {}},
        {"multi: ends at once", Multi({}), PartsError::kNoParts, {}},
        {"multi after a byte order mark", "\xEF\xBB\xBF" + two, PartsError::kNone,
         {kNews, "7 01/05 21:00-01/05 21:54 ニュース|77"}},
        {"multi after a blank line", "\r\n" + two, PartsError::kNone, {kNews, "7 01/05 21:00-01/05 21:54 ニュース|77"}},
        {"multi after a mark, blanks and empty lines", "\xEF\xBB\xBF \t\r\n\n" + two, PartsError::kNone,
         {kNews, "7 01/05 21:00-01/05 21:54 ニュース|77"}},
        {"one programme after a byte order mark", "\xEF\xBB\xBF" + Text(File()), PartsError::kNone, {kNews}},
        {"two programmes without the multi type: refused", Text(File()) + Text(File()), PartsError::kUnrecognised,
         {}},
        {"a multi file under the single type: no end: borrowed",
         Multi({noEnd, Text(File())}, "\r\n", "application/x-tv-program-info"), PartsError::kUnrecognised, {}},
        {"a multi file whose type comes after a header of its own", "X-Guide: 1\r\n\r\n" + two,
         PartsError::kUnrecognised, {}},
        {"one programme with a boundary line", Text(File()) + " Boundary: x\r\n", PartsError::kUnrecognised, {}},
        {"multi: two programmes in one part", Multi({noEnd + Text(File())}), PartsError::kMergedParts, {}},
        {"multi: a boundary key in a part", Multi({Text(File()), "boundary: ==B8==\r\n" + Text(File())}),
         PartsError::kMergedParts, {}},
        {"multi: CR-only lines", "Content-type: application/x-multi-tv-program-info\rboundary: X\rX\r" +
         Text(With([](File& f) { f.eol = "\r"; })) + "X--\r", PartsError::kNoBoundary, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string_view> parts;
        EXPECT_EQ(iepg::SplitParts(c.file, parts), c.error);
        std::vector<std::string> outcomes;
        for (std::string_view part : parts) outcomes.push_back(Outcome(part));
        EXPECT_EQ(outcomes, c.outcomes);
        // A file with one programme is read whole, as it always was.
        if (!iepg::IsMultiFile(c.file) && c.error == PartsError::kNone) {
            EXPECT_TRUE(parts.size() == 1 && parts[0].data() == c.file.data() && parts[0].size() == c.file.size());
        }
    }
}

TEST(IepgParts, ProgrammeReadAgainKeepsNothingOfTheLast) {
    iepg::Programme p;
    ASSERT_EQ(iepg::ReadProgramme(V2("DFS00400", "ＮＨＫ総合"), p), nullptr);
    ASSERT_EQ(iepg::ReadProgramme(Text(With([](File& f) { f.title = ""; })), p), nullptr);
    EXPECT_EQ(p.stationName + p.programId + p.title + "|" + p.station, "|ＮＨＫ総合");
}

TEST(IepgParts, WarningTexts) {
    EXPECT_EQ(iepg::PartsErrorText(PartsError::kNone), "");
    EXPECT_EQ(iepg::PartsErrorText(PartsError::kTooManyParts),
              "複数の番組のファイルの番組が多すぎます(200件まで)\n予約は送信されていません");
    EXPECT_EQ(iepg::PartsErrorText(PartsError::kNoEnd), "複数の番組のファイルが途中で終わっています\n予約は送信されていません");
    EXPECT_EQ(iepg::PartsErrorText(PartsError::kUnrecognised),
              "ファイルに複数の番組がありますが、番組の区切りを読み取れません\n予約は送信されていません");
    EXPECT_EQ(iepg::PartsErrorText(PartsError::kMergedParts),
              "複数の番組のファイルに区切りの欠けた番組があります\n予約は送信されていません");
}

TEST(IepgParts, ALineValueNotThereLeavesTheValue) {
    std::string value = "unchanged";
    EXPECT_FALSE(iepg::ExtractLineValue("station: x\r\nyear: 1\r\n", "station-name:", value));
    EXPECT_FALSE(iepg::ExtractLineValue("", "program-id:", value));
    EXPECT_EQ(value, "unchanged");
}
