// End-to-end, start-up: the confirmation and what the run does before any
// window exists (discovery failures, No).
#include "tests/e2e_support.h"

#include <string.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

// The confirmation names the directory exactly as the registry holds it, has
// no owner, and No ends the run leaving everything as it was; arguments on the
// command line change nothing.
TEST(StartUp, NoLeavesEverythingAsItWasWithAndWithoutArguments)
{
    InstalledGame game(2);
    const std::string question = Formatted(kConfirmUpdate, game.Directory());
    RunOptions withArguments;
    withArguments.arguments = "/S --silent \"C:\\Inny katalog\" -y 1";
    for (const RunOptions &options : {RunOptions(), withArguments}) {
        DriverResult result = RunScripted({"no"}, {"wait-exit"}, options);
        SCOPED_TRACE(Transcript(result));
        EXPECT_EQ(result.lines,
                  (std::vector<std::string>{ExpectedBoxLine(question, "yes,no", "none", "no"), "exit 0"}));
    }

    EXPECT_TRUE(ReadTree(game.Directory()) == game.Original()) << "the installation changed after No";
    for (const std::string &save : game.SaveOrder())
        EXPECT_EQ(Ticks(GetFileTimes(game.Path(save)).write), Ticks(kOldTimes.write)) << save;
    EXPECT_FALSE(ReadGameValue("Guid").present);
    RegistryValue path = ReadGameValue("PATH");
    EXPECT_EQ(path.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(path.data, game.Directory() + '\0');
}

// Each refusal ends the run with its error box (no owner) and exit code 0,
// before the question and with nothing written, not even where the updater
// starts: no game key, a directory that doesn't exist (each directory the
// update can't use is one of the discovery tests' rows), a mirror in the
// VirtualStore that is a link to a folder outside (the box names the mirror,
// and nothing there is written), and an updater whose payload is missing or
// damaged. The row without a game runs a damaged updater: discovery's
// refusal comes first.
TEST(StartUp, RefusalsComeBeforeTheQuestionAndChangeNothing)
{
    TempDir temp, copies;
    InstalledGame installation(1);
    GameKeyGuard &key = installation.Key();
    const std::string game = installation.Directory();
    const std::string missing = temp / "Gry Łódź\\Vendrake II PL";

    const std::string release = ReadFileBytes(DIST_EXE);
    const std::string bare = copies / "bez danych.exe", damaged = copies / "uszkodzony.exe",
                      cut = copies / "ucięty podpis.exe", appended = copies / "doklejone zera.exe";
    ASSERT_TRUE(CopyFileA(LINKED_EXE, bare.c_str(), FALSE));
    std::string bytes = release;
    bytes[bytes.size() - 4] = static_cast<char>(bytes[bytes.size() - 4] + 1);
    WriteFileBytes(damaged, bytes);
    WriteFileBytes(appended, release + std::string(4, '\0'));
    const std::string signedRelease = ReadFileBytes(std::string(SIGNED_DIR) + "\\patch.exe");
    const PeImage signedImage(signedRelease);
    const size_t table = signedImage.Dword(signedImage.DirectoryEntry(4));
    ASSERT_GT(table, release.size()) << "the signed release has no certificate table";
    WriteFileBytes(cut, signedRelease.substr(0, table + 4));

    const struct {
        const char *what;
        bool removeKey;
        std::string path;
        std::string exe;
        std::string message;
        bool mirrorLinkedOut = false;
    } cases[] = {
        {"no key", true, "", damaged, kNotInstalled},
        {"a directory that doesn't exist", false, missing + '\0', DIST_EXE,
         Formatted(kDirectoryNotFound, missing)},
        {"no payload", false, game + '\0', bare, Formatted(kCannotRead, bare)},
        {"chunk 0's length word one too large", false, game + '\0', damaged, Formatted(kCannotRead, damaged)},
        {"cut 4 bytes into the certificate table", false, game + '\0', cut, Formatted(kCannotRead, cut)},
        {"four zero bytes appended", false, game + '\0', appended, Formatted(kCannotRead, appended)},
        {"the game's mirror in the VirtualStore a link to a folder outside", false, game + '\0', DIST_EXE, "",
         true},
    };
    // What a mirror linked out leads to: a folder outside with copies in it.
    TempDir outside;
    const Tree outsideFiles = {{"profile\\DEF1.CFG", installation.Original().at("profile\\DEF1.CFG")},
                               {"save\\obcy.SAV", installation.Original().at(installation.SaveOrder()[0])}};
    for (const auto &file : outsideFiles) {
        MakeDirectories(outside / file.first.substr(0, file.first.find('\\')));
        WriteFileBytes(outside / file.first, file.second);
    }
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.removeKey)
            key.Remove();
        else
            WriteGameValue("PATH", {true, REG_SZ, c.path});
        std::unique_ptr<VirtualStoreMirror> mirror(
            c.mirrorLinkedOut ? new VirtualStoreMirror(game, outside.Path()) : nullptr);
        RunOptions options;
        options.exe = c.exe;
        DriverResult result = RunUpdater({"ok"}, {"wait-exit"}, options);
        SCOPED_TRACE(Transcript(result));
        ExpectRefusedAtStart(result, mirror ? Formatted(kDirectoryNotFound, mirror->Directory()) : c.message);
        mirror.reset();
        EXPECT_EQ(!c.removeKey, GameKeyExists()) << "the key was created";
        EXPECT_FALSE(ReadGameValue("Guid").present);
    }
    EXPECT_TRUE(IsEmptyDirectory(temp.Path()));
    EXPECT_EQ(Ticks(GetFileTimes(installation.Path(installation.SaveOrder()[0])).write),
              Ticks(kOldTimes.write));
    ExpectTree(game, installation.Original());
    ExpectTree(outside.Path(), outsideFiles);
}

} // namespace
