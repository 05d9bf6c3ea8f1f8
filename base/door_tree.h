// The door's trees: the folders it holds and the files written so far,
// shared by the door's two files (door.cpp, door_tree.cpp).
#pragma once

#include "base/door.h"

#include <stdint.h>

namespace door {

// A folder opened, checked and held: its full name (as GetFullPathNameA
// gives it, without a separator at the end) and its final path.
struct Folder {
    char *path = nullptr;
    wchar_t *final = nullptr;
    HANDLE handle = INVALID_HANDLE_VALUE;
    unsigned tree = kTreeCount;
};

// The trees' own folders, by tree.
extern Folder roots[kTreeCount];

// The full name of path (GetFullPathNameA), without a separator at the end
// but for a drive's root; false when it doesn't fit MAX_PATH.
bool FullPath(const char *path, char *full);
// Splits full at its last backslash into its folder and its name (pointing
// into folder); false when there is none, or no name behind it.
bool Split(const char *full, char *folder, const char **name);
// The handle's final path as a new heap string, without a separator at the
// end; null when it can't be had.
wchar_t *FinalPathOf(HANDLE handle);
// folder, a backslash and name (in the ANSI code page) as a new heap string;
// null when memory runs out.
wchar_t *Join(const wchar_t *folder, const char *name);
// A folder opened to be held, and whether a handle is a folder's.
HANDLE OpenFolder(const wchar_t *path);
bool IsFolder(HANDLE handle);
// The tree whose folder full lies in (the longest that fits), or kTreeCount.
unsigned TreeOf(const char *full);
// True when final (a handle's final path) is opened (the path it was opened
// by: a held folder's final path, a backslash and a name): the folder spelt
// exactly, as both are read from the same directory entries, and the name
// exactly too where exactName is set, else letter case aside.
bool IsItself(const wchar_t *final, const wchar_t *opened, bool exactName);
bool OnNetworkShare(unsigned tree);
// The folder full (inside tree) held, after each folder above it inside the
// tree; a missing one is made first when create is set. Null with *refusal.
// The pointer is valid until the next call.
Folder *Hold(const char *full, unsigned tree, bool create, Refusal *refusal);
// Whether the file of this final path was written in this run; Remember
// takes path (a heap string) into the list, false when memory runs out.
bool WrittenBefore(const wchar_t *path);
bool Remember(wchar_t *path);

} // namespace door
