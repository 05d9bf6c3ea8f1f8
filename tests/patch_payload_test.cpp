// The payload behind an executable: chunks located in damaged and signed
// copies of the distributables, the directories made for a target, and
// extraction from the running test program, with no payload (unit_tests) and
// with the two chunks that tests/patch.cmake appends to unit_tests_payload.exe.
#include <gtest/gtest.h>

#include "patch/patch.h"
#include "tests/link_support.h"
#include "tests/test_support.h"

#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// The bytes of the test chunks, as tests/make_test_chunks.py writes them.
std::string ChunkBytes(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 37 + (i >> 8) * 11 + seed) & 0xFF);
    return bytes;
}

std::string Word(uint32_t value)
{
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>(value >> (8 * i));
    return bytes;
}

std::string Chunk(const std::string &data)
{
    return data + Word(static_cast<uint32_t>(data.size()));
}

// image as a signature leaves it: `padding` zero bytes, then a certificate
// table entered in the image's certificate directory.
std::string Signed(const std::string &image, size_t padding)
{
    std::string bytes = image + std::string(padding, '\0');
    const std::string table = Word(24) + std::string("\x00\x02\x02\x00", 4) + std::string(16, '\x5A');
    bytes.replace(PeImage(image).DirectoryEntry(4), 8, Word(static_cast<uint32_t>(bytes.size())) + Word(24));
    return bytes + table;
}

class Payload : public testing::Test {
protected:
    // LocatePayloadChunk on path: the length, and where the stream stands.
    struct Located {
        uint32_t length;
        long position;
    };
    static Located Locate(const std::string &path, uint32_t index)
    {
        Located result = {0, -1};
        FILE *stream = fopen(path.c_str(), "rb");
        EXPECT_NE(nullptr, stream) << path;
        if (!stream)
            return result;
        result.length = LocatePayloadChunk(stream, index, path.c_str());
        result.position = ftell(stream);
        fclose(stream);
        return result;
    }

    TempDir dir;
};

TEST_F(Payload, ChunksAreCountedFromTheEndBackToTheImage)
{
    // The linked updater with a chunk of 8,192 bytes and one of 100 behind it.
    // The image's last word is made to read as a length of 16, so that a walk
    // past the first chunk would find a chunk inside the image.
    std::string image = ReadFileBytes(LINKED_EXE);
    ASSERT_EQ(image.size(), PeImage(image).SectionDataEnd());
    image.replace(image.size() - 4, 4, Word(16));
    const std::string first = ChunkBytes(8192, 5), last = ChunkBytes(100, 6);
    const std::string path = dir / "with.exe";
    WriteFileBytes(path, image + Chunk(first) + Chunk(last));

    PromptRecorder boxes;
    Located chunk = Locate(path, 0);
    EXPECT_EQ(100u, chunk.length);
    EXPECT_EQ(static_cast<long>(image.size() + first.size() + 4), chunk.position);
    chunk = Locate(path, 1);
    EXPECT_EQ(8192u, chunk.length);
    EXPECT_EQ(static_cast<long>(image.size()), chunk.position);
    EXPECT_TRUE(boxes.boxes.empty());

    // There is no chunk in front of the first.
    EXPECT_EQ(0u, Locate(path, 2).length);
    EXPECT_EQ(0u, Locate(path, 0xFFFFFFFFu).length);
    ASSERT_EQ(2u, boxes.boxes.size());
    ExpectBox(boxes.boxes[0], Formatted(kCannotRead, path));
    ExpectBox(boxes.boxes[1], Formatted(kCannotRead, path));
}

