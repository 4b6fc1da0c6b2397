// The registration of this executable as the handler of iEPG files (see
// app/Association.h): the keys it writes, where, and how it is undone.
//
// Registration writes HKEY_CLASSES_ROOT first. Where creating a key there is
// refused for lack of rights (a standard user on Windows Vista and later
// cannot write its machine-wide part) it writes the same keys under
// HKEY_CURRENT_USER\Software\Classes, which Windows merges into
// HKEY_CLASSES_ROOT for that user, and the capabilities under
// HKEY_CURRENT_USER\Software instead of HKEY_LOCAL_MACHINE\Software. It
// never undoes a partial registration: registering again after fixing the
// cause completes it, since every value is simply overwritten. The file type
// comes first, so that no extension ever points at a type not yet written.
//
// The layout, below the classes root of the place:
//   epgfile                  "iEPG", EditFlags, DefaultIcon, Shell\open\command
//   .tvpi .tvpid <typed>     default "epgfile", Content Type, OpenWithProgids\epgfile
//   MIME\Database\Content Type\<type>   Extension (.tvpi or .tvpid)
//   Applications\Quorpa.exe  FriendlyAppName, SupportedTypes, shell\open\command
// and below HKEY_LOCAL_MACHINE (or HKEY_CURRENT_USER):
//   Software\Quorpa\Capabilities   ApplicationName, ApplicationDescription,
//                                   FileAssociations, MimeAssociations
//   Software\RegisteredApplications value Quorpa naming that key, so that
//   Windows lists the program among its default apps.
//
// Unregistration looks in both places and removes only what leads to this
// program: what another program has taken over, or added beside it, stays.
#include "app/Association.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include <shlobj.h>

#include "afx/win32/Program.h"
#include "afx/win32/RegKey.h"
#include "platform/seams.h"

