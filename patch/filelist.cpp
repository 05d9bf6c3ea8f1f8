// The saved-game list: full names collected once at start-up, read by the
// save-file steps, freed at the end of the run. The array grows by exactly one
// slot per name and always ends with a null slot.
#include "patch/patch.h"

#include "base/holders.h"
#include "base/prompts.h"

#include <stdlib.h>
#include <string.h>

char **entries = nullptr;
uint32_t entryCount = 0;

int AppendToFileList(const char *fileName, const unsigned char *, const unsigned char *, unsigned,
                     int failHard)
{
    size_t size = strlen(fileName) + 1;
    HeapMemory copy(malloc(size));
    if (!copy)
        return ReportOrAskF(kOutOfMemory, fileName, failHard);
    memcpy(copy.Get(), fileName, size);

    char **grown = static_cast<char **>(realloc(entries, (entryCount + 2) * sizeof *entries));
    if (!grown)
        return ReportOrAskF(kOutOfMemory, fileName, failHard);
    entries = grown;
    entries[entryCount] = static_cast<char *>(copy.Release());
    ++entryCount;
    entries[entryCount] = nullptr;
    return 1;
}

void ReleaseFileList()
{
    while (entryCount > 0)
        free(entries[--entryCount]);
    free(entries);
    entries = nullptr;
}

namespace {

struct CollectJob {
    const unsigned char *replacement;
    const unsigned char *pattern;
    unsigned length;
    int failHard;
};

int CollectMatch(const char *fullName, const WIN32_FIND_DATAA &, void *context)
{
    const CollectJob &job = *static_cast<const CollectJob *>(context);
    return AppendToFileList(fullName, job.replacement, job.pattern, job.length, job.failHard);
}

} // namespace

int CollectMatchingFiles(const char *wildcard, const unsigned char *replacement, const unsigned char *pattern,
                         unsigned length, int failHard, int)
{
    CollectJob job = {replacement, pattern, length, failHard};
    bool enumerated;
    if (WalkMatchingFiles(wildcard, failHard, CollectMatch, &job, &enumerated))
        return 1;
    // A walk stopped on the way leaves no list behind, not even names that
    // stood in it before the call; a wildcard that can't be resolved leaves
    // the list as it was.
    if (enumerated)
        ReleaseFileList();
    return 0;
}
