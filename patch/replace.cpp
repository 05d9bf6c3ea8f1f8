// Pattern replacement in place, with the file's time stamps kept.
//
// A file is read in blocks of 64 KiB at offsets 0, 64 Ki, 128 Ki, ... and
// scanned as one stream: the last length - 1 bytes of a block that no match
// has consumed are carried to the room just in front of where the next block
// is read, so an occurrence that straddles a block boundary is replaced like
// any other. Nothing before the
// scan position can change any more, so after each block the changed bytes
// (and only those) are written back. The file's length never changes.
//
// The search filters candidates on two bytes of the pattern at their distance,
// 32 or 16 places at a time where the processor has AVX2 or SSE2, and compares
// the whole pattern only where both bytes stand. The widest path is chosen
// once, at the first search; the 32-bit release still runs on processors
// without either, since only these functions are compiled for them.
#include "patch/patch.h"

#include "base/base.h"

#include <cpuid.h>
#include <emmintrin.h>
#include <immintrin.h>
#include <string.h>

const unsigned char kSaveRuleReplacement[kSaveRuleLength] = {'C', 'P', 'U', 0,   0,   0,   0,   0,   0,
                                                             'P', 'r', 'o', 'c', 'e', 's', 'o', 'r', 0};
const unsigned char kSavePattern[kSaveRuleLength] = {'P', 'r', 'o', 'c', 'e', 's', 'o', 'r', 0,
                                                     'P', 'r', 'o', 'c', 'e', 's', 'o', 'r', 0};

namespace {

// Room in front of a block for the bytes carried from the one before.
constexpr size_t kCarryRoom = 256;
constexpr size_t kNone = ~static_cast<size_t>(0);
// Unchanged bytes between two changes that are written back with them rather
// than costing a write of their own.
constexpr size_t kWriteGap = 4096;

// The pattern and the two of its bytes candidates are filtered on: the first,
// and the last that is neither the first nor a zero (zeros are common in
// saved games), or the last byte when there is no such.
struct Needle {
    const unsigned char *pattern;
    size_t length;
    size_t second;
};

Needle MakeNeedle(const unsigned char *pattern, size_t length)
{
    size_t second = length - 1;
    while (second > 0 && (pattern[second] == 0 || pattern[second] == pattern[0]))
        --second;
    return {pattern, length, second > 0 ? second : length - 1};
}

// Each search returns the first occurrence that starts in [from, last], or
// kNone; buffer holds last + length bytes.
size_t FindPlain(const unsigned char *buffer, size_t from, size_t last, const Needle &needle)
{
    for (size_t p = from; p <= last; ++p) {
        const void *first = memchr(buffer + p, needle.pattern[0], last + 1 - p);
        if (!first)
            return kNone;
        p = static_cast<size_t>(static_cast<const unsigned char *>(first) - buffer);
        if (memcmp(buffer + p, needle.pattern, needle.length) == 0)
            return p;
    }
    return kNone;
}

// The candidates among starts p .. p + 63 (bit i: start p + i), tested in
// order.
size_t FindCandidates(const unsigned char *buffer, size_t p, uint64_t mask, const Needle &needle)
{
    for (; mask; mask &= mask - 1) {
        size_t candidate = p + static_cast<size_t>(__builtin_ctzll(mask));
        if (memcmp(buffer + candidate, needle.pattern, needle.length) == 0)
            return candidate;
    }
    return kNone;
}

// Lanes of starts where both filter bytes stand. Every start of a lane is at
// most last, so both loads stay inside the buffer; 64 starts are looked at
// per round, and what is left after the last whole round goes lane by lane,
// then to the plain search.
__attribute__((target("sse2"))) inline __m128i Lane16(const unsigned char *at, size_t second, __m128i first,
                                                      __m128i other)
{
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at + second));
    return _mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, other));
}