// Copies of the distributables, damaged, extended and signed: each either
// gives exactly chunk 0, or one read box naming the copy with the target left
// as it was and no temporary file beside it. Only a chain that reaches back
// exactly to the end of the image, behind at most 7 zero bytes, is taken.
TEST_F(Payload, OnlyAChainThatReachesBackToTheImageIsTaken)
{
    const std::string menuText = ReadFileBytes(MENU_TEXT);
    const std::string linked = ReadFileBytes(LINKED_EXE);
    const std::string second = ChunkBytes(3000, 7);
    const std::string old = "the old menu texts";
    const std::string target = dir / "M_TITLE.PAK";
    // Chunks that both padding 0 and padding 1 in front of a signature fit:
    // 400 bytes and one zero byte, or, read one byte earlier, 256 bytes behind
    // 144 (the word at offset 144 of the first chunk's data).
    std::string twoFits = std::string(400, 'x').replace(144, 4, Word(144));
    twoFits = Chunk(twoFits) + Chunk(std::string(1, '\0'));
    struct Case {
        std::string name;
        std::string bytes;
        const std::string *chunk0; // null: refused
    };
    std::vector<Case> cases = {
        {"linked without payload", linked, nullptr},
        {"7 zero bytes in front", linked + std::string(7, '\0') + Chunk(menuText), &menuText},
        {"8 zero bytes in front", linked + std::string(8, '\0') + Chunk(menuText), nullptr},
        {"3 other bytes in front", linked + "abc" + Chunk(menuText), nullptr},
        {"no PE image", "abcdef" + Word(6), nullptr},
        {"shorter than a length word", "abc", nullptr},
        {"signed where two paddings fit", Signed(linked + twoFits, 0), nullptr},
    };
    for (const char *exe : {DIST_EXE, RELEASE_EXE}) {
        const std::string release = ReadFileBytes(exe);
        const std::string base =
            PeImage(release).Machine() == IMAGE_FILE_MACHINE_I386 ? "32-bit " : "64-bit ";
        cases.push_back({base + "with a second chunk appended", release + Chunk(second), &second});
        for (size_t cut = 1; cut <= 64; ++cut)
            cases.push_back(
                {base + "cut by " + std::to_string(cut), release.substr(0, release.size() - cut), nullptr});
        for (int bit = 0; bit < 32; ++bit) {
            std::string flipped = release;
            flipped[flipped.size() - 4 + bit / 8] ^= static_cast<char>(1 << (bit % 8));
            cases.push_back({base + "length bit " + std::to_string(bit) + " flipped", flipped, nullptr});
        }
        for (size_t padding : {0, 1, 7})
            cases.push_back({base + "signed behind " + std::to_string(padding) + " zero bytes",
                             Signed(release, padding), &menuText});
        cases.push_back({base + "signed behind 8 zero bytes", Signed(release, 8), nullptr});
        cases.push_back({base + "signed behind a non-zero byte", Signed(release + "x", 0), nullptr});
        cases.push_back({base + "a table that doesn't close the file", Signed(release, 0) + "tail", nullptr});
    }
    // Signed for real (tests/sign_fixture.sh): as built, after align8, cut
    // inside the certificate table, and with the signature removed again.
    for (const char *name : {"release", "patch"}) {
        const std::string signedExe = ReadFileBytes(std::string(SIGNED_DIR) + "\\" + name + ".exe");
        const size_t table = PeImage(signedExe).Dword(PeImage(signedExe).DirectoryEntry(4));
        ASSERT_GT(table, 0u) << name;
        cases.push_back({std::string(name) + " signed as built", signedExe, &menuText});
        cases.push_back({std::string(name) + " signed after align8",
                         ReadFileBytes(std::string(SIGNED_DIR) + "\\" + name + "-aligned.exe"), &menuText});
        cases.push_back({std::string(name) + " signed, signature removed",
                         ReadFileBytes(std::string(SIGNED_DIR) + "\\" + name + "-removed.exe"), nullptr});
        for (size_t keep :
             {size_t(1), size_t(4), size_t(5), (signedExe.size() - table) / 2, signedExe.size() - table - 1})
            cases.push_back(
                {std::string(name) + " signed, cut " + std::to_string(keep) + " bytes into the table",
                 signedExe.substr(0, table + keep), nullptr});
    }

    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string exe = dir / ("copy" + std::to_string(n++) + ".exe");
        WriteFileBytes(exe, c.bytes);
        WriteFileBytes(target, old);
        PromptRecorder boxes;
        EXPECT_EQ(c.chunk0 ? 1 : 0, ExtractChunkFromFile(exe.c_str(), target.c_str(), 0));
        EXPECT_TRUE(ReadFileBytes(target) == (c.chunk0 ? *c.chunk0 : old));
        EXPECT_TRUE(TemporaryFiles(dir.Path()).empty());
        if (c.chunk0) {
            EXPECT_TRUE(boxes.boxes.empty());
        } else {
            ASSERT_EQ(1u, boxes.boxes.size());
            ExpectBox(boxes.boxes[0], Formatted(kCannotRead, exe));
        }
        DeleteFileA(exe.c_str());
    }
}

