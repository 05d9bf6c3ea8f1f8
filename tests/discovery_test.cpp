// Installation discovery against Wine's real registry: the target path table,
// the current directory, and every refusal with its message.
#include <gtest/gtest.h>

#include "base/trees.h"
#include "discovery/discovery.h"
#include "tests/test_support.h"

#include <shlobj.h>
#include <stdio.h>

namespace {

class Discovery : public testing::Test {
protected:
    void SetUp() override { DeleteRegistryKey(kGameKeyPath); }
    void TearDown() override
    {
        ReleaseTargetPathTable();
        DeleteRegistryKey(kGameKeyPath);
    }

    // Stores "PATH" with exactly the given bytes and type.
    static void SetPathValue(const std::string &bytes, DWORD type = REG_SZ)
    {
        WriteRegistryValue(kGameKeyPath, kGamePathValue, {true, type, bytes});
    }
    static void SetPath(const std::string &directory) { SetPathValue(directory + std::string(1, '\0')); }

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

    CurrentDirectoryKept kept_;
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
    ASSERT_TRUE(StoreWideString(HKEY_LOCAL_MACHINE, kGameKeyPath, 0, kGamePathValue, Widened(game.Path())));
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
    WriteRegistryValue(kGameKeyPath, kGamePathValue, {});
    ASSERT_TRUE(RegistryKeyExists(kGameKeyPath));
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
    // Larger than any path can be: refused before anything is made of it.
    SetPathValue(std::string(40000, 'C') + '\0');
    ExpectRefused(kNotInstalled);
}

// A directory that doesn't exist, or that the update can't use as written,
// is refused naming the value as stored, and nothing changes: one that isn't
// absolute (it would be applied twice, once to the start folder and once more
// from the game directory); one in a device namespace ("\\?\", "\\.\",
// which take the paths built behind them literally); one that Windows
// resolves to another folder than the one written (a name "." or "..", or
// one ending in a dot or a space: it would be entered as one folder while
// its files are looked for in another);
// one too long for its own files (with a backslash and the longest relative
// path it reaches MAX_PATH); and one with a name the ANSI code page can't
// hold, which the ANSI calls would read as a look-alike.
TEST_F(Discovery, RefusesADirectoryItCannotUseAsWritten)
{
    TempDir base;
    MakeDirectories(base / "x\\x\\Contents");
    const std::string forms = base / "forms";
    MakeDirectories(forms + "\\Contents");
    WriteFileBytes(forms + "\\readme.txt", "");
    const std::string tooLong = base / std::string(239 - base.Path().size() - 1, 'd');
    MakeDirectories(tooLong);
    ASSERT_TRUE(CreateDirectoryW((Widened(base.Path()) + L"\\Ni\u00F1o").c_str(), nullptr));
    MakeDirectories(base / "Nino");
    ASSERT_TRUE(SetCurrentDirectoryA((base / "x").c_str()));
    for (const std::string &directory :
         {base / "nie ma", std::string("."), std::string("x"), std::string("..\\x"), std::string("x\\"),
          base.Path().substr(0, 2) + "x", std::string("\\x"), base.Path().substr(2), forms + "..",
          forms + " .", forms + " ", forms + "\\...", forms + "\\readme.txt\\..", forms + "\\nowhere\\..",
          forms + "\\.", tooLong, "\\\\?\\" + forms, "\\\\.\\" + forms}) {
        SCOPED_TRACE(directory);
        SetPath(directory);
        ExpectRefused(Formatted(kDirectoryNotFound, directory));
    }
    // Windows would enter these: the refusal is the update's own.
    for (const std::string &directory :
         {forms + "..", forms + " .", forms + "\\...", forms + "\\readme.txt\\..", forms + "\\nowhere\\..",
          tooLong, "\\\\?\\" + forms, "\\\\.\\" + forms}) {
        CurrentDirectoryKept kept(directory);
    }
    SCOPED_TRACE("a name outside the code page");
    ASSERT_TRUE(StoreWideString(HKEY_LOCAL_MACHINE, kGameKeyPath, 0, kGamePathValue,
                                Widened(base.Path()) + L"\\Ni\u00F1o" + L'\0'));
    ExpectRefused(Formatted(kDirectoryNotFound, base / "Ni?o"));
    EXPECT_EQ(base / "x", CurrentDirectory());
    EXPECT_FALSE(PathExists(forms + "\\nowhere"));
}

// What Windows enters as written works: forward slashes, doubled separators,
// another letter case, a "%" in a name, and the longest directory whose files
// still fit MAX_PATH. The entries keep the directory exactly as stored.
TEST_F(Discovery, AcceptsTheFormsWindowsEntersAsWritten)
{
    TempDir base;
    const std::string game = base / "100% gry";
    MakeDirectories(game);
    const std::string longest = base / std::string(238 - base.Path().size() - 1, 'd');
    MakeDirectories(longest);
    std::string forward = game, upper = game;
    for (char &c : forward)
        if (c == '\\')
            c = '/';
    for (char &c : upper)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    const std::string doubled = base.Path() + "\\\\100% gry";
    const struct {
        std::string stored;
        std::string entered;
    } cases[] = {{forward, game}, {doubled, game}, {upper, game}, {game, game}, {longest, longest}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.stored);
        SetPath(c.stored);
        PromptRecorder boxes;
        ASSERT_EQ(1, LocateGameAndBuildPaths());
        EXPECT_TRUE(boxes.boxes.empty());
        EXPECT_EQ(c.stored + "\\Contents\\M_TITLE.PAK", TargetPath(kEntryMenuText));
        EXPECT_EQ(0, _stricmp(c.entered.c_str(), CurrentDirectory().c_str())) << CurrentDirectory();
        ReleaseTargetPathTable();
    }
}