namespace {

constexpr const char* kFileType = "epgfile";
constexpr const char* kCommandKey = "epgfile\\Shell\\open\\command";
constexpr const char* kIconKey = "epgfile\\DefaultIcon";
constexpr const char* kMimeRoot = "MIME\\Database\\Content Type\\";
// The MIME types of iEPG files, each with the extension a browser saves it
// with (a file of several programmes is saved like one of one).
struct MimeType {
    const char* type;
    const char* ext;
};
constexpr MimeType kMimeTypes[] = {
    {"application/x-tv-program-info", ".tvpi"},
    {"application/x-tv-program-digital-info", ".tvpid"},
    {"application/x-multi-tv-program-info", ".tvpi"},
    {"application/x-multi-tv-program-digital-info", ".tvpid"},
};
constexpr const char* kDigitalExt = ".tvpid";
// The program's key for "open with": without it the list shows the version
// resource's description instead of a name.
constexpr const char* kAppKey = "Applications\\Quorpa.exe";
constexpr const char* kAppCommandKey = "Applications\\Quorpa.exe\\shell\\open\\command";
constexpr const char* kAppName = "Quorpa";
// What Windows' default apps show for the program, as its about box says it.
constexpr const char* kAppDescription = "iEPG 番組を録画メールで送信";
// Below HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER.
constexpr const char* kProgramKey = "Software\\Quorpa";
constexpr const char* kCapabilitiesKey = "Software\\Quorpa\\Capabilities";
constexpr const char* kRegisteredAppsKey = "Software\\RegisteredApplications";
// The two places of the registration, named as the messages show them.
constexpr const char* kMachineRootName = "HKEY_CLASSES_ROOT";
constexpr const char* kMachineSoftwareName = "HKEY_LOCAL_MACHINE";
constexpr const char* kUserClasses = "Software\\Classes";
constexpr const char* kUserRootName = "HKEY_CURRENT_USER\\Software\\Classes";
constexpr const char* kUserSoftwareName = "HKEY_CURRENT_USER";
// The shell's "safe to open" flag (FTA_OpenIsSafe, 0x00010000), stored as the
// little-endian 32-bit value the shell reads.
constexpr BYTE kEditFlags[4] = {0x00, 0x00, 0x01, 0x00};

// The messages name the place (%s first) as kMachineRootName or kUserRootName.
constexpr const char* kMsgCreateExt = "レジストリキー%s\\%sを生成出来ません";
constexpr const char* kMsgSetExt = "レジストリキー%s\\%sの値を設定出来ません";
constexpr const char* kMsgSetContentType = "レジストリ%s\\Content Typeの値を設定出来ません";
constexpr const char* kMsgCreateType = "レジストリキー%s\\epgfileを生成出来ません";
constexpr const char* kMsgSetType = "レジストリキー%s\\epgfileの値を設定出来ません";
constexpr const char* kMsgSetEditFlags = "レジストリepgfile\\EditFlagsの値を設定出来ません";
constexpr const char* kMsgCreateShell = "レジストリキーepgfile\\Shellを生成出来ません";
constexpr const char* kMsgSetShell = "レジストリキーepgfile\\Shellの値を設定出来ません";
constexpr const char* kMsgCreateCommand = "レジストリキーepgfile\\Shell\\open\\commandを生成出来ません";
constexpr const char* kMsgSetCommand = "レジストリキーepgfile\\Shell\\open\\commandの値を設定出来ません";
constexpr const char* kMsgSetMime = "レジストリ%s\\%s\\Extensionの値を設定出来ません";
// For the other keys: the place and the key.
constexpr const char* kMsgCreateKey = "レジストリキー%s\\%sを生成出来ません";
constexpr const char* kMsgSetValue = "レジストリキー%s\\%sの値を設定出来ません";

// One of the two places a registration goes to: the classes and the
// software keys, each with its name as the messages show it.
struct Place {
    HKEY classes;
    const char* classesName;
    HKEY software;
    const char* softwareName;
};

// A message naming up to two things (place, key) in format.
CString Message(const char* format, const char* first, const char* second = "") {
    CString text;
    text.Format(format, first, second);
    return text;
}

bool SameName(const char* a, const char* b) { return ::lstrcmpiA(a, b) == 0; }

// The Content Type an extension gets: the digital one for .tvpid.
const char* ContentTypeOf(const CString& ext) {
    return SameName(ext, kDigitalExt) ? kMimeTypes[1].type : kMimeTypes[0].type;
}

bool IsIepgType(const char* type) {
    for (const MimeType& mime : kMimeTypes)
        if (SameName(type, mime.type)) return true;
    return false;
}

// This executable's path, quoted, so that paths with spaces arrive as one
// argument each. False when the path cannot be had whole.
bool QuotedPath(std::wstring& quoted) {
    const std::wstring path = AfxModulePath();
    if (path.empty()) return false;
    quoted = L"\"" + path + L"\"";
    return true;
}

enum class Outcome { kDone, kRefused, kFailed };

// Creates subKey below root; kRefused when the machine-wide place refuses
// it for lack of rights (the per-user place is the user's own).
Outcome CreateBelow(CRegKey& key, HKEY root, const char* subKey, bool first) {
    const bool machine = root == HKEY_CLASSES_ROOT || root == HKEY_LOCAL_MACHINE;
    LSTATUS status = ERROR_ACCESS_DENIED;
    if (!(machine && first && plat::seam::ClassesRootRefused())) status = key.Create(root, subKey);
    if (status == ERROR_SUCCESS) return Outcome::kDone;
    return machine && status == ERROR_ACCESS_DENIED ? Outcome::kRefused : Outcome::kFailed;
}

// Writes every key and value of the registration of exts below place. On
// kFailed message says which step failed; the steps before it stay written.
Outcome WriteRegistration(const Place& place, const std::vector<CString>& exts, const std::wstring& command,
                          CString& message) {
    auto fail = [&](const CString& text) {
        message = text;
        return Outcome::kFailed;
    };
    // A key below root, or why not: refused, or the message of format.
    auto create = [&](CRegKey& key, HKEY root, const char* rootName, const char* subKey, const char* format,
                      bool first = false) {
        const Outcome created = CreateBelow(key, root, subKey, first);
        if (created == Outcome::kFailed) message = Message(format, rootName, subKey);
        return created;
    };
    Outcome created;
    std::wstring iconPath;
    if (!QuotedPath(iconPath)) return fail(Message(kMsgSetValue, place.classesName, kIconKey));
    {
        CRegKey typeKey;
        if ((created = create(typeKey, place.classes, place.classesName, kFileType, kMsgCreateType, true)) !=
            Outcome::kDone)
            return created;
        if (!typeKey.SetString(nullptr, "iEPG")) return fail(Message(kMsgSetType, place.classesName));
        if (!typeKey.SetBinary("EditFlags", kEditFlags, sizeof kEditFlags)) return fail(kMsgSetEditFlags);
        CRegKey shellKey;
        if (shellKey.Create(typeKey.get(), "Shell") != ERROR_SUCCESS) return fail(kMsgCreateShell);
        if (!shellKey.SetString(nullptr, "open")) return fail(kMsgSetShell);
        CRegKey commandKey;
        if (commandKey.Create(shellKey.get(), "open\\command") != ERROR_SUCCESS) return fail(kMsgCreateCommand);
        if (!commandKey.SetWideString(command)) return fail(kMsgSetCommand);
        CRegKey iconKey;
        if (iconKey.Create(place.classes, kIconKey) != ERROR_SUCCESS)
            return fail(Message(kMsgCreateKey, place.classesName, kIconKey));
        if (!iconKey.SetWideString(iconPath + L",0")) return fail(Message(kMsgSetValue, place.classesName, kIconKey));
    }
    for (const CString& ext : exts) {
        CRegKey extKey, progidsKey;
        if ((created = create(extKey, place.classes, place.classesName, ext, kMsgCreateExt)) != Outcome::kDone)
            return created;
        if (!extKey.SetString(nullptr, kFileType)) return fail(Message(kMsgSetExt, place.classesName, ext));
        if (!extKey.SetString("Content Type", ContentTypeOf(ext))) return fail(Message(kMsgSetContentType, ext));
        const CString progids = ext.str() + "\\OpenWithProgids";
        if (progidsKey.Create(place.classes, progids) != ERROR_SUCCESS)
            return fail(Message(kMsgCreateKey, place.classesName, progids));
        if (!progidsKey.SetEmpty(kFileType)) return fail(Message(kMsgSetValue, place.classesName, progids));
    }
    for (const MimeType& mime : kMimeTypes) {
        const CString key = std::string(kMimeRoot) + mime.type;
        CRegKey mimeKey;
        if ((created = create(mimeKey, place.classes, place.classesName, key, kMsgCreateKey)) != Outcome::kDone)
            return created;
        if (!mimeKey.SetString("Extension", mime.ext)) return fail(Message(kMsgSetMime, place.classesName, key));
    }
    {
        const CString types = std::string(kAppKey) + "\\SupportedTypes";
        CRegKey appKey, typesKey, commandKey;
        if ((created = create(appKey, place.classes, place.classesName, kAppKey, kMsgCreateKey)) != Outcome::kDone)
            return created;
        if (!appKey.SetString("FriendlyAppName", kAppName))
            return fail(Message(kMsgSetValue, place.classesName, kAppKey));
        if (typesKey.Create(place.classes, types) != ERROR_SUCCESS)
            return fail(Message(kMsgCreateKey, place.classesName, types));
        for (const CString& ext : exts)
            if (!typesKey.SetString(ext, "")) return fail(Message(kMsgSetValue, place.classesName, types));
        if (commandKey.Create(place.classes, kAppCommandKey) != ERROR_SUCCESS)
            return fail(Message(kMsgCreateKey, place.classesName, kAppCommandKey));
        if (!commandKey.SetWideString(command)) return fail(Message(kMsgSetValue, place.classesName, kAppCommandKey));
    }
    {
        const CString files = std::string(kCapabilitiesKey) + "\\FileAssociations";
        const CString types = std::string(kCapabilitiesKey) + "\\MimeAssociations";
        CRegKey capabilities, filesKey, typesKey, registered;
        if ((created = create(capabilities, place.software, place.softwareName, kCapabilitiesKey,
                              kMsgCreateKey)) != Outcome::kDone)
            return created;
        if (!capabilities.SetString("ApplicationName", kAppName) ||
            !capabilities.SetString("ApplicationDescription", kAppDescription))
            return fail(Message(kMsgSetValue, place.softwareName, kCapabilitiesKey));
        if (filesKey.Create(place.software, files) != ERROR_SUCCESS)
            return fail(Message(kMsgCreateKey, place.softwareName, files));
        for (const CString& ext : exts)
            if (!filesKey.SetString(ext, kFileType)) return fail(Message(kMsgSetValue, place.softwareName, files));
        if (typesKey.Create(place.software, types) != ERROR_SUCCESS)
            return fail(Message(kMsgCreateKey, place.softwareName, types));
        for (const MimeType& mime : kMimeTypes)
            if (!typesKey.SetString(mime.type, kFileType))
                return fail(Message(kMsgSetValue, place.softwareName, types));
        if ((created = create(registered, place.software, place.softwareName, kRegisteredAppsKey,
                              kMsgCreateKey)) != Outcome::kDone)
            return created;
        if (!registered.SetString(kAppName, kCapabilitiesKey))
            return fail(Message(kMsgSetValue, place.softwareName, kRegisteredAppsKey));
    }
    return Outcome::kDone;
}

// The keys a complete registration of exts wrote to place, as the report
// names them.
CString RegisteredKeys(const Place& place, const std::vector<CString>& exts) {
    CString keys;
    auto add = [&](const char* root, const char* key) { keys += Message("\n%s\\%s", root, key); };
    for (const CString& ext : exts) add(place.classesName, ext);
    for (const MimeType& mime : kMimeTypes) add(place.classesName, (std::string(kMimeRoot) + mime.type).c_str());
    add(place.classesName, kFileType);
    add(place.classesName, kAppKey);
    add(place.softwareName, kCapabilitiesKey);
    add(place.softwareName, (std::string(kRegisteredAppsKey) + "\\" + kAppName).c_str());
    return keys;
}

// Tells Explorer and the browsers that the associations changed, so that
// they see it at once rather than after the next logon.
void NotifyShell() { ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr); }

