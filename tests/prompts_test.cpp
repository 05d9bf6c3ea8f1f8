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

// A name whose byte 0xE8 is "č" in Windows-1250 and "è" in 1252: read in
// another code page than the ANSI one, it shows. The name is the ANSI code
// page's, the formats around it are Windows-1250.
constexpr char kName[] = "C:\\Gry\\zapis\xE8.SAV";

// Every operation of the set, a row each: the call (with its failHard), the
// answer given, and the box it shows (text and style) with the result. Each
// row runs before the dialog exists, without an owner, and while it exists,
// owned by it; the caption is always the same. Formats are expanded in both
// of the report-or-ask paths; ReportOrAsk shows its text literally, percent
// signs included. The texts are compared as the wide call got them; the
// table runs under code page 1250 and under 1252, where a format and a name
// from two code pages meet in one text.
TEST_F(Prompts, EveryOperationShowsItsBoxAndGivesItsResult)
{
    typedef int (*Call)();
    const std::wstring ask = Polish("\n\nCzy chcesz kontynuować?");
    const std::wstring name = Widened(kName);
    const struct {
        const char *what;
        Call call;
        int answer;
        std::wstring text;
        UINT style;
        int result;
    } rows[] = {
        {"ShowError", [] { return ShowError("błąd 100%"); }, IDOK, Polish("błąd 100%"), kErrorBox, 0},
        {"AskYesNo, Yes", [] { return AskYesNo("pytanie?"); }, IDYES, Polish("pytanie?"), kQuestionBox, 1},
        {"AskYesNo, No", [] { return AskYesNo("pytanie?"); }, IDNO, Polish("pytanie?"), kQuestionBox, 0},
        {"ShowInfo", [] { return ShowInfo("informacja"); }, IDOK, Polish("informacja"), kInformationBox, 1},
        {"ShowErrorF", [] { return ShowErrorF(kCannotOpen, kName); }, IDOK,
         Polish("Nie można otworzyć pliku \"") + name + Polish("\"."), kErrorBox, 0},
        {"ShowErrorF2", [] { return ShowErrorF2(kBadFileName2, "C:\\Gry\\save\\", "a.SAV"); }, IDOK,
         Polish("Niewłaściwa nazwa pliku \"C:\\Gry\\save\\a.SAV\""), kErrorBox, 0},
        {"AskYesNoF", [] { return AskYesNoF(kConfirmUpdate, "C:\\Gry\\Vendrake II"); }, IDYES,
         Polish("Znaleziono grę Vendrake II PL w katalogu \"C:\\Gry\\Vendrake II\".\n"
                "Czy chcesz kontynuować aktualizację gry?"),
         kQuestionBox, 1},
        {"AskYesNoF2", [] { return AskYesNoF2("%s/%s", "a", kName); }, IDYES, Polish("a/") + name,
         kQuestionBox, 1},
        {"ReportOrAsk, failHard", [] { return ReportOrAsk("50% gotowe", 1); }, IDYES, Polish("50% gotowe"),
         kErrorBox, 0},
        {"ReportOrAskF, failHard", [] { return ReportOrAskF(kCannotRead, kName, 1); }, IDYES,
         Polish("Nie można odczytać danych z pliku \"") + name + Polish("\"."), kErrorBox, 0},
        {"ReportOrAskF2, failHard", [] { return ReportOrAskF2(kBadFileName2, "C:\\", "b.SAV", 1); }, IDYES,
         Polish("Niewłaściwa nazwa pliku \"C:\\b.SAV\""), kErrorBox, 0},
        {"ReportOrAsk, Yes", [] { return ReportOrAsk("100% %s", 0); }, IDYES, Polish("100% %s") + ask,
         kQuestionBox, 1},
        {"ReportOrAsk, No", [] { return ReportOrAsk("100% %s", 0); }, IDNO, Polish("100% %s") + ask,
         kQuestionBox, 0},
        {"ReportOrAskF, Yes", [] { return ReportOrAskF(kCannotWrite, kName, 0); }, IDYES,
         Polish("Nie można zapisać danych do pliku \"") + name + Polish("\".") + ask, kQuestionBox, 1},
        {"ReportOrAskF, No", [] { return ReportOrAskF(kCannotWrite, "a.SAV", 0); }, IDNO,
         Polish("Nie można zapisać danych do pliku \"a.SAV\".") + ask, kQuestionBox, 0},
        {"ReportOrAskF2, Yes", [] { return ReportOrAskF2(kBadFileName2, "C:\\save\\", kName + 3, 0); }, IDYES,
         Polish("Niewłaściwa nazwa pliku \"C:\\save\\") + name.substr(3) + Polish("\"") + ask, kQuestionBox,
         1},
        {"ReportOrAskF2, No", [] { return ReportOrAskF2(kBadFileName2, "C:\\save\\", "x.SAV", 0); }, IDNO,
         Polish("Niewłaściwa nazwa pliku \"C:\\save\\x.SAV\"") + ask, kQuestionBox, 0},
    };
    for (HWND owner : {static_cast<HWND>(nullptr), kSomeOwner}) {
        DialogWindow = owner;
        for (const auto &row : rows) {
            SCOPED_TRACE(row.what);
            PromptRecorder boxes({row.answer});
            EXPECT_EQ(row.result, row.call());
            ASSERT_EQ(1u, boxes.boxes.size());
            EXPECT_EQ(row.text, boxes.boxes[0].wideText);
            EXPECT_EQ(row.style, boxes.boxes[0].type);
            EXPECT_EQ(std::string(kCaption), boxes.boxes[0].caption);
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
