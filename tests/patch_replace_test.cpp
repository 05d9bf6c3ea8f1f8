// Pattern replacement: the buffer scan on every search path, the block loop
// over a whole file, the reports when a file can't be opened, the time stamps
// and the rewriting of every match of a wildcard (the walk itself, shared with
// the saved-game list, is tested there).
#include <gtest/gtest.h>

#include "patch/patch.h"
#include "tests/test_support.h"

#include <string.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

const unsigned char *Bytes(const std::string &text)
{
    return reinterpret_cast<const unsigned char *>(text.data());
}

const std::string kPattern(reinterpret_cast<const char *>(kSavePattern), kSaveRuleLength);
const std::string kReplacement(reinterpret_cast<const char *>(kSaveRuleReplacement), kSaveRuleLength);
const std::string kProcesorField("Procesor\0", 9);
const std::string kCpuField("CPU\0\0\0\0\0\0", 9);

// ReplaceInBuffer over a copy of buffer: its result and the bytes after it.
std::pair<int, std::string> Replace(std::string buffer, const std::string &replacement,
                                    const std::string &pattern)
{
    int result = ReplaceInBuffer(reinterpret_cast<unsigned char *>(&buffer[0]), buffer.size(),
                                 Bytes(replacement), Bytes(pattern), static_cast<unsigned>(pattern.size()));
    return {result, buffer};
}

// Lower-case letters: never the start of the patterns used here.
std::string Filler(size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, 'a');
    for (char &byte : bytes)
        byte = static_cast<char>('a' + random() % 26);
    return bytes;
}

void Put(std::string &bytes, size_t offset, const std::string &what)
{
    ASSERT_LE(offset + what.size(), bytes.size());
    bytes.replace(offset, what.size(), what);
}

std::string Question(const std::string &message)
{
    return message + kContinueSuffix;
}

// The scan paths this processor has, widest last; each test that runs under
// them puts back the path chosen at start.
std::vector<ScanPath> AvailableScanPaths()
{
    const ScanPath chosen = CurrentScanPath();
    std::vector<ScanPath> paths;
    for (ScanPath path : {ScanPath::Plain, ScanPath::Sse2, ScanPath::Avx2})
        if (ChooseScanPath(path))
            paths.push_back(path);
    ChooseScanPath(chosen);
    return paths;
}

class ForcedScanPath {
public:
    explicit ForcedScanPath(ScanPath path) : chosen_(CurrentScanPath())
    {
        EXPECT_EQ(1, ChooseScanPath(path));
    }
    ~ForcedScanPath() { ChooseScanPath(chosen_); }

private:
    ScanPath chosen_;
};

// One left-to-right pass, written as plainly as possible.
std::string ReplacedPlainly(std::string bytes, const std::string &replacement, const std::string &pattern)
{
    for (size_t p = 0; p + pattern.size() <= bytes.size();) {
        if (bytes.compare(p, pattern.size(), pattern) == 0) {
            bytes.replace(p, pattern.size(), replacement);
            p += pattern.size();
        } else {
            ++p;
        }
    }
    return bytes;
}

TEST(ReplaceBuffer, EveryScanPathFindsOccurrencesAcrossItsLanes)
{
    // The widest path the processor has is the one chosen.
    const std::vector<ScanPath> paths = AvailableScanPaths();
    ASSERT_FALSE(paths.empty());
    EXPECT_EQ(paths.back(), CurrentScanPath());
    std::mt19937 random(7);
    for (ScanPath path : paths) {
        ForcedScanPath forced(path);
        SCOPED_TRACE("path " + std::to_string(static_cast<int>(path)));
        // The pattern at every start across two 32-byte lanes, up to the
        // buffer's end, followed by a candidate whose two filter bytes match
        // but not the rest.
        for (size_t size : {size_t(18), size_t(47), size_t(100), size_t(300)}) {
            for (size_t at = 0; at + 18 <= size; ++at) {
                std::string bytes = Filler(size, static_cast<unsigned>(at));
                Put(bytes, at, kPattern);
                if (at + 35 <= size)
                    bytes[at + 18] = 'P', bytes[at + 34] = 'r';
                EXPECT_EQ(std::make_pair(1, ReplacedPlainly(bytes, kReplacement, kPattern)),
                          Replace(bytes, kReplacement, kPattern))
                    << "size " << size << ", at " << at;
            }
        }
        // Dense two-letter buffers: occurrences in every lane, overlapping.
        for (int round = 0; round < 40; ++round) {
            std::string bytes(random() % 300, 'A');
            for (char &byte : bytes)
                byte = random() % 3 ? 'A' : 'B';
            const std::string pattern = round % 2 ? "ABAAB" : "AB";
            const std::string replacement = round % 2 ? "BBABA" : "BA";
            EXPECT_EQ(ReplacedPlainly(bytes, replacement, pattern),
                      Replace(bytes, replacement, pattern).second);
        }
    }
}

