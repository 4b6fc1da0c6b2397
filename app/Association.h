// The registration of this executable as the handler of iEPG files, behind
// the settings dialog's buttons "関連付け登録" and "関連付け解除". What is
// written is the table of app/AssociationTable.h; here it is applied to
// the registry, taken away again, and named for the boxes. The keys go to
// one place: HKEY_LOCAL_MACHINE (Software\Classes and Software) for every
// user, or, where that is refused for lack of rights, HKEY_CURRENT_USER for
// the current user only; both are named as such, never through
// HKEY_CLASSES_ROOT, whose writes Windows sends to the user's keys wherever
// the user has the key already. The shell is told after every change.
// Nothing here asks or shows anything (the dialog does) and nothing throws:
// each call returns what it did.
#pragma once

#include <string>
#include <vector>

#include "afx/CString.h"

// The command the shell runs for an iEPG file: this executable's quoted
// path and the quoted file ("%1"). Empty when the path cannot be had whole.
std::wstring AssociationCommand();

// What a registration did.
struct AssociationRegistration {
    enum Outcome {
        kFailed,     // a step failed; the steps before it stay written
        kEveryUser,  // written below HKEY_LOCAL_MACHINE
        kUserOnly,   // refused there, written for the current user only
    };
    Outcome outcome = kFailed;
    CString failure;     // kFailed: the message naming the key that failed
    CString registered;  // otherwise: one "\n<root>\<key>" for each key written
    // The extensions whose default value names another program, which keep
    // it (Quorpa is only added to their "open with" list): "、" between them.
    CString openWithOnly;
};

// Registers command (from AssociationCommand) as the handler of the
// extensions assoc::ExtensionNames(ext) and of the iEPG MIME types, and
// remembers each extension below HKEY_CURRENT_USER\Software\Quorpa. ext
// must pass assoc::IsExtension (the caller checks it).
AssociationRegistration RegisterAssociation(const std::wstring& ext, const std::wstring& command);

// The extensions an unregistration with the typed extension ext looks at:
// assoc::ExtensionNames(ext), then every remembered one.
std::vector<std::wstring> AssociationExtensions(const std::wstring& ext);

// What an unregistration did, key by key: one "\n<root>\<key>" a key (or
// "\n<root>\<key>\<value>" for a value taken from a key that stays).
struct AssociationRemoval {
    CString removed;  // deleted
    CString kept;     // left: it holds what another program wrote
    CString failed;   // could not be deleted
};

// Removes from both places (the per-user one first) exactly the rows a
// registration of AssociationExtensions(ext) wrote there and that still
// hold what was written, and the keys that are empty then. A place whose
// file type runs another command is left alone. The memory of an extension
// goes once nothing of it is left.
AssociationRemoval RemoveAssociation(const std::wstring& ext, const std::wstring& command);
