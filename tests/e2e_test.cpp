// End-to-end tests: the real dist/patch.exe, started and worked from outside by
// the UI driver as a player would, against sample installations laid out in a
// temporary directory and the game's key in Wine's real registry.
//
// Every launch of the updater is slow under Wine here, so each test makes as
// few launches as it can and checks everything one launch shows: the boxes,
// the dialog's snapshots, the transcript and, afterwards, every byte of the
// installation and the registry.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/app.h"
#include "dialog/dialog.h"
#include "discovery/discovery.h"
#include "tests/test_support.h"
#include "tools/driver.h"

namespace
{

// What the update writes as the "Guid" value.
constexpr char kGuid[] = "{7B3D0A52-4E19-4C86-A0F1-93D25E6B8C14}";

// The target files in the order the chain patches them: the menu texts are
// replaced first, then the byte patches run over the other entries in order.
const std::vector<unsigned> kChainTargets = {3,  1,  2,  4,  5,  6,  7,  8,  9,  10, 11, 12,
                                             13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24,
                                             25, 26, 27, 28, 29, 30, 31, 32, 33, 34};
constexpr unsigned kEntryMiss05 = 8;

// ---------------------------------------------------------------------------
// The game's registry key.

struct RegistryValue {
    bool present = false;
    DWORD type = REG_NONE;
    std::string data;
};

// The registry view the updater sees: a 32-bit updater reads HKLM\Software
// through the 32-bit view, which is not the one of a 64-bit test program.
REGSAM UpdaterView()
{
    DWORD type = 0;
    if (!GetBinaryTypeA(DIST_EXE, &type))
        return 0;
    return type == SCS_64BIT_BINARY ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

bool GameKeyExists()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kGameKeyPath, 0, KEY_QUERY_VALUE | UpdaterView(), &key) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

RegistryValue ReadGameValue(const char *name)
{
    RegistryValue value;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kGameKeyPath, 0, KEY_QUERY_VALUE | UpdaterView(), &key) !=
        ERROR_SUCCESS)
        return value;
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        value.data.resize(size);
        if (RegQueryValueExA(key, name, nullptr, &value.type, reinterpret_cast<BYTE *>(&value.data[0]),
                             &size) == ERROR_SUCCESS) {
            value.present = true;
            value.data.resize(size);
        }
    }
    RegCloseKey(key);
    return value;
}

void RemoveGameKey()
{
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kGameKeyPath, UpdaterView(), 0);
}

void WriteGameValue(const char *name, const RegistryValue &value)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kGameKeyPath, 0, nullptr, 0, KEY_SET_VALUE | UpdaterView(),
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (value.present)
        RegSetValueExA(key, name, 0, value.type, reinterpret_cast<const BYTE *>(value.data.data()),
                       static_cast<DWORD>(value.data.size()));
    else
        RegDeleteValueA(key, name);
    RegCloseKey(key);
}

// Sets up the game's key for one test and puts back what was there before.
class GameKeyGuard
{
  public:
    GameKeyGuard() : existed_(GameKeyExists()), path_(ReadGameValue("PATH")), guid_(ReadGameValue("Guid")) {}
    ~GameKeyGuard()
    {
        if (!existed_) {
            RemoveGameKey();
            return;
        }
        WriteGameValue("PATH", path_);
        WriteGameValue("Guid", guid_);
    }
    // "PATH" names directory, as REG_SZ with its terminator; no "Guid".
    void Install(const std::string &directory)
    {
        WriteGameValue("PATH", {true, REG_SZ, directory + '\0'});
        WriteGameValue("Guid", {});
    }
    void Remove() { RemoveGameKey(); }

  private:
    bool existed_;
    RegistryValue path_;
    RegistryValue guid_;
};

// ---------------------------------------------------------------------------
// Files.

// Every file below a directory: path relative to it -> content.
using Tree = std::map<std::string, std::string>;