TEST(ReplaceBuffer, ReplacesLeftToRightWithoutOverlap)
{
    // At offset 0 and ending at the last byte.
    EXPECT_EQ(std::make_pair(1, std::string("ab--ab")), Replace("XY--XY", "ab", "XY"));
    // Back to back.
    EXPECT_EQ(std::make_pair(1, std::string("ababab")), Replace("XYXYXY", "ab", "XY"));
    // Overlapping occurrences: only the earlier.
    EXPECT_EQ(std::make_pair(1, std::string("123ba")), Replace("ababa", "123", "aba"));
    // A run of three with a two-byte pattern: once, at the run's first byte.
    EXPECT_EQ(std::make_pair(1, std::string("-12z-")), Replace("-zzz-", "12", "zz"));
    // The scan resumes behind the written bytes: the "ab" they form with the
    // next byte is not an occurrence any more.
    EXPECT_EQ(std::make_pair(1, std::string("xab")), Replace("abb", "xa", "ab"));
    // Exactly the pattern; and nothing to replace.
    EXPECT_EQ(std::make_pair(1, std::string("ab")), Replace("XY", "ab", "XY"));
    EXPECT_EQ(std::make_pair(0, std::string("XxYyX")), Replace("XxYyX", "ab", "XY"));
    // Shorter than the pattern.
    EXPECT_EQ(std::make_pair(0, std::string("X")), Replace("X", "ab", "XY"));
    EXPECT_EQ(std::make_pair(0, std::string("")), Replace("", "ab", "XY"));
    EXPECT_EQ(std::make_pair(0, std::string("Procesor")), Replace("Procesor", kReplacement, kPattern));
}

TEST(ReplaceBuffer, TheSaveRuleTurnsTheFirstOfTwoProcesorFieldsIntoCpu)
{
    EXPECT_EQ(18u, kSaveRuleLength);
    EXPECT_EQ(kProcesorField + kProcesorField, kPattern);
    EXPECT_EQ(kCpuField + kProcesorField, kReplacement);

    EXPECT_EQ(std::make_pair(1, kCpuField + kProcesorField),
              Replace(kProcesorField + kProcesorField, kReplacement, kPattern));
    // Near misses stay as they are.
    const std::string lone = "xx" + kProcesorField + "yyyyyyyyyyyy";
    EXPECT_EQ(std::make_pair(0, lone), Replace(lone, kReplacement, kPattern));
    const std::string secondDiffers = kProcesorField + std::string("Procesos\0", 9);
    EXPECT_EQ(std::make_pair(0, secondDiffers), Replace(secondDiffers, kReplacement, kPattern));
    const std::string unterminated = kProcesorField + "Procesor!";
    EXPECT_EQ(std::make_pair(0, unterminated), Replace(unterminated, kReplacement, kPattern));
    // Three fields: the second and third no longer pair up once the first two
    // are consumed. Four fields: two pairs.
    EXPECT_EQ(std::make_pair(1, kCpuField + kProcesorField + kProcesorField),
              Replace(kProcesorField + kProcesorField + kProcesorField, kReplacement, kPattern));
    EXPECT_EQ(
        std::make_pair(1, kCpuField + kProcesorField + kCpuField + kProcesorField),
        Replace(kProcesorField + kProcesorField + kProcesorField + kProcesorField, kReplacement, kPattern));
}

