// End-to-end, whole updates: every step, the finished state, no saved games,
// a second run, a saved game that can't be rewritten, the copies in the
// VirtualStore, and a saved game of several GiB (also closed meanwhile).
#include "tests/e2e_support.h"

#include "tests/link_support.h"

#include <string.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

// The whole update with three saved games, then Esc (nothing) and the button:
// every step in the log, the bar full, the finished state, and every byte of
// the installation, the saved games' times and the registry value as the
// update leaves them. (The running state is the dialog test's: three saved
// games take less than the driver needs to see it.)
TEST(Update, FullUpdateWithThreeSavedGames)
{
    InstalledGame game(3);
    DriverResult result = RunScripted(
        {"yes"}, {"dialog", "wait-done", "escape", "sleep:1000", "snapshot", "press-finish", "wait-exit"});
    SCOPED_TRACE(Transcript(result));
    ASSERT_EQ(result.boxes.size(), 1u)
        << "only the confirmation; Esc does nothing, the button closes at once";
    ASSERT_EQ(result.snapshots.size(), 3u) << "the dialog closed after Esc";
    EXPECT_TRUE(result.snapshots[1].buttonFocused);
    // Esc in the finished state changed nothing.
    EXPECT_EQ(DialogLine(result.snapshots[2]), DialogLine(result.snapshots[1]));
    EXPECT_EQ(ReadGameValue("Guid").type, static_cast<DWORD>(REG_SZ));

    // Time stamps first: reading a file may move its access time.
    for (const std::string &save : game.SaveOrder())
        EXPECT_EQ(Ticks(GetFileTimes(game.Path(save)).write), Ticks(kOldTimes.write)) << save;
    ExpectCompletedUpdate(result, game);
    EXPECT_TRUE(ReadFileBytes(game.TargetPath(kEntryMenuText)) == ReadFileBytes(MENU_TEXT));
}

// Without saved games the bar's range is 35 and it ends full; a second run
// over the updated installation writes the same bytes and succeeds again.
TEST(Update, NoSavedGamesAndASecondRun)
{
    InstalledGame game(0);
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        DriverResult result = RunScripted({"yes"}, kToTheEnd);
        SCOPED_TRACE(Transcript(result));
        EXPECT_EQ(result.boxes.size(), 1u);
        ExpectCompletedUpdate(result, game);
    }
}

