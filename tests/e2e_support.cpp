// What the end-to-end tests share; see e2e_support.h.
#include "tests/e2e_support.h"

#include "tests/link_support.h"

#include <shlobj.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

const std::vector<unsigned> &ChainTargets()
{
    static const std::vector<unsigned> targets = {3,  1,  2,  4,  5,  6,  7,  8,  9,  10, 11, 12,
                                                  13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24,
                                                  25, 26, 27, 28, 29, 30, 31, 32, 33, 34};
    return targets;
}

unsigned StepsBefore(unsigned entry)
{
    const std::vector<unsigned> &targets = ChainTargets();
    return 1 + static_cast<unsigned>(std::find(targets.begin(), targets.end(), entry) - targets.begin());
}

// ---------------------------------------------------------------------------
// The game's registry key.

// The registry view the updater sees: a 32-bit updater reads HKLM\Software
// through the 32-bit view, which is not the one of a 64-bit test program.
REGSAM UpdaterView()
{
    DWORD type = 0;
    if (!GetBinaryTypeA(DIST_EXE, &type))
        return 0;
    return type == SCS_64BIT_BINARY ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

GameKeyGuard::GameKeyGuard()
    : existed_(GameKeyExists()), path_(ReadGameValue("PATH")), guid_(ReadGameValue("Guid"))
{
}

GameKeyGuard::~GameKeyGuard()
{
    if (!existed_) {
        Remove();
        return;
    }
    WriteGameValue("PATH", path_);
    WriteGameValue("Guid", guid_);
}

void GameKeyGuard::Install(const std::string &directory)
{
    WriteGameValue("PATH", {true, REG_SZ, directory + '\0'});
    WriteGameValue("Guid", {});
}

void GameKeyGuard::Remove()
{
    DeleteRegistryKey(kGameKeyPath, UpdaterView());
}

// ---------------------------------------------------------------------------
// Files.

namespace {

void CollectTree(const std::string &root, const std::string &relative, Tree &tree)
{
    std::string directory = relative.empty() ? root : root + "\\" + relative;
    for (const ListedEntry &entry : ListEntries(directory + "\\*")) {
        std::string name = Narrowed(entry.name);
        std::string path = relative.empty() ? name : relative + "\\" + name;
        if (entry.IsDirectory())
            CollectTree(root, path, tree);
        else
            tree[path] = ReadFileBytes(root + "\\" + path);
    }
}

} // namespace

Tree ReadTree(const std::string &root)
{
    Tree tree;
    CollectTree(root, "", tree);
    return tree;
}

bool IsEmptyDirectory(const std::string &path)
{
    return PathExists(path) && ListEntries(path + "\\*").empty();
}

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

namespace {

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

} // namespace

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
// A sample installation.

namespace {

// The saved-game rule: where "Procesor" stands in two consecutive 9-byte
// fields, the first becomes "CPU".
const std::string kTwoFields("Procesor\0Procesor\0", 18);
const std::string kRewritten("CPU\0\0\0\0\0\0Procesor\0", 18);

} // namespace

Installation::Installation(unsigned saveCount, const std::string &relative, const std::string &parent)
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
        WriteSavedGame(name);
    }
    ReadSaveOrder();
}

void Installation::AddSavedGame(const std::string &name)
{
    WriteSavedGame(name);
    ReadSaveOrder();
}

void Installation::AddFile(const std::string &relative, const std::string &bytes)
{
    MakeDirectories(Path(relative.substr(0, relative.rfind('\\'))));
    WriteFileBytes(Path(relative), original_[relative] = bytes);
}

void Installation::WriteSavedGame(const std::string &name)
{
    const std::string relative = "save\\" + name;
    MakeSavedGame(relative, static_cast<unsigned>(updatedSaves_.size()));
    MakeDirectories(Path("save"));
    WriteFileBytes(Path(relative), original_[relative]);
    SetFileTimes(Path(relative), kOldTimes);
}