class ReplaceFiles : public testing::Test {
protected:
    std::string Write(const std::string &name, const std::string &bytes)
    {
        std::string path = dir / name;
        WriteFileBytes(path, bytes);
        return path;
    }

    // Runs ReplaceInFile on bytes and checks the file against one pass of
    // ReplaceInBuffer over the whole content: same result, same length.
    void ExpectWholeFilePass(const std::string &bytes, const std::string &replacement,
                             const std::string &pattern)
    {
        std::string path = Write("f.bin", bytes);
        std::string expected = Replace(bytes, replacement, pattern).second;
        PromptRecorder boxes;
        EXPECT_EQ(1, ReplaceInFile(path.c_str(), Bytes(replacement), Bytes(pattern),
                                   static_cast<unsigned>(pattern.size()), 1));
        EXPECT_TRUE(boxes.boxes.empty());
        std::string after = ReadFileBytes(path);
        EXPECT_EQ(bytes.size(), after.size());
        EXPECT_TRUE(expected == after)
            << "file of " << bytes.size() << " bytes differs from a whole-buffer pass";
    }

    TempDir dir;
};

TEST_F(ReplaceFiles, SmallFilesAndExactBlockMultiples)
{
    constexpr size_t kBlock = kRewriteBlockSize;
    ExpectWholeFilePass("", kReplacement, kPattern);
    EXPECT_EQ("", ReadFileBytes(dir / "f.bin"));
    ExpectWholeFilePass(kProcesorField + "x", kReplacement, kPattern);
    EXPECT_EQ(kProcesorField + "x", ReadFileBytes(dir / "f.bin"));

    // One block, pattern at its first byte and ending at its last.
    std::string bytes = Filler(kBlock, 1);
    Put(bytes, 0, kPattern);
    Put(bytes, kBlock - 18, kPattern);
    ExpectWholeFilePass(bytes, kReplacement, kPattern);
    std::string after = ReadFileBytes(dir / "f.bin");
    EXPECT_EQ(kReplacement, after.substr(0, 18));
    EXPECT_EQ(kReplacement, after.substr(kBlock - 18));

    // Three blocks: at the edges of the middle block and at the file's end.
    const size_t offsets[] = {kBlock - 18, kBlock, 2 * kBlock - 18, 3 * kBlock - 18};
    bytes = Filler(3 * kBlock, 2);
    for (size_t offset : offsets)
        Put(bytes, offset, kPattern);
    ExpectWholeFilePass(bytes, kReplacement, kPattern);
    after = ReadFileBytes(dir / "f.bin");
    for (size_t offset : offsets)
        EXPECT_EQ(kReplacement, after.substr(offset, 18)) << offset;
}

// An occurrence across the k-th boundary of the blocks the rewrite reads,
// with k of its bytes in front of it, for every k from 1 to 17.
std::vector<size_t> EverySplit()
{
    std::vector<size_t> offsets;
    for (size_t k = 1; k < kSaveRuleLength; ++k)
        offsets.push_back(k * kRewriteBlockSize - k);
    return offsets;
}

