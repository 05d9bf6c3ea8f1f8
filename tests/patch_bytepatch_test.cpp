// Byte pokes into existing files. The choice between patching and
// extraction needs a payload: patch_payload_test.cpp has it.
#include <gtest/gtest.h>

#include "patch/patch.h"
#include "tests/test_support.h"

#include <string>

namespace {

template <size_t n> int Apply(const std::string &path, const BytePatch (&records)[n])
{
    return ApplyBytePatches(path.c_str(), records, n);
}

TEST(BytePatch, RecordsAreWrittenInTableOrder)
{
    TempDir dir;
    const std::string path = dir / "QK_INFO.PAK";
    const std::string original = "0123456789abcdef";
    WriteFileBytes(path, original);
    PromptRecorder boxes;

    // Nothing to write: the file is opened and left as it was; a missing one
    // still fails to open.
    EXPECT_EQ(1, ApplyBytePatches(path.c_str(), nullptr, 0));
    EXPECT_EQ(original, ReadFileBytes(path));
    EXPECT_EQ(0, ApplyBytePatches((dir / "missing.lvl").c_str(), nullptr, 0));
    ASSERT_EQ(1u, boxes.boxes.size());
    ExpectBox(boxes.boxes[0], Formatted(kCannotOpen, dir / "missing.lvl"));
    boxes.boxes.clear();

    // Any order of offsets; the same offset twice keeps the later value.
    const BytePatch records[] = {{9, 'X'}, {0, 'A'}, {5, 'q'}, {5, 'Q'}, {15, 0}};
    EXPECT_EQ(1, Apply(path, records));
    EXPECT_EQ(std::string("A1234Q678Xabcde\0", 16), ReadFileBytes(path));

    // At the end the file grows by one byte; beyond it, the file ends just
    // after the byte written and the old bytes stay.
    const BytePatch atEnd[] = {{16, 'E'}};
    EXPECT_EQ(1, Apply(path, atEnd));
    EXPECT_EQ(17u, ReadFileBytes(path).size());
    EXPECT_EQ('E', ReadFileBytes(path)[16]);
    const BytePatch beyond[] = {{100, 'F'}};
    EXPECT_EQ(1, Apply(path, beyond));
    const std::string grown = ReadFileBytes(path);
    ASSERT_EQ(101u, grown.size());
    EXPECT_EQ('F', grown[100]);
    EXPECT_EQ(std::string("A1234Q678Xabcde\0E", 17), grown.substr(0, 17));
    EXPECT_TRUE(boxes.boxes.empty());
}

// The last offset a signed 32-bit seek reaches: the file grows to 2 GiB,
// sparse, with nothing written in between.
TEST(BytePatch, TheHighestOffsetIsReached)
{
    TempDir dir;
    const std::string path = dir / "sparse.lvl";
    WriteFileBytes(path, "abc");
    PromptRecorder boxes;
    const BytePatch highest[] = {{0x7FFFFFFF, 'Z'}};
    EXPECT_EQ(1, Apply(path, highest));
    EXPECT_TRUE(boxes.boxes.empty());
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(0x80000000u, data.nFileSizeLow);
    EXPECT_EQ(0u, data.nFileSizeHigh);
    FILE *file = fopen(path.c_str(), "rb");
    ASSERT_NE(nullptr, file);
    EXPECT_EQ(0, fseek(file, 0x7FFFFFFF, SEEK_SET));
    EXPECT_EQ('Z', fgetc(file));
    fclose(file);
}

// No room left on the disk: the byte that makes the file one block longer
// can't be written, and that is a failure, also when it shows only as the
// stream's buffer is flushed at the end.
TEST(BytePatch, AFullDiskIsAFailedWrite)
{
    if (SmallDisk().empty())
        GTEST_SKIP() << "VP_SMALL_DISK names no small disk (scripts/test mounts one)";
    TempDir dir(SmallDisk());
    const std::string path = dir / "DEF1.CFG";
    WriteFileBytes(path, std::string(4096, 'c'));
    DiskFiller full(dir.Path(), 0);
    PromptRecorder boxes;
    const BytePatch pastTheEnd[] = {{1, 0x05}, {4096, 0x02}};
    EXPECT_EQ(0, Apply(path, pastTheEnd));
    ASSERT_EQ(1u, boxes.boxes.size());
    ExpectBox(boxes.boxes[0], Formatted(kCannotWrite, path));
}

TEST(BytePatch, AnUnreachableOffsetStopsTheTableAfterTheRecordsBeforeIt)
{
    TempDir dir;
    const std::string path = dir / "INFO.PAK";
    WriteFileBytes(path, "abcdefgh");
    PromptRecorder boxes;
    const BytePatch records[] = {{1, 'B'}, {3, 'D'}, {0x80000000u, 'X'}, {5, 'F'}};
    EXPECT_EQ(0, Apply(path, records));
    EXPECT_EQ("aBcDefgh", ReadFileBytes(path));
    const BytePatch highest[] = {{0, 'Z'}, {0xFFFFFFFFu, 'X'}};
    EXPECT_EQ(0, Apply(path, highest));
    EXPECT_EQ("ZBcDefgh", ReadFileBytes(path));
    ASSERT_EQ(2u, boxes.boxes.size());
    ExpectBox(boxes.boxes[0], Formatted(kCannotWrite, path));
    ExpectBox(boxes.boxes[1], Formatted(kCannotWrite, path));
}

} // namespace