// The 64 starts from p: bit i set where both filter bytes stand for start
// p + i. When the second filter byte lies 16 places behind the first (as in
// the saved-game rule), its lanes are the first byte's lanes moved by one, and
// five loads serve where eight would otherwise be needed.
template <bool kSecondIsNextLane>
__attribute__((target("sse2"))) inline uint64_t Round64(const unsigned char *at, size_t second, __m128i first,
                                                        __m128i other)
{
    __m128i m0, m1, m2, m3;
    if (kSecondIsNextLane) {
        const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
        const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at + 16));
        const __m128i a2 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at + 32));
        const __m128i a3 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at + 48));
        const __m128i a4 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at + 64));
        m0 = _mm_and_si128(_mm_cmpeq_epi8(a0, first), _mm_cmpeq_epi8(a1, other));
        m1 = _mm_and_si128(_mm_cmpeq_epi8(a1, first), _mm_cmpeq_epi8(a2, other));
        m2 = _mm_and_si128(_mm_cmpeq_epi8(a2, first), _mm_cmpeq_epi8(a3, other));
        m3 = _mm_and_si128(_mm_cmpeq_epi8(a3, first), _mm_cmpeq_epi8(a4, other));
    } else {
        m0 = Lane16(at, second, first, other);
        m1 = Lane16(at + 16, second, first, other);
        m2 = Lane16(at + 32, second, first, other);
        m3 = Lane16(at + 48, second, first, other);
    }
    if (!_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(m0, m1), _mm_or_si128(m2, m3))))
        return 0;
    return static_cast<uint64_t>(_mm_movemask_epi8(m0)) | static_cast<uint64_t>(_mm_movemask_epi8(m1)) << 16 |
           static_cast<uint64_t>(_mm_movemask_epi8(m2)) << 32 |
           static_cast<uint64_t>(_mm_movemask_epi8(m3)) << 48;
}

template <bool kSecondIsNextLane>
__attribute__((target("sse2"))) size_t FindSse2Rounds(const unsigned char *buffer, size_t *from, size_t last,
                                                      const Needle &needle, __m128i first, __m128i other)
{
    size_t p = *from;
    for (; last >= 63 && p <= last - 63; p += 64) {
        uint64_t mask = Round64<kSecondIsNextLane>(buffer + p, needle.second, first, other);
        size_t found = mask ? FindCandidates(buffer, p, mask, needle) : kNone;
        if (found != kNone)
            return found;
    }
    *from = p;
    return kNone;
}

__attribute__((target("sse2"))) size_t FindSse2(const unsigned char *buffer, size_t from, size_t last,
                                                const Needle &needle)
{
    const __m128i first = _mm_set1_epi8(static_cast<char>(needle.pattern[0]));
    const __m128i other = _mm_set1_epi8(static_cast<char>(needle.pattern[needle.second]));
    size_t p = from;
    size_t found = needle.second == 16 ? FindSse2Rounds<true>(buffer, &p, last, needle, first, other)
                                       : FindSse2Rounds<false>(buffer, &p, last, needle, first, other);
    if (found != kNone)
        return found;
    for (; last >= 15 && p <= last - 15; p += 16) {
        unsigned mask =
            static_cast<unsigned>(_mm_movemask_epi8(Lane16(buffer + p, needle.second, first, other)));
        found = mask ? FindCandidates(buffer, p, mask, needle) : kNone;
        if (found != kNone)
            return found;
    }
    return p <= last ? FindPlain(buffer, p, last, needle) : kNone;
}

__attribute__((target("avx2"))) inline __m256i Lane32(const unsigned char *at, size_t second, __m256i first,
                                                      __m256i other)
{
    __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(at));
    __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(at + second));
    return _mm256_and_si256(_mm256_cmpeq_epi8(a, first), _mm256_cmpeq_epi8(b, other));
}

__attribute__((target("avx2"))) size_t FindAvx2(const unsigned char *buffer, size_t from, size_t last,
                                                const Needle &needle)
{
    const __m256i first = _mm256_set1_epi8(static_cast<char>(needle.pattern[0]));
    const __m256i other = _mm256_set1_epi8(static_cast<char>(needle.pattern[needle.second]));
    const size_t second = needle.second;
    size_t p = from;
    for (; last >= 127 && p <= last - 127; p += 128) {
        __m256i m0 = Lane32(buffer + p, second, first, other);
        __m256i m1 = Lane32(buffer + p + 32, second, first, other);
        __m256i m2 = Lane32(buffer + p + 64, second, first, other);
        __m256i m3 = Lane32(buffer + p + 96, second, first, other);
        if (_mm256_testz_si256(_mm256_or_si256(m0, m1), _mm256_or_si256(m0, m1)) &&
            _mm256_testz_si256(_mm256_or_si256(m2, m3), _mm256_or_si256(m2, m3)))
            continue;
        for (int half = 0; half < 2; ++half) {
            __m256i low = half ? m2 : m0, high = half ? m3 : m1;
            uint64_t mask = static_cast<uint32_t>(_mm256_movemask_epi8(low)) |
                            static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(high))) << 32;
            size_t found = mask ? FindCandidates(buffer, p + 64 * half, mask, needle) : kNone;
            if (found != kNone)
                return found;
        }
    }
    for (; last >= 31 && p <= last - 31; p += 32) {
        uint32_t mask = static_cast<uint32_t>(_mm256_movemask_epi8(Lane32(buffer + p, second, first, other)));
        size_t found = mask ? FindCandidates(buffer, p, mask, needle) : kNone;
        if (found != kNone)
            return found;
    }
    return p <= last ? FindSse2(buffer, p, last, needle) : kNone;
}

