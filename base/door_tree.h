// Inside the door: the trees' folders it holds, the files written so far and
// the way from a name to the held folder a file is opened through, shared by
// the door's two files (door.cpp, door_tree.cpp).
#pragma once

#include "base/door.h"
#include "base/trees.h"

#include <stdint.h>

namespace door {

// A folder opened, checked and held: its full name (as GetFullPathNameA
// gives it, without a separator at the end but for a drive's root) and its
// final path.
struct Folder {
    char *path = nullptr;
    wchar_t *final = nullptr;
    HANDLE handle = INVALID_HANDLE_VALUE;
    unsigned tree = kNoTree;
};

// Every open of the door: a folder too opens (to be refused as one), and a
// named pipe that a link might lead to learns who opened it but can't act
// as the administrator.
constexpr DWORD kOpenFlags = FILE_FLAG_BACKUP_SEMANTICS | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

// Where a file to change stands: its tree, the held folder it is opened
// through, and its name in that folder.
struct Place {
    unsigned tree = kNoTree;
    Folder *folder = nullptr;
    const char *name = nullptr;
    char full[MAX_PATH];
};

// path's place: its full name (GetFullPathNameA), the tree that name lies in
// (the longest that fits) and its folder held, after each folder above it
// inside the tree; a missing folder is made first when create is set. The
// refusal when there is none.
Refusal Locate(const char *path, bool create, Place *place);

// Fixes path's folder as the game tree while no tree is fixed, for an
// operation called outside the update: true when it did so, and the caller
// lets go of the trees once done.
bool FixOwnTree(const char *path);

// The handle's final path as a new heap string, without a separator at the
// end; null when it can't be had. The caller frees it.
wchar_t *FinalPathOf(HANDLE handle);
// folder, a backslash and name (in the ANSI code page) as a new heap string;
// null when memory runs out. The caller frees it.
wchar_t *Join(const wchar_t *folder, const char *name);
// True when final (a handle's final path) is opened (the path it was opened
// by: a held folder's final path, a backslash and a name): the folder spelt
// exactly, as both are read from the same directory entries, and the name
// exactly too where exactName is set, else letter case aside.
bool IsItself(const wchar_t *final, const wchar_t *opened, bool exactName);
// Whether the tree's folder is on a network share.
bool OnNetworkShare(unsigned tree);
// Whether the file of this final path was written in this run; Remember
// takes path (a heap string) into the list, false when memory runs out.
bool WrittenBefore(const wchar_t *path);
bool Remember(wchar_t *path);

} // namespace door
