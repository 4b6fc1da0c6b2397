#include "reserve/StationTable.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

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
        {"later line replaces the earlier name", "3 A\n3 B\n", {{"A", 0}, {"B", 3}}, 1},
        {"same name: the lowest channel wins", "5 X\n2 X\n9 X\n", {{"X", 2}}, 3},
        {"channel 0 is stored but counts as missing", "0 Z\n", {{"Z", 0}}, 1},
        {"channel 0 with the same name elsewhere", "0 Z\n7 Z\n", {{"Z", 0}}, 2},
        {"replacing moves the name to the number's place", "1 A\n2 B\n1 B\n", {{"A", 0}, {"B", 1}}, 2},
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
        {"a later name still renames", "1 A\n1 DFS00400\n1 B\n", "A", "", 0},
        {"the renamed channel keeps its code", "1 A\n1 DFS00400\n1 B\n", "DFS00400", "", 1},
        {"lower-case hex in the table", "9 dfs05c38\n", "DFS05C38", "", 9},
        {"a hex code renames nothing", "9 ＴＯＫＹＯ　ＭＸ\n9 DFS05C38\n", "TOKYO MX", "", 9},
        {"full-width code in the table", "1 ＤＦＳ００４００\n", "DFS00400", "", 1},
        {"four hex digits are a name", "3 DFS0040\n3 X\n", "DFS0040", "", 0},
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

TEST(StationTable, AFoldedNameKeepsALoneLeadByteAtItsEnd) {
    EXPECT_EQ(CStationTable::FoldName("NHK\x83"), std::string("nhk\x83"));
}