void CollectTree(const std::string &root, const std::string &relative, Tree &tree)
{
    WIN32_FIND_DATAA found;
    std::string directory = relative.empty() ? root : root + "\\" + relative;
    HANDLE search = FindFirstFileA((directory + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        std::string path = relative.empty() ? name : relative + "\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            CollectTree(root, path, tree);
        else
            tree[path] = ReadFileBytes(root + "\\" + path);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

Tree ReadTree(const std::string &root)
{
    Tree tree;
    CollectTree(root, "", tree);
    return tree;
}

bool IsEmptyDirectory(const std::string &path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    bool empty = true;
    do
        empty = empty && (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return empty;
}

// Every file below root is as expected, and there is no other.
void ExpectTree(const std::string &root, const Tree &expected)
{
    Tree actual = ReadTree(root);
    EXPECT_EQ(actual.size(), expected.size()) << "files were added or removed";
    for (const auto &file : expected) {
        auto found = actual.find(file.first);
        if (found == actual.end())
            ADD_FAILURE() << file.first << " is missing";
        else
            EXPECT_TRUE(found->second == file.second) << file.first << " differs";
    }
}

FILETIME FileTimeOf(WORD year, WORD minute)
{
    SYSTEMTIME system = {};
    system.wYear = year;
    system.wMonth = 3;
    system.wDay = 14;
    system.wHour = 15;
    system.wMinute = minute;
    FILETIME time;
    SystemTimeToFileTime(&system, &time);
    return time;
}

uint64_t LastWriteTime(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
           data.ftLastWriteTime.dwLowDateTime;
}

uint64_t AsNumber(const FILETIME &time)
{
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

std::string Pseudorandom(size_t size, uint32_t seed)
{
    std::string bytes(size, '\0');
    uint32_t state = seed * 2654435761u + 1;
    for (char &byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

std::vector<std::string> SplitLines(const std::string &log)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(log.substr(start));
            break;
        }
        lines.push_back(log.substr(start, end + 2 - start));
        start = end + 2;
    }
    return lines;
}

bool StartsWith(const std::string &text, const std::string &prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// ---------------------------------------------------------------------------
// A sample installation: every target file with deterministic content, and
// saved games in save\, each with old time stamps.

// The saved-game rule: where "Procesor" stands in two consecutive 9-byte
// fields, the first becomes "CPU".
const std::string kTwoFields("Procesor\0Procesor\0", 18);
const std::string kRewritten("CPU\0\0\0\0\0\0Procesor\0", 18);

class Installation
{
  public:
    // The directory has a space and Polish letters: it must reach the boxes
    // and the log byte for byte. `relative` is where it lies in a fresh
    // temporary directory, made under `parent` if one is given.
    explicit Installation(unsigned saveCount, const std::string &relative = "Gry Łódź\\Vendrake II PL",
                          const std::string &parent = "")
        : temp_(parent), directory_(temp_ / relative)
    {
        for (unsigned entry = 1; entry < kEntrySaveWildcard; ++entry) {
            // The menu texts are longer than their replacement, so a replacement
            // that only overwrites the start shows.
            size_t size = entry == kEntryMenuText ? 100000 : 64 * 1024;
            original_[kRelativeTargetPaths[entry]] = Pseudorandom(size, entry);
        }
        for (const auto &file : original_) {
            std::string path = directory_ + "\\" + file.first;
            MakeDirectories(path.substr(0, path.rfind('\\')));
            WriteFileBytes(path, file.second);
        }
        for (unsigned i = 0; i < saveCount; ++i) {
            char name[32];
            snprintf(name, sizeof name, "gra%03u.SAV", i);
            AddSavedGame(name);
        }
    }

    // A saved game in "save"; its time stamps are set where the name allows.
    void AddSavedGame(const std::string &name)
    {
        const std::string relative = "save\\" + name;
        MakeSavedGame(relative, static_cast<unsigned>(updatedSaves_.size()));
        MakeDirectories(Path("save"));
        WriteFileBytes(Path(relative), original_[relative]);
        HANDLE file = CreateFileA(Path(relative).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0,
                                  nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            FILETIME creation = FileTimeOf(2001, 1), access = FileTimeOf(2002, 2), write = FileTimeOf(2003, 3);
            SetFileTime(file, &creation, &access, &write);
            CloseHandle(file);
        }
        // The order in which the file system delivers the saved games, the
        // order the updater takes them in.
        saveOrder_.clear();
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((directory_ + "\\save\\*.SAV").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do
                saveOrder_.push_back(std::string("save\\") + found.cFileName);
            while (FindNextFileA(search, &found));
            FindClose(search);
        }
    }
    // A saved game that the updater is not to take: the expectations keep it
    // as it is and give it no log line.
    void LeaveOut(const std::string &relative)
    {
        saveOrder_.erase(std::remove(saveOrder_.begin(), saveOrder_.end(), relative), saveOrder_.end());
    }

    const std::string &Directory() const { return directory_; }
    std::string Path(const std::string &relative) const { return directory_ + "\\" + relative; }
    std::string TargetPath(unsigned entry) const { return Path(kRelativeTargetPaths[entry]); }
    const Tree &Original() const { return original_; }
    // Relative names of the saved games in enumeration order.
    const std::vector<std::string> &SaveOrder() const { return saveOrder_; }
    const std::string &UpdatedSave(const std::string &relative) const { return updatedSaves_.at(relative); }

    // The installation after the first `steps` steps of the chain and the
    // first `saves` saved games.
    Tree Expected(unsigned steps, unsigned saves) const
    {
        Tree tree = original_;
        std::string menuText = ReadFileBytes(MENU_TEXT);
        unsigned table = 0;
        for (unsigned i = 0; i < kUpdateStepCount; ++i) {
            const UpdateStep &step = kUpdateSteps[i];
            if (i < steps && step.operation == StepOperation::ExtractChunk)
                tree[kRelativeTargetPaths[step.target]] = menuText;
            if (step.operation != StepOperation::BytePatches)
                continue;
            if (i < steps) {
                std::string &bytes = tree[kRelativeTargetPaths[step.target]];
                for (unsigned r = 0; r < step.recordCount; ++r) {
                    const BytePatch &record = kBytePatchTables[table][r];
                    if (record.offset >= bytes.size())
                        bytes.resize(record.offset + 1, '\0');
                    bytes[record.offset] = static_cast<char>(record.value);
                }
            }
            ++table;
        }
        for (unsigned i = 0; i < saves && i < saveOrder_.size(); ++i)
            tree[saveOrder_[i]] = updatedSaves_.at(saveOrder_[i]);
        return tree;
    }

    // The log after `steps` completed steps of the chain and `saves` saved
    // games, each line as the updater writes it.
    std::string ExpectedLog(unsigned steps, unsigned saves) const
    {
        std::string log;
        if (steps > 0)
            log += std::string(kLogRegistry) + kLogOk;
        for (unsigned i = 1; i < steps && i <= kChainTargets.size(); ++i)
            log += FileLine(TargetPath(kChainTargets[i - 1])) + kLogOk;
        for (unsigned i = 0; i < saves && i < saveOrder_.size(); ++i)
            log += FileLine(Path(saveOrder_[i])) + kLogOk;
        return log;
    }
    static std::string FileLine(const std::string &path) { return kLogFileOpen + path + kLogFileClose; }

  private:
    // A saved game of three blocks and a bit: the two-field "Procesor" at the
    // start, across the first 4,096-byte boundary and twice back to back, and
    // two near misses that stay as they are. The filler is lower case, so it
    // can't form a match by itself.
    void MakeSavedGame(const std::string &relative, unsigned index)
    {
        std::string original(3 * 4096 + 500, '\0');
        for (size_t i = 0; i < original.size(); ++i)
            original[i] = static_cast<char>('a' + (i * 7 + index) % 26);
        std::string updated = original;
        auto put = [&](size_t offset, const std::string &before, const std::string &after) {
            original.replace(offset, before.size(), before);
            updated.replace(offset, after.size(), after);
        };
        put(64, kTwoFields, kRewritten);
        put(4096 - 7, kTwoFields, kRewritten);
        put(8192 + 100, kTwoFields, kRewritten);
        put(8192 + 118, kTwoFields, kRewritten);
        const std::string nearMiss("Procesor\0Procesox\0", 18);
        put(8192 + 400, nearMiss, nearMiss);
        const std::string oneField("Procesor\0", 9);
        put(3 * 4096 + 10, oneField, oneField);
        original_[relative] = original;
        updatedSaves_[relative] = updated;
    }

    TempDir temp_;
    std::string directory_;
    Tree original_;
    std::map<std::string, std::string> updatedSaves_;
    std::vector<std::string> saveOrder_;
};

// ---------------------------------------------------------------------------
// Running the updater.

// The transcript, with when each box and snapshot was seen (ms after the start).
std::string Transcript(const DriverResult &result)
{
    std::string text = "transcript:\n";
    for (const std::string &line : result.lines)
        text += "  " + line + "\n";
    text += "times:";
    for (const BoxRecord &box : result.boxes)
        text += " box@" + std::to_string(box.milliseconds);
    for (const DialogSnapshot &snapshot : result.snapshots)
        text += " snapshot@" + std::to_string(snapshot.milliseconds);
    text += "\n";
    if (!result.error.empty())
        text += "driver: " + result.error + "\n";
    return text;
}

DriverResult RunUpdater(const std::vector<std::string> &answers, const std::vector<std::string> &actions,
                        const std::string &arguments = "", const std::string &exe = DIST_EXE,
                        std::function<void(const BoxRecord &)> beforeAnswer = {})
{
    // The updater starts in an empty folder of its own, which must stay empty:
    // it writes nothing outside the installation, not even where it starts.
    TempDir start;
    DriverOptions options;
    options.beforeAnswer = std::move(beforeAnswer);
    options.workingDirectory = start.Path();
    options.exe = exe;
    options.arguments = arguments;
    options.answers = answers;
    options.actions = actions;
    options.timeoutSeconds = 600;
    DriverResult result = RunDriver(options);
    EXPECT_TRUE(IsEmptyDirectory(start.Path())) << "the updater wrote into the folder it started in";
    // E2E_TRANSCRIPTS=1 shows every run, also those that pass.
    if (getenv("E2E_TRANSCRIPTS"))
        printf("%s", Transcript(result).c_str());
    return result;
}

std::string ExpectedBoxLine(const std::string &text, const char *buttons, const char *owner,
                            const char *answer)
{
    return "box caption=" + QuoteForTranscript(kCaption) + " text=" + QuoteForTranscript(text) +
           " buttons=" + buttons + " owner=" + owner + " answer=" + answer;
}

void ExpectBox(const BoxRecord &box, const std::string &text, const char *buttons, const char *owner)
{
    EXPECT_EQ(box.caption, kCaption);
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.buttons, buttons);
    EXPECT_EQ(box.owner, owner);
}

// A box shown over the running dialog and owned by it, with the bar at
// `position` when the box came.
void ExpectBoxOverDialog(const BoxRecord &box, const std::string &text, const char *buttons, int position)
{
    ExpectBox(box, text, buttons, "dialog");
    ASSERT_TRUE(box.dialogSeen);
    EXPECT_EQ(box.dialog.position, position);
}

// True when the transcript line of `later` comes right after that of
// `earlier`: nothing was seen between the two snapshots.
bool Follows(const std::vector<std::string> &lines, const DialogSnapshot &earlier,
             const DialogSnapshot &later)
{
    auto first = std::find(lines.begin(), lines.end(), DialogLine(earlier));
    return first != lines.end() && first + 1 != lines.end() && *(first + 1) == DialogLine(later);
}

void ExpectRunningState(const DialogSnapshot &dialog, int saves)
{
    EXPECT_EQ(dialog.title, kCaption);
    EXPECT_EQ(dialog.status, kStatusRunning);
    EXPECT_EQ(dialog.button, kFinishButton);
    EXPECT_FALSE(dialog.buttonEnabled);
    EXPECT_EQ(dialog.rangeLow, 0);
    EXPECT_EQ(dialog.rangeHigh, 35 + saves);
}

// ---------------------------------------------------------------------------

TEST(Transcript, QuotesEveryByteAsAscii)
{
    EXPECT_EQ(QuoteForTranscript("a \"b\" \\ c\r\n\t\x01\x7f"), "\"a \\\"b\\\" \\\\ c\\r\\n\\x09\\x01\x7f\"");
    EXPECT_EQ(QuoteForTranscript(std::string("\0\x80\xf1\xff", 4)), "\"\\x00\\x80\\xF1\\xFF\"");
    EXPECT_EQ(QuoteForTranscript(""), "\"\"");
}

// The confirmation names the directory exactly as the registry holds it, has
// no owner, and No ends the run leaving everything as it was; arguments on the
// command line change nothing.
TEST(StartUp, NoLeavesEverythingAsItWasWithAndWithoutArguments)
{
    GameKeyGuard key;
    Installation installation(2);
    key.Install(installation.Directory());
    const std::string question = Formatted(kConfirmUpdate, installation.Directory());
    const std::vector<std::string> expectedLines = {ExpectedBoxLine(question, "yes,no", "none", "no"),
                                                    "exit 0"};

    DriverResult plain = RunUpdater({"no"}, {"wait-exit"});
    DriverResult withArguments = RunUpdater({"no"}, {"wait-exit"}, "/S --silent \"C:\\Inny katalog\" -y 1");

    for (const DriverResult *result : {&plain, &withArguments}) {
        SCOPED_TRACE(Transcript(*result));
        EXPECT_EQ(result->error, "");
        EXPECT_FALSE(result->timedOut);
        EXPECT_EQ(result->exitCode, 0);
        ASSERT_EQ(result->boxes.size(), 1u);
        ExpectBox(result->boxes[0], question, "yes,no", "none");
        EXPECT_FALSE(result->boxes[0].dialogSeen);
        EXPECT_EQ(result->lines, expectedLines);
    }

    EXPECT_TRUE(ReadTree(installation.Directory()) == installation.Original())
        << "the installation changed after No";
    for (const std::string &save : installation.SaveOrder())
        EXPECT_EQ(LastWriteTime(installation.Path(save)), AsNumber(FileTimeOf(2003, 3))) << save;
    EXPECT_FALSE(ReadGameValue("Guid").present);
    RegistryValue path = ReadGameValue("PATH");
    EXPECT_EQ(path.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(path.data, installation.Directory() + '\0');
}

// Without the game's key, or with a directory that doesn't exist or isn't
// absolute, the run ends with the matching error box (no owner) and exit
// code 0.
TEST(StartUp, DiscoveryFailuresEndWithTheirMessage)
{
    GameKeyGuard key;
    key.Remove();
    DriverResult noKey = RunUpdater({"ok"}, {"wait-exit"});
    {
        SCOPED_TRACE(Transcript(noKey));
        EXPECT_EQ(noKey.error, "");
        EXPECT_EQ(noKey.exitCode, 0);
        ASSERT_EQ(noKey.boxes.size(), 1u);
        ExpectBox(noKey.boxes[0], kNotInstalled, "ok", "none");
        EXPECT_EQ(noKey.lines,
                  (std::vector<std::string>{ExpectedBoxLine(kNotInstalled, "ok", "none", "ok"), "exit 0"}));
        EXPECT_FALSE(GameKeyExists()) << "the key was created";
    }

    // A directory that doesn't exist, and one relative to wherever the
    // updater happens to start: its start folder stays empty.
    TempDir temp;
    for (const std::string &directory : {temp / "Gry Łódź\\Vendrake II PL", std::string(".")}) {
        key.Install(directory);
        DriverResult refused = RunUpdater({"ok"}, {"wait-exit"});
        SCOPED_TRACE(Transcript(refused));
        const std::string message = Formatted(kDirectoryNotFound, directory);
        EXPECT_EQ(refused.error, "");
        EXPECT_EQ(refused.exitCode, 0);
        ASSERT_EQ(refused.boxes.size(), 1u);
        ExpectBox(refused.boxes[0], message, "ok", "none");
        EXPECT_EQ(refused.lines,
                  (std::vector<std::string>{ExpectedBoxLine(message, "ok", "none", "ok"), "exit 0"}));
        EXPECT_FALSE(ReadGameValue("Guid").present);
    }
    EXPECT_TRUE(IsEmptyDirectory(temp.Path()));
}

// Yes opens the dialog centred on the desktop in its running state. The close
// box asks before cancelling: No keeps the dialog, Yes ends the run there. Esc
// does nothing (the finished state is checked by the full update).
//
// Timing: the chain keeps running underneath the question boxes. Measured
// here, a step takes 0.1 to 0.2 s under Wine, so the 200 saved games keep the
// chain running for half a minute or more, while the driver reaches the second
// close box a few seconds after the dialog shows. The first close box's
// question comes before any file step can run (the chain's first message was
// posted before the dialog showed, the close box after), but the assertions
// still follow what the snapshot taken right before each close box shows: an
// update already finished must close without a question.
TEST(ProgressDialog, OpensCentredCloseBoxAsksEscDoesNothing)
{
    constexpr unsigned kSaves = 200;
    GameKeyGuard key;
    Installation installation(kSaves);
    key.Install(installation.Directory());

    DriverResult result =
        RunUpdater({"yes", "no", "yes"}, {"dialog", "close-box", "snapshot", "escape", "sleep:1000",
                                          "snapshot", "close-box", "wait-gone", "wait-exit"});
    SCOPED_TRACE(Transcript(result));
    const std::string fullLog = installation.ExpectedLog(kUpdateStepCount, kSaves);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0);
    ASSERT_GE(result.boxes.size(), 1u);
    ExpectBox(result.boxes[0], Formatted(kConfirmUpdate, installation.Directory()), "yes,no", "none");
    const std::vector<DialogSnapshot> &snapshots = result.snapshots;
    ASSERT_GE(snapshots.size(), 1u) << "no dialog after Yes";

    // Opened: running, centred with truncating division.
    const DialogSnapshot &opened = snapshots[0];
    ExpectRunningState(opened, kSaves);
    EXPECT_TRUE(StartsWith(fullLog, opened.log)) << "log so far: " << opened.log;
    long width = opened.right - opened.left, height = opened.bottom - opened.top;
    EXPECT_GT(width, 0);
    EXPECT_GT(height, 0);
    EXPECT_EQ(opened.left, opened.desktopLeft + ((opened.desktopRight - opened.desktopLeft) - width) / 2);
    EXPECT_EQ(opened.top, opened.desktopTop + ((opened.desktopBottom - opened.desktopTop) - height) / 2);
    ASSERT_EQ(opened.status, kStatusRunning) << "the update finished before the first close box";

    // The first close box: the question, owned by the dialog; the registry
    // step had run already.
    ASSERT_GE(result.boxes.size(), 2u);
    const BoxRecord &firstQuestion = result.boxes[1];
    ExpectBox(firstQuestion, kCancelQuestion, "yes,no", "dialog");
    EXPECT_EQ(firstQuestion.answer, "no");
    ASSERT_TRUE(firstQuestion.dialogSeen);
    EXPECT_TRUE(StartsWith(firstQuestion.dialog.log, std::string(kLogRegistry) + kLogOk));
    EXPECT_TRUE(StartsWith(fullLog, firstQuestion.dialog.log));

    // No: the dialog stays where it was.
    ASSERT_GE(snapshots.size(), 2u) << "No closed the dialog";
    const DialogSnapshot &afterNo = snapshots[1];
    EXPECT_EQ(afterNo.title, kCaption);
    EXPECT_EQ(afterNo.left, opened.left);
    EXPECT_EQ(afterNo.top, opened.top);
    EXPECT_TRUE(StartsWith(fullLog, afterNo.log));

    // Esc, to the control with the focus: nothing shows, the dialog stays.
    ASSERT_GE(snapshots.size(), 3u) << "the dialog closed after Esc (focus on control " << afterNo.focusId
                                    << ")";
    const DialogSnapshot &afterEscape = snapshots[2];
    EXPECT_TRUE(Follows(result.lines, afterNo, afterEscape))
        << "a box came after Esc (focus on control " << afterNo.focusId << ")";
    EXPECT_EQ(afterEscape.title, kCaption);

    std::vector<std::string> saves = installation.SaveOrder();
    unsigned rewritten = 0;
    while (rewritten < saves.size() &&
           ReadFileBytes(installation.Path(saves[rewritten])) == installation.UpdatedSave(saves[rewritten]))
        ++rewritten;

    if (afterEscape.status == kStatusRunning) {
        // The second close box, answered Yes, ends the run where the chain
        // stood: the saved games are rewritten up to some point and not after.
        EXPECT_EQ(result.error, "");
        ASSERT_EQ(result.boxes.size(), 3u);
        ExpectBox(result.boxes[2], kCancelQuestion, "yes,no", "dialog");
        EXPECT_EQ(result.boxes[2].answer, "yes");
        EXPECT_LT(rewritten, saves.size()) << "the chain ran on to the end after Yes";
        for (unsigned i = rewritten; i < saves.size(); ++i)
            EXPECT_EQ(ReadFileBytes(installation.Path(saves[i])), installation.Original().at(saves[i]))
                << saves[i];
    } else {
        // The update finished before the second close box: it closes at once.
        EXPECT_EQ(afterEscape.status, kStatusDone);
        EXPECT_EQ(result.boxes.size(), 2u);
        EXPECT_NE(result.error.find("1 answer(s) left unused"), std::string::npos);
        EXPECT_EQ(rewritten, saves.size());
    }
    EXPECT_EQ(result.lines.back(), "exit 0");
    RegistryValue guid = ReadGameValue("Guid");
    EXPECT_TRUE(guid.present);
    EXPECT_EQ(guid.data, std::string(kGuid) + '\0');
}

// The whole update with three saved games, then Esc (nothing) and the button:
// every step in the log, the bar full, the finished state, and every byte of the installation and
// the registry value as the update leaves them.
TEST(Update, FullUpdateWithThreeSavedGames)
{
    constexpr unsigned kSaves = 3;
    GameKeyGuard key;
    Installation installation(kSaves);
    key.Install(installation.Directory());

    DriverResult result = RunUpdater(
        {"yes"}, {"dialog", "wait-done", "escape", "sleep:1000", "snapshot", "press-finish", "wait-exit"});
    SCOPED_TRACE(Transcript(result));
    EXPECT_EQ(result.error, "");
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0);
    ASSERT_EQ(result.boxes.size(), 1u)
        << "only the confirmation; Esc does nothing, the button closes at once";
    ASSERT_EQ(result.snapshots.size(), 3u) << "the dialog closed after Esc";

    const std::string fullLog = installation.ExpectedLog(kUpdateStepCount, kSaves);
    const DialogSnapshot &opened = result.snapshots[0];
    EXPECT_EQ(opened.title, kCaption);
    EXPECT_EQ(opened.button, kFinishButton);
    EXPECT_EQ(opened.rangeLow, 0);
    EXPECT_EQ(opened.rangeHigh, 38);
    EXPECT_TRUE(StartsWith(fullLog, opened.log)) << "log so far: " << opened.log;
    if (opened.status == kStatusRunning) {
        EXPECT_FALSE(opened.buttonEnabled);
    }

    const DialogSnapshot &done = result.snapshots[1];
    EXPECT_EQ(SplitLines(done.log), SplitLines(fullLog));
    EXPECT_EQ(done.log, fullLog);
    EXPECT_EQ(done.title, kCaption);
    EXPECT_EQ(done.status, kStatusDone);
    EXPECT_EQ(done.button, kFinishButton);
    EXPECT_TRUE(done.buttonEnabled);
    EXPECT_TRUE(done.buttonFocused);
    EXPECT_EQ(done.rangeLow, 0);
    EXPECT_EQ(done.rangeHigh, 38);
    EXPECT_EQ(done.position, 38);
    // Esc in the finished state changed nothing.
    EXPECT_EQ(DialogLine(result.snapshots[2]), DialogLine(done));
    EXPECT_EQ(result.lines.back(), "exit 0");

    RegistryValue guid = ReadGameValue("Guid");
    EXPECT_TRUE(guid.present);
    EXPECT_EQ(guid.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(guid.data.size(), 39u);
    EXPECT_EQ(guid.data, std::string(kGuid) + '\0');

    // Time stamps first: reading a file may move its access time.
    for (const std::string &save : installation.SaveOrder())
        EXPECT_EQ(LastWriteTime(installation.Path(save)), AsNumber(FileTimeOf(2003, 3))) << save;
    ExpectTree(installation.Directory(), installation.Expected(kUpdateStepCount, kSaves));
    EXPECT_TRUE(ReadFileBytes(installation.TargetPath(kEntryMenuText)) == ReadFileBytes(MENU_TEXT));
}

// A target missing in the middle of the chain: its error box, owned by the
// dialog, while the bar stands at the steps done; then the dialog closes with
// no question; the steps before stay done and nothing after is touched.
TEST(Update, MissingTargetStopsTheChain)
{
    constexpr unsigned kSaves = 2;
    GameKeyGuard key;
    Installation installation(kSaves);
    key.Install(installation.Directory());
    const std::string missing = installation.TargetPath(kEntryMiss05);
    ASSERT_TRUE(DeleteFileA(missing.c_str()));
    // Step k of the chain (registry step first) fails; k - 1 steps are done.
    unsigned failing = 0;
    while (kChainTargets[failing] != kEntryMiss05)
        ++failing;
    const unsigned stepsDone = failing + 1;

    DriverResult result = RunUpdater({"yes", "ok"}, {"dialog", "wait-gone", "wait-exit"});
    SCOPED_TRACE(Transcript(result));
    EXPECT_EQ(result.error, "");
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0);
    ASSERT_EQ(result.boxes.size(), 2u) << "no cancel question after the failure";
    const BoxRecord &failure = result.boxes[1];
    ExpectBox(failure, Formatted(kCannotOpen, missing), "ok", "dialog");
    ASSERT_TRUE(failure.dialogSeen);
    ExpectRunningState(failure.dialog, kSaves);
    EXPECT_EQ(failure.dialog.position, static_cast<int>(stepsDone));
    const std::string log = installation.ExpectedLog(stepsDone, 0) + Installation::FileLine(missing);
    EXPECT_EQ(SplitLines(failure.dialog.log), SplitLines(log));
    EXPECT_EQ(result.lines.back(), "exit 0");

    Tree expected = installation.Expected(stepsDone, 0);
    expected.erase(kRelativeTargetPaths[kEntryMiss05]);
    ExpectTree(installation.Directory(), expected);
    EXPECT_EQ(ReadGameValue("Guid").data, std::string(kGuid) + '\0');
}

// Without saved games the bar's range is 35 and it ends full; a second run
// over the updated installation writes the same bytes and succeeds again.
TEST(Update, NoSavedGamesAndASecondRun)
{
    GameKeyGuard key;
    Installation installation(0);
    key.Install(installation.Directory());
    const std::string fullLog = installation.ExpectedLog(kUpdateStepCount, 0);

    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        DriverResult result = RunUpdater({"yes"}, {"dialog", "wait-done", "press-finish", "wait-exit"});
        SCOPED_TRACE(Transcript(result));
        EXPECT_EQ(result.error, "");
        EXPECT_EQ(result.exitCode, 0);
        ASSERT_EQ(result.boxes.size(), 1u);
        ASSERT_EQ(result.snapshots.size(), 2u);
        const DialogSnapshot &done = result.snapshots[1];
        EXPECT_EQ(done.status, kStatusDone);
        EXPECT_EQ(done.rangeHigh, 35);
        EXPECT_EQ(done.position, 35);
        EXPECT_EQ(done.log, fullLog);

        Tree expected = installation.Expected(kUpdateStepCount, 0);
        ExpectTree(installation.Directory(), expected);
    }
}

// A saved game held open by another program (the game still running) can't
// be rewritten: the question whether to go on, owned by the dialog. Yes logs
// " OK", advances the bar and goes on to the end; No stops the update there.
TEST(Update, ALockedSavedGameIsAQuestion)
{
    constexpr unsigned kSaves = 2;
    for (const char *answer : {"yes", "no"}) {
        SCOPED_TRACE(answer);
        GameKeyGuard key;
        Installation installation(kSaves);
        key.Install(installation.Directory());
        const std::string locked = installation.Path(installation.SaveOrder()[0]);
        const std::string question = Formatted(kCannotOpen, locked) + kContinueSuffix;
        const bool yes = std::string(answer) == "yes";

        DriverResult result;
        {
            HeldOpen game(locked);
            // Yes is asked twice: for the contents and for the time stamps.
            result = yes ? RunUpdater({"yes", "yes", "yes"},
                                      {"dialog", "wait-done", "press-finish", "wait-exit"})
                         : RunUpdater({"yes", "no"}, {"dialog", "wait-gone", "wait-exit"});
        }
        SCOPED_TRACE(Transcript(result));
        EXPECT_EQ(result.error, "");
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.lines.back(), "exit 0");
        ASSERT_EQ(result.boxes.size(), yes ? 3u : 2u) << "no cancel question after No";
        for (size_t i = 1; i < result.boxes.size(); ++i) {
            ExpectBoxOverDialog(result.boxes[i], question, "yes,no", static_cast<int>(kUpdateStepCount));
        }

        Tree actual = ReadTree(installation.Directory());
        const std::string &second = installation.SaveOrder()[1];
        EXPECT_TRUE(actual[installation.SaveOrder()[0]] == installation.Original().at(installation.SaveOrder()[0]))
            << "the locked saved game changed";
        if (yes) {
            const DialogSnapshot &done = result.snapshots.back();
            EXPECT_EQ(done.status, kStatusDone);
            EXPECT_EQ(done.position, static_cast<int>(kUpdateStepCount + kSaves));
            EXPECT_EQ(done.log, installation.ExpectedLog(kUpdateStepCount, kSaves));
            EXPECT_TRUE(actual[second] == installation.UpdatedSave(second)) << "the next saved game";
        } else {
            EXPECT_EQ(SplitLines(result.boxes[1].dialog.log),
                      SplitLines(installation.ExpectedLog(kUpdateStepCount, 0) + Installation::FileLine(locked)));
            EXPECT_TRUE(actual[second] == installation.Original().at(second)) << "a later saved game changed";
        }
    }
}

// A game file held open without sharing (the game still running) stops the
// chain at its step like a missing one; the file itself stays as it was.
TEST(Faults, AGameFileHeldOpenStopsTheChain)
{
    GameKeyGuard key;
    Installation installation(1);
    key.Install(installation.Directory());
    const std::string held = installation.TargetPath(kEntryMiss05);
    unsigned failing = 0;
    while (kChainTargets[failing] != kEntryMiss05)
        ++failing;
    const unsigned stepsDone = failing + 1;

    DriverResult result;
    {
        HeldOpen game(held);
        result = RunUpdater({"yes", "ok"}, {"dialog", "wait-gone", "wait-exit"});
    }
    SCOPED_TRACE(Transcript(result));
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.exitCode, 0);
    ASSERT_EQ(result.boxes.size(), 2u) << "no cancel question after the failure";
    ExpectBoxOverDialog(result.boxes[1], Formatted(kCannotOpen, held), "ok", static_cast<int>(stepsDone));

    Tree expected = installation.Expected(stepsDone, 0);
    ExpectTree(installation.Directory(), expected);
}

