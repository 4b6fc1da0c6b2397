#include "reserve/StationTable.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "reserve/StationFile.h"

namespace {

struct Lookup {
    const char* name;
    uint32_t channel;
};

struct Case {
    const char* what;
    std::string text;  // Station.txt as stored
    std::vector<Lookup> lookups;
    size_t entries;
};

void Check(const Case& c) {
    SCOPED_TRACE(c.what);
    const CStationTable table(c.text.c_str());
    EXPECT_EQ(table.GetCount(), c.entries);
    for (const Lookup& l : c.lookups) EXPECT_EQ(table.GetChannel(l.name), l.channel) << l.name;
}

}  // namespace

TEST(StationTable, LineLayouts) {
    const Case cases[] = {
        {"number, space, name", "1 ＮＨＫ総合\n", {{"ＮＨＫ総合", 1}}, 1},
        {"name right after the digits", "1ＮＨＫ総合\n", {{"ＮＨＫ総合", 1}}, 1},
        {"tabs and other white space around", "\t\v 12\f\t\tＮＨＫ教育 \t\n", {{"ＮＨＫ教育", 12}}, 1},
        {"CRLF lines read as LF lines", "1 ＮＨＫ総合\r\n3 ＮＨＫ教育\r\n4 日本テレビ\r\n",
         {{"ＮＨＫ総合", 1}, {"ＮＨＫ教育", 3}, {"日本テレビ", 4}, {"日本テレビ\r", 0}}, 3},
        {"last line without a line feed", "1 A\n2 B", {{"A", 1}, {"B", 2}}, 2},
        {"the first word, or the whole trimmed rest", "4 TBS テレビ 東京 \t\r\n101  NHK BS1\n",
         {{"TBS", 4}, {"TBS テレビ 東京", 4}, {"TBS テレビ", 0}, {"TBS テレビ 東京 ", 0}, {"NHK BS1", 101}, {"NHK", 101}},
         2},
        {"trail byte 0x5C kept", "8 ソニー表\n", {{"ソニー表", 8}}, 1},
        {"explicit plus sign", "+5 P\n", {{"P", 5}}, 1},
        {"leading zeros", "0007 Q\n", {{"Q", 7}}, 1},
        {"a name may start with a sign or digit-like text", "6 -x\n9 0x10\n", {{"-x", 6}, {"0x10", 9}}, 2},
    };
    for (const Case& c : cases) Check(c);
}

TEST(StationTable, SkippedLines) {
    const Case cases[] = {
        {"empty text", "", {{"", 0}, {"A", 0}}, 0},
        {"comments and blank lines", "# 1 A\n; 2 B\nx3 C\n\n   \r\n\t\n", {{"A", 0}, {"B", 0}, {"C", 0}}, 0},
        {"a number alone, also with trailing blanks", "7\n8 \r\n9", {{"", 0}}, 0},
        {"number and name on different lines do not join", "1\nA\n", {{"A", 0}}, 0},
        {"a sign without digits", "- 5 Q\n+ R\n", {{"Q", 0}, {"5", 0}, {"R", 0}}, 0},
        {"comment among entries", "1 A\n#2 B\n3 C\n", {{"A", 1}, {"B", 0}, {"C", 3}}, 2},
        {"an empty name is no station's", "1 A\n2 B C\n", {{"", 0}}, 2},
    };
    for (const Case& c : cases) Check(c);
}

TEST(StationTable, RepeatedNumbersAndNames) {
    const Case cases[] = {
        {"a later line adds a name", "3 A\n3 B\n", {{"A", 3}, {"B", 3}}, 1},
        {"a second name keeps the first", "1 ＮＨＫ総合\r\n1 ＮＨＫ総合１\r\n", {{"ＮＨＫ総合", 1}, {"ＮＨＫ総合１", 1}}, 1},
        {"same name: the lowest channel wins", "5 X\n2 X\n9 X\n", {{"X", 2}}, 3},
        {"channel 0 is stored but counts as missing", "0 Z\n", {{"Z", 0}}, 1},
        {"channel 0 with the same name elsewhere", "0 Z\n7 Z\n", {{"Z", 0}}, 2},
        {"a name on two channels: the lowest", "1 A\n2 B\n1 B\n", {{"A", 1}, {"B", 1}}, 2},
    };
    for (const Case& c : cases) Check(c);
}