TEST_F(Payload, EnsureDirectoriesMakesWhatIsMissingAndComesBack)
{
    MakeDirectories(dir / "elsewhere");
    MakeDirectories(dir / "a");
    ASSERT_TRUE(SetCurrentDirectoryA((dir / "elsewhere").c_str()));
    const std::string home = CurrentDirectory();

    PromptRecorder boxes;
    const std::string deep = dir / "a\\b\\c\\f.txt";
    EXPECT_EQ(1, EnsureDirectories(deep.c_str()));
    EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY, IsExistingDirectory((dir / "a\\b").c_str()));
    EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY, IsExistingDirectory((dir / "a\\b\\c").c_str()));
    EXPECT_FALSE(PathExists(deep));
    EXPECT_EQ(home, CurrentDirectory());
    EXPECT_EQ(1, EnsureDirectories(deep.c_str()));
    EXPECT_EQ(home, CurrentDirectory());

    // Only the root before the name: nothing to make.
    const std::string atRoot = dir.Path().substr(0, 3) + "vp-ensure-nothing.txt";
    EXPECT_EQ(1, EnsureDirectories(atRoot.c_str()));
    EXPECT_FALSE(PathExists(atRoot));
    EXPECT_EQ(home, CurrentDirectory());

    // A trailing backslash: the whole path is a directory.
    const std::string trailing = dir / "t\\u\\";
    EXPECT_EQ(1, EnsureDirectories(trailing.c_str()));
    EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY, IsExistingDirectory((dir / "t\\u").c_str()));
    EXPECT_EQ(home, CurrentDirectory());
    EXPECT_TRUE(boxes.boxes.empty());

    // A plain file where a directory should be; then a name no directory can
    // have, after one that could be made and stays.
    WriteFileBytes(dir / "plain", "x");
    const std::string throughFile = dir / "plain\\sub\\f.txt";
    EXPECT_EQ(0, EnsureDirectories(throughFile.c_str()));
    EXPECT_EQ(home, CurrentDirectory());
    EXPECT_EQ("x", ReadFileBytes(dir / "plain"));
    const std::string invalid = dir / "made\\ba*d\\f.txt";
    EXPECT_EQ(0, EnsureDirectories(invalid.c_str()));
    EXPECT_EQ(home, CurrentDirectory());
    EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY, IsExistingDirectory((dir / "made").c_str()));
    ASSERT_EQ(2u, boxes.boxes.size());
    ExpectBox(boxes.boxes[0], Formatted(kCannotWrite, throughFile));
    ExpectBox(boxes.boxes[1], Formatted(kCannotWrite, invalid));
}

// The first folder the walk may have to make: behind a drive's root, behind a
// network path's share (the server is no folder that could be entered), or
// behind a leading backslash.
TEST(PayloadWalk, TheWalkStartsBehindTheRoot)
{
    const struct {
        const char *path;
        const char *first;
    } cases[] = {
        {"C:\\Gry\\game\\Contents\\M_TITLE.PAK", "Gry\\game\\Contents\\M_TITLE.PAK"},
        {"C:\\Gry\\game\\\\Contents\\M_TITLE.PAK", "Gry\\game\\\\Contents\\M_TITLE.PAK"},
        {"C:", ""},
        {"\\\\server\\share\\Contents\\M_TITLE.PAK", "Contents\\M_TITLE.PAK"},
        {"\\\\server\\share\\Gry\\Vendrake II\\Contents\\M_TITLE.PAK",
         "Gry\\Vendrake II\\Contents\\M_TITLE.PAK"},
        {"\\\\server\\share", ""},
        {"\\Gry\\f.txt", "Gry\\f.txt"},
        {"Gry\\f.txt", "Gry\\f.txt"},
    };
    for (const auto &c : cases)
        EXPECT_STREQ(c.first, c.path + DirectoryWalkStart(c.path)) << c.path;
}