// An updater without its payload, or with a damaged one (chunk 0's length
// word one too large), reports the read naming itself; the menu-text file and
// everything after it stay as they were.
TEST(Faults, AMissingOrDamagedPayloadLeavesTheMenuTextAlone)
{
    TempDir copies;
    const std::string bare = copies / "bez danych.exe";
    const std::string damaged = copies / "uszkodzony.exe";
    ASSERT_TRUE(CopyFileA(LINKED_EXE, bare.c_str(), FALSE));
    std::string image = ReadFileBytes(DIST_EXE);
    image[image.size() - 4] = static_cast<char>(image[image.size() - 4] + 1);
    WriteFileBytes(damaged, image);

    for (const std::string &exe : {bare, damaged}) {
        SCOPED_TRACE(exe);
        GameKeyGuard key;
        Installation installation(1);
        key.Install(installation.Directory());
        DriverResult result = RunUpdater({"yes", "ok"}, {"dialog", "wait-gone", "wait-exit"}, "", exe);
        SCOPED_TRACE(Transcript(result));
        EXPECT_EQ(result.error, "");
        EXPECT_EQ(result.exitCode, 0);
        ASSERT_EQ(result.boxes.size(), 2u);
        ExpectBoxOverDialog(result.boxes[1], Formatted(kCannotRead, exe), "ok", 1);

        // Only the registry step is done; no temporary file is left.
        Tree expected = installation.Expected(1, 0);
        ExpectTree(installation.Directory(), expected);
        EXPECT_EQ(ReadGameValue("Guid").data, std::string(kGuid) + '\0');
    }
}

