// The payload behind an executable: chunks located in files made here and in
// the distributable, the directories made for a target, and extraction from
// the running test program, with no payload (unit_tests) and with the two
// chunks that tests/patch.cmake appends to unit_tests_payload.exe.
#include <gtest/gtest.h>

#include "patch/patch.h"
#include "tests/test_support.h"

#include <stdlib.h>

#include <string>

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

uint32_t WordAt(const std::string &bytes, size_t offset)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes.at(offset + i));
    return value;
}

uint16_t HalfAt(const std::string &bytes, size_t offset)
{
    return static_cast<uint16_t>(static_cast<unsigned char>(bytes.at(offset)) |
                                 static_cast<unsigned char>(bytes.at(offset + 1)) << 8);
}

std::string OwnPath()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, length);
}

std::string CurrentDirectory()
{
    char path[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, path);
    return path;
}

void ExpectBox(const RecordedBox &box, const std::string &text)
{
    EXPECT_EQ(text, box.text);
    EXPECT_EQ(static_cast<UINT>(kStyleError), box.type);
    EXPECT_EQ(std::string(kCaption), box.caption);
}

// Where the raw data of the image's sections ends, from its section table.
size_t SectionDataEnd(const std::string &image)
{
    size_t pe = WordAt(image, 0x3C);
    EXPECT_EQ("PE", image.substr(pe, 2));
    size_t sections = HalfAt(image, pe + 6);
    size_t table = pe + 24 + HalfAt(image, pe + 20);
    size_t end = 0;
    for (size_t i = 0; i < sections; ++i) {
        size_t header = table + 40 * i;
        size_t rawEnd = WordAt(image, header + 20) + WordAt(image, header + 16);
        if (rawEnd > end)
            end = rawEnd;
    }
    return end;
}


class Payload : public testing::Test {
protected:
    // LocatePayloadChunk on path: the length, and where the stream stands.
    struct Located {
        uint32_t length;
        long position;
        std::string data;
    };
    static Located Locate(const std::string &path, uint32_t index, const char *displayName)
    {
        Located result = {0, -1, ""};
        FILE *stream = fopen(path.c_str(), "rb");
        EXPECT_NE(nullptr, stream) << path;
        if (!stream)
            return result;
        result.length = LocatePayloadChunk(stream, index, displayName);
        result.position = ftell(stream);
        if (result.length) {
            result.data.resize(result.length);
            result.data.resize(fread(&result.data[0], 1, result.length, stream));
        }
        fclose(stream);
        return result;
    }

    TempDir dir;
};

TEST_F(Payload, ChunksAreCountedFromTheEnd)
{
    // An image whose last four bytes are zero, a chunk of 8,192 bytes and
    // one of 100, appended in that order.
    const std::string image = std::string(296, 'j') + Word(0);
    const std::string first = ChunkBytes(8192, 5), last = ChunkBytes(100, 6);
    const std::string path = dir / "with.exe";
    WriteFileBytes(path, image + first + Word(8192) + last + Word(100));
    const char *display = "C:\\Gry\\patch.exe";

    PromptRecorder boxes;
    Located chunk = Locate(path, 0, display);
    EXPECT_EQ(100u, chunk.length);
    EXPECT_EQ(static_cast<long>(image.size() + first.size() + 4), chunk.position);
    EXPECT_TRUE(last == chunk.data);
    chunk = Locate(path, 1, display);
    EXPECT_EQ(8192u, chunk.length);
    EXPECT_EQ(static_cast<long>(image.size()), chunk.position);
    EXPECT_TRUE(first == chunk.data);
    EXPECT_TRUE(boxes.boxes.empty());

    // Behind the first chunk stands the image's zero word.
    EXPECT_EQ(0u, Locate(path, 2, display).length);
    EXPECT_EQ(0u, Locate(path, 0xFFFFFFFFu, display).length);
    ASSERT_EQ(2u, boxes.boxes.size());
    ExpectBox(boxes.boxes[0], Formatted(kCannotRead, display));
    ExpectBox(boxes.boxes[1], Formatted(kCannotRead, display));
}

