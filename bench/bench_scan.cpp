// Times ReplaceInFileKeepTimes with the saved-game rule on a 64 MiB file, once
// without any occurrence and once with one occurrence in every 64 KiB, on
// every search path the processor has (the widest is the one the updater
// takes; the narrower ones are forced), and plain loops of 4,096-byte and of
// 65,536-byte freads over the same file in the same run. Prints the
// throughputs and the ratio of each scan to the faster plain read.
//
//   bench_scan [FILE [ROUNDS]]   FILE, when empty or absent, is bench_scan.bin
//                                in the temporary directory; the best of
//                                ROUNDS (default 3) runs counts.
#include "base/holders.h"
#include "base/prompts.h"
#include "patch/patch.h"
#include "bench/bench_support.h"

#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

constexpr size_t kFileSize = 64u << 20;
constexpr size_t kOccurrenceSpacing = 64u << 10;

// Pseudo-random bytes that never hold the pattern; with occurrences, the
// pattern at a varying place in every 64 KiB, some across a 4 KiB boundary.
bool WriteTestFile(const std::string &path, bool withOccurrences)
{
    std::vector<unsigned char> block(kOccurrenceSpacing);
    FILE *file = fopen(path.c_str(), "wb");
    if (!file)
        return false;
    unsigned state = 12345;
    bool ok = true;
    for (size_t done = 0; ok && done < kFileSize; done += block.size()) {
        for (unsigned char &byte : block) {
            state = state * 1103515245u + 12345u;
            byte = static_cast<unsigned char>(state >> 16);
            if (byte == kSavePattern[0])
                byte ^= 0x20;
        }
        if (withOccurrences) {
            size_t index = done / kOccurrenceSpacing;
            size_t at = (index * 4099 + 4096 - 7) % (kOccurrenceSpacing - kSaveRuleLength);
            memcpy(&block[at], kSavePattern, kSaveRuleLength);
        }
        ok = fwrite(block.data(), 1, block.size(), file) == block.size();
    }
    // On the disk before anything is timed: no write-back runs alongside.
    ok = ok && fflush(file) == 0 && _commit(_fileno(file)) == 0;
    return fclose(file) == 0 && ok;
}

// The plain read: freads of `block` bytes to the end, touching one byte per
// block.
double TimeRead(const std::string &path, size_t block, unsigned *checksum)
{
    FILE *file = fopen(path.c_str(), "rb");
    if (!file)
        return -1;
    static unsigned char buffer[65536];
    double start = Seconds();
    size_t got;
    while ((got = fread(buffer, 1, block, file)) > 0)
        *checksum += buffer[got - 1];
    double elapsed = Seconds() - start;
    fclose(file);
    return elapsed;
}

double TimeScan(const std::string &path)
{
    double start = Seconds();
    int result =
        ReplaceInFileKeepTimes(path.c_str(), kSaveRuleReplacement, kSavePattern, kSaveRuleLength, 1, 1);
    double elapsed = Seconds() - start;
    return result ? elapsed : -1;
}

// Counts the occurrences of the pattern and of the replacement in the file.
void CountRules(const std::string &path, size_t *patterns, size_t *replacements)
{
    *patterns = *replacements = 0;
    FILE *file = fopen(path.c_str(), "rb");
    if (!file)
        return;
    std::vector<unsigned char> data(kFileSize);
    size_t size = fread(data.data(), 1, data.size(), file);
    fclose(file);
    for (size_t i = 0; i + kSaveRuleLength <= size; ++i) {
        if (memcmp(&data[i], kSavePattern, kSaveRuleLength) == 0)
            ++*patterns;
        if (memcmp(&data[i], kSaveRuleReplacement, kSaveRuleLength) == 0)
            ++*replacements;
    }
}

// ReplaceInBuffer over the file's bytes held in memory: the scan alone,
// without any file access.
double TimeBufferScan(const std::string &path)
{
    std::vector<unsigned char> data(kFileSize);
    FILE *file = fopen(path.c_str(), "rb");
    if (!file)
        return -1;
    size_t size = fread(data.data(), 1, data.size(), file);
    fclose(file);
    double start = Seconds();
    ReplaceInBuffer(data.data(), size, kSaveRuleReplacement, kSavePattern, kSaveRuleLength);
    return Seconds() - start;
}

double MiBPerSecond(double seconds)
{
    return static_cast<double>(kFileSize) / (1024.0 * 1024.0) / seconds;
}