// A saved game deleted after it was collected, while the confirmation waits:
// its step asks whether to go on, Yes goes on to the end, and nothing
// brings the file back.
TEST(Faults, ASavedGameThatVanishesIsAQuestion)
{
    GameKeyGuard key;
    Installation installation(2);
    key.Install(installation.Directory());
    const std::string gone = installation.Path(installation.SaveOrder()[0]);

    DriverResult result = RunUpdater({"yes", "yes"}, {"dialog", "wait-done", "press-finish", "wait-exit"}, "",
                                     DIST_EXE, [&](const BoxRecord &) {
                                         // The first box is the confirmation.
                                         DeleteFileA(gone.c_str());
                                     });
    SCOPED_TRACE(Transcript(result));
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.exitCode, 0);
    ASSERT_EQ(result.boxes.size(), 2u);
    ExpectBoxOverDialog(result.boxes[1], Formatted(kCannotOpen, gone) + kContinueSuffix, "yes,no",
                        static_cast<int>(kUpdateStepCount));

    const DialogSnapshot &done = result.snapshots.back();
    EXPECT_EQ(done.status, kStatusDone);
    EXPECT_EQ(done.position, static_cast<int>(kUpdateStepCount + 2));
    EXPECT_EQ(done.log, installation.ExpectedLog(kUpdateStepCount, 2));
    Tree expected = installation.Expected(kUpdateStepCount, 2);
    expected.erase(installation.SaveOrder()[0]);
    ExpectTree(installation.Directory(), expected);
}

