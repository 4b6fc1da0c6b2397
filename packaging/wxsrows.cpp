// Prints the installer's registry entries, the <Component>s that
// scripts/release puts into packaging/Quorpa.wxs.in in place of the line
// <!-- @REGISTRY@ -->: the rows of app/AssociationTable.h for .tvpi, .tvpid
// and .epg with the installed executable's command, so the installer
// writes exactly what 関連付け登録 writes. As there, an extension whose
// default value names another program keeps it: the rows that take an
// extension (its default, Content Type and MIME types) are a component of
// their own, installed only where the extension's default is free or
// "epgfile". wixl 0.101 knows no component conditions and no search of a
// default value, so these come as msibuild queries, written to the file
// QUERIES, which scripts/release applies to the built package. A per-user package's HKCR rows
// go to HKEY_CURRENT_USER\Software\Classes on Windows; the other places are
// HKEY_CURRENT_USER. Built and run on Linux by scripts/release:
//   g++ -std=c++17 -I. packaging/wxsrows.cpp app/AssociationTable.cpp
//   wxsrows QUERIES > COMPONENTS
#include <cstdio>
#include <string>
#include <vector>

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

// The rows as <RegistryValue> elements of one component, the first its key path.
void PrintComponent(const std::string& id, const std::vector<assoc::Row>& rows) {
    std::printf("<Component Id=\"%s\" Guid=\"*\" Win64=\"yes\">\n", id.c_str());
    for (size_t i = 0; i < rows.size(); ++i) {
        const assoc::Row& row = rows[i];
        std::printf("  <RegistryValue Root=\"%s\" Key=\"%s\"", RootOf(row.root), Xml(row.key).c_str());
        if (!row.name.empty()) std::printf(" Name=\"%s\"", Xml(row.name).c_str());
        std::printf(" Type=\"%s\" Value=\"%s\"%s/>\n", TypeOf(row.type), Xml(ValueOf(row)).c_str(),
                    i == 0 ? " KeyPath=\"yes\"" : "");
    }
    std::printf("</Component>\n");
}

bool Contains(const std::vector<assoc::Row>& rows, const assoc::Row& row) {
    for (const assoc::Row& other : rows)
        if (other.root == row.root && other.key == row.key && other.name == row.name) return true;
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: wxsrows QUERIES > COMPONENTS\n");
        return 2;
    }
    FILE* queries = std::fopen(argv[1], "w");
    if (queries == nullptr) return 1;
    const std::wstring exe = L"[INSTALLDIR]Quorpa.exe";
    const std::wstring remembered = L"HKEY_CURRENT_USER\\Software\\Classes";
    const std::vector<std::wstring> names = assoc::ExtensionNames(L".epg");
    std::vector<assoc::Extension> foreign;
    for (const std::wstring& name : names) foreign.push_back({name, false});
    // Every row that does not depend on the extension's owner.
    PrintComponent("Registration", assoc::Rows(foreign, exe, remembered));
    for (size_t i = 0; i < names.size(); ++i) {
        const std::vector<assoc::Row> others = assoc::ExtensionRows({names[i], false}, remembered);
        std::vector<assoc::Row> own;
        for (const assoc::Row& row : assoc::ExtensionRows({names[i], true}, remembered))
            if (!Contains(others, row)) own.push_back(row);
        const std::string id = "Extension" + std::to_string(i + 1);
        const std::string owner = "OWNER" + std::to_string(i + 1);
        PrintComponent(id, own);
        std::fprintf(queries, "INSERT INTO `RegLocator` (`Signature_`, `Root`, `Key`, `Type`) VALUES ('%s', 0, '%s', 2)\n",
                     owner.c_str(), Xml(names[i]).c_str());
        std::fprintf(queries, "INSERT INTO `AppSearch` (`Property`, `Signature_`) VALUES ('%s', '%s')\n", owner.c_str(),
                     owner.c_str());
        std::fprintf(queries, "UPDATE `Component` SET `Condition` = 'NOT %s OR %s=\"%s\"' WHERE `Component` = '%s'\n",
                     owner.c_str(), owner.c_str(), Xml(assoc::kFileType).c_str(), id.c_str());
    }
    // wixl schedules AppSearch only for its own searches.
    std::fprintf(queries, "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('AppSearch', 50)\n");
    std::fprintf(queries, "INSERT INTO `InstallUISequence` (`Action`, `Sequence`) VALUES ('AppSearch', 50)\n");
    return std::fclose(queries) == 0 ? 0 : 1;
}
