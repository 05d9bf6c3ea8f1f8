// The wildcard walk that the rewrite and the saved-game list share, the
// existence checks, and the putting back of a file's time stamps.
#include "patch/patch.h"

#include "base/base.h"

#include <string.h>

namespace {

bool FindEntry(const char *path, WIN32_FIND_DATAA *found)
{
    FindSearch search(path, found);
    return search.Found();
}

} // namespace

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

int RestoreFileTimes(const char *fileName, const FILETIME *creationTime, const FILETIME *lastAccessTime,
                     const FILETIME *lastWriteTime, int failHard, bool *set)
{
    if (set)
        *set = false;
    Handle file(CreateFileA(fileName, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, INVALID_HANDLE_VALUE));
    if (!file.Valid())
        return ReportOrAskF(kCannotOpen, fileName, failHard);
    if (!SetFileTime(file, creationTime, lastAccessTime, lastWriteTime)) {
        file.Close();
        return ReportOrAskF(kCannotWrite, fileName, failHard);
    }
    if (set)
        *set = true;
    return 1;
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