// No room left on the disk while the menu-text file is written (the
// installation on a small disk that scripts/test mounts): the write is
// reported naming the file, the chain stops there, the old file stays byte
// for byte, and no temporary file is left beside it.
TEST(Faults, NoRoomForTheMenuText)
{
    const char *disk = getenv("VP_SMALL_DISK");
    if (!disk || !*disk)
        GTEST_SKIP() << "VP_SMALL_DISK names no small disk (scripts/test mounts one)";
    GameKeyGuard key;
    Installation installation(1, "Vendrake II PL", disk);
    key.Install(installation.Directory());
    // Fill the disk up to 40 KiB, half of what the new menu texts need.
    TempDir filler(disk);
    ULARGE_INTEGER available;
    ASSERT_TRUE(GetDiskFreeSpaceExA(installation.Directory().c_str(), &available, nullptr, nullptr));
    ASSERT_GT(available.QuadPart, 40u * 1024);
    WriteFileBytes(filler / "zapełnienie", std::string(available.QuadPart - 40 * 1024, 'z'));
    ASSERT_TRUE(GetDiskFreeSpaceExA(installation.Directory().c_str(), &available, nullptr, nullptr));
    ASSERT_LT(available.QuadPart, ReadFileBytes(MENU_TEXT).size());

    DriverResult result = RunUpdater({"yes", "ok"}, {"dialog", "wait-gone", "wait-exit"});
    SCOPED_TRACE(Transcript(result));
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.exitCode, 0);
    ASSERT_EQ(result.boxes.size(), 2u) << "no cancel question after the failure";
    ExpectBoxOverDialog(result.boxes[1], Formatted(kCannotWrite, installation.TargetPath(kEntryMenuText)), "ok",
                        1);
    ExpectTree(installation.Directory(), installation.Expected(1, 0));
}