TEST_F(Payload, BrokenTrailersAreReadFailures)
{
    const char *display = "C:\\Gry\\patch.exe";
    // A chunk may begin at the very first byte of the file.
    WriteFileBytes(dir / "edge.bin", "abcdef" + Word(6));
    PromptRecorder boxes;
    Located chunk = Locate(dir / "edge.bin", 0, display);
    EXPECT_EQ(6u, chunk.length);
    EXPECT_EQ(0, chunk.position);
    EXPECT_TRUE(boxes.boxes.empty());

    const std::string broken[] = {
        "",                          // empty
        "abc",                       // shorter than a length word
        "abcdef" + Word(7),          // longer than the bytes before it
        "abcdef" + Word(0x7FFFFFFF), // far longer
        "abcdef" + Word(0),          // zero
    };
    int n = 0;
    for (const std::string &bytes : broken) {
        std::string path = dir / ("broken" + std::to_string(n++) + ".bin");
        WriteFileBytes(path, bytes);
        EXPECT_EQ(0u, Locate(path, 0, display).length) << path;
    }
    // Index 1 behind a good chunk 0 whose predecessor claims too much.
    WriteFileBytes(dir / "second.bin", "ab" + Word(3) + "xyz" + Word(3));
    EXPECT_EQ(3u, Locate(dir / "second.bin", 0, display).length);
    EXPECT_EQ(0u, Locate(dir / "second.bin", 1, display).length);

    ASSERT_EQ(6u, boxes.boxes.size());
    for (const RecordedBox &box : boxes.boxes)
        ExpectBox(box, Formatted(kCannotRead, display));
}

// The distributables: this build's own, and the release executable when the
// tests are built for another architecture than the release.
const char *const kDistributables[] = {DIST_EXE, RELEASE_EXE};

TEST_F(Payload, TheDistributableCarriesTheMenuTextAsChunkZero)
{
    const std::string menuText = ReadFileBytes(MENU_TEXT);
    ASSERT_EQ(84163u, menuText.size());
    for (const char *exe : kDistributables) {
        SCOPED_TRACE(exe);
        const std::string image = ReadFileBytes(exe);
        ASSERT_GT(image.size(), 84167u);
        const size_t sectionEnd = SectionDataEnd(image);

        PromptRecorder boxes;
        Located chunk = Locate(exe, 0, exe);
        EXPECT_EQ(84163u, chunk.length);
        EXPECT_EQ(static_cast<long>(sectionEnd), chunk.position);
        EXPECT_EQ(image.size(), sectionEnd + 84163 + 4);
        EXPECT_TRUE(menuText == chunk.data);
        EXPECT_TRUE(boxes.boxes.empty());

        EXPECT_EQ(0u, Locate(exe, 1, exe).length);
        ASSERT_EQ(1u, boxes.boxes.size());
        ExpectBox(boxes.boxes[0], Formatted(kCannotRead, exe));
    }
}

TEST_F(Payload, ACertificateTableAtTheEndIsNotPartOfThePayload)
{
    // The distributable as a signature would leave it: a certificate table
    // appended and entered in the image's security directory.
    for (const char *exe : kDistributables) {
        SCOPED_TRACE(exe);
        std::string image = ReadFileBytes(exe);
        const size_t sectionEnd = SectionDataEnd(image);
        const size_t pe = WordAt(image, 0x3C);
        const uint16_t magic = HalfAt(image, pe + 24);
        ASSERT_TRUE(magic == 0x10B || magic == 0x20B);
        const size_t security = pe + 24 + (magic == 0x10B ? 96 : 112) + 4 * 8;
        const std::string certificate =
            Word(24) + std::string("\x00\x02\x02\x00", 4) + std::string(16, '\x5A');
        image.replace(security, 8, Word(static_cast<uint32_t>(image.size())) + Word(24));
        image += certificate;
        const std::string path = dir / "signed.exe";
        WriteFileBytes(path, image);

        PromptRecorder boxes;
        Located chunk = Locate(path, 0, "signed.exe");
        EXPECT_EQ(84163u, chunk.length);
        EXPECT_EQ(static_cast<long>(sectionEnd), chunk.position);
        EXPECT_TRUE(ReadFileBytes(MENU_TEXT) == chunk.data);
        EXPECT_TRUE(boxes.boxes.empty());

        // A table that doesn't close the file is no signature: the payload
        // ends at the end of the file, where the table's bytes stand.
        image += "tail";
        WriteFileBytes(path, image);
        EXPECT_EQ(0u, Locate(path, 0, "signed.exe").length);
        EXPECT_EQ(1u, boxes.boxes.size());
    }
}

