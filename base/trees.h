// The trees the update may write in: the game folder and its mirrors in the
// VirtualStore, fixed once at start-up by their final paths, each folder of
// them held open until the trees are let go of. The door (door.h) opens
// nothing to change outside them.
#pragma once

#include <windows.h>

// The error of an open that Windows' redirection guard refuses (a junction
// made by a user who is no administrator); older SDK headers lack its name.
constexpr DWORD kUntrustedMountPoint = 448;

// The trees a name can belong to: the game folder, then its mirrors; kNoTree
// for a name in none of them.
constexpr unsigned kMirrorTrees = 2;
enum : unsigned { kGameTree = 0, kFirstMirrorTree = 1, kTreeCount = 1 + kMirrorTrees, kNoTree = kTreeCount };

// Fixes the trees: the game folder (as the table names it) and its mirrors
// (null where there is none), each opened as a folder, held, and known by its
// final path. Empties the list of files written and lets go of every folder
// held before. 1 when all could be had; else 0 with *refused naming the one
// that couldn't and *error the system's error of its open (0 when it opened
// as something else), and no tree fixed.
int FixWriteTrees(const char *const directories[kTreeCount], const char **refused, DWORD *error);
// The final path of a tree's folder ("\\?\C:\..." or "\\?\UNC\..."), or
// null while it isn't fixed.
const wchar_t *TreeRoot(unsigned tree);
// Lets go of the trees, of every folder held and of the list of files
// written.
void ReleaseWriteTrees();

// path (UTF-16) opened as a folder: its final path as a new heap string,
// null when it can't be had. The caller frees it.
wchar_t *FinalFolderPath(const wchar_t *path);