TEST_F(ReplaceFiles, OccurrencesAcrossBlockBoundariesAreReplaced)
{
    constexpr size_t kB = kRewriteBlockSize;
    // The longest pattern, 255 bytes.
    std::string longest(255, 'P'), longReplacement(255, 'R');
    for (size_t i = 0; i < longest.size(); ++i) {
        longest[i] = static_cast<char>('A' + i % 26);
        longReplacement[i] = static_cast<char>('0' + i % 10);
    }
    const struct {
        const char *what;
        size_t size;
        std::string pattern, replacement;
        std::vector<size_t> offsets;
    } cases[] = {
        {"six bytes in one block, the last in the next", kB + 1, "PATTERN", "REPLACE", {kB - 6}},
        {"straddling three boundaries, back to back across the fourth, inside a block and ending at the "
         "file's end",
         5 * kB,
         kPattern,
         kReplacement,
         {100, kB - 9, 2 * kB - 1, 3 * kB - 17, 4 * kB - 18, 4 * kB, 5 * kB - 18}},
        {"far apart in one read block, each written back on its own, and across the read blocks' "
         "boundaries",
         3 * kRewriteBlockSize + 123,
         kPattern,
         kReplacement,
         {100, 30000, kRewriteBlockSize - 9, kRewriteBlockSize + 40000, 2 * kRewriteBlockSize - 1,
          3 * kRewriteBlockSize + 105}},
        {"every split at the read blocks' boundaries: 1 to 17 bytes in front of one", 18 * kRewriteBlockSize,
         kPattern, kReplacement, EverySplit()},
        {"the longest pattern with only its first byte, or only its last, in a block",
         4 * kB + 300,
         longest,
         longReplacement,
         {kB - 100, 2 * kB - 254, 3 * kB - 1}},
    };
    unsigned seed = 3;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::string bytes = Filler(c.size, seed++);
        for (size_t offset : c.offsets)
            Put(bytes, offset, c.pattern);
        ExpectWholeFilePass(bytes, c.replacement, c.pattern);
        const std::string after = ReadFileBytes(dir / "f.bin");
        for (size_t offset : c.offsets)
            EXPECT_EQ(c.replacement, after.substr(offset, c.pattern.size())) << offset;
    }

    // Runs of a two-byte pattern across boundaries: replaced from each run's
    // first byte, as in one pass.
    std::string bytes = Filler(3 * kB, 5);
    Put(bytes, kB - 1, "QQQ");
    Put(bytes, 2 * kB - 2, "QQQQQ");
    ExpectWholeFilePass(bytes, "12", "QQ");
    const std::string after = ReadFileBytes(dir / "f.bin");
    EXPECT_EQ("12Q", after.substr(kB - 1, 3));
    EXPECT_EQ("1212Q", after.substr(2 * kB - 2, 5));
}

TEST_F(ReplaceFiles, DenseRandomFilesMatchOneWholeFilePass)
{
    // A two-letter alphabet gives occurrences everywhere, overlapping runs
    // across every boundary of the 64 KiB blocks included; every scan path.
    const std::pair<std::string, std::string> rules[] = {{"ABA", "BAB"}, {"ABAAB", "BBABA"}, {"AB", "BA"}};
    for (ScanPath path : AvailableScanPaths()) {
        ForcedScanPath forced(path);
        std::mt19937 random(20240607);
        for (int round = 0; round < 12; ++round) {
            const size_t exact[] = {0, 65536, 65535, 65537, 2 * 65536, 2 * 65536 + 17};
            size_t size = round < 6 ? exact[round] : random() % (3 * 65536 + 200);
            std::string bytes(size, 'A');
            for (char &byte : bytes)
                byte = random() % 3 ? 'A' : 'B';
            const auto &rule = rules[round % 3];
            SCOPED_TRACE("path " + std::to_string(static_cast<int>(path)) + ", size " + std::to_string(size) +
                         ", pattern " + rule.first);
            ExpectWholeFilePass(bytes, rule.second, rule.first);
            EXPECT_TRUE(ReadFileBytes(dir / "f.bin") == ReplacedPlainly(bytes, rule.second, rule.first));
        }
    }
}

