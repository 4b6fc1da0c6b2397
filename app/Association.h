// The registration of this executable as the handler of iEPG files, behind
// the settings dialog's buttons "関連付け登録" and "関連付け解除": the
// extensions browsers save iEPG files with (.tvpi, .tvpid) and the typed
// one, the file type "epgfile" with its open command, the four MIME types
// pointing back to their extensions, the shell's "open with" entries and
// the program's capabilities for Windows' default apps; and the removal of
// what of that points at this executable again. The classes go to
// HKEY_CLASSES_ROOT and the capabilities to HKEY_LOCAL_MACHINE, or both to
// the current user's keys where the machine-wide place is refused for lack
// of rights. The shell is told after every change. Nothing here asks or
// shows anything (the dialog does) and nothing throws: each call returns
// what it did.
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
        kEveryUser,  // written to HKEY_CLASSES_ROOT
        kUserOnly,   // refused there, written for the current user only
    };
    Outcome outcome = kFailed;
    CString failure;     // kFailed: the message naming the step that failed
    CString registered;  // otherwise: one "\n<place>\<key>" for each key written
};

// The extensions a registration with the typed extension ext covers:
// ".tvpi", ".tvpid", then ext unless it is one of them (in any case).
std::vector<CString> AssociationExtensions(const CString& ext);

// Registers command (from AssociationCommand) as the handler of the
// extensions AssociationExtensions(ext) and of the iEPG MIME types,
// overwriting whatever is there. The file type is written before any
// extension points at it. ext must not be empty: an empty one would make
// HKEY_CLASSES_ROOT itself the extension key.
AssociationRegistration RegisterAssociation(const CString& ext, const std::wstring& command);

// What an unregistration did, key by key: one "\n<place>\<key>" a key
// (or "\n<place>\<key>\<value>" for a value taken from a key that stays).
struct AssociationRemoval {
    CString removed;  // deleted (or already gone when deleting)
    CString kept;     // left alone: it belongs to or points at another program
    CString failed;   // could not be deleted
};

// Removes from both places (the per-user place first) what leads to
// command: the file type while it runs command, every extension's pointer
// at it (the extension key itself only when nothing else is left in it:
// other programs' "open with" entries and defaults stay), the MIME types
// whose extension is ours, the "open with" key and the capabilities. The
// file type goes last, once no extension points at it. Extensions of
// AssociationExtensions(ext) that belong to another program are reported
// as kept.
AssociationRemoval RemoveAssociation(const CString& ext, const std::wstring& command);
