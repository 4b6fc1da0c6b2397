// The registration of this executable as the handler of iEPG files (see
// app/Association.h): the keys it writes, where, and how it is undone.
//
// Registration writes HKEY_CLASSES_ROOT first. Where creating a key there is
// refused for lack of rights (a standard user on Windows Vista and later
// cannot write its machine-wide part) it writes the same keys under
// HKEY_CURRENT_USER\Software\Classes, which Windows merges into
// HKEY_CLASSES_ROOT for that user. It never undoes a partial registration:
// registering again after fixing the cause completes it, since every value
// is simply overwritten.
//
// Besides, for the shell's "open with" list: the extension's OpenWithProgids
// entry for the file type, the file type's icon, and the program's own key
// Applications\Quorpa.exe (its name there, the types it opens, its command).
//
// Unregistration looks in both places and deletes a key only while it still
// points at this program, so what another program has taken over stays.
#include "app/Association.h"

#include <string>

#include <shlobj.h>

#include "afx/win32/Program.h"
#include "afx/win32/RegKey.h"
#include "platform/seams.h"

namespace {

constexpr const char* kFileType = "epgfile";
constexpr const char* kMimeType = "application/x-tv-program-info";
constexpr const char* kMimeKey = "MIME\\Database\\Content Type\\application/x-tv-program-info";
constexpr const char* kCommandKey = "epgfile\\Shell\\open\\command";
// The program's key for "open with": without it the list shows the version
// resource's description instead of a name.
constexpr const char* kAppKey = "Applications\\Quorpa.exe";
constexpr const char* kAppCommandKey = "Applications\\Quorpa.exe\\shell\\open\\command";
constexpr const char* kAppName = "Quorpa";
// The two places of the registration, named as the messages show them.
constexpr const char* kMachineRootName = "HKEY_CLASSES_ROOT";
constexpr const char* kUserClasses = "Software\\Classes";
constexpr const char* kUserRootName = "HKEY_CURRENT_USER\\Software\\Classes";
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
constexpr const char* kMsgCreateMime =
    "レジストリキー%s\\MIME\\Database\\Content Type\\application/x-tv-program-infoを生成出来ません";
constexpr const char* kMsgSetMime =
    "レジストリ%s\\MIME\\Database\\Content Type\\application/x-tv-program-info\\Extensionの値を設定出来ません";
// For the "open with" keys: the place and the key.
constexpr const char* kMsgCreateKey = "レジストリキー%s\\%sを生成出来ません";
constexpr const char* kMsgSetValue = "レジストリキー%s\\%sの値を設定出来ません";
// One of the two places a registration goes to.
struct ClassesRoot {
    HKEY key;
    const char* name;  // as the messages show it
};

// A message naming up to two things (place, extension) in format.
CString Message(const char* format, const char* first, const char* second = "") {
    CString text;
    text.Format(format, first, second);
    return text;
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

// Creates subKey below the root; kRefused when the root refuses it for
// lack of rights (only HKEY_CLASSES_ROOT is ever refused: the per-user
// place is the user's own).
Outcome CreateBelowRoot(CRegKey& key, const ClassesRoot& root, const char* subKey, bool first) {
    const bool machine = root.key == HKEY_CLASSES_ROOT;
    LSTATUS status = ERROR_ACCESS_DENIED;
    if (!(machine && first && plat::seam::ClassesRootRefused()))
        status = key.Create(root.key, subKey);
    if (status == ERROR_SUCCESS) return Outcome::kDone;
    return machine && status == ERROR_ACCESS_DENIED ? Outcome::kRefused : Outcome::kFailed;
}

// Writes the keys for the shell's "open with" list below root (after the
// registration's own, which they refer to). On kFailed message says which
// step failed.
Outcome WriteOpenWith(const ClassesRoot& root, const CString& ext, const std::wstring& command, CString& message) {
    auto fail = [&](const char* format, const CString& key) {
        message = Message(format, root.name, key);
        return Outcome::kFailed;
    };
    const CString progids = ext.str() + "\\OpenWithProgids";
    const CString icon = std::string(kFileType) + "\\DefaultIcon";
    const CString types = std::string(kAppKey) + "\\SupportedTypes";
    std::wstring iconPath;
    if (!QuotedPath(iconPath)) return fail(kMsgSetValue, icon);
    CRegKey progidsKey, iconKey, appKey, typesKey, commandKey;
    if (progidsKey.Create(root.key, progids) != ERROR_SUCCESS) return fail(kMsgCreateKey, progids);
    if (!progidsKey.SetEmpty(kFileType)) return fail(kMsgSetValue, progids);
    if (iconKey.Create(root.key, icon) != ERROR_SUCCESS) return fail(kMsgCreateKey, icon);
    if (!iconKey.SetWideString(iconPath + L",0")) return fail(kMsgSetValue, icon);
    if (appKey.Create(root.key, kAppKey) != ERROR_SUCCESS) return fail(kMsgCreateKey, kAppKey);
    if (!appKey.SetString("FriendlyAppName", kAppName)) return fail(kMsgSetValue, kAppKey);
    if (typesKey.Create(root.key, types) != ERROR_SUCCESS) return fail(kMsgCreateKey, types);
    if (!typesKey.SetString(ext, "")) return fail(kMsgSetValue, types);
    if (commandKey.Create(root.key, kAppCommandKey) != ERROR_SUCCESS) return fail(kMsgCreateKey, kAppCommandKey);
    if (!commandKey.SetWideString(command)) return fail(kMsgSetValue, kAppCommandKey);
    return Outcome::kDone;
}

// Writes every key and value of the registration below root. On kFailed
// message says which step failed; the steps before it stay written.
Outcome WriteRegistration(const ClassesRoot& root, const CString& ext, const std::wstring& command,
                          CString& message) {
    auto fail = [&](const CString& text) {
        message = text;
        return Outcome::kFailed;
    };
    Outcome created;
    {
        CRegKey extKey;
        if ((created = CreateBelowRoot(extKey, root, ext, true)) != Outcome::kDone)
            return created == Outcome::kRefused ? created : fail(Message(kMsgCreateExt, root.name, ext));
        if (!extKey.SetString(nullptr, kFileType)) return fail(Message(kMsgSetExt, root.name, ext));
        if (!extKey.SetString("Content Type", kMimeType)) return fail(Message(kMsgSetContentType, ext));
    }
    {
        CRegKey typeKey;
        if ((created = CreateBelowRoot(typeKey, root, kFileType, false)) != Outcome::kDone)
            return created == Outcome::kRefused ? created : fail(Message(kMsgCreateType, root.name));
        if (!typeKey.SetString(nullptr, "iEPG")) return fail(Message(kMsgSetType, root.name));
        if (!typeKey.SetBinary("EditFlags", kEditFlags, sizeof kEditFlags))
            return fail(kMsgSetEditFlags);
        CRegKey shellKey;
        if (shellKey.Create(typeKey.get(), "Shell") != ERROR_SUCCESS) return fail(kMsgCreateShell);
        if (!shellKey.SetString(nullptr, "open")) return fail(kMsgSetShell);
        CRegKey commandKey;
        if (commandKey.Create(shellKey.get(), "open\\command") != ERROR_SUCCESS)
            return fail(kMsgCreateCommand);
        if (!commandKey.SetWideString(command)) return fail(kMsgSetCommand);
    }
    {
        CRegKey mimeKey;
        if ((created = CreateBelowRoot(mimeKey, root, kMimeKey, false)) != Outcome::kDone)
            return created == Outcome::kRefused ? created : fail(Message(kMsgCreateMime, root.name));
        if (!mimeKey.SetString("Extension", ext)) return fail(Message(kMsgSetMime, root.name));
    }
    return WriteOpenWith(root, ext, command, message);
}

// Tells Explorer and the browsers that the associations changed, so that
// they see it at once rather than after the next logon.
void NotifyShell() { ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr); }

// Deletes key below root with everything under it, noting it in removal.
void DeleteKey(const ClassesRoot& root, const char* key, AssociationRemoval& removal) {
    const CString line = Message("\n%s\\%s", root.name, key);
    LSTATUS status = ::RegDeleteTreeA(root.key, key);
    if (status == ERROR_SUCCESS) status = ::RegDeleteKeyA(root.key, key);
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND)
        removal.removed += line;
    else
        removal.failed += line;
}