// Deletes key below root with everything under it, noting it in removal as
// rootName\key.
void DeleteKey(HKEY root, const char* rootName, const char* key, AssociationRemoval& removal) {
    const CString line = Message("\n%s\\%s", rootName, key);
    LSTATUS status = ::RegDeleteTreeA(root, key);
    if (status == ERROR_SUCCESS) status = ::RegDeleteKeyA(root, key);
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND)
        removal.removed += line;
    else
        removal.failed += line;
}

// What an extension key holds of the registration, judged before anything
// is deleted.
struct ExtensionState {
    CString name;
    bool named;        // one of the extensions the user's registration covers
    bool defaultOurs;  // its default value is our file type
    bool progidOurs;   // its OpenWithProgids lists our file type
};

// The extension keys below root: every key whose name starts with a dot
// (an extension registered by an earlier release under another typed name
// is found too), and the named ones wherever they exist.
std::vector<ExtensionState> JudgeExtensions(HKEY root, const std::vector<CString>& named, bool typeMine) {
    std::vector<ExtensionState> states;
    CRegKey rootKey;
    std::vector<std::string> names;
    if (rootKey.Open(root, nullptr)) names = rootKey.SubKeyNames();
    for (const CString& ext : named) names.push_back(ext.str());
    for (const std::string& name : names) {
        if (name.empty() || (name[0] != '.' && std::find(named.begin(), named.end(), CString(name)) == named.end()))
            continue;
        bool seen = false;
        for (const ExtensionState& state : states) seen = seen || SameName(state.name, name.c_str());
        CRegKey extKey, progidsKey;
        if (seen || !extKey.Open(root, name.c_str())) continue;
        ExtensionState state{name, false, false, false};
        for (const CString& ext : named) state.named = state.named || SameName(ext, name.c_str());
        state.defaultOurs = typeMine && SameName(extKey.GetString(nullptr), kFileType);
        state.progidOurs = typeMine && progidsKey.Open(extKey.get(), "OpenWithProgids") &&
                           progidsKey.HasValue(kFileType);
        if (state.named || state.defaultOurs || state.progidOurs) states.push_back(state);
    }
    return states;
}

