// What the end-to-end tests share: the game's key in Wine's registry, a model
// of a sample installation with what the update makes of it, and the real
// updater run and answered by the UI driver.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <stdint.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/holders.h"
#include "base/prompts.h"
#include "dialog/dialog.h"
#include "discovery/discovery.h"
#include "tests/test_support.h"
#include "tests/driver/driver.h"

// What the update writes as the "Guid" value.
constexpr char kGuid[] = "{7B3D0A52-4E19-4C86-A0F1-93D25E6B8C14}";
// A game file in the middle of the chain.
constexpr unsigned kEntryMiss05 = 8;

// The target entry of each file step, in chain order (the menu texts first).
const std::vector<unsigned> &ChainTargets();
// How many steps of the chain (the registry step first) come before the
// step that works on entry.
unsigned StepsBefore(unsigned entry);

// ---------------------------------------------------------------------------
// The game's registry key, in the view the updater sees (a 32-bit updater
// reads HKLM\Software through the 32-bit view).

REGSAM UpdaterView();
inline bool GameKeyExists()
{
    return RegistryKeyExists(kGameKeyPath, UpdaterView());
}
inline RegistryValue ReadGameValue(const char *name)
{
    return ReadRegistryValue(kGameKeyPath, name, UpdaterView());
}
inline void WriteGameValue(const char *name, const RegistryValue &value)
{
    WriteRegistryValue(kGameKeyPath, name, value, UpdaterView());
}

// Sets up the game's key for one test and puts back what was there before.
class GameKeyGuard {
public:
    GameKeyGuard();
    ~GameKeyGuard();
    // "PATH" names directory, as REG_SZ with its terminator; no "Guid".
    void Install(const std::string &directory);
    void Remove();

private:
    bool existed_;
    RegistryValue path_;
    RegistryValue guid_;
};

// ---------------------------------------------------------------------------
// Files.

// Every file below a directory: path relative to it -> content.
using Tree = std::map<std::string, std::string>;
Tree ReadTree(const std::string &root);
bool IsEmptyDirectory(const std::string &path);
// Every file below root is as expected, and there is no other.
void ExpectTree(const std::string &root, const Tree &expected);

std::vector<std::string> SplitLines(const std::string &log);
bool StartsWith(const std::string &text, const std::string &prefix);

// ---------------------------------------------------------------------------
// A sample installation: every target file with deterministic content, and
// saved games in save\, each with old time stamps.
class Installation {
public:
    // The directory has a space and Polish letters: it must reach the boxes
    // and the log byte for byte. `relative` is where it lies in a fresh
    // temporary directory, made under `parent` if one is given.
    explicit Installation(unsigned saveCount, const std::string &relative = "Gry Łódź\\Vendrake II PL",
                          const std::string &parent = "");

    // A saved game in "save"; its time stamps are set where the name allows.
    void AddSavedGame(const std::string &name);
    // A file of the game that no step changes.
    void AddFile(const std::string &relative, const std::string &bytes);
    // A saved game that the updater is not to take: the expectations keep it
    // as it is and give it no log line.
    void LeaveOut(const std::string &relative);
    // A saved game that the update leaves as it is after the user chose to go
    // on: the expectations keep it as it is, and its line ends in " pominięto".
    void Skip(const std::string &relative) { skipped_.push_back(relative); }
    // A saved game deleted after the updater listed it: skipped, and gone.
    void Vanish(const std::string &relative);
    // Makes save\name a link to target (a full path), or a second name of it
    // when hard is set; it reads as target does, and is expected to stay so.
    bool LinkSavedGame(const std::string &name, const std::string &target, bool hard);

    const std::string &Directory() const { return directory_; }
    std::string Path(const std::string &relative) const { return directory_ + "\\" + relative; }
    std::string TargetPath(unsigned entry) const { return Path(kRelativeTargetPaths[entry]); }
    const Tree &Original() const { return original_; }
    // Relative names of the saved games in enumeration order.
    const std::vector<std::string> &SaveOrder() const { return saveOrder_; }
    const std::string &UpdatedSave(const std::string &relative) const { return updatedSaves_.at(relative); }

