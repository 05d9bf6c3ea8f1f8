// The saved-game list: appending and releasing, and the walk that fills it
// from a wildcard (resolved prefix, sub-directories, over-long names, a walk
// that stops and takes the whole list with it).
#include <gtest/gtest.h>

#include "patch/patch.h"
#include "tests/link_support.h"
#include "tests/test_support.h"

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// A file whose full name the ANSI calls can't take (longer than they take,
// or with a character the code page lacks), made and removed through the
// wide calls with the \\?\ prefix.
class WideNamedFile {
public:
    explicit WideNamedFile(const std::wstring &path) : wide_(L"\\\\?\\" + path)
    {
        HANDLE file = CreateFileW(wide_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        created_ = file != INVALID_HANDLE_VALUE;
        if (created_)
            CloseHandle(file);
    }
    ~WideNamedFile() { DeleteFileW(wide_.c_str()); }
    bool Created() const { return created_; }

private:
    std::wstring wide_;
    bool created_ = false;
};

class FileList : public testing::Test {
protected:
    void SetUp() override
    {
        ReleaseFileList();
        MakeDirectories(dir / "save");
    }
    void TearDown() override { ReleaseFileList(); }

    static int Collect(const std::string &wildcard, int failHard)
    {
        return CollectMatchingFiles(wildcard.c_str(), kSaveRuleReplacement, kSavePattern, kSaveRuleLength,
                                    failHard, 1);
    }
    static int Append(const char *name)
    {
        return AppendToFileList(name, kSaveRuleReplacement, kSavePattern, kSaveRuleLength, 0);
    }

    // The list as it stands; checks the null slot behind the last entry, and
    // that nothing was written past the array.
    static std::vector<std::string> List()
    {
        EXPECT_TRUE(HeapsIntact()) << "a write past an allocation";
        std::vector<std::string> names;
        if (!entries) {
            EXPECT_EQ(0u, entryCount);
            return names;
        }
        for (uint32_t i = 0; i < entryCount; ++i)
            names.push_back(entries[i] ? entries[i] : "(null)");
        EXPECT_EQ(nullptr, entries[entryCount]);
        return names;
    }

    // The directory part that the OS resolves for a relative wildcard,
    // separator included.
    static std::string ResolvedPrefix(const std::string &directory)
    {
        char resolved[MAX_PATH];
        EXPECT_NE(0u, GetFullPathNameA((directory + "x").c_str(), MAX_PATH, resolved, nullptr));
        return std::string(resolved, strlen(resolved) - 1);
    }

    // The files (not directories) the file system delivers for wildcard, in
    // its order, as full names behind prefix.
    static std::vector<std::string> Matches(const std::string &wildcard, const std::string &prefix)
    {
        std::vector<std::string> names;
        for (const std::string &name : ListFiles(wildcard))
            names.push_back(prefix + name);
        return names;
    }