// Takes our values out of one extension key, and the key itself when
// nothing else is left in it. False when something of ours stays.
bool RemoveFromExtension(const Place& place, const ExtensionState& ext, AssociationRemoval& removal) {
    const CString line = Message("\n%s\\%s", place.classesName, ext.name);
    if (!ext.defaultOurs && !ext.progidOurs) {
        removal.kept += line;
        return true;
    }
    const CString progidsName = ext.name.str() + "\\OpenWithProgids";
    CString taken;  // the values taken, for a key that stays
    bool done = true;
    {
        CRegKey extKey, progidsKey;
        if (!extKey.Open(place.classes, ext.name, KEY_READ | KEY_SET_VALUE)) {
            removal.failed += line;
            return false;
        }
        if (ext.defaultOurs) {
            const bool ourType = IsIepgType(extKey.GetString("Content Type"));
            done = extKey.DeleteValue(nullptr) && (!ourType || extKey.DeleteValue("Content Type"));
            taken += Message("%s\\(既定)", line);
            if (ourType) taken += Message("%s\\Content Type", line);
        }
        if (ext.progidOurs) {
            const bool opened = progidsKey.Open(place.classes, progidsName, KEY_READ | KEY_SET_VALUE);
            done = opened && progidsKey.DeleteValue(kFileType) && done;
            taken += Message("%s\\OpenWithProgids\\%s", line, kFileType);
        }
        if (!done) {
            removal.failed += line;
            return false;
        }
        if (progidsKey.get() != nullptr && progidsKey.IsEmpty()) {
            progidsKey.Close();  // before deleting
            ::RegDeleteKeyA(place.classes, progidsName);
        }
    }
    CRegKey extKey;
    const bool empty = extKey.Open(place.classes, ext.name) && extKey.IsEmpty();
    extKey.Close();
    if (empty) {
        DeleteKey(place.classes, place.classesName, ext.name, removal);
    } else {
        removal.removed += taken;
        removal.kept += line;
    }
    return true;
}

