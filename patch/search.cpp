// The search for a byte pattern, and its replacement in memory.
//
// The search filters candidates on two bytes of the pattern at their distance,
// 32 or 16 places at a time where the processor has AVX2 or SSE2, and compares
// the whole pattern only where both bytes stand. The widest path is chosen
// once, at the first search; the 32-bit release still runs on processors
// without either, since only these functions are compiled for them. The
// replacement runs left to right without overlap, over one buffer or over a
// window that a rewrite slides along a file.
#include "patch/patch.h"

#include <cpuid.h>
#include <emmintrin.h>
#include <immintrin.h>
#include <string.h>

namespace {

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

bool ReplaceInWindow(unsigned char *buffer, size_t size, size_t *position, const unsigned char *replacement,
                     const unsigned char *pattern, unsigned length, size_t *dirtyBegin, size_t *dirtyEnd,
                     FlushRange flush, void *context)
{
    const Needle needle = MakeNeedle(pattern, length);
    size_t p = *position;
    if (size >= needle.length) {
        const FindFunction search = Find();
        size_t found;
        while (p <= size - needle.length &&
               (found = search(buffer, p, size - needle.length, needle)) != kNone) {
            memcpy(buffer + found, replacement, needle.length);
            if (*dirtyEnd > *dirtyBegin && found - *dirtyEnd > kWriteGap) {
                if (!flush(context, *dirtyBegin, *dirtyEnd))
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

int ReplaceInBuffer(unsigned char *buffer, size_t size, const unsigned char *replacement,
                    const unsigned char *pattern, unsigned length)
{
    if (length == 0 || size < length)
        return 0;
    size_t position = 0, dirtyBegin = 0, dirtyEnd = 0;
    ReplaceInWindow(
        buffer, size, &position, replacement, pattern, length, &dirtyBegin, &dirtyEnd,
        [](void *, size_t, size_t) { return true; }, nullptr);
    return dirtyEnd > dirtyBegin;
}
