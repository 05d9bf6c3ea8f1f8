// The prompt set through the message-box seam: texts, styles, caption, owner
// and results of every operation, the continue suffix and the formats; and
// what a stream's holder says when it is closed.
#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

const HWND kSomeOwner = reinterpret_cast<HWND>(0x1234);

class Prompts : public testing::Test {
protected:
    void TearDown() override { DialogWindow = nullptr; }
};

// Every operation of the set, a row each: the call (with its failHard), the
// answer given, and the box it shows (text and style) with the result. Each
// row runs before the dialog exists, without an owner, and while it exists,
// owned by it; the caption is always the same. Formats are expanded in both
// of the report-or-ask paths; ReportOrAsk shows its text literally, percent
// signs included.
TEST_F(Prompts, EveryOperationShowsItsBoxAndGivesItsResult)
{
    typedef int (*Call)();
    const std::string ask = "\n\nCzy chcesz kontynuować?";
    const struct {
        const char *what;
        Call call;
        int answer;
        std::string text;
        UINT style;
        int result;
    } rows[] = {
        {"ShowError", [] { return ShowError("błąd 100%"); }, IDOK, "błąd 100%", kErrorBox, 0},
        {"AskYesNo, Yes", [] { return AskYesNo("pytanie?"); }, IDYES, "pytanie?", kQuestionBox, 1},
        {"AskYesNo, No", [] { return AskYesNo("pytanie?"); }, IDNO, "pytanie?", kQuestionBox, 0},
        {"ShowInfo", [] { return ShowInfo("informacja"); }, IDOK, "informacja", kInformationBox, 1},
        {"ShowErrorF", [] { return ShowErrorF(kCannotOpen, "C:\\Gry\\plik.lvl"); }, IDOK,
         "Nie można otworzyć pliku \"C:\\Gry\\plik.lvl\".", kErrorBox, 0},
        {"ShowErrorF2", [] { return ShowErrorF2(kBadFileName2, "C:\\Gry\\save\\", "a.SAV"); }, IDOK,
         "Niewłaściwa nazwa pliku \"C:\\Gry\\save\\a.SAV\"", kErrorBox, 0},
        {"AskYesNoF", [] { return AskYesNoF(kConfirmUpdate, "C:\\Gry\\Vendrake II"); }, IDYES,
         "Znaleziono grę Vendrake II PL w katalogu \"C:\\Gry\\Vendrake II\".\n"
         "Czy chcesz kontynuować aktualizację gry?",
         kQuestionBox, 1},
        {"AskYesNoF2", [] { return AskYesNoF2("%s/%s", "a", "b"); }, IDYES, "a/b", kQuestionBox, 1},
        {"ReportOrAsk, failHard", [] { return ReportOrAsk("50% gotowe", 1); }, IDYES, "50% gotowe", kErrorBox,
         0},
        {"ReportOrAskF, failHard", [] { return ReportOrAskF(kCannotRead, "a.SAV", 1); }, IDYES,
         "Nie można odczytać danych z pliku \"a.SAV\".", kErrorBox, 0},
        {"ReportOrAskF2, failHard", [] { return ReportOrAskF2(kBadFileName2, "C:\\", "b.SAV", 1); }, IDYES,
         "Niewłaściwa nazwa pliku \"C:\\b.SAV\"", kErrorBox, 0},
        {"ReportOrAsk, Yes", [] { return ReportOrAsk("100% %s", 0); }, IDYES, "100% %s" + ask, kQuestionBox,
         1},
        {"ReportOrAsk, No", [] { return ReportOrAsk("100% %s", 0); }, IDNO, "100% %s" + ask, kQuestionBox, 0},
        {"ReportOrAskF, Yes", [] { return ReportOrAskF(kCannotWrite, "a.SAV", 0); }, IDYES,
         "Nie można zapisać danych do pliku \"a.SAV\"." + ask, kQuestionBox, 1},
        {"ReportOrAskF, No", [] { return ReportOrAskF(kCannotWrite, "a.SAV", 0); }, IDNO,
         "Nie można zapisać danych do pliku \"a.SAV\"." + ask, kQuestionBox, 0},
        {"ReportOrAskF2, Yes", [] { return ReportOrAskF2(kBadFileName2, "C:\\save\\", "x.SAV", 0); }, IDYES,
         "Niewłaściwa nazwa pliku \"C:\\save\\x.SAV\"" + ask, kQuestionBox, 1},
        {"ReportOrAskF2, No", [] { return ReportOrAskF2(kBadFileName2, "C:\\save\\", "x.SAV", 0); }, IDNO,
         "Niewłaściwa nazwa pliku \"C:\\save\\x.SAV\"" + ask, kQuestionBox, 0},
    };
    for (HWND owner : {static_cast<HWND>(nullptr), kSomeOwner}) {
        DialogWindow = owner;
        for (const auto &row : rows) {
            SCOPED_TRACE(row.what);
            PromptRecorder boxes({row.answer});
            EXPECT_EQ(row.result, row.call());
            ASSERT_EQ(1u, boxes.boxes.size());
            ExpectBox(boxes.boxes[0], row.text, row.style);
            EXPECT_EQ(owner, boxes.boxes[0].owner);
        }
    }
}