// Which folder names the update can use, whether or not they exist: a row
// each. A network path is one; a device namespace, a relative path and any
// name that Windows would resolve to another folder are not.
TEST(DiscoveryPaths, WhichFolderNamesTheUpdateCanUse)
{
    const struct {
        const char *path;
        bool usable;
    } rows[] = {
        {"C:\\Gry\\game", true},
        {"c:/Gry/game", true},
        {"C:\\Gry\\\\game\\", true},
        {"C:\\100% gry\\Łódź", true},
        {"\\\\server\\share\\Gry\\game", true},
        {"//server/share/Gry", true},
        {"\\\\server\\share", true},
        {"C:\\Gry\\game.", false},
        {"C:\\Gry\\game ", false},
        {"C:\\Gry. \\game", false},
        {"C:\\Gry\\.\\game", false},
        {"C:\\Gry\\..\\game", false},
        {"C:\\Gry\\...", false},
        {"\\\\server\\share\\..\\other", false},
        {"\\\\?\\C:\\Gry", false},
        {"\\\\.\\C:\\Gry", false},
        {"C:Gry", false},
        {"\\Gry", false},
        {"Gry", false},
        {"", false},
    };
    for (const auto &row : rows)
        EXPECT_EQ(row.usable, IsUsableDirectory(row.path)) << row.path;
    EXPECT_FALSE(IsUsableDirectory(("C:\\" + std::string(300, 'x')).c_str())) << "past MAX_PATH";
}

// A folder the update can't enter, said as Windows' answer calls for: a
// drive that doesn't exist for the updater (a network or subst drive of the
// player's own logon session), a junction that Windows' guard refuses, or
// else a folder not found. Decided from what Windows answers, a row each,
// as Wine can't give the first two.
TEST(DiscoveryPaths, AFolderThatCannotBeEnteredIsSaidAsWindowsAnswered)
{
    const char *game = "Z:\\Gry\\Vendrake II PL";
    const struct {
        const char *path;
        UINT driveType;
        DWORD error;
        std::string message;
    } rows[] = {
        {game, DRIVE_NO_ROOT_DIR, ERROR_PATH_NOT_FOUND, Formatted(kDriveInvisible, "Z:")},
        {game, DRIVE_FIXED, kUntrustedMountPoint, Formatted(kJunctionUntrusted, game)},
        {game, DRIVE_REMOTE, ERROR_PATH_NOT_FOUND, Formatted(kDirectoryNotFound, game)},
        {"\\\\serwer\\gry", DRIVE_NO_ROOT_DIR, ERROR_BAD_NETPATH,
         Formatted(kDirectoryNotFound, "\\\\serwer\\gry")},
    };
    for (const auto &row : rows) {
        PromptRecorder boxes;
        EXPECT_EQ(0, ShowFolderRefused(row.path, row.error, row.driveType));
        ASSERT_EQ(1u, boxes.boxes.size());
        ExpectBox(boxes.boxes[0], row.message);
    }
}