// Both distributables signed for real (tests/sign_fixture.sh): made ready by
// the payload tool, their payload ends where the certificate table begins.
// The release signed without that has the signature's padding where its last
// length word should be; the payload is refused rather than a length taken
// from the middle of the menu texts.
TEST_F(Payload, RealSignatures)
{
    const std::string menuText = ReadFileBytes(MENU_TEXT);
    for (const char *name : {"release.exe", "patch.exe"}) {
        SCOPED_TRACE(name);
        PromptRecorder boxes;
        Located chunk = Locate(std::string(SIGNED_DIR) + "\\" + name, 0, name);
        EXPECT_EQ(84163u, chunk.length);
        EXPECT_TRUE(menuText == chunk.data);
        EXPECT_TRUE(boxes.boxes.empty());
    }
    PromptRecorder boxes;
    EXPECT_EQ(0u, Locate(std::string(SIGNED_DIR) + "\\unaligned.exe", 0, "unaligned.exe").length);
    ASSERT_EQ(1u, boxes.boxes.size());
    ExpectBox(boxes.boxes[0], Formatted(kCannotRead, "unaligned.exe"));
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

TEST_F(Payload, AProgramWithoutPayloadExtractsNothingAndTouchesNothing)
{
    char *own = GetOwnExePath();
    ASSERT_NE(nullptr, own);
    EXPECT_EQ(OwnPath(), own);
    free(own);

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
    EXPECT_FALSE(PathExists(dir / "game\\~patch.tmp"));
    // The payload is located before any directory is made.
    EXPECT_FALSE(PathExists(dir / "new"));
}

// Extraction from unit_tests_payload.exe, which carries ChunkBytes(8192, 1)
// as index 1 and ChunkBytes(10000, 0) as index 0 behind the zero word that
// ends unit_tests. These cases exist only in a program that carries that
// payload: they are registered at start-up after a look at its own tail.
class PayloadCarried : public Payload {
public:
    typedef void (*Body)(PayloadCarried &test);
    explicit PayloadCarried(Body body) : body_(body) {}
    void TestBody() override { body_(*this); }

    using Payload::dir;
    const std::string chunk0 = ChunkBytes(10000, 0);
    const std::string chunk1 = ChunkBytes(8192, 1);

private:
    Body body_;
};

void AnExistingTargetIsReplacedWhole(PayloadCarried &test)
{
    const std::string target = test.dir / "M_TITLE.PAK";
    WriteFileBytes(target, std::string(20000, 'x'));
    WriteFileBytes(test.dir / "~patch.tmp", "left over from an earlier run");
    PromptRecorder boxes;
    EXPECT_EQ(1, ExtractChunkToFile(target.c_str(), 0));
    EXPECT_TRUE(test.chunk0 == ReadFileBytes(target));
    EXPECT_EQ(1, ExtractChunkToFile(target.c_str(), 1));
    EXPECT_TRUE(test.chunk1 == ReadFileBytes(target));
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_FALSE(PathExists(test.dir / "~patch.tmp"));
}

void MissingDirectoriesAreMade(PayloadCarried &test)
{
    MakeDirectories(test.dir / "elsewhere");
    ASSERT_TRUE(SetCurrentDirectoryA((test.dir / "elsewhere").c_str()));
    const std::string home = CurrentDirectory();
    const std::string target = test.dir / "a\\b\\c\\les01.dsc";
    PromptRecorder boxes;
    EXPECT_EQ(1, ExtractChunkToFile(target.c_str(), 1));
    EXPECT_TRUE(test.chunk1 == ReadFileBytes(target));
    EXPECT_EQ(home, CurrentDirectory());
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_FALSE(PathExists(test.dir / "a\\b\\c\\~patch.tmp"));
}

void FailuresLeaveTheOldTargetAndNoTemporaryFile(PayloadCarried &test)
{
    const std::string target = test.dir / "M_TITLE.PAK";
    const std::string old = "old bytes";
    WriteFileBytes(target, old);
    WriteFileBytes(test.dir / "plain", "x");
    const std::string throughFile = test.dir / "plain\\M_TITLE.PAK";
    const std::string inNewDirectory = test.dir / "new\\M_TITLE.PAK";

    PromptRecorder boxes;
    {
        HeldOpen holder(target);
        EXPECT_EQ(0, ExtractChunkToFile(target.c_str(), 0));
    }
    // Behind chunk 1 stands the zero word that ends unit_tests.
    EXPECT_EQ(0, ExtractChunkToFile(inNewDirectory.c_str(), 2));
    EXPECT_EQ(0, ExtractChunkToFile(throughFile.c_str(), 0));
    ASSERT_EQ(3u, boxes.boxes.size());
    ExpectBox(boxes.boxes[0], Formatted(kCannotCreate, target));
    ExpectBox(boxes.boxes[1], Formatted(kCannotRead, OwnPath()));
    ExpectBox(boxes.boxes[2], Formatted(kCannotWrite, throughFile));
    EXPECT_EQ(old, ReadFileBytes(target));
    EXPECT_FALSE(PathExists(test.dir / "~patch.tmp"));
    EXPECT_FALSE(PathExists(test.dir / "new"));
    EXPECT_EQ("x", ReadFileBytes(test.dir / "plain"));
}

void PatchOrExtractWritesTheChunkWhereNoFileIsToPatch(PayloadCarried &test)
{
    const BytePatch records[] = {{0, 'Z'}};
    const std::string missing = test.dir / "missing.lvl";
    const std::string directory = test.dir / "folder.lvl";
    MakeDirectories(directory);
    const std::string extracted = test.dir / "out\\extracted.lvl";
    PromptRecorder boxes;
    EXPECT_EQ(1, PatchOrExtract(missing.c_str(), records, 1, extracted.c_str(), 1));
    EXPECT_TRUE(test.chunk1 == ReadFileBytes(extracted));
    EXPECT_FALSE(PathExists(missing));
    EXPECT_EQ(1, PatchOrExtract(directory.c_str(), records, 1, extracted.c_str(), 0));
    EXPECT_TRUE(test.chunk0 == ReadFileBytes(extracted));
    EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY, IsExistingDirectory(directory.c_str()));
    EXPECT_TRUE(boxes.boxes.empty());
}

