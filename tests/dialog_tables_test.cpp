// The update chain's compiled-in data: the steps with their messages, targets
// and successors, and the 33 byte-patch tables behind them.
#include <gtest/gtest.h>

#include "dialog/dialog.h"

#include <string>
#include <vector>

namespace {

typedef std::vector<std::pair<uint32_t, uint8_t>> Records;

Records RecordsOf(const BytePatch *table, size_t count)
{
    Records records;
    for (size_t i = 0; i < count; ++i)
        records.push_back({table[i].offset, table[i].value});
    return records;
}

Records CpuAt(uint32_t offset)
{
    const char bytes[8] = {'C', 'P', 'U', 0, 0, 0, 0, 0};
    Records records;
    for (uint32_t i = 0; i < 8; ++i)
        records.push_back({offset + i, static_cast<uint8_t>(bytes[i])});
    return records;
}

TEST(Tables, TheChainRunsItsStepsInOrder)
{
    std::vector<UINT> messages;
    for (UINT m = 0x8001; m <= 0x8008; ++m)
        messages.push_back(m);
    for (UINT m = 0x8068; m <= 0x8078; ++m)
        messages.push_back(m);
    messages.push_back(0x8082);
    for (UINT m = 0x808D; m <= 0x8094; ++m)
        messages.push_back(m);
    messages.push_back(0x800A);
    ASSERT_EQ(35u, messages.size());
    ASSERT_EQ(35u, kUpdateStepCount);
    EXPECT_EQ(0x800Bu, MSG_SAVE_STEP);

    unsigned total = 0;
    for (unsigned i = 0; i < kUpdateStepCount; ++i) {
        const UpdateStep &step = kUpdateSteps[i];
        SCOPED_TRACE("step " + std::to_string(i + 1));
        EXPECT_EQ(messages[i], step.message);
        EXPECT_EQ(i + 1 < kUpdateStepCount ? messages[i + 1] : MSG_SAVE_STEP, step.next);
        EXPECT_EQ(&step, FindUpdateStep(step.message));
        total += step.recordCount;
    }
    EXPECT_EQ(nullptr, FindUpdateStep(0x8009));
    EXPECT_EQ(nullptr, FindUpdateStep(MSG_SAVE_STEP));

    // The registry, the menu text as chunk 0 of entry 3, then the byte-patch
    // steps on entries 1, 2 and 4 to 34.
    EXPECT_EQ(StepOperation::RegistryEntries, kUpdateSteps[0].operation);
    EXPECT_EQ(0, kUpdateSteps[0].target);
    EXPECT_EQ(StepOperation::ExtractChunk, kUpdateSteps[1].operation);
    EXPECT_EQ(3, kUpdateSteps[1].target);
    std::vector<unsigned> targets = {1, 2};
    for (unsigned entry = 4; entry <= 34; ++entry)
        targets.push_back(entry);
    std::vector<unsigned> counts = {19, 188};
    counts.insert(counts.end(), 29, 8);
    counts.push_back(60);
    counts.push_back(1);
    for (unsigned i = 2; i < kUpdateStepCount; ++i) {
        SCOPED_TRACE("step " + std::to_string(i + 1));
        EXPECT_EQ(StepOperation::BytePatches, kUpdateSteps[i].operation);
        EXPECT_EQ(targets[i - 2], kUpdateSteps[i].target);
        EXPECT_EQ(counts[i - 2], kUpdateSteps[i].recordCount);
    }
    EXPECT_EQ(500u, total);
    EXPECT_EQ(kBytePatchRecordCount, total);
}

TEST(Tables, EveryTableFollowsTheLastAndRisesStrictly)
{
    const BytePatch *expectedStart = kBytePatchRecords;
    unsigned tables = 0;
    for (const UpdateStep &step : kUpdateSteps) {
        SCOPED_TRACE("message " + std::to_string(step.message));
        if (step.operation != StepOperation::BytePatches) {
            EXPECT_EQ(nullptr, step.table);
            continue;
        }
        EXPECT_EQ(expectedStart, step.table);
        for (unsigned i = 1; i < step.recordCount; ++i)
            EXPECT_LT(step.table[i - 1].offset, step.table[i].offset) << "record " << i;
        expectedStart = step.table + step.recordCount;
        ++tables;
    }
    EXPECT_EQ(33u, tables);
    EXPECT_EQ(kBytePatchRecords + kBytePatchRecordCount, expectedStart);
}

TEST(Tables, TheTablesHoldTheReleaseBytes)
{
    // Table A, Contents\QK_INFO.PAK.
    const Records tableA = {{0x9, 'P'},   {0xB6, 'L'},  {0x1B5, 'I'}, {0x24D, 'Z'}, {0x309, 'D'},
                            {0x44C, 'W'}, {0x557, 'R'}, {0x5FF, 'L'}, {0x67C, 'P'}, {0x70B, 'A'},
                            {0x7A2, 'K'}, {0x81C, 'P'}, {0x840, 'U'}, {0x916, 'K'}, {0x9AB, 'L'},
                            {0xA81, 'L'}, {0xB51, 'O'}, {0xBF9, 'S'}, {0xC8C, 'P'}};
    EXPECT_EQ(tableA, RecordsOf(kUpdateSteps[2].table, 19));

    // Table B, Contents\INFO.PAK: capitals only, known at both ends.
    const Records tableB = RecordsOf(kUpdateSteps[3].table, 188);
    const Records head = {{0x9, 'N'}, {0x5D, 'M'}, {0xA5, 'M'}, {0xF3, 'C'}, {0x166, 'P'}};
    const Records tail = {{0x5D8C, 'S'}, {0x5DC2, 'U'}, {0x5E65, 'A'}};
    EXPECT_EQ(head, Records(tableB.begin(), tableB.begin() + 5));
    EXPECT_EQ(tail, Records(tableB.end() - 3, tableB.end()));
    for (const auto &record : tableB)
        EXPECT_TRUE(record.second >= 'A' && record.second <= 'Z') << record.first;

    // "CPU" and five zeros for the missions, muss18 and the eight trainings.
    const uint32_t cpuOffsets[29] = {0xB68C, 0xBE34, 0xB9AA, 0xBD0E, 0xB4E8, 0xB718, 0xBBBE, 0xBB6A,
                                     0xB6D2, 0xB432, 0xC79C, 0xC32E, 0xBB24, 0xBE34, 0xC748, 0xCD14,
                                     0xBB94, 0xCA66, 0xBFF4, 0xBAB4, 0xB788, 0xB2B6, 0xB2B6, 0xB2B6,
                                     0xB2B6, 0xB2B6, 0xB2B6, 0xB2B6, 0xB2B6};
    for (unsigned i = 0; i < 29; ++i)
        EXPECT_EQ(CpuAt(cpuOffsets[i]), RecordsOf(kUpdateSteps[4 + i].table, 8)) << "table " << 2 + i;

    // Table C, profile\DEF1.CFG: six pairs, the 'f's, six pairs.
    const uint32_t pairs[12] = {0x12F,  0x3D5,  0x3223, 0x37C5, 0x3B78, 0x4AFC,
                                0x8B9E, 0x90EE, 0x9A6B, 0xCA19, 0xEADB, 0xF26F};
    Records tableC;
    for (unsigned i = 0; i < 6; ++i) {
        tableC.push_back({pairs[i], 0x05});
        tableC.push_back({pairs[i] + 1, 0x02});
    }
    for (uint32_t k = 0; k <= 42; ++k)
        if (k <= 18 || k == 20 || k == 22 || k == 24 || k == 25 || k == 26 || k == 29 || k == 31 || k == 32 ||
            k >= 34)
            tableC.push_back({0x6F3A + 123 * k, 'f'});
    for (unsigned i = 6; i < 12; ++i) {
        tableC.push_back({pairs[i], 0x05});
        tableC.push_back({pairs[i] + 1, 0x02});
    }
    ASSERT_EQ(60u, tableC.size());
    EXPECT_EQ(0x8368u, tableC[12 + 35].first);
    EXPECT_EQ(tableC, RecordsOf(kUpdateSteps[33].table, 60));

    // training\les01.dsc.
    EXPECT_EQ((Records{{0x3742, 0x35}}), RecordsOf(kUpdateSteps[34].table, 1));
}

} // namespace