// Paths at the 260-character limit: every game file at 259 characters with
// its terminator taking the last place, the menu-text file replaced through
// its temporary file beside it, and a saved game of 259. A saved game whose
// full name reaches 260 is left out after the question at the start, and the
// update goes on to the end without it.
TEST(Faults, PathsAtTheLimit)
{
    size_t longest = 0;
    for (unsigned entry = 1; entry < kEntrySaveWildcard; ++entry)
        longest = std::max(longest, strlen(kRelativeTargetPaths[entry]));
    TempDir probe;
    // Temporary directories are named alike with numbers of one width, so the
    // probe's path is as long as the installation's own.
    const size_t directoryLength = MAX_PATH - 1 - 1 - longest;
    const std::string lead = "Gry Łódź\\";
    const size_t padding = directoryLength - probe.Path().size() - 1 - lead.size();
    Installation installation(1, lead + std::string(padding, 'd'));
    ASSERT_EQ(installation.Directory().size(), directoryLength);
    const size_t saveRoom = MAX_PATH - 1 - installation.Path("save\\").size();
    const std::string fits = std::string(saveRoom - 4, 'f') + ".SAV";
    const std::string tooLong = std::string(saveRoom - 3, 'g') + ".SAV";
    installation.AddSavedGame(fits);
    installation.AddSavedGame(tooLong);
    installation.LeaveOut("save\\" + tooLong);
    ASSERT_EQ(installation.Path("save\\" + fits).size(), static_cast<size_t>(MAX_PATH - 1));
    ASSERT_TRUE(PathExists(installation.Path("save\\" + tooLong)));
    GameKeyGuard key;
    key.Install(installation.Directory());

    DriverResult result = RunUpdater({"yes", "yes"}, {"dialog", "wait-done", "press-finish", "wait-exit"});
    SCOPED_TRACE(Transcript(result));
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.exitCode, 0);
    ASSERT_EQ(result.boxes.size(), 2u);
    ExpectBox(result.boxes[0],
              Formatted(kBadFileName2, installation.Path("save\\"), tooLong) + kContinueSuffix, "yes,no",
              "none");
    EXPECT_EQ(result.boxes[1].text, Formatted(kConfirmUpdate, installation.Directory()));

    const DialogSnapshot &done = result.snapshots.back();
    EXPECT_EQ(done.status, kStatusDone);
    EXPECT_EQ(done.position, static_cast<int>(kUpdateStepCount + 2));
    EXPECT_EQ(done.log, installation.ExpectedLog(kUpdateStepCount, 2));
    ExpectTree(installation.Directory(), installation.Expected(kUpdateStepCount, 2));
}

