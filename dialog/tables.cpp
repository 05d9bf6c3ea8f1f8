// The update chain and its byte-patch tables.
//
// kBytePatchRecords holds the 33 tables back to back in step order; each
// byte-patch step finds its table through kBytePatchTables and passes its own
// record count. Within every table the offsets rise strictly.
#include "dialog/dialog.h"

namespace {

// "CPU" and five zero bytes at eight consecutive offsets from o.
#define CPU_AT(o)                                                                                     \
    {(o), 'C'}, {(o) + 1, 'P'}, {(o) + 2, 'U'}, {(o) + 3, 0}, {(o) + 4, 0}, {(o) + 5, 0},           \
        {(o) + 6, 0}, {(o) + 7, 0}
// Byte 0x05 at x and 0x02 at x + 1.
#define PAIR_AT(x) {(x), 0x05}, {(x) + 1, 0x02}
// Byte 'f' at 0x6F3A + 123 * k.
#define F_AT(k) {0x6F3A + 123 * (k), 0x66}

constexpr unsigned kTableA = 0;
constexpr unsigned kTableB = kTableA + 19;
constexpr unsigned kCpuTables = kTableB + 188;
constexpr unsigned kTableC = kCpuTables + 29 * 8;
constexpr unsigned kLes01Dsc = kTableC + 60;
static_assert(kLes01Dsc + 1 == kBytePatchRecordCount, "500 records in all");

} // namespace

const BytePatch kBytePatchRecords[kBytePatchRecordCount] = {
    // Table A, Contents\QK_INFO.PAK.
    {0x9, 'P'}, {0xB6, 'L'}, {0x1B5, 'I'}, {0x24D, 'Z'}, {0x309, 'D'}, {0x44C, 'W'}, {0x557, 'R'},
    {0x5FF, 'L'}, {0x67C, 'P'}, {0x70B, 'A'}, {0x7A2, 'K'}, {0x81C, 'P'}, {0x840, 'U'}, {0x916, 'K'},
    {0x9AB, 'L'}, {0xA81, 'L'}, {0xB51, 'O'}, {0xBF9, 'S'}, {0xC8C, 'P'},

    // Table B, Contents\INFO.PAK.
#include "dialog/table_b.inc"

    // Missions and trainings.
    CPU_AT(0xB68C), // miss01
    CPU_AT(0xBE34), // miss02
    CPU_AT(0xB9AA), // miss03
    CPU_AT(0xBD0E), // miss04
    CPU_AT(0xB4E8), // miss05
    CPU_AT(0xB718), // miss06
    CPU_AT(0xBBBE), // miss07
    CPU_AT(0xBB6A), // miss08
    CPU_AT(0xB6D2), // miss09
    CPU_AT(0xB432), // miss10
    CPU_AT(0xC79C), // miss11
    CPU_AT(0xC32E), // miss12
    CPU_AT(0xBB24), // miss13
    CPU_AT(0xBE34), // miss14
    CPU_AT(0xC748), // miss15
    CPU_AT(0xCD14), // miss16
    CPU_AT(0xBB94), // miss17
    CPU_AT(0xCA66), // miss18
    CPU_AT(0xBFF4), // miss19
    CPU_AT(0xBAB4), // miss20
    CPU_AT(0xB788), // muss18
    CPU_AT(0xB2B6), // les01
    CPU_AT(0xB2B6), // les02
    CPU_AT(0xB2B6), // les03
    CPU_AT(0xB2B6), // les04
    CPU_AT(0xB2B6), // les05
    CPU_AT(0xB2B6), // les06
    CPU_AT(0xB2B6), // les07
    CPU_AT(0xB2B6), // les08

    // Table C, profile\DEF1.CFG: six pairs, 36 'f's, six pairs.
    PAIR_AT(0x12F), PAIR_AT(0x3D5), PAIR_AT(0x3223), PAIR_AT(0x37C5), PAIR_AT(0x3B78), PAIR_AT(0x4AFC),
    F_AT(0), F_AT(1), F_AT(2), F_AT(3), F_AT(4), F_AT(5), F_AT(6), F_AT(7), F_AT(8), F_AT(9),
    F_AT(10), F_AT(11), F_AT(12), F_AT(13), F_AT(14), F_AT(15), F_AT(16), F_AT(17), F_AT(18),
    F_AT(20), F_AT(22), F_AT(24), F_AT(25), F_AT(26), F_AT(29), F_AT(31), F_AT(32),
    F_AT(34), F_AT(35), F_AT(36), F_AT(37), F_AT(38), F_AT(39), F_AT(40), F_AT(41), F_AT(42),
    PAIR_AT(0x8B9E), PAIR_AT(0x90EE), PAIR_AT(0x9A6B), PAIR_AT(0xCA19), PAIR_AT(0xEADB), PAIR_AT(0xF26F),

    // training\les01.dsc.
    {0x3742, 0x35},
};

