// End-to-end, the progress dialog: centred, the cancel question, Esc; every
// text the player reads, on a Windows of another code page; and at 150 %.
#include "tests/e2e_support.h"

#include "tests/link_support.h"

#include <string.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

namespace {

// Yes opens the dialog centred on the desktop in its running state. The close
// box asks before cancelling: No keeps the dialog, Yes ends the run there. Esc
// does nothing (the finished state is checked by the full update).
//
// Timing: the chain keeps running underneath the question boxes, and a step
// is quick: measured here, about a millisecond for one of these saved games
// under Wine. The 3,000 saved games keep the chain running for some seconds,
// while the driver sees the dialog within 50 ms of its showing and clicks the
// close box at once: its question comes while the chain runs. The driver
// reaches the second close box a few seconds after the first; the
// assertions follow what the snapshot taken right before it shows: an update
// already finished must close without a question. Under the second question
// the chain runs on until the Yes arrives, and under load it has been seen to
// finish there; so Yes is held to stop it within a few hundred saved games of
// where the question's own reading of the dialog saw it.
TEST(ProgressDialog, OpensCentredCloseBoxAsksEscDoesNothing)
{
    constexpr unsigned kSaves = 3000;
    InstalledGame installation(kSaves);

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
    EXPECT_TRUE(Follows(afterNo, afterEscape))
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
        ASSERT_TRUE(result.boxes[2].dialogSeen);
        const int savesAtQuestion = result.boxes[2].dialog.position - static_cast<int>(kUpdateStepCount);
        EXPECT_LE(static_cast<int>(rewritten), savesAtQuestion + 500) << "the chain ran on after Yes";
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

// What the player is to read, in UTF-16: format (the updater's, Windows-1250)
// with its "%s" replaced by name (the ANSI code page's).
std::wstring Shown(const char *format, const std::string &name)
{
    std::wstring text = Polish(format);
    return text.replace(text.find(L"%s"), 2, Widened(name));
}

// The log in UTF-16: each line's own texts in Windows-1250, its path in the
// ANSI code page.
std::wstring ShownLog(const Installation &installation, unsigned steps, unsigned saves)
{
    std::wstring log;
    for (const std::string &line : SplitLines(installation.ExpectedLog(steps, saves))) {
        const size_t close = line.rfind(kLogFileClose);
        if (!StartsWith(line, kLogFileOpen) || close == std::string::npos) {
            log += Polish(line);
            continue;
        }
        const size_t open = strlen(kLogFileOpen);
        log += Polish(kLogFileOpen) + Widened(line.substr(open, close - open)) + Polish(line.substr(close));
    }
    return log;
}

// The updater on a Windows whose ANSI code page isn't 1250 (the group runs
// under 1252): every text, read through the wide calls, is the Polish one.
// The whole update, with a question over the dialog (a saved game held open)
// and the dialog's title, status, log and button at the end; then an error
// box (a game file gone). The game folder's name has the byte 0xE8, "è" in
// 1252 but "č" in Windows-1250: a path read in the wrong code page shows, and
// so does a text read in the system's.
TEST(CodePage, EveryTextTheUpdaterShowsIsPolish)
{
    const std::string letter = "\xE8";
    if (Narrowed(Widened(letter)) != letter || Widened(letter) == Polish(letter))
        GTEST_SKIP() << "the ANSI code page " << GetACP() << " has no other letter than Windows-1250 at 0xE8";
    InstalledGame game(2, "Gry " + letter + "\\Vendrake II PL");
    RunOptions options;
    options.wide = true;
    const std::string lockedSave = game.SaveOrder()[1];
    DriverResult result;
    {
        HeldOpen holder(game.Path(lockedSave));
        result = RunScripted({"yes", "yes"}, kToTheEnd, options);
    }
    SCOPED_TRACE(Transcript(result));
    ASSERT_EQ(result.boxes.size(), 2u);
    for (const BoxRecord &box : result.boxes)
        EXPECT_EQ(box.wideCaption, Polish(kCaption));
    EXPECT_EQ(result.boxes[0].wideText, Shown(kConfirmUpdate, game.Directory()));
    EXPECT_EQ(result.boxes[1].wideText, Shown(kCannotOpen, game.Path(lockedSave)) + Polish(kContinueSuffix));
    game.Skip(lockedSave);
    const DialogSnapshot &done = result.snapshots.back();
    EXPECT_EQ(done.wideTitle, Polish(kCaption));
    EXPECT_EQ(done.wideStatus, Polish(kStatusDone));
    EXPECT_EQ(done.wideButton, Polish(kFinishButton));
    EXPECT_EQ(done.wideLog, ShownLog(game, kUpdateStepCount, 2));
    EXPECT_EQ(done.position, static_cast<int>(kUpdateStepCount + 2));
    ExpectTree(game.Directory(), game.Expected(kUpdateStepCount, 2));

    const std::string gone = game.TargetPath(1);
    ASSERT_TRUE(DeleteFileA(gone.c_str()));
    result = RunScripted({"yes", "ok"}, kUntilClosed, options);
    SCOPED_TRACE(Transcript(result));
    ASSERT_EQ(result.boxes.size(), 2u);
    EXPECT_EQ(result.boxes[1].owner, "dialog");
    EXPECT_EQ(result.boxes[1].buttons, "ok");
    EXPECT_EQ(result.boxes[1].wideText, Shown(kCannotOpen, gone));
}

// At 150 %: the updater, per-monitor DPI-aware with comctl32 of version 6,
// has its dialog grow with its font and the banner scaled to the DPI. Wine
// takes the DPI from LogPixels as each program starts (in this group's own
// prefix; 96 is left last). Windows can't change it for a test: there the row
// runs once, at the display's scale, and the growth isn't seen.
TEST(Scale, TheDialogGrowsWithTheDisplayScale)
{
    std::vector<DialogSnapshot> seen;
    for (DWORD logPixels : {144, 96}) {
        ASSERT_TRUE(!UnderWine() ||
                    RegSetKeyValueA(HKEY_CURRENT_USER, "Control Panel\\Desktop", "LogPixels", REG_DWORD,
                                    &logPixels, sizeof logPixels) == ERROR_SUCCESS);
        InstalledGame installation(1);
        DriverResult result = RunScripted({"yes"}, kToTheEnd);
        SCOPED_TRACE(Transcript(result));
        ExpectCompletedUpdate(result, installation);
        ASSERT_FALSE(result.snapshots.empty());
        seen.push_back(result.snapshots.back());
        EXPECT_EQ(seen.back().dpiAwareness, 2) << "per monitor";
        const std::regex sideBySide(R"(.*\\winsxs\\[^;]*common-controls_6595b64144ccf1df_6\.[^;]*)",
                                    std::regex::icase);
        EXPECT_TRUE(std::regex_match(seen.back().comctl32, sideBySide)) << seen.back().comctl32;
        // Wine 8 answers the DPI of another program's window with the asker's own.
        const double dpi = UnderWine() ? logPixels : seen.back().dpi;
        EXPECT_NEAR(seen.back().bannerWidth, 380 * dpi / 96, 2);
        EXPECT_NEAR(seen.back().bannerHeight, 69 * dpi / 96, 2);
        if (!UnderWine())
            return;
    }
    EXPECT_NEAR(double(seen[0].right - seen[0].left) / (seen[1].right - seen[1].left), 1.5, 0.15);
    EXPECT_NEAR(double(seen[0].bottom - seen[0].top) / (seen[1].bottom - seen[1].top), 1.5, 0.15);
}

} // namespace
