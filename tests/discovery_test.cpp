// Installation discovery against Wine's real registry: the target path table,
// the current directory, and every refusal with its message.
#include <gtest/gtest.h>

#include "discovery/discovery.h"
#include "tests/test_support.h"

namespace {

class Discovery : public testing::Test {
protected:
    void SetUp() override
    {
        char cwd[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, cwd);
        savedDirectory_ = cwd;
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kGameKeyPath);
    }
    void TearDown() override
    {
        ReleaseTargetPathTable();
        SetCurrentDirectoryA(savedDirectory_.c_str());
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kGameKeyPath);
    }

    // Stores "PATH" with exactly the given bytes and type.
    static void SetPathValue(const std::string &bytes, DWORD type = REG_SZ)
    {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kGameKeyPath, 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &key, nullptr));
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExA(key, kGamePathValue, 0, type, reinterpret_cast<const BYTE *>(bytes.data()),
                                 static_cast<DWORD>(bytes.size())));
        RegCloseKey(key);
    }
    static void SetPath(const std::string &directory) { SetPathValue(directory + std::string(1, '\0')); }

    static std::string CurrentDirectory()
    {
        char cwd[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, cwd);
        return cwd;
    }

    // Runs discovery expecting one error box with text; checks the table is gone.
    static void ExpectRefused(const std::string &text)
    {
        PromptRecorder boxes;
        std::string before = CurrentDirectory();
        EXPECT_EQ(0, LocateGameAndBuildPaths());
        ASSERT_EQ(1u, boxes.boxes.size());
        EXPECT_EQ(text, boxes.boxes[0].text);
        EXPECT_EQ(kErrorBox, boxes.boxes[0].type);
        EXPECT_EQ(nullptr, boxes.boxes[0].owner);
        EXPECT_EQ(std::string(kCaption), boxes.boxes[0].caption);
        EXPECT_EQ(nullptr, TargetPathTable);
        EXPECT_EQ(before, CurrentDirectory());
    }

    std::string savedDirectory_;
};

TEST_F(Discovery, BuildsEveryEntryAndEntersTheDirectory)
{
    TempDir game;
    SetPath(game.Path());
    PromptRecorder boxes;
    ASSERT_EQ(1, LocateGameAndBuildPaths());
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(game.Path(), TargetPath(kEntryInstallDirectory));
    EXPECT_EQ(game / "Contents\\QK_INFO.PAK", TargetPath(1));
    EXPECT_EQ(game / "Contents\\M_TITLE.PAK", TargetPath(kEntryMenuText));
    EXPECT_EQ(game / "missions\\muss18.lvl", TargetPath(24));
    EXPECT_EQ(game / "profile\\DEF1.CFG", TargetPath(33));
    EXPECT_EQ(game / "training\\les01.dsc", TargetPath(34));
    EXPECT_EQ(game / "save\\*.SAV", TargetPath(kEntrySaveWildcard));
    for (unsigned entry = 1; entry <= kTargetEntryCount; ++entry)
        EXPECT_EQ(game / kRelativeTargetPaths[entry], TargetPath(entry)) << entry;
    EXPECT_EQ(TargetPathTable, TargetPath(kEntryInstallDirectory));
    EXPECT_EQ(game.Path(), CurrentDirectory());
}

TEST_F(Discovery, RelativePathsAreTheReleaseList)
{
    // 644 characters in all, numbered as the steps use them.
    size_t total = 0;
    for (unsigned entry = 1; entry <= kTargetEntryCount; ++entry)
        total += strlen(kRelativeTargetPaths[entry]);
    EXPECT_EQ(644u, total);
    EXPECT_STREQ("missions\\miss01.lvl", kRelativeTargetPaths[4]);
    EXPECT_STREQ("missions\\miss20.lvl", kRelativeTargetPaths[23]);
    EXPECT_STREQ("training\\les08.lvl", kRelativeTargetPaths[32]);
}