TEST_F(Prompts, OnlyYesCountsAsYes)
{
    // IDOK, IDCANCEL and the 0 of a failed call are all No.
    PromptRecorder boxes({IDOK, IDCANCEL, 0, IDYES});
    EXPECT_EQ(0, AskYesNo("a"));
    EXPECT_EQ(0, AskYesNoF("%s", "b"));
    EXPECT_EQ(0, AskYesNoF2("%s%s", "c", "d"));
    EXPECT_EQ(1, AskYesNoF2("%s%s", "c", "d"));
}

TEST_F(Prompts, AnEmptyArgumentLeavesTheSurroundingText)
{
    PromptRecorder boxes;
    ShowErrorF(kCannotOpen, "");
    ASSERT_EQ(1u, boxes.boxes.size());
    EXPECT_EQ("Nie można otworzyć pliku \"\".", boxes.boxes[0].text);
}

TEST_F(Prompts, TextsAreWindows1250)
{
    // "Zakończ": ń is 0xF1 in Windows-1250; the continue suffix is 25 bytes.
    EXPECT_EQ(std::string("\x5a\x61\x6b\x6f\xf1\x63\x7a"), kFinishButton);
    EXPECT_EQ(25u, strlen(kContinueSuffix));
    EXPECT_EQ(std::string("\n\nCzy chcesz kontynuowa\xe6?"), kContinueSuffix);
}

TEST_F(Prompts, LongArgumentsAreComposedWhole)
{
    // Texts are sized by measuring: nothing is cut, whatever the arguments.
    PromptRecorder boxes({IDYES});
    std::string longName(5000, 'x');
    EXPECT_EQ(1, ReportOrAskF2(kBadFileName2, longName.c_str(), longName.c_str(), 0));
    ASSERT_EQ(1u, boxes.boxes.size());
    EXPECT_EQ(Formatted(kBadFileName2, longName, longName).size() + strlen(kContinueSuffix),
              boxes.boxes[0].text.size());
}

// A stream whose write failed closes as a failure, although nothing is left
// to flush: Microsoft's C runtime keeps such a failure (a flush inside fseek
// that the disk refused) only in the stream's error flag. Here a stream open
// for reading refuses the write. Wine's fclose reports the flag by itself, so
// only a run on Windows (scripts/windows-check) shows the holder asking it.
TEST(PromptsHolders, AStreamClosesAsAFailureWhenAnyWriteThroughItFailed)
{
    TempDir dir;
    const std::string path = dir / "file.bin";
    WriteFileBytes(path, "abc");
    FileStream reading(fopen(path.c_str(), "rb"));
    ASSERT_TRUE(reading);
    EXPECT_EQ(EOF, fputc('x', reading.Get()));
    EXPECT_NE(0, reading.Close());
    FileStream updating(fopen(path.c_str(), "rb+"));
    EXPECT_NE(EOF, fputc('x', updating.Get()));
    EXPECT_EQ(0, updating.Close());
    EXPECT_EQ("xbc", ReadFileBytes(path));
}

} // namespace