#define CPU_TABLE(n) kBytePatchRecords + kCpuTables + 8 * (n)

const BytePatch *const kBytePatchTables[kBytePatchTableCount] = {
    kBytePatchRecords + kTableA, kBytePatchRecords + kTableB,
    CPU_TABLE(0),  CPU_TABLE(1),  CPU_TABLE(2),  CPU_TABLE(3),  CPU_TABLE(4),  CPU_TABLE(5),
    CPU_TABLE(6),  CPU_TABLE(7),  CPU_TABLE(8),  CPU_TABLE(9),  CPU_TABLE(10), CPU_TABLE(11),
    CPU_TABLE(12), CPU_TABLE(13), CPU_TABLE(14), CPU_TABLE(15), CPU_TABLE(16), CPU_TABLE(17),
    CPU_TABLE(18), CPU_TABLE(19), CPU_TABLE(20), CPU_TABLE(21), CPU_TABLE(22), CPU_TABLE(23),
    CPU_TABLE(24), CPU_TABLE(25), CPU_TABLE(26), CPU_TABLE(27), CPU_TABLE(28),
    kBytePatchRecords + kTableC, kBytePatchRecords + kLes01Dsc,
};

// Message, target entry, operation, records, next message.
const UpdateStep kUpdateSteps[kUpdateStepCount] = {
    {0x8001, 0, StepOperation::RegistryEntries, 0, 0x8002},
    {0x8002, 3, StepOperation::ExtractChunk, 0, 0x8003},
    {0x8003, 1, StepOperation::BytePatches, 19, 0x8004},
    {0x8004, 2, StepOperation::BytePatches, 188, 0x8005},
    {0x8005, 4, StepOperation::BytePatches, 8, 0x8006},
    {0x8006, 5, StepOperation::BytePatches, 8, 0x8007},
    {0x8007, 6, StepOperation::BytePatches, 8, 0x8008},
    {0x8008, 7, StepOperation::BytePatches, 8, 0x8068},
    {0x8068, 8, StepOperation::BytePatches, 8, 0x8069},
    {0x8069, 9, StepOperation::BytePatches, 8, 0x806A},
    {0x806A, 10, StepOperation::BytePatches, 8, 0x806B},
    {0x806B, 11, StepOperation::BytePatches, 8, 0x806C},
    {0x806C, 12, StepOperation::BytePatches, 8, 0x806D},
    {0x806D, 13, StepOperation::BytePatches, 8, 0x806E},
    {0x806E, 14, StepOperation::BytePatches, 8, 0x806F},
    {0x806F, 15, StepOperation::BytePatches, 8, 0x8070},
    {0x8070, 16, StepOperation::BytePatches, 8, 0x8071},
    {0x8071, 17, StepOperation::BytePatches, 8, 0x8072},
    {0x8072, 18, StepOperation::BytePatches, 8, 0x8073},
    {0x8073, 19, StepOperation::BytePatches, 8, 0x8074},
    {0x8074, 20, StepOperation::BytePatches, 8, 0x8075},
    {0x8075, 21, StepOperation::BytePatches, 8, 0x8076},
    {0x8076, 22, StepOperation::BytePatches, 8, 0x8077},
    {0x8077, 23, StepOperation::BytePatches, 8, 0x8078},
    {0x8078, 24, StepOperation::BytePatches, 8, 0x8082},
    {0x8082, 25, StepOperation::BytePatches, 8, 0x808D},
    {0x808D, 26, StepOperation::BytePatches, 8, 0x808E},
    {0x808E, 27, StepOperation::BytePatches, 8, 0x808F},
    {0x808F, 28, StepOperation::BytePatches, 8, 0x8090},
    {0x8090, 29, StepOperation::BytePatches, 8, 0x8091},
    {0x8091, 30, StepOperation::BytePatches, 8, 0x8092},
    {0x8092, 31, StepOperation::BytePatches, 8, 0x8093},
    {0x8093, 32, StepOperation::BytePatches, 8, 0x8094},
    {0x8094, 33, StepOperation::BytePatches, 60, 0x800A},
    {0x800A, 34, StepOperation::BytePatches, 1, MSG_SAVE_STEP},
};
