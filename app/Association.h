// The registration of this executable as the handler of iEPG files, behind
// the settings dialog's buttons "関連付け登録" and "関連付け解除": the typed
// extension, the file type "epgfile" with its open command, the MIME type
// pointing back to the extension and the shell's "open with" entries; and
// the removal of that registration again. The keys go to HKEY_CLASSES_ROOT,
// or to HKEY_CURRENT_USER\Software\Classes where the machine-wide place is
// refused for lack of rights. The shell is told after every change. Nothing
// here asks or shows anything (the dialog does) and nothing throws: each
// call returns what it did.
#pragma once

#include <string>

#include "afx/CString.h"

// The command the shell runs for an iEPG file: this executable's quoted
// path and the quoted file ("%1"). Empty when the path cannot be had whole.
std::wstring AssociationCommand();

// What a registration did.
struct AssociationRegistration {
    enum Outcome {
        kFailed,     // a step failed; the steps before it stay written
        kEveryUser,  // written to HKEY_CLASSES_ROOT
        kUserOnly,   // refused there, written for the current user only
    };
    Outcome outcome = kFailed;
    CString failure;  // kFailed: the message naming the step that failed
};

// Registers command (from AssociationCommand) as the handler of extension
// ext, overwriting whatever is there. ext must not be empty: an empty one
// would make HKEY_CLASSES_ROOT itself the extension key.
AssociationRegistration RegisterAssociation(const CString& ext, const std::wstring& command);

// What an unregistration did, key by key: one "\n<place>\<key>" a key.
struct AssociationRemoval {
    CString removed;  // deleted (or already gone when deleting)
    CString kept;     // left alone: it points at another program now
    CString failed;   // could not be deleted
};

// Removes from both places the keys the registration of ext wrote, each
// only while it still points at command (the per-user place first).
AssociationRemoval RemoveAssociation(const CString& ext, const std::wstring& command);
