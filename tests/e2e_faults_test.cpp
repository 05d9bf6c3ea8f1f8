// End-to-end, what goes wrong: game files that can't be opened, a full disk,
// saved games that vanish, paths at the limit, signed releases, odd registry
// values and a planted library.
#include "tests/e2e_support.h"

#include "tests/link_support.h"

#include <string.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

// Runs path with arguments in its own folder and waits for it; its exit
// code, or -1.
int RunAndWait(const std::string &path, const std::string &arguments = "")
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    std::string commandLine = "\"" + path + "\"" + arguments;
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

// A saved game deleted after it was collected, while the confirmation waits:
// its step asks whether to go on, Yes ends its line in " pominięto" and goes
// on to the end, and nothing brings the file back.
TEST(Faults, ASavedGameThatVanishesIsAQuestion)
{
    InstalledGame game(2);
    const std::string gone = game.SaveOrder()[0];
    RunOptions options;
    // The first box is the confirmation.
    options.beforeAnswer = [&](const BoxRecord &) { game.Vanish(gone); };
    DriverResult result = RunScripted({"yes", "yes"}, kToTheEnd, options);
    SCOPED_TRACE(Transcript(result));
    ASSERT_EQ(result.boxes.size(), 2u);
    ExpectBoxOverDialog(result.boxes[1], Formatted(kCannotOpen, game.Path(gone)) + kContinueSuffix, "yes,no",
                        static_cast<int>(kUpdateStepCount));
    ExpectCompletedUpdate(result, game);
}

// No room left on the disk while the menu-text file is written (the
// installation on a small disk that scripts/test mounts): room for its 20
// whole blocks but not for the last part, which the stream writes only as it
// is closed. The write is reported naming the file, the chain stops there,
// the old file stays byte for byte, and no temporary file is left beside it.
TEST(Faults, NoRoomForTheMenuText)
{
    if (SmallDisk().empty())
        GTEST_SKIP() << "VP_SMALL_DISK names no small disk (scripts/test mounts one)";
    InstalledGame installation(1, "Vendrake II PL", SmallDisk());
    ASSERT_EQ(20u, ReadFileBytes(MENU_TEXT).size() / 4096);
    TempDir filler(SmallDisk());
    DiskFiller full(filler.Path(), 20 * 4096);

    DriverResult result = RunScripted({"yes", "ok"}, kUntilClosed);
    SCOPED_TRACE(Transcript(result));
    ASSERT_EQ(result.boxes.size(), 2u) << "no cancel question after the failure";
    ExpectBoxOverDialog(result.boxes[1], Formatted(kCannotWrite, installation.TargetPath(kEntryMenuText)),
                        "ok", 1);
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
    InstalledGame installation(1, lead + std::string(padding, 'd'));
    ASSERT_EQ(installation.Directory().size(), directoryLength);
    const size_t saveRoom = MAX_PATH - 1 - installation.Path("save\\").size();
    const std::string fits = std::string(saveRoom - 4, 'f') + ".SAV";
    const std::string tooLong = std::string(saveRoom - 3, 'g') + ".SAV";
    installation.AddSavedGame(fits);
    installation.AddSavedGame(tooLong);
    installation.LeaveOut("save\\" + tooLong);
    ASSERT_EQ(installation.Path("save\\" + fits).size(), static_cast<size_t>(MAX_PATH - 1));
    ASSERT_TRUE(PathExists(installation.Path("save\\" + tooLong)));

    DriverResult result = RunScripted({"yes", "yes"}, kToTheEnd);
    SCOPED_TRACE(Transcript(result));
    ASSERT_EQ(result.boxes.size(), 2u);
    ExpectBox(result.boxes[0],
              Formatted(kBadFileName2, installation.Path("save\\"), tooLong) + kContinueSuffix, "yes,no",
              "none");
    EXPECT_EQ(result.boxes[1].text, Formatted(kConfirmUpdate, installation.Directory()));
    ExpectCompletedUpdate(result, installation);
}