// True when the running program ends with the test chunk 0.
bool CarriesTestPayload()
{
    FILE *own = fopen(OwnPath().c_str(), "rb");
    if (!own)
        return false;
    std::string tail(10004, '\0');
    bool carries = fseek(own, -10004, SEEK_END) == 0 && fread(&tail[0], 1, tail.size(), own) == tail.size() &&
                   WordAt(tail, 10000) == 10000 && tail.substr(0, 10000) == ChunkBytes(10000, 0);
    fclose(own);
    return carries;
}

[[maybe_unused]] const bool kCarriedCasesRegistered = [] {
    if (!CarriesTestPayload())
        return false;
    struct Case {
        const char *name;
        PayloadCarried::Body body;
    };
    static const Case cases[] = {
        {"AnExistingTargetIsReplacedWhole", AnExistingTargetIsReplacedWhole},
        {"MissingDirectoriesAreMade", MissingDirectoriesAreMade},
        {"FailuresLeaveTheOldTargetAndNoTemporaryFile", FailuresLeaveTheOldTargetAndNoTemporaryFile},
        {"PatchOrExtractWritesTheChunkWhereNoFileIsToPatch",
         PatchOrExtractWritesTheChunkWhereNoFileIsToPatch},
    };
    for (const Case &c : cases) {
        PayloadCarried::Body body = c.body;
        testing::RegisterTest("PayloadCarried", c.name, nullptr, nullptr, __FILE__, __LINE__,
                              [body]() -> PayloadCarried * { return new PayloadCarried(body); });
    }
    return true;
}();

} // namespace