TEST_F(ReplaceFiles, AFileWithoutOccurrencesIsOnlyRead)
{
    std::string bytes = Filler(3 * kRewriteBlockSize + 10, 7);
    Put(bytes, kRewriteBlockSize - 6, kProcesorField); // a lone field across a boundary
    Put(bytes, 5000, kProcesorField + std::string("Procesos\0", 9));
    std::string path = Write("none.bin", bytes);
    SetFileTimes(path, kOldTimes);
    std::string changed = Write("some.bin", kPattern + bytes);
    SetFileTimes(changed, kOldTimes);

    PromptRecorder boxes;
    EXPECT_EQ(1, ReplaceInFile(path.c_str(), kSaveRuleReplacement, kSavePattern, kSaveRuleLength, 1));
    EXPECT_EQ(1, ReplaceInFile(changed.c_str(), kSaveRuleReplacement, kSavePattern, kSaveRuleLength, 1));
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_TRUE(bytes == ReadFileBytes(path));
    // Nothing was written: the last-write time is still the old one, while
    // the file that changed has a new one.
    EXPECT_EQ(Ticks(kOldTimes.write), Ticks(GetFileTimes(path).write));
    EXPECT_GT(Ticks(GetFileTimes(changed).write), Ticks(kOldTimes.write));
    EXPECT_EQ(kReplacement + bytes, ReadFileBytes(changed));
}

TEST_F(ReplaceFiles, KeepTimesPutsTheTimeStampsBack)
{
    std::string content = Filler(6000, 8);
    Put(content, 4090, kPattern);
    std::string kept = Write("kept.sav", content);
    std::string notKept = Write("new.sav", content);
    SetFileTimes(kept, kOldTimes);
    SetFileTimes(notKept, kOldTimes);
    // Where Wine keeps no creation time on this file system, that one can't
    // be compared.
    bool creationKept = Ticks(GetFileTimes(kept).creation) == Ticks(kOldTimes.creation);

    PromptRecorder boxes;
    EXPECT_EQ(
        1, ReplaceInFileKeepTimes(kept.c_str(), kSaveRuleReplacement, kSavePattern, kSaveRuleLength, 1, 1));
    EXPECT_EQ(1, ReplaceInFileKeepTimes(notKept.c_str(), kSaveRuleReplacement, kSavePattern, kSaveRuleLength,
                                        1, 0));
    EXPECT_TRUE(boxes.boxes.empty());

    // The times first: reading the content below moves the access time.
    FileTimes after = GetFileTimes(kept);
    EXPECT_EQ(Ticks(kOldTimes.write), Ticks(after.write));
    EXPECT_EQ(Ticks(kOldTimes.access), Ticks(after.access));
    if (creationKept)
        EXPECT_EQ(Ticks(kOldTimes.creation), Ticks(after.creation));
    else
        printf("note: this file system keeps no creation time; it was not compared\n");
    EXPECT_GT(Ticks(GetFileTimes(notKept).write), Ticks(kOldTimes.write));
    std::string expected = content;
    Put(expected, 4090, kReplacement);
    EXPECT_TRUE(expected == ReadFileBytes(kept));
    EXPECT_TRUE(expected == ReadFileBytes(notKept));
}

// A saved game the rewrite can't open at all is asked about once: one held
// open without sharing, and one that another program holds for writing even
// with every sharing allowed (the rewrite lets no one write beside it). Yes
// goes on and leaves it as it was, its times too, and says it wasn't done; No
// stops. RestoreFileTimes on its own reports as the other operations do.
TEST_F(ReplaceFiles, AYesToAFileThatCannotBeRewrittenLeavesItAndItsTimes)
{
    std::string locked = Write("locked.sav", kPattern);
    SetFileTimes(locked, kOldTimes);
    const std::string question = Question(Formatted(kCannotOpen, locked));
    const struct {
        const char *what;
        DWORD access;
        DWORD share;
    } holders[] = {{"held without sharing", GENERIC_READ, 0},
                   {"held for writing, sharing all", GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE}};
    for (const auto &held : holders) {
        SCOPED_TRACE(held.what);
        HeldOpen holder(locked, held.access, held.share);
        for (int answer : {IDYES, IDNO}) {
            for (int keepTimes : {1, 0}) {
                PromptRecorder boxes({answer, IDNO});
                bool complete = true;
                EXPECT_EQ(answer == IDYES,
                          ReplaceInFileKeepTimes(locked.c_str(), kSaveRuleReplacement, kSavePattern,
                                                 kSaveRuleLength, 0, keepTimes, &complete));
                EXPECT_FALSE(complete);
                ASSERT_EQ(1u, boxes.boxes.size()) << "keepTimes " << keepTimes;
                ExpectBox(boxes.boxes[0], question, kQuestionBox);
            }
        }
        PromptRecorder boxes({IDOK, IDYES});
        EXPECT_EQ(
            0, RestoreFileTimes(locked.c_str(), &kOldTimes.creation, &kOldTimes.access, &kOldTimes.write, 1));
        EXPECT_EQ(
            1, RestoreFileTimes(locked.c_str(), &kOldTimes.creation, &kOldTimes.access, &kOldTimes.write, 0));
        ASSERT_EQ(2u, boxes.boxes.size());
        ExpectBox(boxes.boxes[0], Formatted(kCannotOpen, locked), kErrorBox);
        ExpectBox(boxes.boxes[1], question, kQuestionBox);
    }
    EXPECT_EQ(kPattern, ReadFileBytes(locked));
    EXPECT_EQ(Ticks(kOldTimes.write), Ticks(GetFileTimes(locked).write));
}

