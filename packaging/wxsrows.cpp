// Prints the installer's registry entries, the <Component> that
// scripts/release puts into packaging/Quorpa.wxs.in in place of the line
// <!-- @REGISTRY@ -->: the rows of app/AssociationTable.h for .tvpi, .tvpid
// and .epg with the installed executable's command, so the installer
// writes exactly what 関連付け登録 writes. A per-user package's HKCR rows
// go to HKEY_CURRENT_USER\Software\Classes on Windows; the other places are
// HKEY_CURRENT_USER. Built and run on Linux by scripts/release:
//   g++ -std=c++17 -I. packaging/wxsrows.cpp app/AssociationTable.cpp
#include <cstdio>
#include <string>

#include "app/AssociationTable.h"

namespace {

// UTF-8 with the XML attribute's special characters escaped.
std::string Xml(const std::wstring& text) {
    std::string out;
    for (wchar_t wc : text) {
        const auto c = static_cast<unsigned long>(wc);
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c == '"') out += "&quot;";
        else if (c < 0x80) out += static_cast<char>(c);
        else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {  // the table holds no character beyond the BMP
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

const char* RootOf(assoc::Root root) { return root == assoc::Root::kClasses ? "HKCR" : "HKCU"; }

// An OpenWithProgids entry is an empty string: Windows Installer writes no
// REG_NONE, and the shell looks at the name only. wixl 0.101 writes a
// binary value as text: the flags go as the DWORD of their four bytes
// (little-endian), which the shell reads alike.
const char* TypeOf(assoc::Type type) { return type == assoc::Type::kFlags ? "integer" : "string"; }

std::wstring ValueOf(const assoc::Row& row) {
    if (row.type != assoc::Type::kFlags) return row.value;
    unsigned long dword = 0;
    for (size_t i = row.value.size(); i >= 2; i -= 2) dword = dword * 256 + std::stoul(row.value.substr(i - 2, 2), nullptr, 16);
    return std::to_wstring(dword);
}

}  // namespace

int main() {
    const std::wstring exe = L"[INSTALLDIR]Quorpa.exe";
    std::vector<assoc::Extension> exts;
    for (const std::wstring& name : assoc::ExtensionNames(L".epg")) exts.push_back({name, true});
    const auto rows = assoc::Rows(exts, exe, L"HKEY_CURRENT_USER\\Software\\Classes");
    std::printf("<Component Id=\"Registration\" Guid=\"*\" Win64=\"yes\">\n");
    for (size_t i = 0; i < rows.size(); ++i) {
        const assoc::Row& row = rows[i];
        std::printf("  <RegistryValue Root=\"%s\" Key=\"%s\"", RootOf(row.root), Xml(row.key).c_str());
        if (!row.name.empty()) std::printf(" Name=\"%s\"", Xml(row.name).c_str());
        std::printf(" Type=\"%s\" Value=\"%s\"%s/>\n", TypeOf(row.type), Xml(ValueOf(row)).c_str(),
                    i == 0 ? " KeyPath=\"yes\"" : "");
    }
    std::printf("</Component>\n");
    return 0;
}