// An updater elsewhere does the whole update: one signed as the build made
// it, by an ordinary signer (tests/sign_fixture.sh), which finds its payload
// in front of the signature's padding and certificate table; one in a
// downloads folder whose name the ANSI code page lacks, which opens itself by
// its UTF-16 name; and one that is swapped while its question stands for
// another updater carrying other menu texts, by a rename through Windows or
// on Wine's Unix side, which reads its payload from the file that was started
// all the same.
TEST(Faults, AnUpdaterElsewhereDoesTheWholeUpdate)
{
    TempDir downloads;
    const std::wstring folder =
        Widened(downloads.Path()) + L"\\\u0417\u0430\u0433\u0440\u0443\u0437\u043a\u0438";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring inFolder = folder + L"\\patch.exe";
    ASSERT_TRUE(CopyFileW(Widened(DIST_EXE).c_str(), inFolder.c_str(), FALSE));
    const std::string release = ReadFileBytes(DIST_EXE), swapped = downloads / "patch.exe",
                      other = downloads / "inny.exe";
    uint32_t length = 0;
    memcpy(&length, &release[release.size() - 4], 4);
    const std::string otherRelease =
        release.substr(0, release.size() - 4 - length) + "inne" + std::string("\4\0\0\0", 4);
    enum Swap { kNone, kWindowsRename, kUnixRename };
    const struct {
        const char *what;
        std::string exe;
        std::wstring wideExe;
        Swap swap;
    } cases[] = {{"signed", std::string(SIGNED_DIR) + "\\patch.exe", L"", kNone},
                 {"in a folder named outside the code page", "", inFolder, kNone},
                 {"renamed, another put in its place", swapped, L"", kWindowsRename},
                 {"replaced on the Unix side", swapped, L"", kUnixRename}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.swap == kUnixRename && !UnderWine())
            continue;
        InstalledGame installation(1);
        RunOptions options;
        options.exe = c.exe;
        options.wideExe = c.wideExe;
        if (c.swap != kNone) {
            ASSERT_TRUE(CopyFileA(DIST_EXE, swapped.c_str(), FALSE));
            WriteFileBytes(other, otherRelease);
            // The first box is the confirmation.
            options.beforeAnswer = [&](const BoxRecord &) {
                if (c.swap == kUnixRename) {
                    EXPECT_TRUE(RenameOnUnixSide(other, swapped));
                } else if (MoveFileExA(swapped.c_str(), (swapped + ".stary").c_str(), 0)) {
                    EXPECT_TRUE(MoveFileExA(other.c_str(), swapped.c_str(), 0));
                }
            };
        }
        DriverResult result = RunScripted({"yes"}, kToTheEnd, options);
        SCOPED_TRACE(Transcript(result));
        EXPECT_EQ(result.boxes.size(), 1u);
        ExpectCompletedUpdate(result, installation);
    }
}

// "PATH" stored raw, without the terminator that the Win32 calls would add,
// works like a normal value.
TEST(Faults, APathValueWithoutTerminator)
{
    InstalledGame installation(1);
    ASSERT_TRUE(StoreWideString(HKEY_LOCAL_MACHINE, kGameKeyPath, UpdaterView(), "PATH",
                                Widened(installation.Directory())));
    DriverResult result = RunScripted({"no"}, {"wait-exit"});
    SCOPED_TRACE(Transcript(result));
    ASSERT_EQ(result.boxes.size(), 1u);
    ExpectBox(result.boxes[0], Formatted(kConfirmUpdate, installation.Directory()), "yes,no", "none");
    ExpectTree(installation.Directory(), installation.Original());
}