TEST(StationTable, NumbersAtAndBeyond32Bits) {
    const Case cases[] = {
        {"minus one wraps to the largest value", "-1 M\n", {{"M", 4294967295u}}, 1},
        {"largest value", "4294967295 MAX\n", {{"MAX", 4294967295u}}, 1},
        {"negative of the largest magnitude", "-4294967295 N\n", {{"N", 1}}, 1},
        {"one beyond 32 bits is skipped", "4294967296 OVER\n1 OK\n", {{"OVER", 0}, {"OK", 1}}, 1},
        {"negative beyond 32 bits is skipped", "-4294967296 NEG\n", {{"NEG", 0}}, 0},
        {"twenty digits are skipped", "99999999999999999999 HUGE\n", {{"HUGE", 0}}, 0},
        {"many leading zeros are fine", "000000000000000000000000000042 Z\n", {{"Z", 42}}, 1},
    };
    for (const Case& c : cases) Check(c);
}

TEST(StationTable, ComparisonIsByteExact) {
    const CStationTable table("1 NHK\n2 ＮＨＫ総合\n");
    const std::pair<const char*, uint32_t> lookups[] = {
        {"NHK", 1},  {"nhk", 0},         {"Nhk", 0},           {"ＮＨＫ", 0},       {"NHK ", 0},
        {" NHK", 0}, {"NH", 0},          {"NHKK", 0},          {"ＮＨＫ総合", 2},   {"ＮＨＫ総合 ", 0},
        {"NHK\r", 0}, {"ｎｈｋ総合", 0}, {"ＮＨＫ総", 0},
    };
    for (const auto& l : lookups) EXPECT_EQ(table.GetChannel(l.first), l.second) << l.first;
    EXPECT_EQ(table.GetChannel(nullptr), 0u);
}

TEST(StationTable, NameLengthLimit) {
    const std::string longest(CStationTable::kMaxNameBytes, 'a');
    const std::string tooLong(CStationTable::kMaxNameBytes + 1, 'b');
    const CStationTable table(("1 " + longest + "\n2 " + tooLong + "\n3 " + tooLong + "X tail\n").c_str());
    EXPECT_EQ(table.GetCount(), 1u);
    EXPECT_EQ(table.GetChannel(longest.c_str()), 1u);
    // No entry under a cut-down name either.
    EXPECT_EQ(table.GetChannel(tooLong.c_str()), 0u);
    EXPECT_EQ(table.GetChannel(tooLong.substr(0, CStationTable::kMaxNameBytes).c_str()), 0u);
}

TEST(StationTable, HostileTexts) {
    EXPECT_EQ(CStationTable(nullptr).GetCount(), 0u);
    // The text ends at its first NUL: what follows makes no entry.
    const std::string withNul("1 A\n2 B\0" "3 C\n", 12);
    const CStationTable table(withNul.c_str());
    EXPECT_EQ(table.GetChannel("B"), 2u);
    EXPECT_EQ(table.GetChannel("C"), 0u);

    // Every byte value, a lead byte last, and a megabyte line without a line
    // feed: nothing to crash on, and the valid line still counts.
    std::string garbage("5 G\n");
    for (int i = 0; i < 1024; ++i) garbage += static_cast<char>(1 + (i * 97) % 255);
    garbage += "\n";
    garbage += std::string(1 << 20, '7');
    garbage += "\x83";
    const CStationTable noisy(garbage.c_str());
    EXPECT_EQ(noisy.GetChannel("G"), 5u);
}

TEST(StationTable, FoldedNamesWhenNoneMatchesExactly) {
    const CStationTable table("1 ＮＨＫ総合\n4 日テレ\n9 ＴＯＫＹＯ　ＭＸ\n12 NHK BS1\n20 ｔｖｋ\n21 TVK\n"
                              "30 ＢＳ１１\n31 BS11\n40 テレビ\n50 ＡＺ０９ａｚ\n");
    const std::pair<const char*, uint32_t> lookups[] = {
        {"NHK総合", 1},        {"nhk総合", 1},     {"ＮＨＫ 総合", 1},  {"ＮＨＫ　総合", 1}, {" NHK総合\t", 1},
        {"TOKYO MX", 9},       {"tokyomx", 9},     {"ＮＨＫ ＢＳ１", 12}, {"nhkbs1", 12},
        {"ＴＶＫ", 20},        // fold-equal lines: the lowest channel
        {"BS11", 31},          {"ＢＳ１１", 30},   // an exact match wins over a lower folded one
        {"ﾃﾚﾋﾞ", 0},           {"てれび", 0},      {"日テレ ", 4},      {"日てれ", 0},       // kana stay exact
        {"", 0},               {"　", 0},          {"ＮＨＫ総", 0},
        {"az09az", 50},        {"AZ09AZ", 50},     // the ends of each full-width range
    };
    for (const auto& l : lookups) EXPECT_EQ(table.FindChannel(l.first), l.second) << l.first;
    EXPECT_EQ(table.FindChannel(nullptr), 0u);
    EXPECT_EQ(table.GetChannel("NHK総合"), 0u);  // GetChannel stays byte-exact
}

