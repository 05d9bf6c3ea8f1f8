// Times ReplaceInFileKeepTimes with the saved-game rule on a 64 MiB file, once
// without any occurrence and once with one occurrence in every 64 KiB, and a
// plain loop of 4,096-byte freads over the same file in the same run. Prints
// the throughputs and the ratio of each scan to the plain read.
//
//   bench_scan [FILE [ROUNDS]]   FILE, when empty or absent, is bench_scan.bin
//                                in the temporary directory; the best of
//                                ROUNDS (default 3) runs counts.
#include "app/app.h"
#include "patch/patch.h"
#include "tools/bench_support.h"

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

// The plain read: 4,096-byte freads to the end, touching one byte per block.
double TimeRead(const std::string &path, unsigned *checksum)
{
    FILE *file = fopen(path.c_str(), "rb");
    if (!file)
        return -1;
    unsigned char block[4096];
    double start = Seconds();
    size_t got;
    while ((got = fread(block, 1, sizeof block, file)) > 0)
        *checksum += block[got - 1];
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

    // Best of the rounds for each measurement; the file is rewritten before
    // every scan with occurrences, since a scan replaces them all.
    double bestRead = 1e30, bestInMemory = 1e30, bestClean = 1e30, bestOccurrences = 1e30;
    unsigned checksum = 0;
    size_t expected = kFileSize / kOccurrenceSpacing;
    for (int round = 0; round < rounds; ++round) {
        if (!WriteTestFile(path, false)) {
            fprintf(stderr, "bench_scan: cannot write %s\n", path.c_str());
            return 1;
        }
        TimeRead(path, &checksum); // into the cache
        double read = TimeRead(path, &checksum);
        double inMemory = TimeBufferScan(path);
        double clean = TimeScan(path);
        if (!WriteTestFile(path, true)) {
            fprintf(stderr, "bench_scan: cannot write %s\n", path.c_str());
            return 1;
        }
        TimeRead(path, &checksum);
        double occurrences = TimeScan(path);
        if (read < 0 || inMemory < 0 || clean < 0 || occurrences < 0) {
            fprintf(stderr, "bench_scan: a run failed\n");
            return 1;
        }
        size_t patterns, replacements;
        CountRules(path, &patterns, &replacements);
        if (patterns != 0 || replacements != expected) {
            fprintf(stderr, "bench_scan: %u occurrences left, %u replaced, %u expected\n",
                    static_cast<unsigned>(patterns), static_cast<unsigned>(replacements),
                    static_cast<unsigned>(expected));
            return 1;
        }
        printf("round %d: read %.3f s, scan in memory %.3f s, scan without occurrences %.3f s, "
               "with occurrences %.3f s\n",
               round + 1, read, inMemory, clean, occurrences);
        bestRead = read < bestRead ? read : bestRead;
        bestInMemory = inMemory < bestInMemory ? inMemory : bestInMemory;
        bestClean = clean < bestClean ? clean : bestClean;
        bestOccurrences = occurrences < bestOccurrences ? occurrences : bestOccurrences;
    }
    DeleteFileA(path.c_str());

    printf("file: 64 MiB, best of %d rounds (checksum %u)\n", rounds, checksum);
    printf("plain fread, 4096-byte blocks:        %8.1f MiB/s\n", MiBPerSecond(bestRead));
    printf("scan of the bytes in memory alone:    %8.1f MiB/s\n", MiBPerSecond(bestInMemory));
    printf("scan, no occurrence:                  %8.1f MiB/s  ratio %.2f\n", MiBPerSecond(bestClean),
           bestRead / bestClean);
    printf("scan, one occurrence every 64 KiB:    %8.1f MiB/s  ratio %.2f\n", MiBPerSecond(bestOccurrences),
           bestRead / bestOccurrences);
    return 0;
}