// An updater signed as the build made it, by an ordinary signer
// (tests/sign_fixture.sh), finds its payload in front of the signature's
// padding and certificate table and does the whole update.
TEST(Faults, ASignedUpdaterDoesTheWholeUpdate)
{
    GameKeyGuard key;
    Installation installation(1);
    key.Install(installation.Directory());
    DriverResult result = RunUpdater({"yes"}, {"dialog", "wait-done", "press-finish", "wait-exit"}, "",
                                     std::string(SIGNED_DIR) + "\\patch.exe");
    SCOPED_TRACE(Transcript(result));
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.boxes.size(), 1u);
    EXPECT_EQ(result.snapshots.back().status, kStatusDone);
    ExpectTree(installation.Directory(), installation.Expected(kUpdateStepCount, 1));
}

// Makes Wine prefer a comctl32.dll from the program's own folder for the
// programs named, as Windows does; undone when the object goes.
class PreferLocalComctl32 {
public:
    explicit PreferLocalComctl32(std::vector<std::string> programs) : programs_(std::move(programs))
    {
        for (const std::string &program : programs_) {
            HKEY key;
            if (RegCreateKeyExA(HKEY_CURRENT_USER, KeyOf(program).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                &key, nullptr) == ERROR_SUCCESS) {
                static const char kNativeFirst[] = "native,builtin";
                RegSetValueExA(key, "comctl32", 0, REG_SZ, reinterpret_cast<const BYTE *>(kNativeFirst),
                               sizeof kNativeFirst);
                RegCloseKey(key);
            }
        }
    }
    ~PreferLocalComctl32()
    {
        for (const std::string &program : programs_) {
            RegDeleteKeyA(HKEY_CURRENT_USER, KeyOf(program).c_str());
            RegDeleteKeyA(HKEY_CURRENT_USER, ("Software\\Wine\\AppDefaults\\" + program).c_str());
        }
    }

private:
    static std::string KeyOf(const std::string &program)
    {
        return "Software\\Wine\\AppDefaults\\" + program + "\\DllOverrides";
    }
    std::vector<std::string> programs_;
};

// A directory where a game file should be stops the chain at that step with
// the open error, like a missing file.
TEST(Faults, ADirectoryWhereAFileShouldBe)
{
    GameKeyGuard key;
    Installation installation(0);
    key.Install(installation.Directory());
    const std::string target = installation.TargetPath(kEntryMiss05);
    ASSERT_TRUE(DeleteFileA(target.c_str()));
    ASSERT_TRUE(CreateDirectoryA(target.c_str(), nullptr));
    unsigned failing = 0;
    while (kChainTargets[failing] != kEntryMiss05)
        ++failing;

    DriverResult result = RunUpdater({"yes", "ok"}, {"dialog", "wait-gone", "wait-exit"});
    SCOPED_TRACE(Transcript(result));
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.exitCode, 0);
    ASSERT_EQ(result.boxes.size(), 2u);
    ExpectBoxOverDialog(result.boxes[1], Formatted(kCannotOpen, target), "ok", static_cast<int>(failing + 1));
    EXPECT_TRUE(IsExistingDirectory(target.c_str()));
}