// Removes from root what the registration of ext wrote there, key by key,
// while the key still points at this program (command).
void RemoveRegistration(const ClassesRoot& root, const CString& ext, const std::wstring& command,
                        AssociationRemoval& removal) {
    // Each key is judged before any is deleted (the MIME entry's fate
    // depends on the extension's file type), and closed before deleting.
    bool hasExt, extOurs, hasType, typeOurs, hasMime, mimeOurs, hasApp, appOurs;
    {
        CRegKey extKey, commandKey, mimeKey, appKey, appCommandKey;
        hasExt = extKey.Open(root.key, ext);
        extOurs = hasExt && ::lstrcmpiA(extKey.GetString(nullptr), kFileType) == 0;
        hasType = commandKey.Open(root.key, kCommandKey);
        typeOurs = hasType && ::lstrcmpiW(commandKey.GetWideString().c_str(), command.c_str()) == 0;
        hasMime = mimeKey.Open(root.key, kMimeKey);
        // The MIME entry leads to this program only through an extension
        // that is still its own (or gone).
        mimeOurs = hasMime && ::lstrcmpiA(mimeKey.GetString("Extension"), ext) == 0 &&
                   (extOurs || !hasExt);
        hasApp = appKey.Open(root.key, kAppKey);
        appOurs = hasApp && appCommandKey.Open(root.key, kAppCommandKey) &&
                  ::lstrcmpiW(appCommandKey.GetWideString().c_str(), command.c_str()) == 0;
    }
    auto judge = [&](bool has, bool ours, const char* key) {
        if (!has) return;
        if (ours)
            DeleteKey(root, key, removal);
        else
            removal.kept += Message("\n%s\\%s", root.name, key);
    };
    judge(hasExt, extOurs, ext);
    judge(hasType, typeOurs, kFileType);
    judge(hasMime, mimeOurs, kMimeKey);
    judge(hasApp, appOurs, kAppKey);
}

}  // namespace