// A saved game the rewrite can't or mustn't write: held open by another
// program (the game still running), without sharing or for writing with
// every sharing allowed (no one writes beside the rewrite); a link to a file
// outside the installation, or a second name of one, which a standard user
// may leave for the elevated updater to follow, or a link to a file of the
// game that is no saved game. Each is the question whether
// to go on, owned by the dialog, over a log that ends in that file's opening
// text and a bar at the steps done, although the steps before it took less
// than the log's batching interval. Yes is asked once, leaves the file, its
// times and what a link names as they were, ends its line in " pominięto"
// and goes on to the end; No stops the update there. A link to the other
// saved game is no question: that file is rewritten once, and of its two
// names the one that comes second ends in " pominięto".
TEST(Update, ASavedGameThatCannotBeRewrittenIsAQuestion)
{
    enum Cause { kHeld, kHeldForWriting, kLinkOut, kSecondName, kLinkToSibling, kLinkInside };
    const struct {
        const char *what;
        Cause cause;
        bool yes;
    } rows[] = {
        {"held without sharing, No", kHeld, false},
        {"held for writing, sharing all, Yes", kHeldForWriting, true},
        {"a link to a file outside, Yes", kLinkOut, true},
        {"a second name of a file outside, Yes", kSecondName, true},
        {"a link to the other saved game", kLinkToSibling, true},
        {"a link to a file of the game that is no saved game, Yes", kLinkInside, true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        const bool held = row.cause == kHeld || row.cause == kHeldForWriting;
        // What a link names outlives the link: Wine lists no link whose
        // target is gone, and its folder could not be removed.
        TempDir outside;
        InstalledGame game(held ? 2 : 1);
        const std::string first = game.SaveOrder()[0];
        const std::string outsideFile = outside / "cel.SAV";
        WriteFileBytes(outsideFile, game.Original().at(first));
        SetFileTimes(outsideFile, kOldTimes);
        std::string locked = held ? game.SaveOrder()[1] : "save\\link.SAV";
        if (row.cause == kLinkInside) {
            game.AddFile("Contents\\INNY.PAK", game.Original().at(first));
            SetFileTimes(game.Path("Contents\\INNY.PAK"), kOldTimes);
        }
        if (!held) {
            ASSERT_TRUE(game.LinkSavedGame("link.SAV",
                                           row.cause == kLinkToSibling ? game.Path(first)
                                           : row.cause == kLinkInside  ? game.Path("Contents\\INNY.PAK")
                                                                       : outsideFile,
                                           row.cause == kSecondName));
        }
        const std::vector<std::string> &order = game.SaveOrder();
        DriverResult result;
        {
            std::unique_ptr<HeldOpen> holder;
            if (held)
                holder.reset(row.cause == kHeld
                                 ? new HeldOpen(game.Path(locked))
                                 : new HeldOpen(game.Path(locked), GENERIC_READ | GENERIC_WRITE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE));
            result = row.cause == kLinkToSibling ? RunScripted({"yes"}, kToTheEnd)
                     : row.yes                   ? RunScripted({"yes", "yes"}, kToTheEnd)
                                                 : RunScripted({"yes", "no"}, kUntilClosed);
        }
        SCOPED_TRACE(Transcript(result));

        if (row.cause == kLinkToSibling) {
            ASSERT_EQ(result.boxes.size(), 1u) << "the same file a second time is no question";
            game.Skip(order[1]);
            Tree expected = game.Expected(kUpdateStepCount, 2);
            expected[order[0]] = expected[order[1]] = game.UpdatedSave(first);
            ASSERT_FALSE(result.snapshots.empty());
            EXPECT_EQ(SplitLines(result.snapshots.back().log),
                      SplitLines(game.ExpectedLog(kUpdateStepCount, 2)));
            ExpectTree(game.Directory(), expected);
            continue;
        }
        const unsigned at =
            static_cast<unsigned>(std::find(order.begin(), order.end(), locked) - order.begin());
        ASSERT_EQ(result.boxes.size(), 2u) << "one question, and no cancel question after No";
        ExpectBoxOverDialog(result.boxes[1], Formatted(kCannotOpen, game.Path(locked)) + kContinueSuffix,
                            "yes,no", static_cast<int>(kUpdateStepCount + at));
        EXPECT_EQ(
            SplitLines(result.boxes[1].dialog.log),
            SplitLines(game.ExpectedLog(kUpdateStepCount, at) + Installation::FileLine(game.Path(locked))));
        game.Skip(locked);
        if (row.yes)
            ExpectCompletedUpdate(result, game);
        else
            ExpectTree(game.Directory(), game.Expected(kUpdateStepCount, at));
        EXPECT_EQ(Ticks(GetFileTimes(game.Path(locked)).write), Ticks(kOldTimes.write))
            << "the refused saved game's time";
        EXPECT_TRUE(ReadFileBytes(outsideFile) == game.Original().at(first))
            << "the file outside was written";
        EXPECT_EQ(Ticks(GetFileTimes(outsideFile).write), Ticks(kOldTimes.write));
    }
}

// A game folder with a mirror in the VirtualStore, as Windows keeps one for a
// game under Program Files that wrote its saved games and settings there:
// each target with a copy in the mirror gets the same change right after the
// real file, with a line and a step of the bar of its own, and the mirror's
// saved games follow those of the game folder and keep their times. A
// directory named as a target or as a saved game is no copy. Where "PATH"
// names a link to the game folder, the mirror may stand under the link's
// name or the folder's own, or there may be one under each: each is updated,
// the one under the folder's own name first. (No other test has a mirror:
// there nothing of this shows.)
TEST(Update, TheCopiesInTheVirtualStoreAreUpdatedToo)
{
    constexpr unsigned kSaves = 2;
    const struct {
        const char *what;
        bool throughLink, underOwnName, underLinksName;
    } rows[] = {{"PATH the folder itself", false, true, false},
                {"PATH a link, the mirror under the link's name", true, false, true},
                {"PATH a link, a mirror under each name", true, true, true}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        InstalledGame installation(kSaves);
        TempDir links;
        const std::string link = links / "Vendrake", path = row.throughLink ? link : installation.Directory();
        if (row.throughLink) {
            ASSERT_TRUE(MakeLink(link, installation.Directory(), true));
            installation.Key().Install(link);
        }
        std::vector<std::unique_ptr<VirtualStoreMirror>> mirrors;
        if (row.underOwnName)
            mirrors.emplace_back(new VirtualStoreMirror(installation.Directory()));
        if (row.underLinksName)
            mirrors.emplace_back(new VirtualStoreMirror(link));
        const Tree updated = installation.Expected(kUpdateStepCount, kSaves);
        const std::vector<unsigned> copied = {kEntryMenuText, kEntryMiss05, 33};
        std::vector<Tree> expectedMirrors(mirrors.size());
        for (size_t m = 0; m < mirrors.size(); ++m) {
            const VirtualStoreMirror &mirror = *mirrors[m];
            for (unsigned entry : copied) {
                const std::string relative = kRelativeTargetPaths[entry];
                MakeDirectories(mirror.Path(relative.substr(0, relative.rfind('\\'))));
                WriteFileBytes(mirror.Path(relative), installation.Original().at(relative));
                expectedMirrors[m][relative] = updated.at(relative);
            }
            MakeDirectories(mirror.Path(kRelativeTargetPaths[34]));
            MakeDirectories(mirror.Path("save\\katalog.SAV"));
            for (unsigned i = 0; i < kSaves; ++i) {
                const std::string &save = installation.SaveOrder()[i];
                const std::string copy = "save\\kopia" + std::to_string(i) + ".SAV";
                WriteFileBytes(mirror.Path(copy), installation.Original().at(save));
                SetFileTimes(mirror.Path(copy), kOldTimes);
                expectedMirrors[m][copy] = installation.UpdatedSave(save);
            }
        }

        DriverResult result = RunScripted({"yes"}, kToTheEnd);
        SCOPED_TRACE(Transcript(result));
        ASSERT_EQ(result.boxes.size(), 1u);
        std::string log;
        for (const std::string &line : SplitLines(installation.ExpectedLog(kUpdateStepCount, kSaves))) {
            std::string shown = line;
            if (row.throughLink && line.find(installation.Directory()) != std::string::npos)
                shown.replace(line.find(installation.Directory()), installation.Directory().size(), path);
            log += shown;
            for (unsigned entry : copied)
                if (line == Installation::FileLine(installation.TargetPath(entry)) + kLogOk)
                    for (const auto &mirror : mirrors)
                        log += Installation::FileLine(mirror->Path(kRelativeTargetPaths[entry])) + kLogOk;
        }
        for (const auto &mirror : mirrors)
            for (const std::string &name : ListFiles(mirror->Path("save\\*.SAV")))
                log += Installation::FileLine(mirror->Path("save\\" + name)) + kLogOk;
        const int steps = static_cast<int>(kUpdateStepCount +
                                           (copied.size() + kSaves) * (mirrors.size() + 1) - copied.size());
        const DialogSnapshot &done = result.snapshots.back();
        EXPECT_EQ(done.status, kStatusDone);
        EXPECT_EQ(done.rangeHigh, steps);
        EXPECT_EQ(done.position, steps);
        EXPECT_EQ(SplitLines(done.log), SplitLines(log));

        for (size_t m = 0; m < mirrors.size(); ++m) {
            for (unsigned i = 0; i < kSaves; ++i) {
                const std::string copy = mirrors[m]->Path("save\\kopia" + std::to_string(i) + ".SAV");
                EXPECT_EQ(Ticks(GetFileTimes(copy).write), Ticks(kOldTimes.write)) << copy;
            }
            ExpectTree(mirrors[m]->Directory(), expectedMirrors[m]);
        }
        ExpectTree(installation.Directory(), updated);
        mirrors.clear();
        if (row.throughLink)
            RemoveLink(Widened(link));
    }
}

// A saved game of 3 GiB (a sparse file, made in no time): all along its
// step the dialog answers other programs, which is what keeps Windows from
// marking it as not responding after 5 s, and at the end the log and the bar
// are exact. A WM_CLOSE that another program sends during that step is
// answered at once and taken up only once the step has ended: the cancel
// question comes over the saved game's finished line, and No lets the update
// run to its end. (Taken up at once, the question would come inside the
// step, and the sender would wait for its answer.)
TEST(Update, TheDialogAnswersThroughASavedGameOfSeveralGiB)
{
    constexpr long long kSize = 3LL << 30;
    for (const bool close : {false, true}) {
        SCOPED_TRACE(close ? "a close sent during the step" : "watched");
        InstalledGame installation(1);
        const std::string big = installation.Path("save\\wielka.SAV");
        ASSERT_TRUE(MakeSparseFile(big, kSize));
        SetFileTimes(big, kOldTimes);

        const std::string bigLine = Installation::FileLine(big);
        DriverResult result = close
                                  ? RunScripted({"yes", "no"}, {"dialog", "wait-log:" + bigLine, "send-close",
                                                                "wait-done", "press-finish", "wait-exit"})
                                  : RunScripted({"yes"}, {"watch-done", "press-finish", "wait-exit"});
        SCOPED_TRACE(Transcript(result));
        if (close) {
            ASSERT_EQ(result.boxes.size(), 2u);
            ExpectBox(result.boxes[1], kCancelQuestion, "yes,no", "dialog");
            ASSERT_TRUE(result.boxes[1].dialogSeen);
            EXPECT_NE(result.boxes[1].dialog.log.find(bigLine + kLogOk), std::string::npos)
                << "the question came before the saved game's step ended";
        } else {
            EXPECT_LT(result.longestSilence, 1000u);
        }
        std::string log = installation.ExpectedLog(kUpdateStepCount, 0);
        for (const std::string &name : ListFiles(installation.Path("save\\*.SAV")))
            log += Installation::FileLine(installation.Path("save\\" + name)) + kLogOk;
        const DialogSnapshot &done = result.snapshots.back();
        EXPECT_EQ(done.status, kStatusDone);
        EXPECT_EQ(done.position, static_cast<int>(kUpdateStepCount + 2));
        EXPECT_EQ(done.log, log);

        WIN32_FILE_ATTRIBUTE_DATA data;
        ASSERT_TRUE(GetFileAttributesExA(big.c_str(), GetFileExInfoStandard, &data));
        EXPECT_EQ((static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow, kSize);
        EXPECT_EQ(Ticks(data.ftLastWriteTime), Ticks(kOldTimes.write));
        DeleteFileA(big.c_str());
        ExpectTree(installation.Directory(), installation.Expected(kUpdateStepCount, 1));
    }
}

} // namespace