    // The installation after the first `steps` steps of the chain and the
    // first `saves` saved games.
    Tree Expected(unsigned steps, unsigned saves) const;
    // The log after `steps` completed steps of the chain and `saves` saved
    // games, each line as the updater writes it.
    std::string ExpectedLog(unsigned steps, unsigned saves) const;
    static std::string FileLine(const std::string &path) { return kLogFileOpen + path + kLogFileClose; }

private:
    void MakeSavedGame(const std::string &relative, unsigned index);
    void WriteSavedGame(const std::string &name);
    void ReadSaveOrder();
    bool Skipped(const std::string &relative) const
    {
        return std::find(skipped_.begin(), skipped_.end(), relative) != skipped_.end();
    }

    TempDir temp_;
    std::string directory_;
    Tree original_;
    std::map<std::string, std::string> updatedSaves_;
    std::vector<std::string> saveOrder_;
    std::vector<std::string> skipped_;
};

// The mirror of a game folder in the VirtualStore, where Windows Vista to 11
// keep what a program without a manifest wrote into a protected folder:
// <local application data>\VirtualStore and the folder's path without its
// drive. Made for a test, as a plain folder (Wine virtualizes nothing), and
// removed with the object.
class VirtualStoreMirror {
public:
    // linkedTo, when given, makes the mirror a link to that folder instead,
    // as a standard user may.
    explicit VirtualStoreMirror(const std::string &gameDirectory, const std::string &linkedTo = "");
    ~VirtualStoreMirror();
    const std::string &Directory() const { return directory_; }
    std::string Path(const std::string &relative) const { return directory_ + "\\" + relative; }

private:
    std::string store_;
    bool storeExisted_;
    std::string directory_;
};

// A sample installation entered as the game's in the registry, in the view
// the updater reads, for one test; the key is put back as it was when the
// object goes.
class InstalledGame : public Installation {
public:
    explicit InstalledGame(unsigned saveCount, const std::string &relative = "Gry Łódź\\Vendrake II PL",
                           const std::string &parent = "")
        : Installation(saveCount, relative, parent)
    {
        key_.Install(Directory());
    }
    GameKeyGuard &Key() { return key_; }

private:
    GameKeyGuard key_;
};

// ---------------------------------------------------------------------------
// Running the updater.

// The transcript, with when each box and snapshot was seen (ms after the start).
std::string Transcript(const DriverResult &result);

struct RunOptions {
    std::string arguments;      // behind the quoted path
    std::string exe = DIST_EXE; // the updater
    std::wstring wideExe;       // when given, the updater by this UTF-16 path
    // Called with each box right before it is answered.
    std::function<void(const BoxRecord &)> beforeAnswer;
    // Every text read through the wide calls as well.
    bool wide = false;
};

// The driver's actions of the usual runs: to the finished state, closed with
// the button; and until the dialog closes by itself.
extern const std::vector<std::string> kToTheEnd;
extern const std::vector<std::string> kUntilClosed;

// Runs the updater in an empty folder of its own, which must stay empty,
// answering its boxes and carrying out the driver's actions.
DriverResult RunUpdater(const std::vector<std::string> &answers, const std::vector<std::string> &actions,
                        const RunOptions &options = RunOptions());
// The same for a run that must go as scripted, end by itself and exit with
// 0; a run that doesn't is reported with its transcript.
DriverResult RunScripted(const std::vector<std::string> &answers, const std::vector<std::string> &actions,
                         const RunOptions &options = RunOptions());

std::string ExpectedBoxLine(const std::string &text, const char *buttons, const char *owner,
                            const char *answer);
void ExpectBox(const BoxRecord &box, const std::string &text, const char *buttons, const char *owner);
// A run that ends at its start, before any window exists: one error box with
// message and no owner, answered OK, then exit code 0.
void ExpectRefusedAtStart(const DriverResult &result, const std::string &message);
// A box shown over the running dialog and owned by it, with the bar at
// `position` when the box came.
void ExpectBoxOverDialog(const BoxRecord &box, const std::string &text, const char *buttons, int position);
// True when the transcript line of `later` comes right after that of
// `earlier`: nothing was seen between the two snapshots. The lines are told
// by their place, as two snapshots of a dialog that didn't move read alike.
bool Follows(const DialogSnapshot &earlier, const DialogSnapshot &later);
void ExpectRunningState(const DialogSnapshot &dialog, int saves);
// The update ran to its end over installation: the last snapshot in the
// finished state with every line of the log and the bar full, every file
// and the "Guid" value as the update leaves them.
void ExpectCompletedUpdate(const DriverResult &result, const Installation &installation);