std::wstring AssociationCommand() {
    std::wstring command;
    if (!QuotedPath(command)) return std::wstring();
    return command + L" \"%1\"";
}

AssociationRegistration RegisterAssociation(const CString& ext, const std::wstring& command) {
    AssociationRegistration result;
    Outcome outcome = WriteRegistration({HKEY_CLASSES_ROOT, kMachineRootName}, ext, command, result.failure);
    bool userOnly = false;
    if (outcome == Outcome::kRefused) {
        CRegKey userClasses;
        if (userClasses.Create(HKEY_CURRENT_USER, kUserClasses) != ERROR_SUCCESS) {
            outcome = Outcome::kFailed;
            result.failure = Message(kMsgCreateExt, kUserRootName, ext);
        } else {
            outcome = WriteRegistration({userClasses.get(), kUserRootName}, ext, command, result.failure);
            userOnly = true;
        }
    }
    if (outcome != Outcome::kDone) return result;
    NotifyShell();
    result.outcome = userOnly ? AssociationRegistration::kUserOnly : AssociationRegistration::kEveryUser;
    return result;
}

AssociationRemoval RemoveAssociation(const CString& ext, const std::wstring& command) {
    // The per-user place first: Windows shows its keys in
    // HKEY_CLASSES_ROOT in place of the machine-wide ones, so the
    // machine-wide ones are judged once the user's are gone.
    AssociationRemoval removal;
    {
        CRegKey userClasses;
        if (userClasses.Open(HKEY_CURRENT_USER, kUserClasses, KEY_READ | KEY_WRITE | DELETE))
            RemoveRegistration({userClasses.get(), kUserRootName}, ext, command, removal);
    }
    RemoveRegistration({HKEY_CLASSES_ROOT, kMachineRootName}, ext, command, removal);
    if (!removal.removed.IsEmpty()) NotifyShell();
    return removal;
}