// Digital files give a code in "station:" and the name in "station-name:"
// (the shapes of whole files are in iepg_parts_test).
TEST(StationTable, CodesBesideNames) {
    const struct {
        const char* what;
        const char* text;
        const char* station;
        const char* stationName;
        uint32_t channel;
    } cases[] = {
        {"code, then name", "1 DFS00400\r\n1 ＮＨＫ総合\r\n", "ＮＨＫ総合", "", 1},
        {"a later name keeps the first", "1 A\n1 DFS00400\n1 B\n", "A", "", 1},
        {"the renamed channel keeps its code", "1 A\n1 DFS00400\n1 B\n", "DFS00400", "", 1},
        {"lower-case hex in the table", "9 dfs05c38\n", "DFS05C38", "", 9},
        {"a hex code renames nothing", "9 ＴＯＫＹＯ　ＭＸ\n9 DFS05C38\n", "TOKYO MX", "", 9},
        {"full-width code in the table", "1 ＤＦＳ００４００\n", "DFS00400", "", 1},
        {"four hex digits are a name", "3 DFS0040\n3 X\n", "DFS0040", "", 3},
        {"six hex digits are a name", "3 DFS004000\n", "DFS004000", "", 3},
        {"BS code, any case", "181 BSDT181\n181 ＢＳフジ\n", "bsdt181", "", 181},
        {"CS digits compare as written", "300 CSDT055\n", "CSDT55", "", 0},
        {"remote key by its number", "4 4\n", "0004", "", 4},
        {"another remote key", "4 0004\n", "0005", "", 0},
        {"one code on two channels: the lowest", "5 DFS00400\n2 DFS00400\n", "DFS00400", "", 2},
        {"one code on two channels: the lowest, also first", "2 DFS00400\n5 DFS00400\n", "DFS00400", "", 2},
        {"code on channel 0: the names are asked", "0 DFS00400\n1 ＮＨＫ総合\n", "DFS00400", "ＮＨＫ総合", 1},
        {"the rest of a code line is free text", "1 DFS00400 ＮＨＫ総合\n", "ＮＨＫ総合", "", 0},
        {"a channel known only by its code has no name", "1 DFS00400\n", "", "", 0},
        {"station-name folded", "1 NHK総合\n", "DFS00400", "ＮＨＫ 総合", 1},
        {"station before station-name", "1 A\n2 B\n", "A", "B", 1},
        {"station folded before station-name exact", "1 NHK総合\n2 ＢＳ\n", "ＮＨＫ総合", "ＢＳ", 1},
        {"a code is never a station-name", "1 DFS00400\n", "X", "DFS00400", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(CStationTable(c.text).FindStation(c.station, c.stationName), c.channel);
    }
    // Codes count with their channel, not on their own.
    EXPECT_EQ(CStationTable("1 A\n1 DFS00400\n1 BSDT101\n2 DFS00408\n").GetCount(), 2u);
    EXPECT_EQ(CStationTable("1 DFS00400\n").GetChannel("DFS00400"), 0u);  // not a name
}

// What a lookup found, named by the table's own line: the boxes and the
// history show the station the recorder will tune to.
TEST(StationTable, TheLineThatGaveTheChannel) {
    const char* table =
        "# 関西\r\n"               // 1
        "1 ＮＨＫ総合\r\n"         // 2
        "1 DFS00800 大阪\r\n"      // 3
        "1 ＮＨＫ総合１・大阪\r\n" // 4
        "101 NHK BS1\r\n"          // 5
        "800 DFS00C00\r\n"         // 6
        "801 DFS00C08 ＭＢＳ\r\n"  // 7
        "4 0004\r\n"               // 8
        "0 ゼロ\r\n";              // 9
    const struct {
        const char* station;
        const char* stationName;
        const char* serviceId;
        const char* type;
        uint32_t channel;
        const char* name;
        size_t line;
    } rows[] = {
        {"DFS00800", "ＮＨＫ総合１・大阪", "", "", 1, "ＮＨＫ総合", 3},  // a code: the channel's first name
        {"ＮＨＫ総合１・大阪", "", "", "", 1, "ＮＨＫ総合１・大阪", 4},   // the second name line
        {"nhk総合", "", "", "", 1, "ＮＨＫ総合", 2},                    // folded
        {"NHK BS1", "", "", "", 101, "NHK BS1", 5},                      // the whole rest
        {"NHK", "", "", "", 101, "NHK", 5},
        {"DFS00C00", "", "", "", 800, "DFS00C00", 6},                    // no name line, no note: the code
        {"DFS00C08", "", "", "", 801, "ＭＢＳ", 7},                      // no name line: the note
        {"X", "ＮＨＫ総合", "", "", 1, "ＮＨＫ総合", 2},                 // by station-name
        {"0004", "", "", "", 4, "0004", 8},
        {"0009", "", "2048", "GR", 1, "ＮＨＫ総合", 3},                  // service id 2048 = DFS00800
        {"0009", "", "3072", "gr", 800, "DFS00C00", 6},
        {"0009", "", "3072", "BS", 0, "", 0},                           // BSDT3072 is no line
        {"DFS00400", "", "", "", 0, "", 0},
        {"ゼロ", "", "", "", 0, "", 0},                                  // channel 0 counts as missing
    };
    const CStationTable t(table);
    for (const auto& r : rows) {
        SCOPED_TRACE(r.station);
        const CStationTable::Match m = t.Lookup(r.station, r.stationName, r.serviceId, r.type);
        EXPECT_EQ(m.channel, r.channel);
        EXPECT_EQ(m.name, r.name);
        EXPECT_EQ(m.line, r.line);
    }
    // A line appended is read as the text's next line.
    CStationTable grown("1 A\r\n2 B");
    grown.AppendLine("800 DFS00800 ＮＨＫ総合１・大阪\r\nignored 9 C\n");
    const CStationTable::Match added = grown.Lookup("DFS00800", "");
    EXPECT_EQ(added.channel, 800u);
    EXPECT_EQ(added.name, "ＮＨＫ総合１・大阪");
    EXPECT_EQ(added.line, 3u);
    EXPECT_EQ(grown.FindChannel("C"), 0u);
    // service-id is asked only when station and station-name find nothing.
    EXPECT_EQ(CStationTable("4 0004\n9 DFS00410\n").Lookup("0004", "", "1040", "GR").channel, 4u);
    EXPECT_EQ(CStationTable("9 DFS00410\n").Lookup("0004", "", "1040", "GR").channel, 9u);
}

TEST(StationTable, ServiceCodes) {
    const struct {
        const char* serviceId;
        const char* type;
        const char* code;
    } rows[] = {
        {"1040", "GR", "DFS00410"}, {"65535", "GR", "DFS0FFFF"},  {"1", "GR", "DFS00001"},
        {"101", "BS", "BSDT101"},   {"55", "CS", "CSDT055"},     {" 211 ", "bs", "BSDT211"},
        {"0", "GR", ""},            {"65536", "GR", ""},         {"-1", "GR", ""},
        {"+5", "GR", ""},           {"10a", "GR", ""},           {"", "GR", ""},
        {"1040", "", ""},           {"1040", "SKY", ""},         {"1040", "ＧＲ", "DFS00410"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(CStationTable::ServiceCode(r.serviceId, r.type), r.code) << r.serviceId << " " << r.type;
}

TEST(StationTable, WhatTheRegistrationSuggestsAndWrites) {
    const std::pair<const char*, const char*> suggested[] = {
        {"BSDT101", "101"}, {"bsdt211", "211"}, {"CSDT055", "55"}, {"ＢＳＤＴ１８１", "181"},
        {"0004", "4"},      {"12", "12"},       {"0000", ""},      {"DFS00800", ""},
        {"ＮＨＫ総合", ""}, {"", ""},           {"BSDT", ""},      {"1234567890", ""},
    };
    for (const auto& s : suggested) EXPECT_EQ(reserve::SuggestedChannel(s.first), s.second) << s.first;

    const struct {
        uint32_t channel;
        const char* station;
        const char* stationName;
        const char* line;
    } lines[] = {
        {800, "DFS00800", "ＮＨＫ総合１・大阪", "800 DFS00800 ＮＨＫ総合１・大阪"},
        {181, "BSDT181", "", "181 BSDT181"},
        {8, "フジテレビ", "", "8 フジテレビ"},
        {8, "フジ", "フジテレビ", "8 フジ フジテレビ"},
        {8, "フジテレビ", "フジテレビ", "8 フジテレビ"},
        {101, "NHK BS1", "ＮＨＫ ＢＳ１", "101 NHK BS1"},  // a note would break the name with a blank
    };
    for (const auto& l : lines) EXPECT_EQ(reserve::StationLine(l.channel, l.station, l.stationName), l.line);

    EXPECT_EQ(reserve::RegistrationText("DFS00800", "ＮＨＫ総合１・大阪"),
              "<DFS00800>(ＮＨＫ総合１・大阪)をチャンネル番号に変換できません\n"
              "録画機のチャンネル番号を入れて「登録して予約」を押すと、\nStation.txtに登録して予約します");
    EXPECT_EQ(reserve::NotRegisteredText(800), "Station.txtに書き込めません\n今回だけ800チャンネルで予約します");
}

// ---- Station.txt written back: every line nobody changed keeps its bytes --

namespace {

std::string Appended(const std::string& raw, const std::string& line) {
    text::Lines file;
    text::ReadLines(raw, &file);
    std::string out;
    EXPECT_TRUE(reserve::AppendStationLine(file, line, &out));
    return out;
}

}  // namespace

TEST(StationFile, OneLineAppended) {
    const struct {
        const char* what;
        std::string raw;
        const char* line;
        std::string expected;
    } rows[] = {
        {"code page 932, CRLF", "# 局\r\n1 ＮＨＫ総合\r\n", "800 DFS00800 ＮＨＫ総合１・大阪",
         "# 局\r\n1 ＮＨＫ総合\r\n800 DFS00800 ＮＨＫ総合１・大阪\r\n"},
        {"LF, the last line without one", "1 A\n2 B", "3 C", "1 A\n2 B\n3 C\n"},
        {"an empty file", "", "3 C", "3 C\r\n"},
        {"UTF-8 with its mark", "\xEF\xBB\xBF" "1 \xE7\xB7\x8F\n", "181 BSDT181 ＢＳフジ",
         "\xEF\xBB\xBF" "1 \xE7\xB7\x8F\n181 BSDT181 \xEF\xBC\xA2\xEF\xBC\xB3\xE3\x83\x95\xE3\x82\xB8\n"},
        {"UTF-16", std::string("\xFF\xFE" "1\0\r\0\n\0", 8), "2 B",
         std::string("\xFF\xFE" "1\0\r\0\n\0" "2\0 \0B\0\r\0\n\0", 18)},
        {"UTF-16 without a last line end", std::string("\xFF\xFE" "1\0", 4), "2 ソ",
         std::string("\xFF\xFE" "1\0\r\0\n\0" "2\0 \0\xBD\x30\r\0\n\0", 18)},
    };
    for (const auto& r : rows) EXPECT_EQ(Appended(r.raw, r.line), r.expected) << r.what;
}

TEST(StationFile, RowsEditedAndSaved) {
    const std::string kansai = "# 関西\r\n1 ＮＨＫ総合\r\n3 ＮＨＫ教育  memo\r\n\r\n8 DFS00C00 ＭＢＳ\r\n";
    text::Lines file;
    text::ReadLines(kansai, &file);
    const std::vector<reserve::StationRow> rows = reserve::StationRows(file);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(reserve::RowLine(rows[1]), "3 ＮＨＫ教育 memo");
    EXPECT_EQ(rows[1].line, 3u);
    EXPECT_EQ(rows[2].note, "ＭＢＳ");

    using Rows = std::vector<reserve::StationRow>;
    const struct {
        const char* what;
        Rows edited;
        std::string expected;
    } cases[] = {
        {"nothing changed", rows, kansai},
        {"a channel changed in place", Rows{rows[0], {2, "ＮＨＫ教育", "memo", 3}, rows[2]},
         "# 関西\r\n1 ＮＨＫ総合\r\n2 ＮＨＫ教育 memo\r\n\r\n8 DFS00C00 ＭＢＳ\r\n"},
        {"a note removed", Rows{rows[0], {3, "ＮＨＫ教育", "", 3}, rows[2]},
         "# 関西\r\n1 ＮＨＫ総合\r\n3 ＮＨＫ教育\r\n\r\n8 DFS00C00 ＭＢＳ\r\n"},
        {"a row removed", Rows{rows[1], rows[2]}, "# 関西\r\n3 ＮＨＫ教育  memo\r\n\r\n8 DFS00C00 ＭＢＳ\r\n"},
        {"a row added", Rows{rows[0], rows[1], rows[2], {12, "テレ玉", "", 0}}, kansai + "12 テレ玉\r\n"},
        {"all removed: comments stay", Rows{}, "# 関西\r\n\r\n"},
    };
    for (const auto& c : cases) {
        std::string raw;
        EXPECT_TRUE(reserve::SaveStationRows(file, c.edited, &raw));
        EXPECT_EQ(raw, c.expected) << c.what;
    }

    // UTF-8: the line untouched keeps its bytes, the changed one is UTF-8.
    ASSERT_EQ(text::ReadLines("\xEF\xBB\xBF" "# \xE2\x80\x95\n1 \xE7\xB7\x8F\n", &file), 0u);
    std::string raw;
    EXPECT_TRUE(reserve::SaveStationRows(file, Rows{{5, "総", "", 2}}, &raw));
    EXPECT_EQ(raw, "\xEF\xBB\xBF" "# \xE2\x80\x95\n5 \xE7\xB7\x8F\n");
}

TEST(StationFile, RowsAsTyped) {
    const std::pair<reserve::StationRow, const char*> rows[] = {
        {{1, "ＮＨＫ総合", "", 0}, ""},
        {{1, "DFS00800", "ＮＨＫ総合１・大阪", 0}, ""},
        {{1, "", "x", 0}, "局名またはコードを入力してください"},
        {{1, "NHK BS1", "", 0}, "局名またはコードに空白は入れられません\n(空白の後ろはメモになります)"},
        {{1, std::string(256, 'a'), "", 0}, "局名とメモは255バイトまでです"},
        {{1, "A", std::string(256, 'a'), 0}, "局名とメモは255バイトまでです"},
        {{1, "A", "x\r\ny", 0}, "改行は入力できません"},
    };
    for (const auto& r : rows) EXPECT_EQ(reserve::CheckStationRow(r.first), r.second) << r.first.name;
}

TEST(StationFile, AppendedOnTheDisk) {
    const std::string path =
        ::testing::TempDir() + "station_table_test." + std::to_string(plat::CurrentProcessId()) + ".txt";
    const std::string utf16("\xFF\xFE" "1\0 \0A\0\r\0\n\0", 12);
    std::string read;
    ASSERT_TRUE(plat::ReplaceWholeFile(path, utf16));
    EXPECT_TRUE(reserve::AppendToStationFile(path, "2 B"));
    EXPECT_TRUE(plat::ReadWholeFile(path, &read));
    EXPECT_EQ(read, utf16 + std::string("2\0 \0B\0\r\0\n\0", 10));

    // A character with no code page 932 form: the file stays as it is.
    ASSERT_TRUE(plat::ReplaceWholeFile(path, "1 caf\xC3\xA9\n"));
    EXPECT_FALSE(reserve::AppendToStationFile(path, "2 B"));
    EXPECT_TRUE(plat::ReadWholeFile(path, &read));
    EXPECT_EQ(read, "1 caf\xC3\xA9\n");

    // No file yet: written new.
    std::remove(path.c_str());
    EXPECT_TRUE(reserve::AppendToStationFile(path, "2 B"));
    EXPECT_TRUE(plat::ReadWholeFile(path, &read));
    EXPECT_EQ(read, "2 B\r\n");
    std::remove(path.c_str());
    // A folder that is not there cannot be written.
    EXPECT_FALSE(reserve::AppendToStationFile(path + ".missing/Station.txt", "2 B"));
}

TEST(StationTable, AFoldedNameKeepsALoneLeadByteAtItsEnd) {
    EXPECT_EQ(CStationTable::FoldName("NHK\x83"), std::string("nhk\x83"));
}
