// The door: the one way the update opens what it changes.
//
// The updater runs as administrator, but the game folder may be one a
// standard user can write to, and the game's mirror in the VirtualStore
// always is. Whoever can write there can leave a link (a junction, a symbolic
// link, a second name of a file) for the updater to follow to a file outside.
// So a file is opened first, and then what the handle really is gets checked:
// it is itself (its final path is the path it was opened by, through a held
// folder of its tree, so that no link below the tree's folder leads anywhere
// else, not even to another file inside), it has one name only, it is no
// folder, and it was not written before in this run. Only then is it written,
// through that same handle. Checking a name and then opening it would let a
// link put in its place meanwhile lead the write elsewhere.
//
// The trees (trees.h) are the game folder and its mirrors. Every folder a
// file is written into is opened and checked in the same way first (itself,
// as opened through the folder above it), and held open without delete
// sharing until the trees are released, so that no one can rename it away
// and put a link in its place. An operation called while no tree is fixed
// takes its own file's folder as its tree, for the call.
#pragma once

#include <windows.h>
#include <stdio.h>

// Whether the trees are fixed (start-up has fixed them).
bool TreesFixed();

// Why the door gave no handle.
enum class Refusal {
    None,
    Unopened,      // the open itself failed: missing, denied
    InUse,         // the open failed: another program holds the file (a running game)
    Unsafe,        // not itself, a second name, a folder, or what it is can't be had
    WrittenBefore, // the same file was written before in this run
    FolderNotMade, // a folder the file needs could not be made
};

// Where the name of a file to change comes from: a table of the update,
// matched letter case aside as Windows matches names (an installation copied
// from a CD may spell CONTENTS\M_TITLE.PAK), or a listing of its folder,
// matched exactly as the folder spells it.
enum class NameFrom { Table, Listing };

// path opened (OPEN_EXISTING) with access and share and checked; its handle,
// or INVALID_HANDLE_VALUE with *refusal saying why. *size (when given)
// receives its size. once: refuse a file written before in this run, and
// count this one as written.
HANDLE OpenToChange(const char *path, DWORD access, DWORD share, NameFrom from, bool once, long long *size,
                    Refusal *refusal);
// The same as a binary stream for reading and writing ("rb+") at the start
// of the file, counted as written; null with *refusal.
FILE *OpenStreamToChange(const char *path, DWORD share, NameFrom from, long long *size, Refusal *refusal);

// A new file beside target that takes target's name only once it is
// complete. The name itself is never opened: the rename replaces whatever
// stands there under that name, a link too, and a link's target stays as it
// was. A new file that is not put in place is removed through its own
// handle, never by its name.
class Replacement {
public:
    Replacement() = default;
    Replacement(const Replacement &) = delete;
    Replacement &operator=(const Replacement &) = delete;
    ~Replacement();
    // Creates the new file, under a name no one can guess, in target's
    // folder, which is made where it is missing while trees are fixed (else
    // it must exist), and checks it as the door checks every file.
    Refusal Begin(const char *target);
    // The new file's stream ("wb"), while it stands ready.
    FILE *Stream() const { return stream_; }
    // Puts the data on the disk: false when any write failed.
    bool Flush();
    // Gives the new file target's name, by a rename inside its folder; false
    // when that fails.
    bool PutInPlace();

private:
    void Discard();

    FILE *stream_ = nullptr;
    wchar_t *target_ = nullptr; // the target's final path, once in place
    bool ownTree_ = false;      // its folder is the tree of this replacement alone
};
