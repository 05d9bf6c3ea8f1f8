// Pattern replacement in place, with the file's time stamps kept.
//
// A file is read in 4,096-byte blocks at offsets 0, 4,096, 8,192, ... and
// scanned as one stream: the last length - 1 bytes of a block that no match
// has consumed are carried in front of the next block, so an occurrence that
// straddles a block boundary is replaced like any other. Nothing before the
// scan position can change any more, so after each block the changed bytes
// (and only those) are written back. The file's length never changes.
#include "patch/patch.h"

#include "app/app.h"

#include <string.h>

const unsigned char kSaveRuleReplacement[kSaveRuleLength] = {
    'C', 'P', 'U', 0, 0, 0, 0, 0, 0, 'P', 'r', 'o', 'c', 'e', 's', 'o', 'r', 0};
const unsigned char kSavePattern[kSaveRuleLength] = {
    'P', 'r', 'o', 'c', 'e', 's', 'o', 'r', 0, 'P', 'r', 'o', 'c', 'e', 's', 'o', 'r', 0};

namespace {

constexpr size_t kBlockSize = 4096;
constexpr size_t kMaxPattern = 255;

// Scans buffer[*position ..] and replaces matches; on return *position is the
// first place where a match could still start once more bytes follow. Widens
// [*dirtyBegin, *dirtyEnd) over every replaced byte.
void Scan(unsigned char *buffer, size_t size, size_t *position, const unsigned char *replacement,
          const unsigned char *pattern, size_t length, size_t *dirtyBegin, size_t *dirtyEnd)
{
    size_t p = *position;
    while (p + length <= size) {
        // Jump to the next place where the pattern's first byte stands.
        const void *first = memchr(buffer + p, pattern[0], size - length + 1 - p);
        if (!first) {
            p = size - length + 1;
            break;
        }
        p = static_cast<size_t>(static_cast<const unsigned char *>(first) - buffer);
        if (memcmp(buffer + p, pattern, length) == 0) {
            memcpy(buffer + p, replacement, length);
            if (*dirtyBegin >= *dirtyEnd)
                *dirtyBegin = p;
            *dirtyEnd = p + length;
            p += length;
        } else {
            ++p;
        }
    }
    *position = p < size ? p : size;
}

bool FindEntry(const char *path, WIN32_FIND_DATAA *found)
{
    FindSearch search(path, found);
    return search.Found();
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
    if (!ReplaceInFile(fullName, job.replacement, job.pattern, job.length, job.failHard))
        return 0;
    if (job.keepTimes && !RestoreFileTimes(fullName, &found.ftCreationTime, &found.ftLastAccessTime,
                                           &found.ftLastWriteTime, job.failHard))
        return 0;
    return 1;
}

} // namespace

int ReplaceInBuffer(unsigned char *buffer, size_t size, const unsigned char *replacement,
                    const unsigned char *pattern, unsigned length)
{
    if (length == 0 || size < length)
        return 0;
    size_t position = 0, dirtyBegin = 0, dirtyEnd = 0;
    Scan(buffer, size, &position, replacement, pattern, length, &dirtyBegin, &dirtyEnd);
    return dirtyEnd > dirtyBegin;
}

int ReplaceInFile(const char *fileName, const unsigned char *replacement, const unsigned char *pattern,
                  unsigned length, int failHard)
{
    length &= 0xFF;
    FileStream file(fopen(fileName, "rb+"));
    if (!file)
        return ReportOrAskF(kCannotOpen, fileName, failHard);

    long size;
    if (fseek(file, 0, SEEK_END) != 0 || (size = ftell(file)) == -1 || fseek(file, 0, SEEK_SET) != 0) {
        file.Close();
        return ReportOrAskF(kCannotRead, fileName, failHard);
    }
    if (size == 0 || length == 0)
        return 1;

    // window holds the carried bytes followed by the block just read; it
    // starts at file offset windowStart.
    unsigned char window[kMaxPattern - 1 + kBlockSize];
    size_t carried = 0;
    long windowStart = 0;
    long readPosition = 0;
    while (readPosition < size) {
        long left = size - readPosition;
        size_t block = left > static_cast<long>(kBlockSize) ? kBlockSize : static_cast<size_t>(left);
        if (fread(window + carried, 1, block, file) != block) {
            file.Close();
            return ReportOrAskF(kCannotRead, fileName, failHard);
        }
        readPosition += static_cast<long>(block);
        size_t filled = carried + block;

        size_t position = 0, dirtyBegin = 0, dirtyEnd = 0;
        Scan(window, filled, &position, replacement, pattern, length, &dirtyBegin, &dirtyEnd);

        if (dirtyEnd > dirtyBegin) {
            size_t count = dirtyEnd - dirtyBegin;
            if (fseek(file, windowStart + static_cast<long>(dirtyBegin), SEEK_SET) != 0 ||
                fwrite(window + dirtyBegin, 1, count, file) != count ||
                fseek(file, readPosition, SEEK_SET) != 0) {
                file.Close();
                return ReportOrAskF(kCannotWrite, fileName, failHard);
            }
        }

        // Keep what a match could still begin in: at most length - 1 bytes.
        carried = filled - position;
        memmove(window, window + position, carried);
        windowStart += static_cast<long>(position);
    }
    if (file.Close() != 0)
        return ReportOrAskF(kCannotWrite, fileName, failHard);
    return 1;
}

int RestoreFileTimes(const char *fileName, const FILETIME *creationTime, const FILETIME *lastAccessTime,
                     const FILETIME *lastWriteTime, int failHard)
{
    HANDLE file = CreateFileA(fileName, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, INVALID_HANDLE_VALUE);
    if (file == INVALID_HANDLE_VALUE)
        return ReportOrAskF(kCannotOpen, fileName, failHard);
    if (!SetFileTime(file, creationTime, lastAccessTime, lastWriteTime)) {
        CloseHandle(file);
        return ReportOrAskF(kCannotWrite, fileName, failHard);
    }
    CloseHandle(file);
    return 1;
}

int ReplaceInFileKeepTimes(const char *fileName, const unsigned char *replacement,
                           const unsigned char *pattern, unsigned length, int failHard, int keepTimes)
{
    WIN32_FIND_DATAA found;
    if (!FindEntry(fileName, &found) || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return ReportOrAskF(kCannotOpen, fileName, failHard);
    if (!ReplaceInFile(fileName, replacement, pattern, length, failHard))
        return 0;
    if (keepTimes && !RestoreFileTimes(fileName, &found.ftCreationTime, &found.ftLastAccessTime,
                                       &found.ftLastWriteTime, failHard))
        return 0;
    return 1;
}

int WalkMatchingFiles(const char *wildcard, int failHard, MatchVisitor visit, void *context,
                      bool *enumerated)
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