const char *PathName(ScanPath path)
{
    return path == ScanPath::Avx2 ? "AVX2" : path == ScanPath::Sse2 ? "SSE2" : "plain";
}

struct Best {
    double seconds = 1e30;
    void Take(double time) { seconds = time < seconds ? time : seconds; }
};

} // namespace

int main(int argc, char **argv)
{
    MessageBoxCall = PrintBox;
    std::string path;
    if (argc > 1 && argv[1][0]) {
        path = argv[1];
    } else {
        char directory[MAX_PATH];
        GetTempPathA(MAX_PATH, directory);
        path = std::string(directory) + "bench_scan.bin";
    }
    int rounds = argc > 2 ? atoi(argv[2]) : 3;
    if (rounds < 1)
        rounds = 1;

    // The widest path first: the one the updater takes on this processor.
    const ScanPath widest = CurrentScanPath();
    std::vector<ScanPath> paths;
    for (ScanPath candidate : {ScanPath::Avx2, ScanPath::Sse2, ScanPath::Plain})
        if (ChooseScanPath(candidate))
            paths.push_back(candidate);

    // Best of the rounds for each measurement; the file is rewritten before
    // every scan with occurrences, since a scan replaces them all.
    Best read4k, read64k, inMemory;
    std::vector<Best> clean(paths.size()), occurrences(paths.size());
    unsigned checksum = 0;
    size_t expected = kFileSize / kOccurrenceSpacing;
    for (int round = 0; round < rounds; ++round) {
        if (!WriteTestFile(path, false)) {
            fprintf(stderr, "bench_scan: cannot write %s\n", path.c_str());
            return 1;
        }
        TimeRead(path, 65536, &checksum); // into the cache
        read4k.Take(TimeRead(path, 4096, &checksum));
        read64k.Take(TimeRead(path, 65536, &checksum));
        ChooseScanPath(widest);
        inMemory.Take(TimeBufferScan(path));
        for (size_t i = 0; i < paths.size(); ++i) {
            ChooseScanPath(paths[i]);
            double time = TimeScan(path);
            if (time < 0) {
                fprintf(stderr, "bench_scan: a run failed\n");
                return 1;
            }
            clean[i].Take(time);
        }
        for (size_t i = 0; i < paths.size(); ++i) {
            if (!WriteTestFile(path, true)) {
                fprintf(stderr, "bench_scan: cannot write %s\n", path.c_str());
                return 1;
            }
            TimeRead(path, 65536, &checksum);
            ChooseScanPath(paths[i]);
            double time = TimeScan(path);
            size_t patterns, replacements;
            CountRules(path, &patterns, &replacements);
            if (time < 0 || patterns != 0 || replacements != expected) {
                fprintf(stderr, "bench_scan: %s: %u occurrences left, %u replaced, %u expected\n",
                        PathName(paths[i]), static_cast<unsigned>(patterns),
                        static_cast<unsigned>(replacements), static_cast<unsigned>(expected));
                return 1;
            }
            occurrences[i].Take(time);
        }
        printf("round %d done\n", round + 1);
    }
    DeleteFileA(path.c_str());
    ChooseScanPath(widest);

    const double reference = read4k.seconds < read64k.seconds ? read4k.seconds : read64k.seconds;
    printf("file: 64 MiB, best of %d rounds (checksum %u); search path of the updater here: %s\n", rounds,
           checksum, PathName(widest));
    printf("plain fread, 4,096-byte blocks:          %8.1f MiB/s\n", MiBPerSecond(read4k.seconds));
    printf("plain fread, 65,536-byte blocks:         %8.1f MiB/s\n", MiBPerSecond(read64k.seconds));
    printf("scan of the bytes in memory alone (%s): %8.1f MiB/s\n", PathName(widest),
           MiBPerSecond(inMemory.seconds));
    for (size_t i = 0; i < paths.size(); ++i) {
        printf("%-5s rewrite, no occurrence:          %8.1f MiB/s  ratio %.2f\n", PathName(paths[i]),
               MiBPerSecond(clean[i].seconds), reference / clean[i].seconds);
        printf("%-5s rewrite, one every 64 KiB:       %8.1f MiB/s  ratio %.2f\n", PathName(paths[i]),
               MiBPerSecond(occurrences[i].seconds), reference / occurrences[i].seconds);
    }
    return 0;
}