TEST_F(Discovery, KeepsTheDirectoryExactlyAsStored)
{
    // A trailing backslash still gets the separator; spaces and Polish letters
    // are copied byte for byte.
    TempDir base;
    std::string directory = base / "Gry Łódź Vendrake";
    CreateDirectoryA(directory.c_str(), nullptr);
    SetPath(directory + "\\");
    PromptRecorder boxes;
    ASSERT_EQ(1, LocateGameAndBuildPaths());
    EXPECT_EQ(directory + "\\", TargetPath(kEntryInstallDirectory));
    EXPECT_EQ(directory + "\\\\Contents\\M_TITLE.PAK", TargetPath(kEntryMenuText));
    EXPECT_EQ(directory + "\\\\save\\*.SAV", TargetPath(kEntrySaveWildcard));
    EXPECT_EQ(directory, CurrentDirectory());
}

// Stored raw, without the terminator that the Win32 calls would add: the
// directory is terminated in room of its own, and no entry runs into the next.
TEST_F(Discovery, AcceptsAValueStoredWithoutItsTerminator)
{
    TempDir game;
    ASSERT_TRUE(StoreUnterminatedString(HKEY_LOCAL_MACHINE, kGameKeyPath, 0, kGamePathValue, game.Path()));
    PromptRecorder boxes;
    ASSERT_EQ(1, LocateGameAndBuildPaths());
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(game.Path(), TargetPath(kEntryInstallDirectory));
    EXPECT_EQ(game / "training\\les01.dsc", TargetPath(34));
    EXPECT_EQ(game / "save\\*.SAV", TargetPath(kEntrySaveWildcard));
}

TEST_F(Discovery, RefusesAMissingKeyOrValue)
{
    ExpectRefused(kNotInstalled);
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kGameKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    RegCloseKey(key);
    ExpectRefused(kNotInstalled);
}

TEST_F(Discovery, RefusesOtherTypesAndEmptyValues)
{
    TempDir game;
    // No environment variable is expanded: REG_EXPAND_SZ is refused whole.
    SetPathValue(game.Path() + std::string(1, '\0'), REG_EXPAND_SZ);
    ExpectRefused(kNotInstalled);
    SetPathValue(std::string("\x01\x00\x00\x00", 4), REG_DWORD);
    ExpectRefused(kNotInstalled);
    // An empty directory would point every target at the drive's root.
    SetPathValue("");
    ExpectRefused(kNotInstalled);
    SetPathValue(std::string(1, '\0'));
    ExpectRefused(kNotInstalled);
}

// A directory that doesn't exist, or one that isn't absolute: a relative one
// would be applied twice, once to the start folder and once more from the game
// directory, and change whatever lies there.
TEST_F(Discovery, RefusesADirectoryThatDoesNotExistOrIsNotAbsolute)
{
    TempDir base;
    MakeDirectories(base / "x\\x\\Contents");
    ASSERT_TRUE(SetCurrentDirectoryA((base / "x").c_str()));
    for (const std::string &directory :
         {base / "nie ma", std::string("."), std::string("x"), std::string("..\\x"), std::string("x\\"),
          base.Path().substr(0, 2) + "x", std::string("\\x"), base.Path().substr(2)}) {
        SCOPED_TRACE(directory);
        SetPath(directory);
        ExpectRefused(Formatted(kDirectoryNotFound, directory));
    }
    EXPECT_EQ(base / "x", CurrentDirectory());
}

TEST_F(Discovery, AcceptsForwardSlashesAfterTheDrive)
{
    TempDir game;
    std::string forward = game.Path();
    for (char &c : forward)
        if (c == '\\')
            c = '/';
    SetPath(forward);
    PromptRecorder boxes;
    ASSERT_EQ(1, LocateGameAndBuildPaths());
    EXPECT_EQ(forward + "\\Contents\\M_TITLE.PAK", TargetPath(kEntryMenuText));
    EXPECT_EQ(game.Path(), CurrentDirectory());
}

} // namespace
