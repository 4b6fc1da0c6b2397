// The table of app/AssociationTable.h applied to the registry.
//
// Registration judges each extension first: one whose default value names
// another program keeps it, and gets only the rows that add Quorpa to its
// "open with" list. It then writes the rows in the table's order below
// HKEY_LOCAL_MACHINE; where the first key there is refused for lack of
// rights (a standard user on Windows Vista and later) it writes the same
// rows below HKEY_CURRENT_USER. It never undoes a partial registration:
// registering again after fixing the cause completes it, since every value
// is simply overwritten.
//
// Unregistration builds the same rows for every remembered extension and
// takes away, in reverse order, each value that still holds what was
// written, then each of our keys left empty: what another program changed
// or added stays, and so does the key that holds it.
#include "app/Association.h"

#include <algorithm>
#include <string>
#include <vector>

#include <shlobj.h>

#include "afx/win32/Program.h"
#include "afx/win32/RegKey.h"
#include "app/AssociationTable.h"
#include "app/Settings.h"
#include "platform/seams.h"

using assoc::Row;

namespace {

constexpr const wchar_t* kClassesKey = L"Software\\Classes\\";
constexpr const wchar_t* kUserRootName = L"HKEY_CURRENT_USER";
// The default value's name as the boxes show it.
constexpr const wchar_t* kDefaultName = L"(既定)";

constexpr const char* kMsgCreateKey = "レジストリキー%sを生成出来ません";
constexpr const char* kMsgSetDefault = "レジストリキー%sの値を設定出来ません";
constexpr const char* kMsgSetValue = "レジストリ%s\\%sの値を設定出来ません";

// One of the two places a registration goes to.
struct Place {
    HKEY root;
    const wchar_t* rootName;
    bool machine;
};
const Place kMachine{HKEY_LOCAL_MACHINE, L"HKEY_LOCAL_MACHINE", true};
const Place kUser{HKEY_CURRENT_USER, kUserRootName, false};

HKEY RootOf(const Place& place, const Row& row) { return row.root == assoc::Root::kUser ? HKEY_CURRENT_USER : place.root; }

// key (of a row with root) below its registry root.
std::wstring PathOf(assoc::Root root, const std::wstring& key) {
    return root == assoc::Root::kClasses ? kClassesKey + key : key;
}

// key as the boxes name it, from the root on.
std::wstring NameOf(const Place& place, assoc::Root root, const std::wstring& key) {
    const std::wstring rootName = root == assoc::Root::kUser ? kUserRootName : place.rootName;
    return rootName + L"\\" + PathOf(root, key);
}

CString Line(const std::wstring& name) {
    CString line = "\n";
    line += Narrow(name.c_str()).c_str();
    return line;
}

std::wstring ClassesName(const Place& place) { return std::wstring(place.rootName) + L"\\Software\\Classes"; }

std::vector<BYTE> FlagBytes(const std::wstring& hex) {
    std::vector<BYTE> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<BYTE>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

bool Set(CRegKey& key, const Row& row) {
    switch (row.type) {
    case assoc::Type::kString: return key.SetString(row.name, row.value);
    case assoc::Type::kFlags: return key.SetBinary(row.name, FlagBytes(row.value));
    case assoc::Type::kNone: return key.SetEmpty(row.name);
    }
    return false;
}

// Whether key still holds row's value as it was written.
bool Holds(const CRegKey& key, const Row& row) {
    switch (row.type) {
    case assoc::Type::kString: return key.HasValue(row.name) && assoc::SameName(key.GetString(row.name), row.value);
    case assoc::Type::kFlags: return key.GetBinary(row.name) == FlagBytes(row.value);
    case assoc::Type::kNone: return key.HasValue(row.name);
    }
    return false;
}

// The extensions of names as they stand in place: an extension whose
// default value names another program is not ours.
std::vector<assoc::Extension> Judge(const Place& place, const std::vector<std::wstring>& names) {
    std::vector<assoc::Extension> exts;
    for (const std::wstring& name : names) {
        CRegKey key;
        const std::wstring owner = key.Open(place.root, kClassesKey + name) ? key.GetString(L"") : L"";
        exts.push_back({name, owner.empty() || assoc::SameName(owner, assoc::kFileType)});
    }
    return exts;
}

// The executable's path in command ("exe" "%1").
std::wstring ExeOf(const std::wstring& command) { return command.substr(1, command.find(L"\" ") - 1); }

enum class Outcome { kDone, kRefused, kFailed };

// Writes rows to place. On kFailed message names the key that failed; the
// rows before it stay written.
Outcome Write(const Place& place, const std::vector<Row>& rows, CString& message) {
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        const bool machine = place.machine && row.root != assoc::Root::kUser;
        CRegKey key;
        LSTATUS status = ERROR_ACCESS_DENIED;
        if (!(machine && i == 0 && plat::seam::ClassesRootRefused()))
            status = key.Create(RootOf(place, row), PathOf(row.root, row.key));
        const std::string name = Narrow(NameOf(place, row.root, row.key).c_str());
        if (status != ERROR_SUCCESS) {
            if (machine && status == ERROR_ACCESS_DENIED) return Outcome::kRefused;
            message.Format(kMsgCreateKey, name.c_str());
            return Outcome::kFailed;
        }
        if (!Set(key, row)) {
            message.Format(row.name.empty() ? kMsgSetDefault : kMsgSetValue, name.c_str(),
                           Narrow(row.name.c_str()).c_str());
            return Outcome::kFailed;
        }
    }
    return Outcome::kDone;
}

// Tells Explorer and the browsers that the associations changed, so that
// they see it at once rather than after the next logon.
void NotifyShell() { ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr); }

