// End-to-end, start-up: the confirmation and what the run does before any
// window exists (discovery failures, No).
#include "tests/e2e_support.h"

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// The confirmation names the directory exactly as the registry holds it, has
// no owner, and No ends the run leaving everything as it was; arguments on the
// command line change nothing.
TEST(StartUp, NoLeavesEverythingAsItWasWithAndWithoutArguments)
{
    GameKeyGuard key;
    Installation installation(2);
    key.Install(installation.Directory());
    const std::string question = Formatted(kConfirmUpdate, installation.Directory());
    const std::vector<std::string> expectedLines = {ExpectedBoxLine(question, "yes,no", "none", "no"),
                                                    "exit 0"};

    DriverResult plain = RunUpdater({"no"}, {"wait-exit"});
    DriverResult withArguments = RunUpdater({"no"}, {"wait-exit"}, "/S --silent \"C:\\Inny katalog\" -y 1");

    for (const DriverResult *result : {&plain, &withArguments}) {
        SCOPED_TRACE(Transcript(*result));
        EXPECT_EQ(result->error, "");
        EXPECT_FALSE(result->timedOut);
        EXPECT_EQ(result->exitCode, 0);
        ASSERT_EQ(result->boxes.size(), 1u);
        ExpectBox(result->boxes[0], question, "yes,no", "none");
        EXPECT_FALSE(result->boxes[0].dialogSeen);
        EXPECT_EQ(result->lines, expectedLines);
    }

    EXPECT_TRUE(ReadTree(installation.Directory()) == installation.Original())
        << "the installation changed after No";
    for (const std::string &save : installation.SaveOrder())
        EXPECT_EQ(LastWriteTime(installation.Path(save)), AsNumber(FileTimeOf(2003, 3))) << save;
    EXPECT_FALSE(ReadGameValue("Guid").present);
    RegistryValue path = ReadGameValue("PATH");
    EXPECT_EQ(path.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(path.data, installation.Directory() + '\0');
}

// Without the game's key, or with a directory that doesn't exist or isn't
// absolute, the run ends with the matching error box (no owner) and exit
// code 0.
TEST(StartUp, DiscoveryFailuresEndWithTheirMessage)
{
    GameKeyGuard key;
    key.Remove();
    DriverResult noKey = RunUpdater({"ok"}, {"wait-exit"});
    {
        SCOPED_TRACE(Transcript(noKey));
        EXPECT_EQ(noKey.error, "");
        EXPECT_EQ(noKey.exitCode, 0);
        ASSERT_EQ(noKey.boxes.size(), 1u);
        ExpectBox(noKey.boxes[0], kNotInstalled, "ok", "none");
        EXPECT_EQ(noKey.lines,
                  (std::vector<std::string>{ExpectedBoxLine(kNotInstalled, "ok", "none", "ok"), "exit 0"}));
        EXPECT_FALSE(GameKeyExists()) << "the key was created";
    }

    // A directory that doesn't exist, and one relative to wherever the
    // updater happens to start: its start folder stays empty.
    TempDir temp;
    for (const std::string &directory : {temp / "Gry Łódź\\Vendrake II PL", std::string(".")}) {
        key.Install(directory);
        DriverResult refused = RunUpdater({"ok"}, {"wait-exit"});
        SCOPED_TRACE(Transcript(refused));
        const std::string message = Formatted(kDirectoryNotFound, directory);
        EXPECT_EQ(refused.error, "");
        EXPECT_EQ(refused.exitCode, 0);
        ASSERT_EQ(refused.boxes.size(), 1u);
        ExpectBox(refused.boxes[0], message, "ok", "none");
        EXPECT_EQ(refused.lines,
                  (std::vector<std::string>{ExpectedBoxLine(message, "ok", "none", "ok"), "exit 0"}));
        EXPECT_FALSE(ReadGameValue("Guid").present);
    }
    EXPECT_TRUE(IsEmptyDirectory(temp.Path()));
}

} // namespace
