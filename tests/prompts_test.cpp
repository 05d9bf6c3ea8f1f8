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

TEST_F(Prompts, PlainOperationsShowTheirTextWithCaptionStyleAndOwner)
{
    PromptRecorder boxes({IDOK, IDYES, IDNO, IDOK});
    DialogWindow = kSomeOwner;
    EXPECT_EQ(0, ShowError("błąd 100%"));
    EXPECT_EQ(1, AskYesNo("pytanie?"));
    EXPECT_EQ(0, AskYesNo("pytanie?"));
    EXPECT_EQ(1, ShowInfo("informacja"));
    ASSERT_EQ(4u, boxes.boxes.size());
    EXPECT_EQ("błąd 100%", boxes.boxes[0].text);
    EXPECT_EQ(kErrorBox, boxes.boxes[0].type);
    EXPECT_EQ(kQuestionBox, boxes.boxes[1].type);
    EXPECT_EQ(kInformationBox, boxes.boxes[3].type);
    for (const RecordedBox &box : boxes.boxes) {
        EXPECT_EQ(std::string(kCaption), box.caption);
        EXPECT_EQ(kSomeOwner, box.owner);
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

TEST_F(Prompts, FormsExpandTheirFormatWithoutOwnerBeforeTheDialogExists)
{
    PromptRecorder boxes({IDOK, IDOK, IDYES});
    EXPECT_EQ(0, ShowErrorF(kCannotOpen, "C:\\Gry\\plik.lvl"));
    EXPECT_EQ(0, ShowErrorF2(kBadFileName2, "C:\\Gry\\save\\", "a.SAV"));
    EXPECT_EQ(1, AskYesNoF(kConfirmUpdate, "C:\\Gry\\Vendrake II"));
    ASSERT_EQ(3u, boxes.boxes.size());
    EXPECT_EQ("Nie można otworzyć pliku \"C:\\Gry\\plik.lvl\".", boxes.boxes[0].text);
    EXPECT_EQ("Niewłaściwa nazwa pliku \"C:\\Gry\\save\\a.SAV\"", boxes.boxes[1].text);
    EXPECT_EQ("Znaleziono grę Vendrake II PL w katalogu \"C:\\Gry\\Vendrake II\".\n"
              "Czy chcesz kontynuować aktualizację gry?",
              boxes.boxes[2].text);
    EXPECT_EQ(kQuestionBox, boxes.boxes[2].type);
    for (const RecordedBox &box : boxes.boxes)
        EXPECT_EQ(nullptr, box.owner);
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

TEST_F(Prompts, ReportOrAskFailsHardWithAnErrorAndNoSuffix)
{
    PromptRecorder boxes({IDYES, IDYES, IDYES});
    EXPECT_EQ(0, ReportOrAsk("50% gotowe", 1));
    EXPECT_EQ(0, ReportOrAskF(kCannotRead, "a.SAV", 1));
    EXPECT_EQ(0, ReportOrAskF2(kBadFileName2, "C:\\", "b.SAV", 1));
    ASSERT_EQ(3u, boxes.boxes.size());
    EXPECT_EQ("50% gotowe", boxes.boxes[0].text);
    EXPECT_EQ(Formatted(kCannotRead, "a.SAV"), boxes.boxes[1].text);
    EXPECT_EQ("Niewłaściwa nazwa pliku \"C:\\b.SAV\"", boxes.boxes[2].text);
    for (const RecordedBox &box : boxes.boxes)
        EXPECT_EQ(kErrorBox, box.type);
}

TEST_F(Prompts, ReportOrAskOtherwiseAsksWhetherToContinue)
{
    PromptRecorder boxes({IDYES, IDNO, IDYES, IDNO, IDYES, IDNO});
    DialogWindow = kSomeOwner;
    EXPECT_EQ(1, ReportOrAsk("100% %s", 0));
    EXPECT_EQ(0, ReportOrAsk("100% %s", 0));
    EXPECT_EQ(1, ReportOrAskF(kCannotWrite, "a.SAV", 0));
    EXPECT_EQ(0, ReportOrAskF(kCannotWrite, "a.SAV", 0));
    EXPECT_EQ(1, ReportOrAskF2(kBadFileName2, "C:\\save\\", "x.SAV", 0));
    EXPECT_EQ(0, ReportOrAskF2(kBadFileName2, "C:\\save\\", "x.SAV", 0));
    ASSERT_EQ(6u, boxes.boxes.size());
    // ReportOrAsk shows its text literally, percent signs included.
    EXPECT_EQ("100% %s\n\nCzy chcesz kontynuować?", boxes.boxes[0].text);
    EXPECT_EQ("Nie można zapisać danych do pliku \"a.SAV\".\n\nCzy chcesz kontynuować?", boxes.boxes[2].text);
    EXPECT_EQ("Niewłaściwa nazwa pliku \"C:\\save\\x.SAV\"\n\nCzy chcesz kontynuować?", boxes.boxes[4].text);
    for (const RecordedBox &box : boxes.boxes) {
        EXPECT_EQ(kQuestionBox, box.type);
        EXPECT_EQ(kSomeOwner, box.owner);
        EXPECT_EQ(std::string(kCaption), box.caption);
    }
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
// for reading refuses the write.
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