// Whose folders the update looks in for the player's copies of the game: a
// row each of what Windows may answer. Only a session user other than the
// process's own, whose local application data can be had, is taken; a row
// reads that user's folders from a hive made here under HKEY_USERS. Printed:
// who sits at the session here, and where the mirrors are looked for.
TEST(DiscoveryPlayer, TheMirrorsAreLookedForInTheFoldersOfThePlayerAtTheScreen)
{
    PlayerAnswers asked = {};
    AskWhoPlays(&asked);
    printf("session user %ls, the updater's user %ls\n", asked.sessionSid, asked.ownSid);
    ASSERT_TRUE(asked.ownSid[0]);
    const wchar_t *other = L"S-1-5-21-1-2-3-1001";
    const std::string hive =
        "S-1-5-21-1-2-3-1001\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    const std::string profiles =
        "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-1-2-3-1001";
    const std::wstring local = L"%USERPROFILE%\\AppData\\Local";
    const struct {
        const wchar_t *session, *localAppData, *profile;
        bool players; // the session user's folders are taken
        const wchar_t *expected;
    } rows[] = {
        {asked.ownSid, local.c_str(), L"C:\\Users\\gracz", false, nullptr},
        {L"", local.c_str(), L"C:\\Users\\gracz", false, nullptr},
        {other, local.c_str(), L"C:\\Users\\gracz", true, L"C:\\Users\\gracz\\AppData\\Local"},
        {other, L"D:\\Dane\\Local", L"", true, L"D:\\Dane\\Local"},
        {other, L"", L"C:\\Users\\gracz", false, nullptr},
        {other, local.c_str(), L"", false, nullptr},
        {other, L"%HOMEDRIVE%\\Local", L"C:\\Users\\gracz", false, nullptr},
        {other, L"Local", L"", false, nullptr},
        {nullptr, nullptr, nullptr, true, L"C:\\Users\\gracz\\AppData\\Local"},
    };
    for (const auto &row : rows) {
        PlayerAnswers answers = asked;
        if (row.session) {
            wcscpy(answers.sessionSid, row.session);
            wcscpy(answers.localAppData, row.localAppData);
            wcscpy(answers.profile, row.profile);
        } else {
            // The hive of a player who isn't the process's user.
            WriteRegistryValue(hive.c_str(), "Local AppData",
                               {true, REG_EXPAND_SZ, "%USERPROFILE%\\AppData\\Local\0"}, 0, HKEY_USERS);
            WriteRegistryValue(profiles.c_str(), "ProfileImagePath",
                               {true, REG_EXPAND_SZ, "%SystemDrive%\\Users\\gracz\0"}, KEY_WOW64_64KEY);
            wcscpy(answers.sessionSid, other);
            AskPlayerFolders(other, &answers);
            DeleteRegistryKey(hive.c_str(), 0, HKEY_USERS);
            DeleteRegistryKey(profiles.c_str(), KEY_WOW64_64KEY);
        }
        SCOPED_TRACE(Narrowed(answers.sessionSid) + " " + Narrowed(answers.localAppData));
        DecidePlayer(answers);
        EXPECT_EQ(std::wstring(row.players ? other : asked.ownSid), PlayerSid());
        EXPECT_EQ(std::wstring(row.expected ? row.expected : L""),
                  PlayerLocalAppData() ? PlayerLocalAppData() : L"");
    }
    DecidePlayer(asked);
    wchar_t own[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, own);
    printf("the mirrors are looked for below %ls\\VirtualStore\n",
           PlayerLocalAppData() ? PlayerLocalAppData() : own);
    ForgetPlayer();
}

} // namespace