bool HasSse2()
{
    return IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE);
}

// AVX2, and an operating system that saves the wide registers (XSAVE with
// the SSE and AVX state enabled).
bool HasAvx2()
{
    unsigned a, b, c, d;
    if (!HasSse2() || !__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_OSXSAVE) || !(c & bit_AVX))
        return false;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d) || !(b & bit_AVX2))
        return false;
    unsigned low, high;
    __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (low & 6) == 6;
}

typedef size_t (*FindFunction)(const unsigned char *buffer, size_t from, size_t last, const Needle &needle);

ScanPath scanPath;
FindFunction find = nullptr;

FindFunction Find()
{
    if (!find)
        ChooseScanPath(HasAvx2() ? ScanPath::Avx2 : HasSse2() ? ScanPath::Sse2 : ScanPath::Plain);
    return find;
}

// Replaces every occurrence in buffer[*position, size) left to right without
// overlap, widening [*dirtyBegin, *dirtyEnd) over the replaced bytes and
// handing a range to flush first whenever the next change lies too far
// behind it. On return *position is the first place where a match could
// still start once more bytes follow. False when a flush failed.
template <typename Flush>
bool Scan(unsigned char *buffer, size_t size, size_t *position, const unsigned char *replacement,
          const Needle &needle, size_t *dirtyBegin, size_t *dirtyEnd, Flush flush)
{
    size_t p = *position;
    if (size >= needle.length) {
        const FindFunction search = Find();
        size_t found;
        while (p <= size - needle.length &&
               (found = search(buffer, p, size - needle.length, needle)) != kNone) {
            memcpy(buffer + found, replacement, needle.length);
            if (*dirtyEnd > *dirtyBegin && found - *dirtyEnd > kWriteGap) {
                if (!flush(*dirtyBegin, *dirtyEnd))
                    return false;
                *dirtyBegin = *dirtyEnd;
            }
            if (*dirtyEnd <= *dirtyBegin)
                *dirtyBegin = found;
            *dirtyEnd = found + needle.length;
            p = found + needle.length;
        }
        if (p < size - needle.length + 1)
            p = size - needle.length + 1;
    }
    *position = p < size ? p : size;
    return true;
}

bool FindEntry(const char *path, WIN32_FIND_DATAA *found)
{
    FindSearch search(path, found);
    return search.Found();
}

// The attributes and times of the entry a file name stands for, as
// FindEntry finds them. A name without wildcards is asked for directly: that
// is one query of the file instead of a search of its directory (a tenth of
// the time under Wine, which matters for small saved games), and the times
// come from the file itself rather than from its directory's copy of them.
bool LookUp(const char *path, WIN32_FIND_DATAA *found)
{
    if (strpbrk(path, "*?<>\""))
        return FindEntry(path, found);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return false;
    found->dwFileAttributes = data.dwFileAttributes;
    found->ftCreationTime = data.ftCreationTime;
    found->ftLastAccessTime = data.ftLastAccessTime;
    found->ftLastWriteTime = data.ftLastWriteTime;
    return true;
}

// How far a rewrite got: whether it did all it does, and whether it wrote
// anything on the way.
struct RewriteOutcome {
    bool complete = false;
    bool wrote = false;
};

// ReplaceInFile, telling how far it got.
int Rewrite(const char *fileName, const unsigned char *replacement, const unsigned char *pattern,
            unsigned length, int failHard, RewriteOutcome *outcome);

// Sets the times, telling whether they were set (and not merely skipped after
// a Yes).
int PutTimesBack(const char *fileName, const FILETIME *creationTime, const FILETIME *lastAccessTime,
                 const FILETIME *lastWriteTime, int failHard, bool *set)
{
    *set = false;
    Handle file(CreateFileA(fileName, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, INVALID_HANDLE_VALUE));
    if (!file.Valid())
        return ReportOrAskF(kCannotOpen, fileName, failHard);
    if (!SetFileTime(file, creationTime, lastAccessTime, lastWriteTime)) {
        file.Close();
        return ReportOrAskF(kCannotWrite, fileName, failHard);
    }
    *set = true;
    return 1;
}

