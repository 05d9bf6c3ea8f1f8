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

// A file's three time stamps.
struct Times {
    FILETIME creation, lastAccess, lastWrite;
};

// Puts times back through the stream that wrote the file, so that no other
// program can make it fail by opening the file in between.
bool PutTimesBack(FILE *file, const Times &times)
{
    return SetFileTime(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))), &times.creation,
                       &times.lastAccess, &times.lastWrite) != 0;
}

// ReplaceInFile, telling in *complete whether it did all it does. With
// keepTimes the file's time stamps are put back, once it has been opened,
// whatever happens after: those given (the file's entry as a walk found it
// beforehand), else those the file has as it is opened, read through the
// same handle.
int Rewrite(const char *fileName, const unsigned char *replacement, const unsigned char *pattern,
            unsigned length, int failHard, bool keepTimes, const Times *given, bool *complete)
{
    *complete = false;
    length &= 0xFF;
    // Opened through the door, so that no other program may write to the
    // file meanwhile: one that holds it for writing already (a game that
    // keeps its saved game open) makes the open fail before anything is
    // written, rather than have the file rewritten under it. A file the door
    // refuses (missing, a folder, a link) is one that can't be opened; one
    // written before in this run (reached again through another name) is
    // left as it is, unasked.
    Refusal refusal = Refusal::None;
    long long size = 0;
    HANDLE handle = OpenToChange(fileName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, NameFrom::Listing,
                                 true, &size, &refusal);
    if (handle == INVALID_HANDLE_VALUE)
        return refusal == Refusal::WrittenBefore ? 1 : ReportOrAskF(kCannotOpen, fileName, failHard);
    // The times are read before anything else touches the file (the C
    // runtime's stream may, as it is made); times that can't be had could not
    // be put back, and the file is left as it is, like one that can't be
    // opened.
    Times times = given ? *given : Times();
    if (keepTimes && !given && !GetFileTime(handle, &times.creation, &times.lastAccess, &times.lastWrite)) {
        CloseHandle(handle);
        return ReportOrAskF(kCannotOpen, fileName, failHard);
    }
    FileStream file(StreamOnHandle(handle, "rb+"));
    if (!file)
        return ReportOrAskF(kCannotOpen, fileName, failHard);
    // Blocks go straight from the file into the window; the stream's own
    // buffer would only copy every byte once more.
    setvbuf(file.Get(), nullptr, _IONBF, 0);
    // After a failure the times are put back all the same, then the file is
    // closed, and only then is the failure reported.
    auto fail = [&](const char *message) {
        if (keepTimes)
            PutTimesBack(file.Get(), times);
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
    if (keepTimes && !PutTimesBack(file.Get(), times)) {
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
    const Times times = {found.ftCreationTime, found.ftLastAccessTime, found.ftLastWriteTime};
    bool complete = false;
    return Rewrite(fullName, job.replacement, job.pattern, job.length, job.failHard, job.keepTimes != 0,
                   &times, &complete);
}

} // namespace

int ReplaceInFile(const char *fileName, const unsigned char *replacement, const unsigned char *pattern,
                  unsigned length, int failHard)
{
    bool complete = false;
    return Rewrite(fileName, replacement, pattern, length, failHard, false, nullptr, &complete);
}

int ReplaceInFileKeepTimes(const char *fileName, const unsigned char *replacement,
                           const unsigned char *pattern, unsigned length, int failHard, int keepTimes,
                           bool *complete)
{
    bool done = false;
    int result = Rewrite(fileName, replacement, pattern, length, failHard, keepTimes != 0, nullptr, &done);
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
