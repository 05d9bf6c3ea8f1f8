// The wildcard walk that the rewrite and the saved-game list share, the
// existence checks, and the putting back of a file's time stamps.
#include "patch/patch.h"

#include "base/door.h"
#include "base/holders.h"
#include "base/names.h"
#include "base/prompts.h"

#include <string.h>

namespace {

bool FindEntry(const char *path, WIN32_FIND_DATAA *found)
{
    FindSearch search(FindFirstFileA(path, found));
    return search.Found();
}

// What a walk hands on of an entry found through the wide calls: its
// attributes, its times and its name as the ANSI calls take it.
void Describe(const WIN32_FIND_DATAW &wide, const char *name, WIN32_FIND_DATAA *found)
{
    *found = WIN32_FIND_DATAA();
    found->dwFileAttributes = wide.dwFileAttributes;
    found->ftCreationTime = wide.ftCreationTime;
    found->ftLastAccessTime = wide.ftLastAccessTime;
    found->ftLastWriteTime = wide.ftLastWriteTime;
    found->nFileSizeHigh = wide.nFileSizeHigh;
    found->nFileSizeLow = wide.nFileSizeLow;
    lstrcpynA(found->cFileName, name, MAX_PATH);
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

    // The names are read through the wide calls: the ANSI ones would give a
    // name the code page can't hold as a look-alike, which may be the name
    // of another file, so that one file would be listed twice and the other
    // never. Such a name is asked about like one too long.
    HeapMemory wideWildcard(WidenName(wildcard));
    if (!wideWildcard)
        return ReportOrAsk(kOutOfMemory, failHard);
    WIN32_FIND_DATAW wide;
    FindSearch search(FindFirstFileW(reinterpret_cast<const wchar_t *>(wideWildcard.Get()), &wide));
    if (!search.Found())
        return 1;
    do {
        bool exact = false;
        HeapMemory name(NarrowName(wide.cFileName, -1, &exact));
        if (!name) {
            if (!ReportOrAsk(kOutOfMemory, failHard))
                return 0;
            continue;
        }
        if (!exact || prefixLength + strlen(name.Get()) >= MAX_PATH) {
            if (!ReportOrAskF2(kBadFileName2, prefix, name.Get(), failHard))
                return 0;
            continue;
        }
        char fullName[MAX_PATH];
        strcpy(fullName, prefix);
        strcat(fullName, name.Get());
        if (wide.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        WIN32_FIND_DATAA found;
        Describe(wide, name.Get(), &found);
        if (!visit(fullName, found, context))
            return 0;
    } while (search.Next(&wide));
    return 1;
}

int RestoreFileTimes(const char *fileName, const FILETIME *creationTime, const FILETIME *lastAccessTime,
                     const FILETIME *lastWriteTime, int failHard, bool *set)
{
    if (set)
        *set = false;
    // Through the door, held without sharing; the times may be set again on
    // a file written before in this run.
    Refusal refusal = Refusal::None;
    Handle file(OpenToChange(fileName, GENERIC_WRITE, 0, NameFrom::Listing, false, nullptr, &refusal));
    if (!file.Valid())
        return ReportOrAskF(kCannotOpen, fileName, failHard);
    if (!SetFileTime(file.Get(), creationTime, lastAccessTime, lastWriteTime)) {
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