// Rewrites a file whose entry was found beforehand, then puts back the times
// the entry had. A rewrite that failed before it wrote anything, and that the
// user chose to go on from, left the file as it was: its times are left alone
// too, and the failure is not asked about a second time.
int RewriteKeepingTimes(const char *fileName, const WIN32_FIND_DATAA &found, const unsigned char *replacement,
                        const unsigned char *pattern, unsigned length, int failHard, int keepTimes,
                        bool *complete)
{
    RewriteOutcome outcome;
    if (!Rewrite(fileName, replacement, pattern, length, failHard, &outcome))
        return 0;
    if (!outcome.complete && !outcome.wrote)
        return 1;
    bool timesSet = true;
    if (keepTimes && !PutTimesBack(fileName, &found.ftCreationTime, &found.ftLastAccessTime,
                                   &found.ftLastWriteTime, failHard, &timesSet))
        return 0;
    *complete = outcome.complete && timesSet;
    return 1;
}

struct ReplaceJob {
    const unsigned char *replacement;
    const unsigned char *pattern;
    unsigned length;
    int failHard;
    int keepTimes;
};

int ReplaceMatch(const char *fullName, const WIN32_FIND_DATAA &found, void *context)
{
    const ReplaceJob &job = *static_cast<const ReplaceJob *>(context);
    bool complete = false;
    return RewriteKeepingTimes(fullName, found, job.replacement, job.pattern, job.length, job.failHard,
                               job.keepTimes, &complete);
}

} // namespace

ScanPath CurrentScanPath()
{
    Find();
    return scanPath;
}

int ChooseScanPath(ScanPath path)
{
    if ((path == ScanPath::Avx2 && !HasAvx2()) || (path == ScanPath::Sse2 && !HasSse2()))
        return 0;
    scanPath = path;
    find = path == ScanPath::Avx2 ? FindAvx2 : path == ScanPath::Sse2 ? FindSse2 : FindPlain;
    return 1;
}

int ReplaceInBuffer(unsigned char *buffer, size_t size, const unsigned char *replacement,
                    const unsigned char *pattern, unsigned length)
{
    if (length == 0 || size < length)
        return 0;
    size_t position = 0, dirtyBegin = 0, dirtyEnd = 0;
    Scan(buffer, size, &position, replacement, MakeNeedle(pattern, length), &dirtyBegin, &dirtyEnd,
         [](size_t, size_t) { return true; });
    return dirtyEnd > dirtyBegin;
}

namespace {

int Rewrite(const char *fileName, const unsigned char *replacement, const unsigned char *pattern,
            unsigned length, int failHard, RewriteOutcome *outcome)
{
    length &= 0xFF;
    FileStream file(fopen(fileName, "rb+"));
    if (!file)
        return ReportOrAskF(kCannotOpen, fileName, failHard);
    // Blocks go straight from the file into the window; the stream's own
    // buffer would only copy every byte once more.
    setvbuf(file, nullptr, _IONBF, 0);

    // Sizes and positions are 64-bit: a saved game may be larger than 2 GiB.
    long long size;
    if (_fseeki64(file, 0, SEEK_END) != 0 || (size = _ftelli64(file)) < 0 ||
        _fseeki64(file, 0, SEEK_SET) != 0) {
        file.Close();
        return ReportOrAskF(kCannotRead, fileName, failHard);
    }
    if (size == 0 || length == 0) {
        outcome->complete = true;
        return 1;
    }

    // The block is read to window + kCarryRoom, the carried bytes stand right
    // in front of it, and the bytes scanned start at file offset scanStart.
    const Needle needle = MakeNeedle(pattern, length);
    alignas(64) unsigned char window[kCarryRoom + kRewriteBlockSize];
    unsigned char *const block = window + kCarryRoom;
    size_t carried = 0;
    long long readPosition = 0;
    while (readPosition < size) {
        long long left = size - readPosition;
        size_t count =
            left > static_cast<long long>(kRewriteBlockSize) ? kRewriteBlockSize : static_cast<size_t>(left);
        if (fread(block, 1, count, file) != count) {
            file.Close();
            return ReportOrAskF(kCannotRead, fileName, failHard);
        }
        unsigned char *const scanned = block - carried;
        const long long scanStart = readPosition - static_cast<long long>(carried);
        readPosition += static_cast<long long>(count);

        bool wrote = false;
        auto flush = [&](size_t begin, size_t end) {
            wrote = outcome->wrote = true;
            return _fseeki64(file, scanStart + static_cast<long long>(begin), SEEK_SET) == 0 &&
                   fwrite(scanned + begin, 1, end - begin, file) == end - begin;
        };
        size_t filled = carried + count, position = 0, dirtyBegin = 0, dirtyEnd = 0;
        bool written = Scan(scanned, filled, &position, replacement, needle, &dirtyBegin, &dirtyEnd, flush) &&
                       (dirtyEnd <= dirtyBegin || flush(dirtyBegin, dirtyEnd));
        // The next read follows the last one, wherever a write left the stream.
        if (!written || (wrote && _fseeki64(file, readPosition, SEEK_SET) != 0)) {
            file.Close();
            return ReportOrAskF(kCannotWrite, fileName, failHard);
        }

        // Keep what a match could still begin in: at most length - 1 bytes,
        // moved to just in front of where the next block goes.
        carried = filled - position;
        memmove(block - carried, scanned + position, carried);
    }
    if (file.Close() != 0)
        return ReportOrAskF(kCannotWrite, fileName, failHard);
    outcome->complete = true;
    return 1;
}

} // namespace