// Saved games past 2 GiB and past 4 GiB (sparse files, made in no time):
// every occurrence replaced, at the 2 GiB and 4 GiB marks and at the end,
// nothing else changed and the times kept.
TEST_F(ReplaceFiles, SavedGamesOfAnySize)
{
    constexpr long long kGiB = 1LL << 30;
    const struct {
        long long size;
        std::vector<long long> offsets;
    } cases[] = {
        {3 * kGiB, {0, 2 * kGiB - 9, 2 * kGiB + 12345, 3 * kGiB - 18}},
        {4 * kGiB + 65536, {4 * kGiB - 9, 4 * kGiB + 100, 4 * kGiB + 65536 - 18}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.size);
        const std::string path = dir / "big.sav";
        std::vector<std::pair<long long, std::string>> writes;
        for (long long offset : c.offsets)
            writes.push_back({offset, kPattern});
        ASSERT_TRUE(MakeSparseFile(path, c.size, writes));
        SetFileTimes(path, kOldTimes);

        PromptRecorder boxes;
        bool complete = false;
        EXPECT_EQ(1, ReplaceInFileKeepTimes(path.c_str(), kSaveRuleReplacement, kSavePattern, kSaveRuleLength,
                                            0, 1, &complete));
        EXPECT_TRUE(complete);
        EXPECT_TRUE(boxes.boxes.empty());
        EXPECT_EQ(Ticks(kOldTimes.write), Ticks(GetFileTimes(path).write));

        // Read back in 1 MiB pieces: zeros but for the replacements.
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        std::vector<char> piece(1 << 20), expected(1 << 20);
        long long position = 0;
        DWORD got = 0;
        while (ReadFile(file, piece.data(), static_cast<DWORD>(piece.size()), &got, nullptr) && got > 0) {
            std::fill(expected.begin(), expected.end(), '\0');
            for (long long offset : c.offsets)
                for (size_t i = 0; i < kSaveRuleLength; ++i)
                    if (offset + static_cast<long long>(i) >= position &&
                        offset + static_cast<long long>(i) < position + got)
                        expected[offset + i - position] = kReplacement[i];
            if (memcmp(piece.data(), expected.data(), got) != 0) {
                ADD_FAILURE() << "the piece at " << position << " differs";
                break;
            }
            position += got;
        }
        CloseHandle(file);
        EXPECT_EQ(c.size, position);
        DeleteFileA(path.c_str());
    }
}

TEST_F(ReplaceFiles, ExistenceChecks)
{
    std::string file = Write("a.sav", "x");
    std::string directory = dir / "sub";
    MakeDirectories(directory);
    std::string missing = dir / "none";
    EXPECT_EQ(1, IsExistingFile(file.c_str()));
    EXPECT_EQ(0, IsExistingFile(directory.c_str()));
    EXPECT_EQ(0, IsExistingFile(missing.c_str()));
    EXPECT_EQ(0, IsExistingDirectory(file.c_str()));
    EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY, IsExistingDirectory(directory.c_str()));
    EXPECT_EQ(0, IsExistingDirectory(missing.c_str()));
}