// "PATH" stored without its terminator works like a normal value; an empty
// one is refused like a missing one, before anything is touched.
TEST(Faults, PathValueWithoutTerminatorOrEmpty)
{
    GameKeyGuard key;
    Installation installation(1);
    key.Install(installation.Directory());
    WriteGameValue("PATH", {true, REG_SZ, installation.Directory()});
    DriverResult unterminated = RunUpdater({"no"}, {"wait-exit"});
    {
        SCOPED_TRACE(Transcript(unterminated));
        EXPECT_EQ(unterminated.error, "");
        ASSERT_EQ(unterminated.boxes.size(), 1u);
        ExpectBox(unterminated.boxes[0], Formatted(kConfirmUpdate, installation.Directory()), "yes,no", "none");
    }

    for (const std::string &empty : {std::string(), std::string(1, '\0')}) {
        WriteGameValue("PATH", {true, REG_SZ, empty});
        DriverResult refused = RunUpdater({"ok"}, {"wait-exit"});
        SCOPED_TRACE(Transcript(refused));
        EXPECT_EQ(refused.error, "");
        EXPECT_EQ(refused.exitCode, 0);
        ASSERT_EQ(refused.boxes.size(), 1u);
        ExpectBox(refused.boxes[0], kNotInstalled, "ok", "none");
    }
    Tree actual = ReadTree(installation.Directory());
    for (const auto &file : installation.Original())
        EXPECT_TRUE(actual[file.first] == file.second) << file.first << " changed";
    EXPECT_FALSE(ReadGameValue("Guid").present);
}

// Runs path in its own folder and waits for it; its exit code, or -1.
int RunAndWait(const std::string &path)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    std::string commandLine = "\"" + path + "\"";
    std::string folder = path.substr(0, path.rfind('\\'));
    if (!CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                        &startup, &process))
        return -1;
    WaitForSingleObject(process.hProcess, 60000);
    DWORD code = static_cast<DWORD>(-1);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

// A comctl32.dll planted beside the updater is never loaded, although the
// loader is set to prefer a library from the program's folder (as Windows
// does); a program that imports comctl32 statically does load it there.
TEST(Faults, APlantedLibraryBesideTheUpdaterIsNotLoaded)
{
    TempDir downloads;
    const std::string mark = downloads / "planted-loaded.txt";
    const std::string updater = downloads / "planted-test.exe";
    ASSERT_TRUE(CopyFileA(PLANTED_DLL, (downloads / "comctl32.dll").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(DIST_EXE, updater.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(STATIC_PROBE, (downloads / "probe.exe").c_str(), FALSE));
    PreferLocalComctl32 preferLocal({"probe.exe", "planted-test.exe"});

    EXPECT_EQ(RunAndWait(downloads / "probe.exe"), 0);
    EXPECT_TRUE(PathExists(mark)) << "the probe did not load the planted library: the check proves nothing";
    DeleteFileA(mark.c_str());

    GameKeyGuard key;
    Installation installation(0);
    key.Install(installation.Directory());
    DriverResult result = RunUpdater({"yes"}, {"dialog", "wait-done", "press-finish", "wait-exit"}, "", updater);
    SCOPED_TRACE(Transcript(result));
    EXPECT_EQ(result.error, "");
    ASSERT_EQ(result.snapshots.size(), 2u);
    EXPECT_EQ(result.snapshots[1].status, kStatusDone) << "the progress bar class is registered";
    EXPECT_FALSE(PathExists(mark)) << "the updater loaded the planted library";
}

} // namespace

// GoogleTest's own printer, except that failures are only printed: the
// printer also hands each failure to OutputDebugStringA, which crashes this
// program under Wine with the 32-bit loader emulated.
class PrinterWithoutDebugOutput : public testing::TestEventListener
{
  public:
    explicit PrinterWithoutDebugOutput(testing::TestEventListener *printer) : printer_(printer) {}
    ~PrinterWithoutDebugOutput() override { delete printer_; }

    void OnTestPartResult(const testing::TestPartResult &result) override
    {
        if (result.type() == testing::TestPartResult::kSuccess)
            return;
        const char *kind = result.type() == testing::TestPartResult::kSkip ? "Skipped" : "Failure";
        printf("%s:%d: %s\n%s\n", result.file_name() ? result.file_name() : "unknown file",
               result.line_number(), kind, result.message());
        fflush(stdout);
    }

    void OnTestProgramStart(const testing::UnitTest &test) override { printer_->OnTestProgramStart(test); }
    void OnTestIterationStart(const testing::UnitTest &test, int i) override
    {
        printer_->OnTestIterationStart(test, i);
    }
    void OnEnvironmentsSetUpStart(const testing::UnitTest &test) override
    {
        printer_->OnEnvironmentsSetUpStart(test);
    }
    void OnEnvironmentsSetUpEnd(const testing::UnitTest &test) override
    {
        printer_->OnEnvironmentsSetUpEnd(test);
    }
    void OnTestSuiteStart(const testing::TestSuite &suite) override { printer_->OnTestSuiteStart(suite); }
    void OnTestCaseStart(const testing::TestCase &suite) override { printer_->OnTestCaseStart(suite); }
    void OnTestStart(const testing::TestInfo &info) override { printer_->OnTestStart(info); }
    void OnTestDisabled(const testing::TestInfo &info) override { printer_->OnTestDisabled(info); }
    void OnTestEnd(const testing::TestInfo &info) override { printer_->OnTestEnd(info); }
    void OnTestSuiteEnd(const testing::TestSuite &suite) override { printer_->OnTestSuiteEnd(suite); }
    void OnTestCaseEnd(const testing::TestCase &suite) override { printer_->OnTestCaseEnd(suite); }
    void OnEnvironmentsTearDownStart(const testing::UnitTest &test) override
    {
        printer_->OnEnvironmentsTearDownStart(test);
    }
    void OnEnvironmentsTearDownEnd(const testing::UnitTest &test) override
    {
        printer_->OnEnvironmentsTearDownEnd(test);
    }
    void OnTestIterationEnd(const testing::UnitTest &test, int i) override
    {
        printer_->OnTestIterationEnd(test, i);
    }
    void OnTestProgramEnd(const testing::UnitTest &test) override { printer_->OnTestProgramEnd(test); }

  private:
    testing::TestEventListener *printer_;
};

// The program ends itself as soon as the results are out: its ordinary
// teardown under the same emulation has been seen to hang for minutes after
// every test had passed, which ctest then reports as a time-out.
int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    testing::TestEventListeners &listeners = testing::UnitTest::GetInstance()->listeners();
    listeners.Append(new PrinterWithoutDebugOutput(listeners.Release(listeners.default_result_printer())));
    int failed = RUN_ALL_TESTS();
    fflush(stdout);
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(failed));
    return failed;
}