    TempDir dir;

private:
    CurrentDirectoryKept kept_{dir.Path()};
};

TEST_F(FileList, AppendKeepsCopiesInOrderBehindWhichStandsANull)
{
    EXPECT_EQ(nullptr, entries);
    EXPECT_EQ(0u, entryCount);
    char name[] = "C:\\Gry\\save\\a.SAV";
    EXPECT_EQ(1, Append(name));
    name[12] = 'b';
    EXPECT_EQ(1, Append(name));
    name[12] = 'c';
    EXPECT_EQ(1, Append(name));
    name[12] = 'z';
    EXPECT_EQ(3u, entryCount);
    EXPECT_EQ(
        (std::vector<std::string>{"C:\\Gry\\save\\a.SAV", "C:\\Gry\\save\\b.SAV", "C:\\Gry\\save\\c.SAV"}),
        List());
    for (uint32_t i = 0; i < entryCount; ++i)
        EXPECT_NE(name, entries[i]);

    ReleaseFileList();
    EXPECT_EQ(nullptr, entries);
    EXPECT_EQ(0u, entryCount);
    ReleaseFileList();
    EXPECT_EQ(nullptr, entries);
}

// Only names that end in ".SAV" are saved games: Windows (and Wine) also
// list names whose short name matches ("b.SAVE", "b.sav_kopia"), and names
// ending in a dot or a space, which it would open as another file.
TEST_F(FileList, CollectsResolvedNamesInEnumerationOrderAndSkipsDirectories)
{
    for (const char *name : {"save\\b.SAV", "save\\a.SAV", "save\\c.SAV", "save\\e.TXT", "save\\b.SAVE",
                             "save\\b.sav_kopia", "save\\x"})
        WriteFileBytes(dir / name, "Procesor");
    ASSERT_TRUE(UnderWine() ? RenameOnUnixSide(dir / "save\\x", dir / "save\\x.SAV.")
                            : MoveFileExW(Widened(dir / "save\\x").c_str(),
                                          (L"\\\\?\\" + Widened(dir / "save\\x.SAV.")).c_str(), 0));
    MakeDirectories(dir / "save\\d.SAV");
    const std::string prefix = dir.Path() + "\\save\\";
    ASSERT_EQ(6u, Matches("save\\*.SAV", prefix).size())
        << "the other names are not listed: the check proves nothing";
    const auto savedGames = [](std::vector<std::string> names) {
        names.erase(
            std::remove_if(names.begin(), names.end(),
                           [](const std::string &name) { return name.substr(name.size() - 4) != ".SAV"; }),
            names.end());
        return names;
    };
    const std::vector<std::string> expected = savedGames(Matches("save\\*.SAV", prefix));
    ASSERT_EQ(3u, expected.size());
    EXPECT_EQ(prefix, ResolvedPrefix("save\\"));

    PromptRecorder boxes;
    EXPECT_EQ(1, Collect("save\\*.SAV", 0));
    EXPECT_EQ(3u, entryCount);
    EXPECT_EQ(expected, List());
    // Collecting reads and changes nothing.
    EXPECT_EQ("Procesor", ReadFileBytes(dir / "save\\a.SAV"));

    // '/' separates too; the names carry the directory as the OS resolves it.
    ReleaseFileList();
    EXPECT_EQ(1, Collect("save/*.SAV", 0));
    EXPECT_EQ(savedGames(Matches("save/*.SAV", ResolvedPrefix("save/"))), List());

    // An absolute wildcard, and one without a directory part.
    ReleaseFileList();
    EXPECT_EQ(1, Collect(dir / "save\\*.SAV", 0));
    EXPECT_EQ(expected, List());
    ReleaseFileList();
    ASSERT_TRUE(SetCurrentDirectoryA((dir / "save").c_str()));
    EXPECT_EQ(1, Collect("*.SAV", 0));
    EXPECT_EQ(expected, List());
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(FileList, NoMatchIsSuccessAndLeavesTheListAsItWas)
{
    WriteFileBytes(dir / "save\\e.TXT", "x");
    PromptRecorder boxes;
    EXPECT_EQ(1, Collect("save\\*.SAV", 1));
    EXPECT_EQ(nullptr, entries);
    EXPECT_EQ(1, Collect("missing\\*.SAV", 1));
    EXPECT_EQ(nullptr, entries);

    ASSERT_EQ(1, Append("C:\\earlier.SAV"));
    EXPECT_EQ(1, Collect("save\\*.SAV", 1));
    EXPECT_EQ(std::vector<std::string>{"C:\\earlier.SAV"}, List());
    EXPECT_TRUE(boxes.boxes.empty());
}

// A name the ANSI calls can't take as it is: one that makes a path of 260
// characters or more (259 still fit), or one with a character the code page
// lacks, which they would read as a look-alike: "zapis_ñ.SAV" as
// "zapis_n.SAV", another file beside it, so that one file would be listed
// twice and the other never. Each is named in a question; Yes leaves it out,
// No empties the list, and with failHard it is an error.
TEST_F(FileList, ANameTheAnsiCallsCannotTakeIsLeftOutOnYesAndEmptiesTheListOtherwise)
{
    WriteFileBytes(dir / "save\\a.SAV", "");
    WriteFileBytes(dir / "save\\zapis_n.SAV", "");
    const std::string prefix = ResolvedPrefix("save\\");
    ASSERT_LT(prefix.size() + 5, 255u);
    const std::wstring tooLong = Widened(std::string(260 - prefix.size() - 4, 'L') + ".SAV");
    const std::wstring longest = Widened(std::string(259 - prefix.size() - 4, 'M') + ".SAV");
    const std::wstring outside = L"zapis_\u00F1.SAV";
    WideNamedFile overlong(Widened(prefix) + tooLong), fitting(Widened(prefix) + longest),
        lookAlike(Widened(prefix) + outside);
    ASSERT_TRUE(overlong.Created() && fitting.Created() && lookAlike.Created());
    std::vector<std::string> expected, questions;
    for (const ListedEntry &entry : ListEntries("save\\*.SAV")) {
        if (entry.name == tooLong || entry.name == outside)
            questions.push_back(Formatted(kBadFileName2, prefix,
                                          entry.name == outside ? "zapis_?.SAV" : Narrowed(entry.name)));
        else
            expected.push_back(prefix + Narrowed(entry.name));
    }
    ASSERT_EQ(3u, expected.size());
    ASSERT_EQ(2u, questions.size());

    {
        PromptRecorder boxes({IDYES, IDYES});
        ASSERT_EQ(1, Append("C:\\earlier.SAV"));
        EXPECT_EQ(1, Collect("save\\*.SAV", 0));
        ASSERT_EQ(2u, boxes.boxes.size());
        for (size_t i = 0; i < 2; ++i)
            ExpectBox(boxes.boxes[i], questions[i] + kContinueSuffix, kQuestionBox);
        expected.insert(expected.begin(), "C:\\earlier.SAV");
        EXPECT_EQ(expected, List());
    }
    {
        // A stopped walk takes the whole list, earlier entries included.
        PromptRecorder boxes({IDNO});
        EXPECT_EQ(0, Collect("save\\*.SAV", 0));
        EXPECT_EQ(1u, boxes.boxes.size());
        EXPECT_EQ(nullptr, entries);
        EXPECT_EQ(0u, entryCount);
    }
    {
        PromptRecorder boxes;
        ASSERT_EQ(1, Append("C:\\earlier.SAV"));
        EXPECT_EQ(0, Collect("save\\*.SAV", 1));
        ASSERT_EQ(1u, boxes.boxes.size());
        ExpectBox(boxes.boxes[0], questions[0], kErrorBox);
        EXPECT_EQ(nullptr, entries);
        EXPECT_EQ(0u, entryCount);
    }
}

TEST_F(FileList, AWildcardTooLongToResolveIsABadFileNameAndCollectsNothing)
{
    WriteFileBytes(dir / "save\\a.SAV", "");
    const std::string wildcard = dir / (std::string(300, 'w') + "\\*.SAV");
    ASSERT_EQ(1, Append("C:\\earlier.SAV"));
    PromptRecorder boxes({IDYES, IDNO, IDOK});
    EXPECT_EQ(1, Collect(wildcard, 0));
    EXPECT_EQ(std::vector<std::string>{"C:\\earlier.SAV"}, List());
    EXPECT_EQ(0, Collect(wildcard, 0));
    EXPECT_EQ(0, Collect(wildcard, 1));
    ASSERT_EQ(3u, boxes.boxes.size());
    ExpectBox(boxes.boxes[0], Formatted(kBadFileName, wildcard) + kContinueSuffix, kQuestionBox);
    ExpectBox(boxes.boxes[2], Formatted(kBadFileName, wildcard), kErrorBox);
    // The wildcard was never walked: the list is as it was.
    EXPECT_EQ(std::vector<std::string>{"C:\\earlier.SAV"}, List());
}

} // namespace