TEST_F(Payload, AProgramWithoutPayloadExtractsNothingAndTouchesNothing)
{
    char *own = GetOwnExePath();
    ASSERT_NE(nullptr, own);
    EXPECT_EQ(OwnPath(), own);
    free(own);
    // The system proves the running program's own file the one its image was
    // mapped from, and a copy of it not.
    ASSERT_TRUE(CopyFileA(OwnPath().c_str(), (dir / "copy.exe").c_str(), FALSE));
    for (const std::string &file : {OwnPath(), dir / "copy.exe"}) {
        Handle opened(CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
        EXPECT_EQ(file == OwnPath(), IsFileOfImage(opened.Get(), GetModuleHandleW(nullptr))) << file;
    }

    MakeDirectories(dir / "game");
    const std::string target = dir / "game\\M_TITLE.PAK";
    const std::string old = "old content of the menu text";
    WriteFileBytes(target, old);
    const std::string inNewDirectory = dir / "new\\deep\\f.bin";

    PromptRecorder boxes;
    EXPECT_EQ(0, ExtractChunkToFile(target.c_str(), 0));
    EXPECT_EQ(0, ExtractChunkToFile(inNewDirectory.c_str(), 1));
    ASSERT_EQ(2u, boxes.boxes.size());
    ExpectBox(boxes.boxes[0], Formatted(kCannotRead, OwnPath()));
    ExpectBox(boxes.boxes[1], Formatted(kCannotRead, OwnPath()));
    EXPECT_EQ(old, ReadFileBytes(target));
    EXPECT_TRUE(TemporaryFiles(dir / "game").empty());
    // The payload is located before any directory is made.
    EXPECT_FALSE(PathExists(dir / "new"));
}

// True when the running program ends with the test chunk 0.
bool CarriesTestPayload()
{
    FILE *own = fopen(OwnPath().c_str(), "rb");
    if (!own)
        return false;
    std::string tail(10004, '\0');
    bool carries = fseek(own, -10004, SEEK_END) == 0 && fread(&tail[0], 1, tail.size(), own) == tail.size() &&
                   tail == Chunk(ChunkBytes(10000, 0));
    fclose(own);
    return carries;
}

// Extraction from unit_tests_payload.exe, which carries ChunkBytes(8192, 1)
// as index 1 and ChunkBytes(10000, 0) as index 0 right behind its sections.
// A program that carries no such payload skips these (the ctest entry that
// runs them fails on a skip).
class PayloadCarried : public Payload {
protected:
    void SetUp() override
    {
        if (!CarriesTestPayload())
            GTEST_SKIP() << "this program carries no test payload";
    }

    const std::string chunk0 = ChunkBytes(10000, 0);
    const std::string chunk1 = ChunkBytes(8192, 1);
};

TEST_F(PayloadCarried, AnExistingTargetIsReplacedWhole)
{
    const std::string target = dir / "M_TITLE.PAK";
    WriteFileBytes(target, std::string(20000, 'x'));
    WriteFileBytes(dir / "~patch.tmp", "left over from an earlier run");
    PromptRecorder boxes;
    EXPECT_EQ(1, ExtractChunkToFile(target.c_str(), 0));
    EXPECT_TRUE(chunk0 == ReadFileBytes(target));
    EXPECT_EQ(1, ExtractChunkToFile(target.c_str(), 1));
    EXPECT_TRUE(chunk1 == ReadFileBytes(target));
    EXPECT_TRUE(boxes.boxes.empty());
    // A temporary file an earlier version left stays: nothing is deleted by
    // its name in a folder a user may write to.
    EXPECT_EQ(std::vector<std::string>{"~patch.tmp"}, TemporaryFiles(dir.Path()));
    EXPECT_EQ("left over from an earlier run", ReadFileBytes(dir / "~patch.tmp"));
}

TEST_F(PayloadCarried, MissingDirectoriesAreMade)
{
    MakeDirectories(dir / "elsewhere");
    ASSERT_TRUE(SetCurrentDirectoryA((dir / "elsewhere").c_str()));
    const std::string home = CurrentDirectory();
    const std::string target = dir / "a\\b\\c\\les01.dsc";
    PromptRecorder boxes;
    EXPECT_EQ(1, ExtractChunkToFile(target.c_str(), 1));
    EXPECT_TRUE(chunk1 == ReadFileBytes(target));
    EXPECT_EQ(home, CurrentDirectory());
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_TRUE(TemporaryFiles(dir / "a\\b\\c").empty());
}

TEST_F(PayloadCarried, FailuresLeaveTheOldTargetAndNoTemporaryFile)
{
    const std::string target = dir / "M_TITLE.PAK";
    const std::string old = "old bytes";
    WriteFileBytes(target, old);
    WriteFileBytes(dir / "plain", "x");
    const std::string throughFile = dir / "plain\\M_TITLE.PAK";
    const std::string inNewDirectory = dir / "new\\M_TITLE.PAK";

    PromptRecorder boxes;
    // There is no chunk in front of chunk 1.
    EXPECT_EQ(0, ExtractChunkToFile(inNewDirectory.c_str(), 2));
    EXPECT_EQ(0, ExtractChunkToFile(throughFile.c_str(), 0));
    ASSERT_EQ(2u, boxes.boxes.size());
    ExpectBox(boxes.boxes[0], Formatted(kCannotRead, OwnPath()));
    ExpectBox(boxes.boxes[1], Formatted(kCannotWrite, throughFile));
    EXPECT_EQ(old, ReadFileBytes(target));
    EXPECT_TRUE(TemporaryFiles(dir.Path()).empty());
    EXPECT_FALSE(PathExists(dir / "new"));
    EXPECT_EQ("x", ReadFileBytes(dir / "plain"));
}

// A target that can't be written given to each of the four file operations:
// the byte pokes, the rewrite, the rewrite with the times kept and the
// extraction, with the game folder's tree fixed. Where the operation refuses
// it, it names the target in its box, the rewrites in a question when
// failHard is clear (Yes goes on, No stops), and leaves it as it was.
//
// - Missing, a directory, held open without sharing: only the extraction
//   makes a file where none was.
// - Read-only counts for the extraction alone: Windows won't rename over such
//   a file, so it is refused on every platform, while Wine, run as root, opens
//   one for writing, so that the others can't be shown failing here.
// - A link to a file outside the tree, a second name of one, or the target's
//   folder a link to a folder outside: nothing outside is written, nor made.
//   The extraction never opens its target: it replaces a link or a second
//   name by a file of its own and leaves what they named as it was.
// - The same file a second time in one run: the pokes and the extraction
//   refuse it, a rewrite leaves it as it is without asking, and says so.
// - A link to a file inside the tree, in another folder or in the same, or
//   the target's folder a link to another folder inside; a link into a
//   sibling folder whose name differs from the game folder's in letter case
//   alone (made on the Linux side under Wine: another folder there), or that
//   begins with the game folder's whole name. What each names stays as it was.
// - The target's folder missing: no folder is made but by the extraction.
TEST_F(PayloadCarried, ATargetThatCannotBeWrittenIsRefusedByEveryOperation)
{
    typedef int (*Operation)(const char *path, int failHard, bool *complete);
    const struct {
        const char *what;
        Operation run;
        const char *message;
        bool asks;
    } operations[] = {
        {"pokes",
         [](const char *path, int, bool *) {
             static const BytePatch records[] = {{0, 'X'}};
             return ApplyBytePatches(path, records, 1);
         },
         kCannotOpen, false},
        {"rewrite",
         [](const char *path, int failHard, bool *) {
             return ReplaceInFile(path, kSaveRuleReplacement, kSavePattern, kSaveRuleLength, failHard);
         },
         kCannotOpen, true},
        {"rewrite keeping the times",
         [](const char *path, int failHard, bool *complete) {
             return ReplaceInFileKeepTimes(path, kSaveRuleReplacement, kSavePattern, kSaveRuleLength,
                                           failHard, 1, complete);
         },
         kCannotOpen, true},
        {"extraction", [](const char *path, int, bool *) { return ExtractChunkToFile(path, 0); },
         kCannotCreate, false},
    };
    enum Condition {
        kMissing,
        kDirectory,
        kHeld,
        kReadOnly,
        kLinkOut,
        kSecondName,
        kFolderOut,
        kTwice,
        kLinkInside,
        kLinkNearby,
        kCaseSibling,
        kNameSibling,
        kFolderInside,
        kNoFolder,
    };
    // Three "Procesor" fields: each rewrite turns one more pair of them.
    const std::string field("Procesor\0", 9), old = field + field + field;
    TempDir outside;
    const std::string game = dir / "game", outsideFile = outside / "file.bin";
    MakeDirectories(game + "\\sub");
    MakeDirectories(outside / "folder");
    // What the links of each condition lead to, inside the tree or beside it.
    const std::string inside = game + "\\inside\\target.bin", nearby = game + "\\sub\\nearby.bin",
                      caseSibling = dir / "GAME\\sub\\target.bin",
                      nameSibling = dir / "game2\\sub\\target.bin";
    for (const std::string &file : {inside, nameSibling, dir / "GAME_\\sub\\target.bin"}) {
        MakeDirectories(file.substr(0, file.rfind('\\')));
        WriteFileBytes(file, old);
    }
    ASSERT_TRUE(!UnderWine() || RenameOnUnixSide(dir / "GAME_", dir / "GAME"));
    for (const auto &operation : operations) {
        const bool extraction = operation.message == kCannotCreate;
        for (Condition condition :
             {kMissing, kDirectory, kHeld, kReadOnly, kLinkOut, kSecondName, kFolderOut, kTwice, kLinkInside,
              kLinkNearby, kCaseSibling, kNameSibling, kFolderInside, kNoFolder}) {
            if ((condition == kReadOnly && !extraction) || (condition == kCaseSibling && !UnderWine()))
                continue;
            const std::string linked[] = {inside, nearby, caseSibling, nameSibling};
            const std::string named = condition >= kLinkInside && condition <= kNameSibling
                                          ? linked[condition - kLinkInside]
                                          : outsideFile;
            SCOPED_TRACE(std::string(operation.what) + ", condition " + std::to_string(condition));
            const std::string folder = game + "\\sub", target = folder + "\\target.bin";
            const bool folderLinked = condition == kFolderOut || condition == kFolderInside;
            const bool fileLinked =
                condition == kLinkOut || (condition >= kLinkInside && condition <= kNameSibling);
            RemoveTree(folder);
            if (folderLinked)
                ASSERT_TRUE(
                    MakeLink(folder, condition == kFolderOut ? outside / "folder" : game + "\\inside", true));
            else if (condition != kNoFolder)
                MakeDirectories(folder);
            WriteFileBytes(named, old);
            if (condition == kDirectory)
                MakeDirectories(target);
            else if (fileLinked)
                ASSERT_TRUE(MakeLink(target, named, false));
            else if (condition == kSecondName)
                ASSERT_TRUE(CreateHardLinkA(target.c_str(), outsideFile.c_str(), nullptr));
            else if (condition != kMissing && condition != kNoFolder && !folderLinked)
                WriteFileBytes(target, old);
            if (condition == kReadOnly) {
                ASSERT_TRUE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY));
            }
            const std::string before = ReadFileBytes(target);
            std::unique_ptr<HeldOpen> holder(condition == kHeld ? new HeldOpen(target) : nullptr);

            FixedTrees trees(game);
            PromptRecorder boxes({IDOK, IDYES, IDNO});
            // Only the rewrite keeping the times says whether it was complete.
            bool complete = false;
            std::string once;
            if (condition == kTwice) {
                EXPECT_EQ(1, operation.run(target.c_str(), 1, nullptr));
                once = ReadFileBytes(target);
                EXPECT_NE(once, before);
                if (operation.asks) {
                    EXPECT_EQ(1, operation.run(target.c_str(), 1, &complete));
                    EXPECT_TRUE(boxes.boxes.empty());
                    EXPECT_TRUE(ReadFileBytes(target) == once) << "written twice";
                    EXPECT_FALSE(complete);
                    continue;
                }
            }
            if (extraction &&
                (condition == kMissing || fileLinked || condition == kSecondName || condition == kNoFolder)) {
                EXPECT_EQ(1, operation.run(target.c_str(), 1, nullptr));
                EXPECT_TRUE(boxes.boxes.empty());
                EXPECT_TRUE(chunk0 == ReadFileBytes(target));
                EXPECT_EQ(old, ReadFileBytes(named));
                EXPECT_TRUE(TemporaryFiles(folder).empty());
                continue;
            }
            EXPECT_EQ(0, operation.run(target.c_str(), 1, nullptr));
            if (operation.asks) {
                EXPECT_EQ(1, operation.run(target.c_str(), 0, &complete));
                EXPECT_FALSE(complete);
                EXPECT_EQ(0, operation.run(target.c_str(), 0, nullptr));
            }
            const std::string message = Formatted(operation.message, target);
            ASSERT_EQ(operation.asks ? 3u : 1u, boxes.boxes.size());
            ExpectBox(boxes.boxes[0], message, kErrorBox);
            for (size_t i = 1; i < boxes.boxes.size(); ++i)
                ExpectBox(boxes.boxes[i], message + kContinueSuffix, kQuestionBox);
            holder.reset();
            EXPECT_EQ(condition == kMissing || condition == kFolderOut || condition == kNoFolder,
                      !PathExists(target));
            EXPECT_EQ(condition == kNoFolder, !PathExists(folder)) << "a folder was made";
            EXPECT_EQ(condition == kDirectory, IsExistingDirectory(target.c_str()) != 0);
            EXPECT_TRUE(ReadFileBytes(target) == (condition == kTwice ? once : before));
            EXPECT_EQ(old, ReadFileBytes(named));
            EXPECT_TRUE(ListEntries(outside / "folder\\*").empty()) << "made outside the tree";
            EXPECT_TRUE(TemporaryFiles(folder).empty());
        }
        SetFileAttributesA((game + "\\sub\\target.bin").c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

// An existing file is patched, and nothing extracted; a missing path, or a
// directory, is no file to patch: the chunk is extracted instead.
TEST_F(PayloadCarried, PatchOrExtractWritesTheChunkWhereNoFileIsToPatch)
{
    const BytePatch records[] = {{1, 'Z'}};
    const std::string file = dir / "DEF1.CFG", missing = dir / "missing.lvl", directory = dir / "folder.lvl";
    WriteFileBytes(file, "....");
    MakeDirectories(directory);
    const std::string extracted = dir / "out\\extracted.lvl";
    PromptRecorder boxes;
    EXPECT_EQ(1, PatchOrExtract(file.c_str(), records, 1, extracted.c_str(), 1));
    EXPECT_EQ(".Z..", ReadFileBytes(file));
    EXPECT_FALSE(PathExists(extracted));
    EXPECT_EQ(1, PatchOrExtract(missing.c_str(), records, 1, extracted.c_str(), 1));
    EXPECT_TRUE(chunk1 == ReadFileBytes(extracted));
    EXPECT_FALSE(PathExists(missing));
    EXPECT_EQ(1, PatchOrExtract(directory.c_str(), records, 1, extracted.c_str(), 0));
    EXPECT_TRUE(chunk0 == ReadFileBytes(extracted));
    EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY, IsExistingDirectory(directory.c_str()));
    EXPECT_TRUE(boxes.boxes.empty());
}

} // namespace