// A comctl32.dll planted beside the updater is never loaded, although the
// loader is set to prefer a library from the program's folder (as Windows
// does); a program that imports comctl32 statically does load it there, and
// so does one that loads it by name, unless it first restricts the search as
// the updater does at its start. Nor is a uxtheme.dll, which comctl32 of
// version 6 (taken from Windows' side-by-side store) loads by name.
TEST(Faults, APlantedLibraryBesideTheUpdaterIsNotLoaded)
{
    TempDir downloads;
    const std::string mark = downloads / "planted-loaded.txt";
    const std::string updater = downloads / "planted-test.exe";
    ASSERT_TRUE(CopyFileA(PLANTED_DLL, (downloads / "comctl32.dll").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(PLANTED_DLL, (downloads / "uxtheme.dll").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(DIST_EXE, updater.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(STATIC_PROBE, (downloads / "probe.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(LOAD_PROBE, (downloads / "load.exe").c_str(), FALSE));
    // Wine is made to prefer the libraries from a program's own folder, as
    // Windows does.
    const std::string overrides = "Software\\Wine\\AppDefaults\\";
    for (const char *program : {"probe.exe", "load.exe", "planted-test.exe"})
        for (const char *library : {"comctl32", "uxtheme"})
            WriteRegistryValue((overrides + program + "\\DllOverrides").c_str(), library,
                               {true, REG_SZ, std::string("native,builtin") + '\0'}, 0, HKEY_CURRENT_USER);

    EXPECT_EQ(RunAndWait(downloads / "probe.exe"), 0);
    EXPECT_TRUE(PathExists(mark)) << "the probe did not load the planted library: the check proves nothing";
    DeleteFileA(mark.c_str());
    EXPECT_EQ(RunAndWait(downloads / "load.exe"), 0);
    EXPECT_TRUE(PathExists(mark))
        << "loaded by name, the planted library was not found: the check proves nothing";
    DeleteFileA(mark.c_str());
    EXPECT_EQ(RunAndWait(downloads / "load.exe", " --restricted"), 0);
    EXPECT_FALSE(PathExists(mark)) << "after the search is restricted, the planted library was loaded";

    InstalledGame installation(0);
    RunOptions options;
    options.exe = updater;
    DriverResult result = RunScripted({"yes"}, kToTheEnd, options);
    SCOPED_TRACE(Transcript(result));
    // The progress bar class is registered.
    ExpectCompletedUpdate(result, installation);
    EXPECT_FALSE(PathExists(mark)) << "the updater loaded the planted library";
    for (const char *program : {"probe.exe", "load.exe", "planted-test.exe"}) {
        DeleteRegistryKey((overrides + program + "\\DllOverrides").c_str(), 0, HKEY_CURRENT_USER);
        DeleteRegistryKey((overrides + program).c_str(), 0, HKEY_CURRENT_USER);
    }
}

// A game file that can't be opened for update stops the chain at its step:
// its error box, owned by the dialog, while the bar stands at the steps done;
// then the dialog closes with no question; the steps before stay done, the
// file itself and everything after it are untouched. A link to a file
// outside the game folder is such a file, and what it names stays as it was.
// A game file another program holds so that its step couldn't open it (the
// game still running), the menu-text file among them, is said at the start,
// before the question, and nothing changes; one held for reading and writing
// with both shared is no trouble.
TEST(Faults, AGameFileThatCannotBeOpenedStopsTheChain)
{
    enum Cause { kMissing, kHeldOpen, kHeldForReading, kHeldSharing, kMenuTextHeld, kDirectory, kLinkOut };
    const struct {
        const char *what;
        Cause cause;
    } cases[] = {{"missing", kMissing},
                 {"held open without sharing", kHeldOpen},
                 {"held for reading, sharing reading", kHeldForReading},
                 {"held for reading and writing, sharing both", kHeldSharing},
                 {"the menu-text file held", kMenuTextHeld},
                 {"a directory", kDirectory},
                 {"a link to a file outside", kLinkOut}};
    constexpr unsigned kSaves = 2;
    const unsigned stepsDone = StepsBefore(kEntryMiss05);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TempDir outside; // outlives the link to it
        InstalledGame installation(kSaves);
        const std::string target =
            installation.TargetPath(c.cause == kMenuTextHeld ? kEntryMenuText : kEntryMiss05);
        Tree expected = installation.Expected(stepsDone, 0);
        if (c.cause == kMissing || c.cause == kDirectory) {
            ASSERT_TRUE(DeleteFileA(target.c_str()));
            expected.erase(kRelativeTargetPaths[kEntryMiss05]);
        }
        if (c.cause == kDirectory) {
            ASSERT_TRUE(CreateDirectoryA(target.c_str(), nullptr));
        }
        const std::string outsideFile = outside / "miss05.lvl";
        if (c.cause == kLinkOut) {
            WriteFileBytes(outsideFile, installation.Original().at(kRelativeTargetPaths[kEntryMiss05]));
            ASSERT_TRUE(DeleteFileA(target.c_str()));
            ASSERT_TRUE(MakeLink(target, outsideFile, false));
        }

        const DWORD access[] = {0, GENERIC_READ, GENERIC_READ, GENERIC_READ | GENERIC_WRITE, GENERIC_READ};
        const DWORD sharing[] = {0, 0, FILE_SHARE_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0};
        std::unique_ptr<HeldOpen> game(c.cause >= kHeldOpen && c.cause <= kMenuTextHeld
                                           ? new HeldOpen(target, access[c.cause], sharing[c.cause])
                                           : nullptr);
        if (c.cause == kHeldSharing) {
            DriverResult result = RunScripted({"yes"}, kToTheEnd);
            SCOPED_TRACE(Transcript(result));
            ExpectCompletedUpdate(result, installation);
            continue;
        }
        if (c.cause != kMissing && c.cause < kDirectory) {
            DriverResult result = RunUpdater({"ok"}, {"wait-exit"});
            game.reset();
            SCOPED_TRACE(Transcript(result));
            ExpectRefusedAtStart(result, Formatted(kFileInUse, target));
            ExpectTree(installation.Directory(), installation.Original());
            EXPECT_FALSE(ReadGameValue("Guid").present);
            continue;
        }
        DriverResult result = RunScripted({"yes", "ok"}, kUntilClosed);
        game.reset();
        SCOPED_TRACE(Transcript(result));
        ASSERT_EQ(result.boxes.size(), 2u) << "no cancel question after the failure";
        ExpectBoxOverDialog(result.boxes[1], Formatted(kCannotOpen, target), "ok",
                            static_cast<int>(stepsDone));
        ExpectRunningState(result.boxes[1].dialog, kSaves);
        EXPECT_EQ(SplitLines(result.boxes[1].dialog.log),
                  SplitLines(installation.ExpectedLog(stepsDone, 0) + Installation::FileLine(target)));
        ExpectTree(installation.Directory(), expected);
        EXPECT_EQ(c.cause == kDirectory, IsExistingDirectory(target.c_str()) != 0);
        if (c.cause == kLinkOut) {
            EXPECT_TRUE(ReadFileBytes(outsideFile) ==
                        installation.Original().at(kRelativeTargetPaths[kEntryMiss05]));
        }
        EXPECT_EQ(ReadGameValue("Guid").data, std::string(kGuid) + '\0');
    }
}

} // namespace

namespace {

// A game folder reached through a junction that a standard user made is
// refused, saying why, before the question, where Windows has its
// redirection guard (Windows only): the updater turns the guard on, and the
// guard follows no junction a non-administrator made. Without the guard, as
// for this test, the junction leads to the game.
TEST(Faults, AGameFolderBehindAStandardUsersJunctionIsRefused)
{
    if (UnderWine())
        GTEST_SKIP() << "skipped: Wine makes no junctions and has no redirection guard (checked on Windows)";
    if (!HasRedirectionGuard())
        GTEST_SKIP() << "skipped: this Windows has no redirection guard (Windows 10 22H2, 11)";
    InstalledGame installation(1);
    TempDir links;
    const std::string link = links / "gra";
    wchar_t full[MAX_PATH];
    ASSERT_TRUE(GetFullPathNameW(Widened(installation.Directory()).c_str(), MAX_PATH, full, nullptr));
    ASSERT_TRUE(MakeJunctionAsStandardUser(Widened(link), L"\\??\\" + std::wstring(full)))
        << "no junction could be made under a standard user's token (error " << GetLastError() << ")";
    ASSERT_TRUE(PathExists(link + "\\Contents\\M_TITLE.PAK")) << "the junction leads nowhere";
    WriteGameValue("PATH", {true, REG_SZ, link + '\0'});

    DriverResult result = RunUpdater({"ok"}, {"wait-exit"});
    SCOPED_TRACE(Transcript(result));
    ExpectRefusedAtStart(result, Formatted(kJunctionUntrusted, link));
    ExpectTree(installation.Directory(), installation.Original());
    EXPECT_FALSE(ReadGameValue("Guid").present);
}

} // namespace