class ReplaceWalk : public ReplaceFiles {
protected:
    void SetUp() override { MakeDirectories(dir / "save"); }

    int Walk(const char *wildcard, int failHard, int keepTimes)
    {
        return ReplaceInMatchingFiles(wildcard, kSaveRuleReplacement, kSavePattern, kSaveRuleLength, failHard,
                                      keepTimes);
    }

private:
    CurrentDirectoryKept kept_{dir.Path()};
};

TEST_F(ReplaceWalk, EveryMatchingFileIsRewrittenWithItsTimesKept)
{
    const std::string content = "head" + kPattern + "tail";
    for (const char *name : {"save\\a.SAV", "save\\b.SAV", "save\\c.SAV", "save\\d.TXT"}) {
        Write(name, content);
        SetFileTimes(dir / name, kOldTimes);
    }
    // A matching sub-directory is passed over without a report.
    MakeDirectories(dir / "save\\e.SAV");

    PromptRecorder boxes;
    EXPECT_EQ(1, Walk("save\\*.SAV", 1, 1));
    EXPECT_TRUE(boxes.boxes.empty());
    for (const char *name : {"save\\a.SAV", "save\\b.SAV", "save\\c.SAV"}) {
        EXPECT_EQ("head" + kReplacement + "tail", ReadFileBytes(dir / name)) << name;
        EXPECT_EQ(Ticks(kOldTimes.write), Ticks(GetFileTimes(dir / name).write)) << name;
    }
    EXPECT_EQ(content, ReadFileBytes(dir / "save\\d.TXT"));
    EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY, IsExistingDirectory((dir / "save\\e.SAV").c_str()));

    // Without keepTimes the rewritten files get new times.
    Write("save\\f.SAV", content);
    SetFileTimes(dir / "save\\f.SAV", kOldTimes);
    EXPECT_EQ(1, Walk("save/*.SAV", 1, 0));
    EXPECT_EQ("head" + kReplacement + "tail", ReadFileBytes(dir / "save\\f.SAV"));
    EXPECT_GT(Ticks(GetFileTimes(dir / "save\\f.SAV").write), Ticks(kOldTimes.write));
}

TEST_F(ReplaceWalk, AFailedFileStopsTheWalkUnlessTheAnswerIsYes)
{
    for (const char *name : {"save\\a.SAV", "save\\b.SAV", "save\\c.SAV"})
        Write(name, kPattern);
    std::vector<std::string> order = ListFiles(dir / "save\\*.SAV");
    ASSERT_EQ(3u, order.size());
    // The second match in enumeration order is held open.
    std::string lockedPath = dir / ("save\\" + order[1]);
    HeldOpen holder(lockedPath);
    {
        PromptRecorder boxes({IDNO});
        EXPECT_EQ(0, Walk("save\\*.SAV", 0, 0));
        ASSERT_EQ(1u, boxes.boxes.size());
        ExpectBox(boxes.boxes[0], Question(Formatted(kCannotOpen, lockedPath)), kQuestionBox);
        EXPECT_EQ(kReplacement, ReadFileBytes(dir / ("save\\" + order[0])));
        EXPECT_EQ(kPattern, ReadFileBytes(dir / ("save\\" + order[2])));
    }
    {
        PromptRecorder boxes;
        EXPECT_EQ(0, Walk("save\\*.SAV", 1, 0));
        ASSERT_EQ(1u, boxes.boxes.size());
        ExpectBox(boxes.boxes[0], Formatted(kCannotOpen, lockedPath), kErrorBox);
        EXPECT_EQ(kPattern, ReadFileBytes(dir / ("save\\" + order[2])));
    }
    {
        PromptRecorder boxes({IDYES});
        EXPECT_EQ(1, Walk("save\\*.SAV", 0, 0));
        EXPECT_EQ(1u, boxes.boxes.size());
        EXPECT_EQ(kReplacement, ReadFileBytes(dir / ("save\\" + order[2])));
    }
    holder.Close();
    EXPECT_EQ(kPattern, ReadFileBytes(lockedPath));
}

} // namespace
