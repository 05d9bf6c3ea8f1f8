// Installation discovery: finds the game's directory in the registry, builds the
// table of full paths of every file the update touches, and makes the game
// directory the current directory.
#pragma once

#include <windows.h>
#include <stddef.h>

#include "base/trees.h"

// The game's application key below HKEY_LOCAL_MACHINE and its value naming the
// installation directory.
constexpr char kGameKeyPath[] = "Software\\Microsoft\\DirectPlay\\Applications\\Vendrake2";
constexpr char kGamePathValue[] = "PATH";

// Entry numbers of the target path table. Entries 1 to 34 are target files,
// 35 is the save-game wildcard; entry 0 is the installation directory.
enum : unsigned {
    kEntryInstallDirectory = 0,
    kEntryMenuText = 3,
    kEntrySaveWildcard = 35,
    kTargetEntryCount = 35
};

// Relative paths of entries 1 to 35 (index 0 is unused).
extern const char *const kRelativeTargetPaths[kTargetEntryCount + 1];

// The table: one heap block holding the installation directory and entries
// 1 to 35, null until LocateGameAndBuildPaths succeeds.
extern char *TargetPathTable;

// Reads the installation directory, builds the table and changes into the
// directory. 1 on success; 0 after an error box, with nothing allocated.
int LocateGameAndBuildPaths();

// Whether the update can use path as the game folder: an absolute path on a
// drive ("C:\...") or a network share ("\\server\share\..."), outside the
// device namespaces ("\\?\", "\\.\"), that Windows resolves to the folder
// written there (no name "." or "..", none ending in a dot or a space; '/',
// repeated separators, a separator at the end and letter case aside).
// Whether it exists is not asked.
bool IsUsableDirectory(const char *path);

// The box for a folder the update can't enter or open (the game folder, or
// a mirror), decided from what Windows answered, as plain values: error,
// the system's error of the attempt, and driveType, GetDriveTypeW's answer
// for the drive letter path begins with. A drive that doesn't exist for the
// updater (one that exists only in the player's own logon session: a network
// drive or one made with subst) is named as such; so is a junction that
// Windows' guard refuses to follow; anything else is a folder not found.
// Returns 0.
int ShowFolderRefused(const char *path, DWORD error, UINT driveType);
// GetDriveTypeW's answer for the drive letter path begins with, else
// DRIVE_UNKNOWN.
UINT DriveTypeOf(const char *path);

// Full path of entry 1 to 35, or the installation directory for entry 0. Only
// valid while the table is built.
const char *TargetPath(unsigned entry);

// Frees the table (the main flow does this once, at the end of the run).
void ReleaseTargetPathTable();

// The length of the longest path built behind a directory: a backslash and
// the longest relative path.
size_t LongestTargetTail();
// A table laid out for directory in one zero-filled heap block: directory
// first, then entries 1 to 35, each directory, "\\" and its relative path;
// start receives where each begins. Null when memory runs out; the caller
// frees the block.
char *BuildPathTable(const char *directory, char *start[kTargetEntryCount + 1]);

// ---------------------------------------------------------------------------
// The player at the screen (player.cpp).
//
// The updater runs as administrator, and that need not be the player's own
// account: a player with a standard account types an administrator's
// password at the prompt. The game's copies that Windows keeps for it (see
// the mirror below, and the registry's own VirtualStore) stand in the local
// application data and the classes hive of the player who ran the game.

// Room for a user's SID as a string, its NUL included.
constexpr size_t kSidLength = 192;

// What Windows answers about the player, as plain values: the session's user
// and the process's own (string SIDs, empty when unknown); and for the
// session's user, "Local AppData" from their hive as stored, and their
// profile folder, expanded (each empty when missing).
struct PlayerAnswers {
    wchar_t sessionSid[kSidLength];
    wchar_t ownSid[kSidLength];
    wchar_t localAppData[MAX_PATH];
    wchar_t profile[MAX_PATH];
};
// Asks Windows who sits at the session's screen and who the updater runs as.
void AskWhoPlays(PlayerAnswers *answers);
// Asks the registry for the folders of the user sid: "Local AppData" from
// their hive (HKEY_USERS\<sid>) and their profile folder.
void AskPlayerFolders(const wchar_t *sid, PlayerAnswers *answers);
// Decides from the answers whose folders the update looks in, and keeps that:
// the session's user's where that is another user whose local application
// data can be had (%USERPROFILE% the only variable in it), else the
// process's own.
void DecidePlayer(const PlayerAnswers &answers);
// Asks and decides (start-up does this once).
void FindPlayer();
// The player's SID (whose classes hive is HKEY_USERS\<SID>_Classes), or null
// when it isn't known.
const wchar_t *PlayerSid();
// The player's local application data, or null when it is the process's own.
const wchar_t *PlayerLocalAppData();
// Forgets the player (nothing is looked for in a hive until decided again).
void ForgetPlayer();

// ---------------------------------------------------------------------------
// The game folder's mirrors in the VirtualStore (mirror.cpp).
//
// On Windows Vista to 11 a program without a manifest, as the game is, that
// writes into a protected folder (Program Files, Windows) has its writes
// redirected to the player's <local application data>\VirtualStore followed
// by the folder's path without its drive, and reads those copies in front of
// the real files. The updater runs elevated and sees only the real folder, so
// it also works on what stands in that mirror. Where the game folder is
// reached through a link, the mirror stands under the name the game opened,
// the folder's own or the link's; both are looked at.

// How many mirrors a game folder can have: under its own name, and under the
// name "PATH" gives it where that is another.
constexpr unsigned kMirrorCount = 2;
static_assert(kMirrorCount == kMirrorTrees, "each mirror is a tree of the door");

// Looks for the mirrors of the game folder (which LocateGameAndBuildPaths has
// found) and for a copy of every target file in each. 1 when there is none,
// or when they have been found; 0 after the missing-folder box, when one
// exists but can't be used as it is named (a name the code page lacks, or too
// long for its files).
int LocateVirtualStoreMirror();

// The full path of the copy of entry 1 to 34 in mirror (0 or 1) when a file
// stands there, else null; for kEntrySaveWildcard the mirror's save-game
// wildcard and for kEntryInstallDirectory the mirror itself, while that
// mirror exists.
const char *MirrorPath(unsigned mirror, unsigned entry);

// How many target files have a copy in a mirror, over every mirror.
unsigned MirrorCopyCount();

// Forgets the mirrors (the main flow does this once, at the end of the run).
void ReleaseVirtualStoreMirror();

// ---------------------------------------------------------------------------
// The trees the update may write in (see base/trees.h): the game folder and
// each of its mirrors, fixed by their final paths once discovery is done. 1
// when all can be used; 0 after the box naming the one that can't: a folder
// that can't be opened as a folder (ShowFolderRefused says why: one behind a
// junction that Windows' guard refuses has its own box), or a mirror that
// isn't where the VirtualStore keeps it (a link from the VirtualStore down).
int FixUpdateTrees();
