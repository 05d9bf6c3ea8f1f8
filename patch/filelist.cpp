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
    const char *extension; // what the wildcard's names end in behind their last dot, or null
};

// The wildcard's extension when it names one without wildcards ("SAV" of
// "save\*.SAV"), else null.
const char *ExtensionOf(const char *wildcard)
{
    const char *name = wildcard;
    for (const char *at = wildcard; *at; ++at)
        if (*at == '\\' || *at == '/')
            name = at + 1;
    const char *dot = strrchr(name, '.');
    return dot && !strpbrk(dot + 1, "*?") ? dot + 1 : nullptr;
}

int CollectMatch(const char *fullName, const WIN32_FIND_DATAA &found, void *context)
{
    const CollectJob &job = *static_cast<const CollectJob *>(context);
    // Windows matches a wildcard against a file's short name too, so that
    // "*.SAV" lists "gra001.SAVE" (GRA001~1.SAV) and "gra001.sav_kopia"; and
    // it would open a name listed as "x.SAV." or "x.SAV " as "x.SAV", another
    // file. Only a name whose own extension is the wildcard's is a saved game.
    const char *dot = strrchr(found.cFileName, '.');
    if (job.extension && (!dot || _stricmp(dot + 1, job.extension) != 0))
        return 1;
    return AppendToFileList(fullName, job.replacement, job.pattern, job.length, job.failHard);
}

} // namespace

int CollectMatchingFiles(const char *wildcard, const unsigned char *replacement, const unsigned char *pattern,
                         unsigned length, int failHard, int)
{
    CollectJob job = {replacement, pattern, length, failHard, ExtensionOf(wildcard)};
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