std::wstring Parent(const std::wstring& key) {
    const size_t slash = key.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : key.substr(0, slash);
}

// Deletes key (of root, below registry root hkey) when it is empty.
bool DeleteIfEmpty(HKEY hkey, assoc::Root root, const std::wstring& key) {
    CRegKey open;
    if (!open.Open(hkey, PathOf(root, key)) || !open.IsEmpty()) return false;
    open.Close();
    return ::RegDeleteKeyW(hkey, PathOf(root, key).c_str()) == ERROR_SUCCESS;
}

// What one listed key of the box lost.
struct Taken {
    std::wstring listed;
    assoc::Root root;
    bool shared;
    std::vector<std::wstring> values;  // each as the box names it
    bool failed = false;
};

// The key the box names for row, one of the rows of all.
std::wstring ListedIn(const std::vector<Row>& all, const Row& row) {
    size_t index = 0;
    while (index + 1 < all.size() && !(all[index].root == row.root && assoc::SameName(all[index].key, row.key) &&
                                       assoc::SameName(all[index].name, row.name)))
        ++index;
    return assoc::ListedKey(all, index);
}

// Takes rows away from place (the memory rows are left to the caller) and
// adds to removal what went and what stayed, as the box names them, for
// the listed keys of all (the rows of every extension as if ours).
void Remove(const Place& place, const std::vector<Row>& rows, const std::vector<Row>& all,
            AssociationRemoval& removal) {
    std::vector<Taken> taken;
    for (size_t i = 0; i < all.size(); ++i) {
        const std::wstring listed = assoc::ListedKey(all, i);
        const bool seen = std::any_of(taken.begin(), taken.end(), [&](const Taken& t) {
            return t.root == all[i].root && assoc::SameName(t.listed, listed);
        });
        if (!seen && all[i].root != assoc::Root::kUser) taken.push_back({listed, all[i].root, all[i].shared, {}});
    }
    for (size_t i = rows.size(); i-- > 0;) {
        const Row& row = rows[i];
        if (row.root == assoc::Root::kUser) continue;
        const HKEY hkey = RootOf(place, row);
        const std::wstring listed = ListedIn(all, row);
        auto entry = std::find_if(taken.begin(), taken.end(), [&](const Taken& t) {
            return t.root == row.root && assoc::SameName(t.listed, listed);
        });
        CRegKey key;
        if (!key.Open(hkey, PathOf(row.root, row.key), KEY_READ | KEY_SET_VALUE)) {
            CRegKey readable;
            entry->failed = entry->failed || (readable.Open(hkey, PathOf(row.root, row.key)) && Holds(readable, row));
            continue;
        }
        if (!Holds(key, row)) continue;
        if (!key.DeleteValue(row.name)) {
            entry->failed = true;
            continue;
        }
        key.Close();
        entry->values.insert(entry->values.begin(),
                             NameOf(place, row.root, row.key) + L"\\" + (row.name.empty() ? kDefaultName : row.name));
        if (row.shared) continue;
        const std::wstring top = assoc::TopKey(rows, i);
        for (std::wstring k = row.key; k.size() >= top.size() && DeleteIfEmpty(hkey, row.root, k); k = Parent(k)) {
        }
    }
    for (const Taken& t : taken) {
        const std::wstring name = NameOf(place, t.root, t.listed);
        CRegKey key;
        const bool exists = !t.shared && key.Open(place.root, PathOf(t.root, t.listed));
        if (t.failed)
            removal.failed += Line(name);
        else if (!t.values.empty() && !exists)
            removal.removed += Line(name);
        else if (!t.values.empty())
            for (const std::wstring& value : t.values) removal.removed += Line(value);
        if (!t.failed && exists) removal.kept += Line(name);
    }
    DeleteIfEmpty(place.root, assoc::Root::kSoftware, assoc::kProgramKey);
}