// Removes from place what leads to command there.
void RemoveRegistration(const Place& place, const std::vector<CString>& named, const std::wstring& command,
                        AssociationRemoval& removal) {
    bool hasType, typeOurs, hasApp, appOurs;
    {
        CRegKey typeKey, commandKey, appKey, appCommandKey;
        hasType = typeKey.Open(place.classes, kFileType);
        typeOurs = hasType && commandKey.Open(place.classes, kCommandKey) &&
                   ::lstrcmpiW(commandKey.GetWideString().c_str(), command.c_str()) == 0;
        hasApp = appKey.Open(place.classes, kAppKey);
        appOurs = hasApp && appCommandKey.Open(place.classes, kAppCommandKey) &&
                  ::lstrcmpiW(appCommandKey.GetWideString().c_str(), command.c_str()) == 0;
    }
    // A file type that is gone leaves its extensions pointing nowhere: those
    // pointers are ours to take away too.
    const bool typeMine = typeOurs || !hasType;
    const std::vector<ExtensionState> exts = JudgeExtensions(place.classes, named, typeMine);
    // A MIME type leads here through an extension that is ours, or through
    // one of our extensions that is gone.
    std::vector<std::pair<std::string, bool>> mimes;  // key, ours
    for (const MimeType& mime : kMimeTypes) {
        const std::string key = std::string(kMimeRoot) + mime.type;
        CRegKey mimeKey;
        if (!mimeKey.Open(place.classes, key.c_str())) continue;
        const CString target = mimeKey.GetString("Extension");
        bool ours = false, found = false;
        for (const ExtensionState& ext : exts) {
            if (!SameName(ext.name, target)) continue;
            found = true;
            ours = ext.defaultOurs;
        }
        if (!found) {
            CRegKey targetKey;
            for (const CString& ext : named) ours = ours || SameName(ext, target);
            ours = ours && typeMine && !targetKey.Open(place.classes, target);
        }
        mimes.emplace_back(key, ours);
    }

    bool pointerLeft = false;
    for (const ExtensionState& ext : exts) pointerLeft = !RemoveFromExtension(place, ext, removal) || pointerLeft;
    for (const auto& mime : mimes) {
        if (mime.second)
            DeleteKey(place.classes, place.classesName, mime.first.c_str(), removal);
        else
            removal.kept += Message("\n%s\\%s", place.classesName, mime.first.c_str());
    }
    if (hasType && typeOurs && !pointerLeft)
        DeleteKey(place.classes, place.classesName, kFileType, removal);
    else if (hasType && typeOurs)
        removal.failed += Message("\n%s\\%s", place.classesName, kFileType);
    else if (hasType)
        removal.kept += Message("\n%s\\%s", place.classesName, kFileType);
    if (hasApp && appOurs)
        DeleteKey(place.classes, place.classesName, kAppKey, removal);
    else if (hasApp)
        removal.kept += Message("\n%s\\%s", place.classesName, kAppKey);

    // The capabilities name our file type: they go with it.
    if (!typeMine) return;
    {
        CRegKey capabilities;
        if (capabilities.Open(place.software, kCapabilitiesKey)) {
            capabilities.Close();
            DeleteKey(place.software, place.softwareName, kCapabilitiesKey, removal);
            ::RegDeleteKeyA(place.software, kProgramKey);  // only when nothing else is in it
        }
    }
    CRegKey registered;
    if (registered.Open(place.software, kRegisteredAppsKey, KEY_READ | KEY_SET_VALUE) &&
        SameName(registered.GetString(kAppName), kCapabilitiesKey)) {
        CString line = Message("\n%s\\%s", place.softwareName, kRegisteredAppsKey);
        line += "\\";
        line += kAppName;
        if (registered.DeleteValue(kAppName))
            removal.removed += line;
        else
            removal.failed += line;
    }
}

}  // namespace


