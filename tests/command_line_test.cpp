#include "base/CommandLine.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const wchar_t* line;
    std::vector<std::wstring> args;
};

// What a browser, the shell and a user's shortcut pass, and the escape rules.
const Case kCases[] = {
    {L"", {}},
    {L"Quorpa.exe", {L"Quorpa.exe"}},
    {L"\"C:\\Program Files\\Quorpa\\Quorpa.exe\" \"C:\\Users\\太郎\\Downloads\\番組 1.epg\"",
     {L"C:\\Program Files\\Quorpa\\Quorpa.exe", L"C:\\Users\\太郎\\Downloads\\番組 1.epg"}},
    {L"C:\\q\\Quorpa.exe  a.epg\tb.epg  ", {L"C:\\q\\Quorpa.exe", L"a.epg", L"b.epg"}},
    {L"\"C:\\dir\\\"x y", {L"C:\\dir\\", L"x", L"y"}},  // the program takes no escapes
    {L"\"C:\\q.exe\"a.epg", {L"C:\\q.exe", L"a.epg"}},
    {L"q \"C:\\dir\\\\\" b", {L"q", L"C:\\dir\\", L"b"}},
    {L"q a\\\\\\\"b c\\d", {L"q", L"a\\\"b", L"c\\d"}},
    {L"q a\\\\\\\\\"b c\"", {L"q", L"a\\\\b c"}},
    {L"q \"\" x", {L"q", L"", L"x"}},
    {L"q \"a \"\"b\"\" c\"", {L"q", L"a \"b\" c"}},
    {L"q \"unclosed arg", {L"q", L"unclosed arg"}},
    {L"q a\\ b c\\", {L"q", L"a\\", L"b", L"c\\"}},  // a blank after backslashes still ends the argument
};

TEST(CommandLine, SplitsAsWindowsDoes) {
    for (const Case& c : kCases) EXPECT_EQ(SplitCommandLine(c.line), c.args) << "line: " << testing::PrintToString(std::wstring(c.line));
}

}  // namespace