void Installation::ReadSaveOrder()
{
    // The order in which the file system delivers the saved games, the
    // order the updater takes them in.
    saveOrder_.clear();
    for (const std::string &name : ListFiles(directory_ + "\\save\\*.SAV"))
        saveOrder_.push_back("save\\" + name);
}

void Installation::Vanish(const std::string &relative)
{
    Skip(relative);
    original_.erase(relative);
    DeleteFileA(Path(relative).c_str());
}

bool Installation::LinkSavedGame(const std::string &name, const std::string &target, bool hard)
{
    const std::string relative = "save\\" + name;
    if (!(hard ? CreateHardLinkA(Path(relative).c_str(), target.c_str(), nullptr) != 0
               : MakeLink(Path(relative), target, false)))
        return false;
    original_[relative] = updatedSaves_[relative] = ReadFileBytes(target);
    ReadSaveOrder();
    return true;
}

void Installation::LeaveOut(const std::string &relative)
{
    saveOrder_.erase(std::remove(saveOrder_.begin(), saveOrder_.end(), relative), saveOrder_.end());
}

Tree Installation::Expected(unsigned steps, unsigned saves) const
{
    Tree tree = original_;
    std::string menuText = ReadFileBytes(MENU_TEXT);
    for (unsigned i = 0; i < steps && i < kUpdateStepCount; ++i) {
        const UpdateStep &step = kUpdateSteps[i];
        if (step.operation == StepOperation::ExtractChunk)
            tree[kRelativeTargetPaths[step.target]] = menuText;
        if (step.operation != StepOperation::BytePatches)
            continue;
        std::string &bytes = tree[kRelativeTargetPaths[step.target]];
        for (unsigned r = 0; r < step.recordCount; ++r) {
            const BytePatch &record = step.table[r];
            if (record.offset >= bytes.size())
                bytes.resize(record.offset + 1, '\0');
            bytes[record.offset] = static_cast<char>(record.value);
        }
    }
    for (unsigned i = 0; i < saves && i < saveOrder_.size(); ++i)
        if (!Skipped(saveOrder_[i]))
            tree[saveOrder_[i]] = updatedSaves_.at(saveOrder_[i]);
    return tree;
}

std::string Installation::ExpectedLog(unsigned steps, unsigned saves) const
{
    std::string log;
    if (steps > 0)
        log += std::string(kLogRegistry) + kLogOk;
    for (unsigned i = 1; i < steps && i <= ChainTargets().size(); ++i)
        log += FileLine(TargetPath(ChainTargets()[i - 1])) + kLogOk;
    for (unsigned i = 0; i < saves && i < saveOrder_.size(); ++i)
        log += FileLine(Path(saveOrder_[i])) + (Skipped(saveOrder_[i]) ? kLogSkipped : kLogOk);
    return log;
}

// A saved game of some 12 KiB: the two-field "Procesor" at the start, at
// 4,089 and twice back to back, and two near misses that stay as they are.
// The filler is lower case, so it can't form a match by itself.
void Installation::MakeSavedGame(const std::string &relative, unsigned index)
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

VirtualStoreMirror::VirtualStoreMirror(const std::string &gameDirectory, const std::string &linkedTo)
{
    wchar_t local[MAX_PATH] = L"";
    EXPECT_TRUE(
        SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, local)));
    store_ = Narrowed(local) + "\\VirtualStore";
    storeExisted_ = PathExists(store_);
    directory_ = store_ + gameDirectory.substr(2);
    if (linkedTo.empty()) {
        MakeDirectories(directory_);
        return;
    }
    MakeDirectories(directory_.substr(0, directory_.rfind('\\')));
    EXPECT_TRUE(MakeLink(directory_, linkedTo, true)) << directory_;
}

VirtualStoreMirror::~VirtualStoreMirror()
{
    RemoveTree(storeExisted_ ? directory_ : store_);
}