std::wstring AssociationCommand() {
    std::wstring command;
    if (!QuotedPath(command)) return std::wstring();
    return command + L" \"%1\"";
}

std::vector<CString> AssociationExtensions(const CString& ext) {
    std::vector<CString> exts = {".tvpi", kDigitalExt};
    if (!SameName(ext, exts[0]) && !SameName(ext, exts[1])) exts.push_back(ext);
    return exts;
}

AssociationRegistration RegisterAssociation(const CString& ext, const std::wstring& command) {
    AssociationRegistration result;
    const std::vector<CString> exts = AssociationExtensions(ext);
    Place place{HKEY_CLASSES_ROOT, kMachineRootName, HKEY_LOCAL_MACHINE, kMachineSoftwareName};
    Outcome outcome = WriteRegistration(place, exts, command, result.failure);
    bool userOnly = false;
    CRegKey userClasses;
    if (outcome == Outcome::kRefused) {
        if (userClasses.Create(HKEY_CURRENT_USER, kUserClasses) != ERROR_SUCCESS) {
            outcome = Outcome::kFailed;
            result.failure = Message(kMsgCreateType, kUserRootName);
        } else {
            place = {userClasses.get(), kUserRootName, HKEY_CURRENT_USER, kUserSoftwareName};
            outcome = WriteRegistration(place, exts, command, result.failure);
            userOnly = true;
        }
    }
    if (outcome != Outcome::kDone) return result;
    NotifyShell();
    result.registered = RegisteredKeys(place, exts);
    result.outcome = userOnly ? AssociationRegistration::kUserOnly : AssociationRegistration::kEveryUser;
    return result;
}

AssociationRemoval RemoveAssociation(const CString& ext, const std::wstring& command) {
    // The per-user place first: Windows shows its keys in
    // HKEY_CLASSES_ROOT in place of the machine-wide ones, so the
    // machine-wide ones are judged once the user's are gone.
    AssociationRemoval removal;
    const std::vector<CString> named = AssociationExtensions(ext);
    {
        CRegKey userClasses;
        if (userClasses.Open(HKEY_CURRENT_USER, kUserClasses, KEY_READ | KEY_WRITE | DELETE))
            RemoveRegistration({userClasses.get(), kUserRootName, HKEY_CURRENT_USER, kUserSoftwareName}, named,
                               command, removal);
    }
    RemoveRegistration({HKEY_CLASSES_ROOT, kMachineRootName, HKEY_LOCAL_MACHINE, kMachineSoftwareName}, named,
                       command, removal);
    if (!removal.removed.IsEmpty()) NotifyShell();
    return removal;
}
