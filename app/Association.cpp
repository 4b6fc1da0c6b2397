// The settings dialog's buttons "関連付け登録" and "関連付け解除": register
// this executable as the handler of iEPG files (the typed extension, the
// file type "epgfile" with its open command, and the MIME type pointing back
// to the extension), and remove that registration again.
//
// Registration writes HKEY_CLASSES_ROOT first. Where creating a key there is
// refused for lack of rights (a standard user on Windows Vista and later
// cannot write its machine-wide part) it writes the same keys under
// HKEY_CURRENT_USER\Software\Classes, which Windows merges into
// HKEY_CLASSES_ROOT for that user. It never undoes a partial registration:
// pressing the button again after fixing the cause completes it, since every
// value is simply overwritten.
//
// Besides, for the shell's "open with" list: the extension's OpenWithProgids
// entry for the file type, the file type's icon, and the program's own key
// Applications\Quorpa.exe (its name there, the types it opens, its command).
//
// Unregistration looks in both places and deletes a key only while it still
// points at this program, so what another program has taken over stays.
#include <cstdlib>
#include <cstring>
#include <string>

#include <shlobj.h>

#include "app/SettingDlg.h"

namespace {

constexpr unsigned kWarning = MB_OK | MB_ICONEXCLAMATION;
constexpr unsigned kInformation = MB_OK | MB_ICONINFORMATION;
constexpr unsigned kQuestion = MB_YESNO | MB_ICONQUESTION;
// GetModuleFileNameW's buffer: the classic path limit.
constexpr DWORD kMaxPath = 260;

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
// Test seam: Wine never refuses a write to HKEY_CLASSES_ROOT, so the tests
// set this environment variable to have the first key there refused as a
// standard user's is on Windows.
constexpr const char* kRefuseRootVariable = "QUORPA_TEST_REFUSE_CLASSES_ROOT";
// Longest registry string value read back when checking whose a key is.
constexpr DWORD kMaxValueBytes = 1024;
// The shell's "safe to open" flag (FTA_OpenIsSafe, 0x00010000), stored as the
// little-endian 32-bit value the shell reads.
constexpr BYTE kEditFlags[4] = {0x00, 0x00, 0x01, 0x00};

// An empty extension would make HKEY_CLASSES_ROOT itself the extension key
// and overwrite its default value, so it is refused before anything is
// written.
constexpr const char* kMsgEmptyExt =
    "拡張子が入力されていません。拡張子を入力してから関連付け登録してください。";
constexpr const char* kMsgNoPath = "実行ファイルのパスを取得できません";
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
constexpr const char* kMsgUserOnly =
    "管理者の権限がないため、iEPGファイルの関連付けはこのユーザーだけに登録しました。\n"
    "他のユーザーは、それぞれのユーザーで関連付け登録してください。";
constexpr const char* kMsgEmptyExtUnregister =
    "拡張子が入力されていません。拡張子を入力してから関連付け解除してください。";
constexpr const char* kMsgConfirmUnregister =
    "拡張子%sのiEPGファイルの関連付けを解除します。よろしいですか？";
constexpr const char* kMsgRemoved = "関連付けを解除しました。削除したレジストリキー:";
constexpr const char* kMsgNothingRemoved = "削除する関連付けはありませんでした。";
constexpr const char* kMsgKept = "他のプログラムのものなので残したレジストリキー:";
constexpr const char* kMsgNotDeleted = "削除出来なかったレジストリキー:";

// One registry key, closed when the object goes out of scope, so keys
// opened in one block close newest first.
class RegKey {
public:
    RegKey() = default;
    ~RegKey() {
        if (m_key != nullptr) ::RegCloseKey(m_key);
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    // Creates subKey below parent for writing, or opens it when it exists.
    LSTATUS Create(HKEY parent, const char* subKey) {
        return ::RegCreateKeyExA(parent, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                 nullptr, &m_key, nullptr);
    }
    // Opens an existing subKey below parent with access (default: reading).
    bool Open(HKEY parent, const char* subKey, REGSAM access = KEY_READ) {
        return ::RegOpenKeyExA(parent, subKey, 0, access, &m_key) == ERROR_SUCCESS;
    }
    // Stores a string with its terminating zero counted in the size; a null
    // name is the key's default value.
    bool SetString(const char* name, const char* value) {
        const DWORD size = static_cast<DWORD>(std::strlen(value) + 1);
        return ::RegSetValueExA(m_key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                                size) == ERROR_SUCCESS;
    }
    // An empty value of type REG_NONE (an OpenWithProgids entry).
    bool SetEmpty(const char* name) { return ::RegSetValueExA(m_key, name, 0, REG_NONE, nullptr, 0) == ERROR_SUCCESS; }
    // The same for a text that need not fit code page 932 (a path).
    bool SetWideString(const std::wstring& value) {
        const DWORD size = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
        return ::RegSetValueExW(m_key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                size) == ERROR_SUCCESS;
    }
    bool SetBinary(const char* name, const BYTE* data, DWORD size) {
        return ::RegSetValueExA(m_key, name, 0, REG_BINARY, data, size) == ERROR_SUCCESS;
    }
    // The string value name (null: the default value); empty when there is
    // none, it is no string or it is longer than kMaxValueBytes.
    CString GetString(const char* name) const {
        char value[kMaxValueBytes] = "";
        DWORD size = sizeof value - 1;  // room for a zero the value may lack
        DWORD type = 0;
        if (::RegQueryValueExA(m_key, name, nullptr, &type, reinterpret_cast<BYTE*>(value),
                               &size) != ERROR_SUCCESS ||
            type != REG_SZ)
            return CString();
        value[size] = '\0';
        return CString(value);
    }
    // The key's default value as UTF-16, for a path; empty as above.
    std::wstring GetWideString() const {
        wchar_t value[kMaxValueBytes / sizeof(wchar_t)] = L"";
        DWORD size = sizeof value - sizeof(wchar_t);  // room for a zero the value may lack
        DWORD type = 0;
        if (::RegQueryValueExW(m_key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
                ERROR_SUCCESS ||
            type != REG_SZ)
            return std::wstring();
        value[size / sizeof(wchar_t)] = L'\0';
        return value;
    }
    HKEY get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

// One of the two places a registration goes to.
struct ClassesRoot {
    HKEY key;
    const char* name;  // as the messages show it
};

void Warn(const char* text) { AfxMessageBox(text, kWarning); }

// A message naming up to two things (place, extension) in format.
CString Message(const char* format, const char* first, const char* second = "") {
    CString text;
    text.Format(format, first, second);
    return text;
}

// This executable's path, quoted. In UTF-16: a folder name outside code
// page 932 would come back from the ANSI call with '?' in it, a path to
// nothing. False when the path cannot be had whole.
bool QuotedPath(std::wstring& quoted) {
    wchar_t path[kMaxPath] = L"";
    // A path that fills the buffer was cut short: registering it would
    // point the shell at a file that does not exist.
    const DWORD length = ::GetModuleFileNameW(nullptr, path, kMaxPath);
    if (length == 0 || length >= kMaxPath) return false;
    quoted = L"\"" + std::wstring(path, length) + L"\"";
    return true;
}

// The command the shell runs for an iEPG file: the quoted path, so that
// paths with spaces arrive as one argument each, and the file.
bool OpenCommand(std::wstring& command) {
    if (!QuotedPath(command)) return false;
    command += L" \"%1\"";
    return true;
}

enum class Outcome { kDone, kRefused, kFailed };

// Creates subKey below the root; kRefused when the root refuses it for
// lack of rights (only HKEY_CLASSES_ROOT is ever refused: the per-user
// place is the user's own).
Outcome CreateBelowRoot(RegKey& key, const ClassesRoot& root, const char* subKey, bool first) {
    const bool machine = root.key == HKEY_CLASSES_ROOT;
    LSTATUS status = ERROR_ACCESS_DENIED;
    if (!(machine && first && std::getenv(kRefuseRootVariable) != nullptr))
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
    RegKey progidsKey, iconKey, appKey, typesKey, commandKey;
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
        RegKey extKey;
        if ((created = CreateBelowRoot(extKey, root, ext, true)) != Outcome::kDone)
            return created == Outcome::kRefused ? created : fail(Message(kMsgCreateExt, root.name, ext));
        if (!extKey.SetString(nullptr, kFileType)) return fail(Message(kMsgSetExt, root.name, ext));
        if (!extKey.SetString("Content Type", kMimeType)) return fail(Message(kMsgSetContentType, ext));
    }
    {
        RegKey typeKey;
        if ((created = CreateBelowRoot(typeKey, root, kFileType, false)) != Outcome::kDone)
            return created == Outcome::kRefused ? created : fail(Message(kMsgCreateType, root.name));
        if (!typeKey.SetString(nullptr, "iEPG")) return fail(Message(kMsgSetType, root.name));
        if (!typeKey.SetBinary("EditFlags", kEditFlags, sizeof kEditFlags))
            return fail(kMsgSetEditFlags);
        RegKey shellKey;
        if (shellKey.Create(typeKey.get(), "Shell") != ERROR_SUCCESS) return fail(kMsgCreateShell);
        if (!shellKey.SetString(nullptr, "open")) return fail(kMsgSetShell);
        RegKey commandKey;
        if (commandKey.Create(shellKey.get(), "open\\command") != ERROR_SUCCESS)
            return fail(kMsgCreateCommand);
        if (!commandKey.SetWideString(command)) return fail(kMsgSetCommand);
    }
    {
        RegKey mimeKey;
        if ((created = CreateBelowRoot(mimeKey, root, kMimeKey, false)) != Outcome::kDone)
            return created == Outcome::kRefused ? created : fail(Message(kMsgCreateMime, root.name));
        if (!mimeKey.SetString("Extension", ext)) return fail(Message(kMsgSetMime, root.name));
    }
    return WriteOpenWith(root, ext, command, message);
}

// Tells Explorer and the browsers that the associations changed, so that
// they see it at once rather than after the next logon.
void NotifyShell() { ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr); }

// What an unregistration did, key by key, for the box that reports it.
struct Removal {
    CString removed, kept, failed;  // one "\n<place>\<key>" a key
};

// Deletes key below root with everything under it, noting it in removal.
void DeleteKey(const ClassesRoot& root, const char* key, Removal& removal) {
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
                        Removal& removal) {
    // Each key is judged before any is deleted (the MIME entry's fate
    // depends on the extension's file type), and closed before deleting.
    bool hasExt, extOurs, hasType, typeOurs, hasMime, mimeOurs, hasApp, appOurs;
    {
        RegKey extKey, commandKey, mimeKey, appKey, appCommandKey;
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

void CSettingDlg::OnRegisterAssociation() {
    // A failed check shows its prompt. The extension is exchanged last: after
    // another field's failure it still holds the previous extension, and the
    // registration goes on with that; when the extension itself fails its
    // check it holds the refused text, and nothing is registered.
    if (!UpdateData(TRUE) && m_strExt.GetLength() > kMaxExtChars) return;
    const CString ext = m_strExt;
    if (ext.IsEmpty()) {
        Warn(kMsgEmptyExt);
        return;
    }

    std::wstring command;
    if (!OpenCommand(command)) {
        Warn(kMsgNoPath);
        return;
    }

    CString message;
    Outcome outcome = WriteRegistration({HKEY_CLASSES_ROOT, kMachineRootName}, ext, command, message);
    bool userOnly = false;
    if (outcome == Outcome::kRefused) {
        RegKey userClasses;
        if (userClasses.Create(HKEY_CURRENT_USER, kUserClasses) != ERROR_SUCCESS) {
            outcome = Outcome::kFailed;
            message = Message(kMsgCreateExt, kUserRootName, ext);
        } else {
            outcome = WriteRegistration({userClasses.get(), kUserRootName}, ext, command, message);
            userOnly = true;
        }
    }
    if (outcome != Outcome::kDone) {
        Warn(message);
        return;
    }
    NotifyShell();
    if (userOnly) AfxMessageBox(kMsgUserOnly, kInformation);
}

void CSettingDlg::OnUnregisterAssociation() {
    // After a failed check (its prompt has been shown) nothing is removed:
    // the extension field may not hold what the user meant.
    if (!UpdateData(TRUE)) return;
    const CString ext = m_strExt;
    if (ext.IsEmpty()) {
        Warn(kMsgEmptyExtUnregister);
        return;
    }
    std::wstring command;
    if (!OpenCommand(command)) {
        Warn(kMsgNoPath);
        return;
    }
    if (AfxMessageBox(Message(kMsgConfirmUnregister, ext), kQuestion) != IDYES) return;

    // The per-user place first: Windows shows its keys in
    // HKEY_CLASSES_ROOT in place of the machine-wide ones, so the
    // machine-wide ones are judged once the user's are gone.
    Removal removal;
    {
        RegKey userClasses;
        if (userClasses.Open(HKEY_CURRENT_USER, kUserClasses, KEY_READ | KEY_WRITE | DELETE))
            RemoveRegistration({userClasses.get(), kUserRootName}, ext, command, removal);
    }
    RemoveRegistration({HKEY_CLASSES_ROOT, kMachineRootName}, ext, command, removal);
    if (!removal.removed.IsEmpty()) NotifyShell();

    CString report = removal.removed.IsEmpty() ? kMsgNothingRemoved : kMsgRemoved;
    report += removal.removed;
    if (!removal.kept.IsEmpty()) {
        report += "\n\n";
        report += kMsgKept;
        report += removal.kept;
    }
    if (!removal.failed.IsEmpty()) {
        report += "\n\n";
        report += kMsgNotDeleted;
        report += removal.failed;
    }
    AfxMessageBox(report, removal.failed.IsEmpty() ? kInformation : kWarning);
}