// ---------------------------------------------------------------------------
// Running the updater.

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
    if (result.longestSilence)
        text += " longest-silence=" + std::to_string(result.longestSilence) + "ms";
    text += "\n";
    if (!result.error.empty())
        text += "driver: " + result.error + "\n";
    return text;
}

const std::vector<std::string> kToTheEnd = {"dialog", "wait-done", "press-finish", "wait-exit"};
const std::vector<std::string> kUntilClosed = {"dialog", "wait-gone", "wait-exit"};

DriverResult RunUpdater(const std::vector<std::string> &answers, const std::vector<std::string> &actions,
                        const RunOptions &run)
{
    // The updater starts in an empty folder of its own, which must stay empty:
    // it writes nothing outside the installation, not even where it starts.
    TempDir start;
    DriverOptions options;
    options.beforeAnswer = run.beforeAnswer;
    options.workingDirectory = start.Path();
    options.exe = run.exe;
    options.wideExe = run.wideExe;
    options.arguments = run.arguments;
    options.wide = run.wide;
    options.answers = answers;
    options.actions = actions;
    // A run takes well under a minute; one that doesn't end (an update that
    // finished where it should have failed waits for its button) is killed
    // after three minutes. VP_E2E_RUN_SECONDS gives an emulated run more time.
    const char *limit = getenv("VP_E2E_RUN_SECONDS");
    options.timeoutSeconds = limit ? static_cast<unsigned>(strtoul(limit, nullptr, 10)) : 180;
    DriverResult result = RunDriver(options);
    EXPECT_TRUE(IsEmptyDirectory(start.Path())) << "the updater wrote into the folder it started in";
    // E2E_TRANSCRIPTS=1 shows every run, also those that pass.
    if (getenv("E2E_TRANSCRIPTS"))
        printf("%s", Transcript(result).c_str());
    return result;
}

DriverResult RunScripted(const std::vector<std::string> &answers, const std::vector<std::string> &actions,
                         const RunOptions &options)
{
    DriverResult result = RunUpdater(answers, actions, options);
    EXPECT_EQ(result.error, "") << Transcript(result);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.lines.empty() ? "" : result.lines.back(), "exit 0");
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

void ExpectRefusedAtStart(const DriverResult &result, const std::string &message)
{
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.exitCode, 0);
    ASSERT_EQ(result.boxes.size(), 1u);
    ExpectBox(result.boxes[0], message, "ok", "none");
    EXPECT_EQ(result.lines,
              (std::vector<std::string>{ExpectedBoxLine(message, "ok", "none", "ok"), "exit 0"}));
}

void ExpectBoxOverDialog(const BoxRecord &box, const std::string &text, const char *buttons, int position)
{
    ExpectBox(box, text, buttons, "dialog");
    ASSERT_TRUE(box.dialogSeen);
    EXPECT_EQ(box.dialog.position, position);
}

bool Follows(const DialogSnapshot &earlier, const DialogSnapshot &later)
{
    return later.line == earlier.line + 1;
}

void ExpectCompletedUpdate(const DriverResult &result, const Installation &installation)
{
    const unsigned saves = static_cast<unsigned>(installation.SaveOrder().size());
    ASSERT_FALSE(result.snapshots.empty());
    const DialogSnapshot &done = result.snapshots.back();
    EXPECT_EQ(done.title, kCaption);
    EXPECT_EQ(done.status, kStatusDone);
    EXPECT_EQ(done.button, kFinishButton);
    EXPECT_TRUE(done.buttonEnabled);
    EXPECT_EQ(done.rangeLow, 0);
    EXPECT_EQ(done.rangeHigh, static_cast<int>(kUpdateStepCount + saves));
    EXPECT_EQ(done.position, static_cast<int>(kUpdateStepCount + saves));
    EXPECT_EQ(SplitLines(done.log), SplitLines(installation.ExpectedLog(kUpdateStepCount, saves)));
    EXPECT_EQ(ReadGameValue("Guid").data, std::string(kGuid) + '\0');
    ExpectTree(installation.Directory(), installation.Expected(kUpdateStepCount, saves));
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