// Whether place's file type runs command, or place has none.
bool TypeMine(const Place& place, const std::wstring& command) {
    CRegKey type, open;
    if (!type.Open(place.root, kClassesKey + std::wstring(assoc::kFileType))) return true;
    return open.Open(type.get(), L"Shell\\open\\command") && assoc::SameName(open.GetString(L""), command);
}

}  // namespace

std::wstring AssociationCommand() {
    const std::wstring path = AfxModulePath();
    if (path.empty()) return std::wstring();
    return L"\"" + path + L"\" \"%1\"";
}

AssociationRegistration RegisterAssociation(const std::wstring& ext, const std::wstring& command) {
    AssociationRegistration result;
    const std::vector<std::wstring> names = assoc::ExtensionNames(ext);
    Place place = kMachine;
    std::vector<assoc::Extension> exts = Judge(place, names);
    std::vector<Row> rows = assoc::Rows(exts, ExeOf(command), ClassesName(place));
    Outcome outcome = Write(place, rows, result.failure);
    if (outcome == Outcome::kRefused) {
        place = kUser;
        exts = Judge(place, names);
        rows = assoc::Rows(exts, ExeOf(command), ClassesName(place));
        outcome = Write(place, rows, result.failure);
    }
    if (outcome != Outcome::kDone) return result;
    NotifyShell();
    std::vector<std::wstring> listed;
    for (size_t i = 0; i < rows.size(); ++i) {
        const std::wstring name = NameOf(place, rows[i].root, assoc::ListedKey(rows, i));
        if (std::find(listed.begin(), listed.end(), name) != listed.end()) continue;
        listed.push_back(name);
        result.registered += Line(name);
    }
    for (const assoc::Extension& one : exts) {
        if (one.owned) continue;
        if (!result.openWithOnly.IsEmpty()) result.openWithOnly += "、";
        result.openWithOnly += Narrow(one.name.c_str()).c_str();
    }
    result.outcome = place.machine ? AssociationRegistration::kEveryUser : AssociationRegistration::kUserOnly;
    return result;
}

std::vector<std::wstring> AssociationExtensions(const std::wstring& ext) {
    std::vector<std::wstring> names = assoc::ExtensionNames(ext);
    CRegKey memory;
    if (!memory.Open(HKEY_CURRENT_USER, assoc::kMemoryKey)) return names;
    for (const std::wstring& name : memory.SubKeyNames()) {
        const bool known = std::any_of(names.begin(), names.end(),
                                       [&](const std::wstring& n) { return assoc::SameName(n, name); });
        // A key added by hand that names no extension is never acted on.
        if (!known && assoc::IsExtension(name)) names.push_back(name);
    }
    return names;
}

AssociationRemoval RemoveAssociation(const std::wstring& ext, const std::wstring& command) {
    AssociationRemoval removal;
    const std::vector<std::wstring> names = AssociationExtensions(ext);
    std::vector<assoc::Extension> everyOne;
    for (const std::wstring& name : names) everyOne.push_back({name, true});
    const std::vector<Row> all = assoc::Rows(everyOne, ExeOf(command), L"");
    // The per-user place first: Windows shows its keys in place of the
    // machine-wide ones, so those are judged once the user's are gone.
    bool complete = true;
    for (const Place& place : {kUser, kMachine}) {
        if (!TypeMine(place, command)) {
            removal.kept += Line(NameOf(place, assoc::Root::kClasses, assoc::kFileType));
            complete = false;
            continue;
        }
        const std::vector<assoc::Extension> exts = Judge(place, names);
        const CString failedBefore = removal.failed;
        Remove(place, assoc::Rows(exts, ExeOf(command), L""), all, removal);
        complete = complete && removal.failed.GetLength() == failedBefore.GetLength();
    }
    // The memory goes once nothing of the registration is left anywhere.
    if (complete) {
        for (const std::wstring& name : names) {
            const std::wstring key = std::wstring(assoc::kMemoryKey) + L"\\" + name;
            CRegKey memory;
            if (!memory.Open(HKEY_CURRENT_USER, key)) continue;
            memory.Close();
            if (::RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str()) == ERROR_SUCCESS)
                removal.removed += Line(NameOf(kUser, assoc::Root::kUser, key));
            else
                removal.failed += Line(NameOf(kUser, assoc::Root::kUser, key));
        }
        DeleteIfEmpty(HKEY_CURRENT_USER, assoc::Root::kUser, assoc::kMemoryKey);
        DeleteIfEmpty(HKEY_CURRENT_USER, assoc::Root::kUser, assoc::kProgramKey);
    }
    if (!removal.removed.IsEmpty()) NotifyShell();
    return removal;
}
