#include "app/AssociationTable.h"

namespace assoc {
namespace {

constexpr const wchar_t* kAnalogExt = L".tvpi";
constexpr const wchar_t* kDigitalExt = L".tvpid";
constexpr const wchar_t* kAnalogType = L"application/x-tv-program-info";
constexpr const wchar_t* kDigitalType = L"application/x-tv-program-digital-info";
// A file of several programmes is saved like one of one.
constexpr const wchar_t* kMultiAnalogType = L"application/x-multi-tv-program-info";
constexpr const wchar_t* kMultiDigitalType = L"application/x-multi-tv-program-digital-info";
constexpr const wchar_t* kMimeRoot = L"MIME\\Database\\Content Type\\";
// The program's key for "open with": without it the list shows the version
// resource's description instead of a name.
constexpr const wchar_t* kAppKey = L"Applications\\Quorpa.exe";
constexpr const wchar_t* kAppName = L"Quorpa";
// What Windows' default apps show for the program: its string resource
// IDS_DESCRIPTION (res/resource.h), named rather than copied, so that the
// installer's table holds no text outside ASCII (wixl 0.101 crashes on it).
constexpr const wchar_t* kDescriptionId = L",-104";
constexpr const wchar_t* kCapabilitiesKey = L"Software\\Quorpa\\Capabilities";
constexpr const wchar_t* kRegisteredAppsKey = L"Software\\RegisteredApplications";
// The shell's "safe to open" flag (FTA_OpenIsSafe, 0x00010000) as the
// little-endian bytes the shell reads.
constexpr const wchar_t* kEditFlags = L"00000100";

std::wstring Join(const std::wstring& key, const std::wstring& sub) { return key + L"\\" + sub; }

Row Value(Root root, const std::wstring& key, const std::wstring& name, const std::wstring& value) {
    return {root, key, name, Type::kString, value, false};
}

wchar_t Lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

// Whether key lies below top (or is top), comparing whole names.
bool Below(const std::wstring& key, const std::wstring& top) {
    return key.size() >= top.size() && SameName(key.substr(0, top.size()), top) &&
           (key.size() == top.size() || key[top.size()] == L'\\');
}

}  // namespace

bool IsExtension(const std::wstring& text) {
    if (text.size() < 2 || text.size() > kMaxExtensionChars + 1 || text[0] != L'.') return false;
    for (size_t i = 1; i < text.size(); ++i) {
        const wchar_t c = text[i];
        const bool allowed = (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') ||
                             c == L'_' || c == L'-';
        if (!allowed) return false;
    }
    return true;
}

bool SameName(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

std::vector<std::wstring> ExtensionNames(const std::wstring& typed) {
    std::vector<std::wstring> names = {kAnalogExt, kDigitalExt};
    if (!SameName(typed, kAnalogExt) && !SameName(typed, kDigitalExt)) names.push_back(typed);
    return names;
}

std::vector<Row> ExtensionRows(const Extension& ext, const std::wstring& remembered) {
    const bool digital = SameName(ext.name, kDigitalExt);
    std::vector<Row> rows = {Value(Root::kUser, Join(kMemoryKey, ext.name), L"", remembered)};
    if (ext.owned) {
        rows.push_back(Value(Root::kClasses, ext.name, L"", kFileType));
        rows.push_back(Value(Root::kClasses, ext.name, L"Content Type", digital ? kDigitalType : kAnalogType));
    }
    rows.push_back({Root::kClasses, Join(ext.name, L"OpenWithProgids"), kFileType, Type::kNone, L"", false});
    rows.push_back(Value(Root::kClasses, Join(kAppKey, L"SupportedTypes"), ext.name, L""));
    rows.push_back(Value(Root::kSoftware, Join(kCapabilitiesKey, L"FileAssociations"), ext.name, kFileType));
    // The MIME types point back at the extension a browser saves them
    // with, while that extension is ours.
    if (ext.owned && (digital || SameName(ext.name, kAnalogExt))) {
        for (const wchar_t* type : digital ? std::vector<const wchar_t*>{kDigitalType, kMultiDigitalType}
                                           : std::vector<const wchar_t*>{kAnalogType, kMultiAnalogType})
            rows.push_back(Value(Root::kClasses, kMimeRoot + std::wstring(type), L"Extension", ext.name));
    }
    return rows;
}

std::vector<Row> Rows(const std::vector<Extension>& exts, const std::wstring& exe, const std::wstring& remembered) {
    const std::wstring command = L"\"" + exe + L"\" \"%1\"";
    const std::wstring icon = L"\"" + exe + L"\",0";
    // The file type comes first, so that no extension ever points at a
    // type not yet written; its open command before its icon.
    std::vector<Row> rows = {
        Value(Root::kClasses, kFileType, L"", L"iEPG"),
        {Root::kClasses, kFileType, L"EditFlags", Type::kFlags, kEditFlags, false},
        Value(Root::kClasses, Join(kFileType, L"Shell"), L"", L"open"),
        Value(Root::kClasses, Join(kFileType, L"Shell\\open\\command"), L"", command),
        Value(Root::kClasses, Join(kFileType, L"DefaultIcon"), L"", icon),
        Value(Root::kClasses, kAppKey, L"FriendlyAppName", kAppName),
        Value(Root::kClasses, Join(kAppKey, L"shell\\open\\command"), L"", command),
        Value(Root::kSoftware, kCapabilitiesKey, L"ApplicationName", kAppName),
        Value(Root::kSoftware, kCapabilitiesKey, L"ApplicationDescription", L"@" + exe + kDescriptionId),
    };
    for (const wchar_t* type : {kAnalogType, kDigitalType, kMultiAnalogType, kMultiDigitalType})
        rows.push_back(Value(Root::kSoftware, Join(kCapabilitiesKey, L"MimeAssociations"), type, kFileType));
    rows.push_back({Root::kSoftware, kRegisteredAppsKey, kAppName, Type::kString, kCapabilitiesKey, true});
    for (const Extension& ext : exts) {
        const std::vector<Row> more = ExtensionRows(ext, remembered);
        rows.insert(rows.end(), more.begin(), more.end());
    }
    return rows;
}

std::wstring TopKey(const std::vector<Row>& rows, size_t index) {
    const Row& row = rows[index];
    std::wstring top = row.key;
    for (const Row& other : rows)
        if (other.root == row.root && other.key.size() < top.size() && Below(row.key, other.key)) top = other.key;
    return top;
}

std::wstring ListedKey(const std::vector<Row>& rows, size_t index) {
    const std::wstring top = TopKey(rows, index);
    const Row& row = rows[index];
    return row.shared && top.size() == row.key.size() ? Join(top, row.name) : top;
}

}  // namespace assoc
