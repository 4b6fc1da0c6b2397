// The settings dialog's button "関連付け登録": registers this executable as
// the handler of iEPG files (the typed extension, the file type "epgfile"
// with its open command, and the MIME type pointing back to the extension).
// Writes under HKEY_CLASSES_ROOT only and never undoes a partial
// registration: pressing the button again after fixing the cause completes
// it, since every value is simply overwritten.
#include <cstring>

#include "app/SettingDlg.h"

namespace {

constexpr unsigned kWarning = MB_OK | MB_ICONEXCLAMATION;
// GetModuleFileNameA's buffer: the classic path limit.
constexpr DWORD kMaxPath = 260;

constexpr const char* kFileType = "epgfile";
constexpr const char* kMimeType = "application/x-tv-program-info";
constexpr const char* kMimeKey = "MIME\\Database\\Content Type\\application/x-tv-program-info";
// The shell's "safe to open" flag (FTA_OpenIsSafe, 0x00010000), stored as the
// little-endian 32-bit value the shell reads.
constexpr BYTE kEditFlags[4] = {0x00, 0x00, 0x01, 0x00};

// An empty extension would make HKEY_CLASSES_ROOT itself the extension key
// and overwrite its default value, so it is refused before anything is
// written.
constexpr const char* kMsgEmptyExt =
    "拡張子が入力されていません。拡張子を入力してから関連付け登録してください。";
constexpr const char* kMsgNoPath = "実行ファイルのパスを取得できません";
constexpr const char* kMsgCreateExt = "レジストリキーHKEY_CLASSES_ROOT\\%sを生成出来ません";
constexpr const char* kMsgSetExt = "レジストリキーHKEY_CLASSES_ROOT\\%sの値を設定出来ません";
constexpr const char* kMsgSetContentType = "レジストリ%s\\Content Typeの値を設定出来ません";
constexpr const char* kMsgCreateType = "レジストリキーHKEY_CLASSES_ROOT\\epgfileを生成出来ません";
constexpr const char* kMsgSetType = "レジストリキーHKEY_CLASSES_ROOT\\epgfileの値を設定出来ません";
constexpr const char* kMsgSetEditFlags = "レジストリepgfile\\EditFlagsの値を設定出来ません";
constexpr const char* kMsgCreateShell = "レジストリキーepgfile\\Shellを生成出来ません";
constexpr const char* kMsgSetShell = "レジストリキーepgfile\\Shellの値を設定出来ません";
constexpr const char* kMsgCreateCommand = "レジストリキーepgfile\\Shell\\open\\commandを生成出来ません";
constexpr const char* kMsgSetCommand = "レジストリキーepgfile\\Shell\\open\\commandの値を設定出来ません";
constexpr const char* kMsgCreateMime =
    "レジストリキーHKEY_CLASSES_ROOT\\MIME\\Database\\Content Type\\application/x-tv-program-infoを生成出来ません";
constexpr const char* kMsgSetMime =
    "レジストリHKEY_CLASSES_ROOT\\MIME\\Database\\Content Type\\application/x-tv-program-info\\Extensionの値を設定出来ません";

// One registry key opened for writing; closed when the object goes out of
// scope, so keys opened in one block close newest first.
class RegKey {
public:
    RegKey() = default;
    ~RegKey() {
        if (m_key != nullptr) ::RegCloseKey(m_key);
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    // Creates subKey below parent, or opens it when it exists.
    bool Create(HKEY parent, const char* subKey) {
        return ::RegCreateKeyExA(parent, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                 nullptr, &m_key, nullptr) == ERROR_SUCCESS;
    }
    // Stores a string with its terminating zero counted in the size; a null
    // name is the key's default value.
    bool SetString(const char* name, const char* value) {
        const DWORD size = static_cast<DWORD>(std::strlen(value) + 1);
        return ::RegSetValueExA(m_key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                                size) == ERROR_SUCCESS;
    }
    bool SetBinary(const char* name, const BYTE* data, DWORD size) {
        return ::RegSetValueExA(m_key, name, 0, REG_BINARY, data, size) == ERROR_SUCCESS;
    }
    HKEY get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

void Warn(const char* text) { AfxMessageBox(text, kWarning); }

void Warn(const char* format, const char* ext) {
    CString text;
    text.Format(format, ext);
    AfxMessageBox(text, kWarning);
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

    char path[kMaxPath] = "";
    // A path that fills the buffer was cut short: registering it would
    // point the shell at a file that does not exist.
    const DWORD length = ::GetModuleFileNameA(nullptr, path, kMaxPath);
    if (length == 0 || length >= kMaxPath) {
        Warn(kMsgNoPath);
        return;
    }
    // Quoted, so that paths with spaces arrive as one argument each.
    CString command;
    command.Format("\"%s\" \"%%1\"", path);

    {
        RegKey extKey;
        if (!extKey.Create(HKEY_CLASSES_ROOT, ext)) return Warn(kMsgCreateExt, ext);
        if (!extKey.SetString(nullptr, kFileType)) return Warn(kMsgSetExt, ext);
        if (!extKey.SetString("Content Type", kMimeType)) return Warn(kMsgSetContentType, ext);
    }
    {
        RegKey typeKey;
        if (!typeKey.Create(HKEY_CLASSES_ROOT, kFileType)) return Warn(kMsgCreateType);
        if (!typeKey.SetString(nullptr, "iEPG")) return Warn(kMsgSetType);
        if (!typeKey.SetBinary("EditFlags", kEditFlags, sizeof kEditFlags))
            return Warn(kMsgSetEditFlags);
        RegKey shellKey;
        if (!shellKey.Create(typeKey.get(), "Shell")) return Warn(kMsgCreateShell);
        if (!shellKey.SetString(nullptr, "open")) return Warn(kMsgSetShell);
        RegKey commandKey;
        if (!commandKey.Create(shellKey.get(), "open\\command")) return Warn(kMsgCreateCommand);
        if (!commandKey.SetString(nullptr, command)) return Warn(kMsgSetCommand);
    }
    {
        RegKey mimeKey;
        if (!mimeKey.Create(HKEY_CLASSES_ROOT, kMimeKey)) return Warn(kMsgCreateMime);
        if (!mimeKey.SetString("Extension", ext)) return Warn(kMsgSetMime);
    }
}
