// The registration's table (app/AssociationTable.h): which texts the
// extension field may register, and the rows and box lines of an extension
// that is ours and of one that belongs to another program. The whole table
// as written is checked in the registry by tests/dialog/run.py and, as the
// installer writes it, by tests/e2e/installer.py.
#include "app/AssociationTable.h"

#include <gtest/gtest.h>

namespace {

TEST(AssociationTable, ExtensionField) {
    struct Case {
        const wchar_t* text;
        bool ok;
    };
    const Case cases[] = {
        {L".epg", true},           {L".tvpid", true},       {L".a", true},
        {L".A_b-9", true},         {L".e0", true},         {L".abcdefghijklmno", true},  // 15 after the dot
        {L".abcdefghijklmnop", false},  // 16
        {L"", false},              {L".", false},           {L"epg", false},
        {L"*", false},             {L"exefile\\shell", false}, {L".ep\\g", false},
        {L".e g", false},          {L"..epg", false},       {L".ｅｐｇ", false},
        {L".epg*", false},         {L".e/pg", false},
    };
    for (const Case& c : cases) EXPECT_EQ(assoc::IsExtension(c.text), c.ok) << "text " << testing::PrintToString(std::wstring(c.text));
}

TEST(AssociationTable, ExtensionNames) {
    EXPECT_EQ(assoc::ExtensionNames(L".epg"), (std::vector<std::wstring>{L".tvpi", L".tvpid", L".epg"}));
    EXPECT_EQ(assoc::ExtensionNames(L".TVPID"), (std::vector<std::wstring>{L".tvpi", L".tvpid"}));
}

std::vector<std::wstring> Lines(const std::vector<assoc::Row>& rows) {
    std::vector<std::wstring> lines;
    for (size_t i = 0; i < rows.size(); ++i) {
        const std::wstring line = assoc::ListedKey(rows, i);
        if (lines.empty() || lines.back() != line) lines.push_back(line);
    }
    return lines;
}

TEST(AssociationTable, OwnedExtension) {
    const auto rows = assoc::ExtensionRows({L".tvpid", true}, L"P");
    ASSERT_EQ(rows.size(), 8u);
    EXPECT_EQ(rows[0].key, L"Software\\Quorpa\\Associations\\.tvpid");
    EXPECT_EQ(rows[0].value, L"P");
    EXPECT_EQ(rows[1].key + L"|" + rows[1].name + L"|" + rows[1].value, L".tvpid||epgfile");
    EXPECT_EQ(rows[2].value, L"application/x-tv-program-digital-info");
    EXPECT_EQ(rows[3].key + L"|" + rows[3].name, L".tvpid\\OpenWithProgids|epgfile");
    EXPECT_EQ(rows[6].key + L"|" + rows[6].value, L"MIME\\Database\\Content Type\\application/x-tv-program-digital-info|.tvpid");
    EXPECT_EQ(rows[7].key, L"MIME\\Database\\Content Type\\application/x-multi-tv-program-digital-info");
}

TEST(AssociationTable, ForeignExtensionOnlyJoinsOpenWith) {
    const auto rows = assoc::ExtensionRows({L".lnk", false}, L"P");
    ASSERT_EQ(rows.size(), 4u);
    for (const assoc::Row& row : rows) EXPECT_NE(row.key, L".lnk");
    EXPECT_EQ(Lines(rows), (std::vector<std::wstring>{L"Software\\Quorpa\\Associations\\.lnk", L".lnk\\OpenWithProgids",
                                                      L"Applications\\Quorpa.exe\\SupportedTypes",
                                                      L"Software\\Quorpa\\Capabilities\\FileAssociations"}));
}

TEST(AssociationTable, AKeyIsBelowAnotherByWholeNames) {
    // .tvpid and .tvp begin as .tvpi does, yet lie beside it.
    std::vector<assoc::Extension> exts;
    for (const std::wstring& name : assoc::ExtensionNames(L".tvp")) exts.push_back({name, true});
    const auto rows = assoc::Rows(exts, L"Q.exe", L"P");
    std::vector<std::wstring> keys;
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].root == assoc::Root::kClasses && rows[i].key[0] == L'.') keys.push_back(assoc::ListedKey(rows, i));
    EXPECT_EQ(keys, (std::vector<std::wstring>{L".tvpi", L".tvpi", L".tvpi", L".tvpid", L".tvpid", L".tvpid", L".tvp",
                                               L".tvp", L".tvp"}));
}

TEST(AssociationTable, BoxLinesAndCommand) {
    const auto rows = assoc::Rows({{L".epg", true}}, L"C:\\Q\\Quorpa.exe", L"P");
    EXPECT_EQ(rows[3].key + L"=" + rows[3].value, L"epgfile\\Shell\\open\\command=\"C:\\Q\\Quorpa.exe\" \"%1\"");
    EXPECT_EQ(rows[4].value, L"\"C:\\Q\\Quorpa.exe\",0");
    EXPECT_EQ(rows[8].value, L"@C:\\Q\\Quorpa.exe,-104");
    EXPECT_EQ(Lines(rows), (std::vector<std::wstring>{L"epgfile", L"Applications\\Quorpa.exe",
                                                      L"Software\\Quorpa\\Capabilities",
                                                      L"Software\\RegisteredApplications\\Quorpa",
                                                      L"Software\\Quorpa\\Associations\\.epg", L".epg",
                                                      L"Applications\\Quorpa.exe", L"Software\\Quorpa\\Capabilities"}));
    EXPECT_EQ(assoc::TopKey(rows, 3), L"epgfile");
}

}  // namespace