int ReplaceInFile(const char *fileName, const unsigned char *replacement, const unsigned char *pattern,
                  unsigned length, int failHard)
{
    RewriteOutcome outcome;
    return Rewrite(fileName, replacement, pattern, length, failHard, &outcome);
}

int RestoreFileTimes(const char *fileName, const FILETIME *creationTime, const FILETIME *lastAccessTime,
                     const FILETIME *lastWriteTime, int failHard)
{
    bool set;
    return PutTimesBack(fileName, creationTime, lastAccessTime, lastWriteTime, failHard, &set);
}

int ReplaceInFileKeepTimes(const char *fileName, const unsigned char *replacement,
                           const unsigned char *pattern, unsigned length, int failHard, int keepTimes,
                           bool *complete)
{
    bool done = false;
    WIN32_FIND_DATAA found;
    int result =
        !LookUp(fileName, &found) || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ? ReportOrAskF(kCannotOpen, fileName, failHard)
            : RewriteKeepingTimes(fileName, found, replacement, pattern, length, failHard, keepTimes, &done);
    if (complete)
        *complete = done;
    return result;
}

int WalkMatchingFiles(const char *wildcard, int failHard, MatchVisitor visit, void *context, bool *enumerated)
{
    if (enumerated)
        *enumerated = false;
    char prefix[MAX_PATH];
    DWORD resolved = GetFullPathNameA(wildcard, MAX_PATH, prefix, nullptr);
    if (resolved == 0 || resolved >= MAX_PATH)
        return ReportOrAskF(kBadFileName, wildcard, failHard);
    // The directory part, separator included: behind the last '\' or '/'.
    char *backslash = strrchr(prefix, '\\');
    char *slash = strrchr(prefix, '/');
    char *separator = backslash > slash ? backslash : slash;
    if (separator)
        separator[1] = '\0';
    else
        prefix[0] = '\0';
    size_t prefixLength = strlen(prefix);
    if (enumerated)
        *enumerated = true;

    WIN32_FIND_DATAA found;
    FindSearch search(wildcard, &found);
    if (!search.Found())
        return 1;
    do {
        if (prefixLength + strlen(found.cFileName) >= MAX_PATH) {
            if (!ReportOrAskF2(kBadFileName2, prefix, found.cFileName, failHard))
                return 0;
            continue;
        }
        char fullName[MAX_PATH];
        strcpy(fullName, prefix);
        strcat(fullName, found.cFileName);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        if (!visit(fullName, found, context))
            return 0;
    } while (search.Next(&found));
    return 1;
}

int ReplaceInMatchingFiles(const char *wildcard, const unsigned char *replacement,
                           const unsigned char *pattern, unsigned length, int failHard, int keepTimes)
{
    ReplaceJob job = {replacement, pattern, length, failHard, keepTimes};
    return WalkMatchingFiles(wildcard, failHard, ReplaceMatch, &job);
}

int IsExistingFile(const char *path)
{
    WIN32_FIND_DATAA found;
    return FindEntry(path, &found) && !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

int IsExistingDirectory(const char *path)
{
    WIN32_FIND_DATAA found;
    if (!FindEntry(path, &found))
        return 0;
    return static_cast<int>(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}
