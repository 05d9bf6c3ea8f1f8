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
// game may be larger than 2 GiB. The time stamps go back through the stream
// that wrote the file, before it is closed, so that no other program can
// hold the file in between and make that fail.
#include "patch/patch.h"

#include "base/door.h"
#include "base/holders.h"
#include "base/prompts.h"

#include <io.h>
#include <string.h>

const unsigned char kSaveRuleReplacement[kSaveRuleLength] = {'C', 'P', 'U', 0,   0,   0,   0,   0,   0,
                                                             'P', 'r', 'o', 'c', 'e', 's', 'o', 'r', 0};
const unsigned char kSavePattern[kSaveRuleLength] = {'P', 'r', 'o', 'c', 'e', 's', 'o', 'r', 0,
                                                     'P', 'r', 'o', 'c', 'e', 's', 'o', 'r', 0};

WhileWorkingFunction WhileWorkingCall = nullptr;

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
        FindSearch search(FindFirstFileA(path, found));
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

// Puts the times of found back through the stream that wrote the file, so
// that no other program can make it fail by opening the file in between.
bool PutTimesBack(FILE *file, const WIN32_FIND_DATAA &found)
{
    return SetFileTime(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))), &found.ftCreationTime,
                       &found.ftLastAccessTime, &found.ftLastWriteTime) != 0;
}

// ReplaceInFile, telling in *complete whether it did all it does. With times
// (the file's entry as it was found beforehand) the file's time stamps are
// put back, once it has been opened, whatever happens after.
int Rewrite(const char *fileName, const unsigned char *replacement, const unsigned char *pattern,
            unsigned length, int failHard, const WIN32_FIND_DATAA *times, bool *complete)
{
    *complete = false;
    length &= 0xFF;
    // Opened through the door, so that no other program may write to the
    // file meanwhile: one that holds it for writing already (a game that
    // keeps its saved game open) makes the open fail before anything is
    // written, rather than have the file rewritten under it. A file the door
    // refuses is one that can't be opened; one written before in this run
    // (reached again through another name) is left as it is, unasked.
    Refusal refusal = Refusal::None;
    long long size = 0;
    FileStream file(OpenStreamToChange(fileName, FILE_SHARE_READ, NameFrom::Listing, &size, &refusal));
    if (!file)
        return refusal == Refusal::WrittenBefore ? 1 : ReportOrAskF(kCannotOpen, fileName, failHard);
    // Blocks go straight from the file into the window; the stream's own
    // buffer would only copy every byte once more.
    setvbuf(file.Get(), nullptr, _IONBF, 0);
    // After a failure the times are put back all the same, then the file is
    // closed, and only then is the failure reported.
    auto fail = [&](const char *message) {
        if (times)
            PutTimesBack(file.Get(), *times);
        file.Close();
        return ReportOrAskF(message, fileName, failHard);
    };

    if (size < 0)
        return fail(kCannotRead);

    // The block is read to window + kCarryRoom, the carried bytes stand right
    // in front of it, and the bytes scanned start at file offset
    // writer.windowStart.
    alignas(64) unsigned char window[kCarryRoom + kRewriteBlockSize];
    unsigned char *const block = window + kCarryRoom;
    size_t carried = 0;
    long long readPosition = 0;
    while (readPosition < size && length > 0) {
        long long left = size - readPosition;
        size_t count =
            left > static_cast<long long>(kRewriteBlockSize) ? kRewriteBlockSize : static_cast<size_t>(left);
        if (fread(block, 1, count, file.Get()) != count)
            return fail(kCannotRead);
        unsigned char *const scanned = block - carried;
        WindowWriter writer = {file.Get(), scanned, readPosition - static_cast<long long>(carried), false};
        readPosition += static_cast<long long>(count);

        size_t filled = carried + count, position = 0, dirtyBegin = 0, dirtyEnd = 0;
        bool written = ReplaceInWindow(scanned, filled, &position, replacement, pattern, length, &dirtyBegin,
                                       &dirtyEnd, WriteRange, &writer) &&
                       (dirtyEnd <= dirtyBegin || WriteRange(&writer, dirtyBegin, dirtyEnd));
        // The next read follows the last one, wherever a write left the stream.
        if (!written || (writer.wrote && _fseeki64(file.Get(), readPosition, SEEK_SET) != 0))
            return fail(kCannotWrite);

        // Keep what a match could still begin in: at most length - 1 bytes,
        // moved to just in front of where the next block goes.
        carried = filled - position;
        memmove(block - carried, scanned + position, carried);
        WhileWorking();
    }
    if (times && !PutTimesBack(file.Get(), *times)) {
        file.Close();
        return ReportOrAskF(kCannotWrite, fileName, failHard);
    }
    if (file.Close() != 0)
        return ReportOrAskF(kCannotWrite, fileName, failHard);
    *complete = true;
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
    return Rewrite(fullName, job.replacement, job.pattern, job.length, job.failHard,
                   job.keepTimes ? &found : nullptr, &complete);
}

} // namespace

int ReplaceInFile(const char *fileName, const unsigned char *replacement, const unsigned char *pattern,
                  unsigned length, int failHard)
{
    bool complete = false;
    return Rewrite(fileName, replacement, pattern, length, failHard, nullptr, &complete);
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
            : Rewrite(fileName, replacement, pattern, length, failHard, keepTimes ? &found : nullptr, &done);
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
