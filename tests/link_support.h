// Links for the tests of the door: the ones a standard user can leave in a
// folder the elevated updater writes into.
//
// Under Wine a link is a Unix symbolic link, which Wine shows as a reparse
// point when it names a folder and as a plain file when it names a file;
// Wine makes neither Windows' symbolic links nor junctions. On Windows a
// link to a folder is a junction, which needs no privilege, and a link to a
// file a symbolic link.
#pragma once

#include <windows.h>

#include <string>

#include "base/trees.h"

// True when the tests run under Wine.
bool UnderWine();

// Makes link (which must not exist) a link to target, a folder when folder
// is set; false when it couldn't be made.
bool MakeLink(const std::string &link, const std::string &target, bool folder);
// Whether path (with its attributes) is a link. Wine shows a link to a file
// as a plain file, and deletes what it names when asked to delete it: there a
// link is what leads elsewhere than its own name.
bool IsLink(const std::wstring &path, DWORD attributes);
// Removes a link, leaving what it names as it is.
void RemoveLink(const std::wstring &link);

// Renames from to to on Wine's Unix side, where Wine's sharing modes don't
// hold and names that differ in letter case alone are two; false elsewhere.
bool RenameOnUnixSide(const std::string &from, const std::string &to);

// Makes link a new folder that is a junction (a mount point) to substitute,
// a path in the system's own form ("\??\C:\..." or "\RPC Control"). Windows
// only; false elsewhere.
bool MakeJunction(const std::wstring &link, const std::wstring &substitute);

// The same made by the current user as a standard user would: under a token
// with the administrators' group for denying only, no privileges, at medium
// integrity. Windows only.
bool MakeJunctionAsStandardUser(const std::wstring &link, const std::wstring &substitute);
// Whether this Windows has the redirection guard (Windows 10 22H2, 11).
bool HasRedirectionGuard();

// The trees fixed for one test, let go of when the object goes (the folders
// the door holds could not be removed before).
class FixedTrees {
public:
    explicit FixedTrees(const std::string &game, const char *mirror = nullptr);
    ~FixedTrees() { ReleaseWriteTrees(); }
    FixedTrees(const FixedTrees &) = delete;
    FixedTrees &operator=(const FixedTrees &) = delete;
};
