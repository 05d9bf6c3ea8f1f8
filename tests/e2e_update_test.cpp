// End-to-end, whole updates: every step, the finished state, no saved games,
// a second run, a saved game that can't be rewritten.
#include "tests/e2e_support.h"

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

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
// be rewritten, whether it is held without sharing or held for writing with
// every sharing allowed (no one writes beside the rewrite): the question
// whether to go on, owned by the dialog, over a log that ends in that file's
// opening text and a bar at the steps done, although the steps before it took
// less than the log's batching interval (the one before is a saved game's).
// Yes is asked once, leaves the file and its times as they were, ends its
// line in " pominięto", advances the bar and goes on to the end; No stops the
// update there.
TEST(Update, ALockedSavedGameIsAQuestion)
{
    constexpr unsigned kSaves = 2;
    for (const char *answer : {"yes", "no"}) {
        SCOPED_TRACE(answer);
        GameKeyGuard key;
        Installation installation(kSaves);
        key.Install(installation.Directory());
        const std::string &lockedSave = installation.SaveOrder()[1];
        const std::string locked = installation.Path(lockedSave);
        const std::string question = Formatted(kCannotOpen, locked) + kContinueSuffix;
        const bool yes = std::string(answer) == "yes";

        DriverResult result;
        {
            HeldOpen game(locked, yes ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                          yes ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0);
            result = yes ? RunUpdater({"yes", "yes"}, {"dialog", "wait-done", "press-finish", "wait-exit"})
                         : RunUpdater({"yes", "no"}, {"dialog", "wait-gone", "wait-exit"});
        }
        SCOPED_TRACE(Transcript(result));
        EXPECT_EQ(result.error, "");
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.lines.back(), "exit 0");
        ASSERT_EQ(result.boxes.size(), 2u) << "one question, and no cancel question after No";
        ExpectBoxOverDialog(result.boxes[1], question, "yes,no", static_cast<int>(kUpdateStepCount + 1));
        EXPECT_EQ(SplitLines(result.boxes[1].dialog.log),
                  SplitLines(installation.ExpectedLog(kUpdateStepCount, 1) + Installation::FileLine(locked)));

        installation.Skip(lockedSave);
        if (yes) {
            const DialogSnapshot &done = result.snapshots.back();
            EXPECT_EQ(done.status, kStatusDone);
            EXPECT_EQ(done.position, static_cast<int>(kUpdateStepCount + kSaves));
            EXPECT_EQ(done.log, installation.ExpectedLog(kUpdateStepCount, kSaves));
        }
        ExpectTree(installation.Directory(), installation.Expected(kUpdateStepCount, yes ? kSaves : 1));
        EXPECT_EQ(LastWriteTime(locked), AsNumber(FileTimeOf(2003, 3))) << "the locked saved game's time";
    }
}

} // namespace
