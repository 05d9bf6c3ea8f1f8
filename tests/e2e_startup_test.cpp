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

// Without the game's key, with an empty "PATH", or with a directory that
// doesn't exist or isn't absolute, the run ends with the matching error box
// (no owner) and exit code 0; nothing is written, not even where it starts.
TEST(StartUp, DiscoveryFailuresEndWithTheirMessage)
{
    GameKeyGuard key;
    TempDir temp;
    const std::string missing = temp / "Gry Łódź\\Vendrake II PL";
    const struct {
        const char *what;
        bool removeKey;
        std::string path;
        std::string message;
    } cases[] = {
        {"no key", true, "", kNotInstalled},
        {"an empty PATH", false, "", kNotInstalled},
        {"a PATH of its terminator only", false, std::string(1, '\0'), kNotInstalled},
        {"a directory that doesn't exist", false, missing + '\0', Formatted(kDirectoryNotFound, missing)},
        {"a relative directory", false, std::string(".\0", 2), Formatted(kDirectoryNotFound, ".")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.removeKey)
            key.Remove();
        else
            WriteGameValue("PATH", {true, REG_SZ, c.path});
        DriverResult result = RunUpdater({"ok"}, {"wait-exit"});
        SCOPED_TRACE(Transcript(result));
        ExpectRefusedAtStart(result, c.message);
        EXPECT_EQ(!c.removeKey, GameKeyExists()) << "the key was created";
        EXPECT_FALSE(ReadGameValue("Guid").present);
    }
    EXPECT_TRUE(IsEmptyDirectory(temp.Path()));
}

} // namespace
