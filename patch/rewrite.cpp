// The rewrite of a file in place, and of each file a wildcard matches, with
// the time stamps put back.
//
// A file is read in blocks of kRewriteBlockSize at offsets 0, 64 Ki, 128 Ki,
// ... and scanned as one stream: the last length - 1 bytes of a block that no
// match has consumed are carried to the room just in front of where the next
// block is read, so an occurrence that straddles a block boundary is replaced
// like any other. Nothing before the scan position can change any more, so
// after each block the changed bytes (and only those) are written back. The
// file's length never changes; sizes and positions are 64-bit, since a saved
// game may be larger than 2 GiB.
#include "patch/patch.h"

#include "base/base.h"

#include <string.h>

const unsigned char kSaveRuleReplacement[kSaveRuleLength] = {'C', 'P', 'U', 0,   0,   0,   0,   0,   0,
                                                             'P', 'r', 'o', 'c', 'e', 's', 'o', 'r', 0};
const unsigned char kSavePattern[kSaveRuleLength] = {'P', 'r', 'o', 'c', 'e', 's', 'o', 'r', 0,
                                                     'P', 'r', 'o', 'c', 'e', 's', 'o', 'r', 0};

namespace {

// Room in front of a block for the bytes carried from the one before.
constexpr size_t kCarryRoom = 256;

// The attributes and times of the entry a file name stands for, as a search
// finds them. A name without wildcards is asked for directly: that is one
// query of the file instead of a search of its directory (a tenth of the time
// under Wine, which matters for small saved games), and the times come from
// the file itself rather than from its directory's copy of them.
bool LookUp(const char *path, WIN32_FIND_DATAA *found)
{
    if (strpbrk(path, "*?<>\"")) {
        FindSearch search(path, found);
        return search.Found();
    }
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

// Where the changed bytes of a window go: the file, at the offset the window
// starts at.
struct WindowWriter {
    FILE *file;
    const unsigned char *window;
    long long windowStart;
    bool wrote;
};

bool WriteRange(void *context, size_t begin, size_t end)
{
    WindowWriter &writer = *static_cast<WindowWriter *>(context);
    writer.wrote = true;
    return _fseeki64(writer.file, writer.windowStart + static_cast<long long>(begin), SEEK_SET) == 0 &&
           fwrite(writer.window + begin, 1, end - begin, writer.file) == end - begin;
}

// ReplaceInFile, telling how far it got.
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
    // in front of it, and the bytes scanned start at file offset
    // writer.windowStart.
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
        WindowWriter writer = {file, scanned, readPosition - static_cast<long long>(carried), false};
        readPosition += static_cast<long long>(count);

        size_t filled = carried + count, position = 0, dirtyBegin = 0, dirtyEnd = 0;
        bool written = ReplaceInWindow(scanned, filled, &position, replacement, pattern, length, &dirtyBegin,
                                       &dirtyEnd, WriteRange, &writer) &&
                       (dirtyEnd <= dirtyBegin || WriteRange(&writer, dirtyBegin, dirtyEnd));
        outcome->wrote = outcome->wrote || writer.wrote;
        // The next read follows the last one, wherever a write left the stream.
        if (!written || (writer.wrote && _fseeki64(file, readPosition, SEEK_SET) != 0)) {
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
    if (keepTimes && !RestoreFileTimes(fileName, &found.ftCreationTime, &found.ftLastAccessTime,
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

int ReplaceInFile(const char *fileName, const unsigned char *replacement, const unsigned char *pattern,
                  unsigned length, int failHard)
{
    RewriteOutcome outcome;
    return Rewrite(fileName, replacement, pattern, length, failHard, &outcome);
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

int ReplaceInMatchingFiles(const char *wildcard, const unsigned char *replacement,
                           const unsigned char *pattern, unsigned length, int failHard, int keepTimes)
{
    ReplaceJob job = {replacement, pattern, length, failHard, keepTimes};
    return WalkMatchingFiles(wildcard, failHard, ReplaceMatch, &job);
}
