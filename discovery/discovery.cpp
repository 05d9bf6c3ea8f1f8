// Reads "PATH" from the game's application key and lays out the target path
// table in one zero-filled heap block: the directory first, then each entry
// with room for the directory, a backslash, its relative path and a NUL.
//
// The directory area is one byte larger than the registry data, so a value
// stored without its terminating NUL is terminated in place; no entry can then
// outgrow its room. An empty value is refused like a missing one: it would
// make every target path point at the root of the current drive. A directory
// the update can't use (relative, in a device namespace, or with a space at
// the end of its last name) is refused like one that doesn't exist.
#include "discovery/discovery.h"

#include "base/base.h"

#include <direct.h>
#include <stdlib.h>
#include <string.h>

const char *const kRelativeTargetPaths[kTargetEntryCount + 1] = {
    nullptr,
    "Contents\\QK_INFO.PAK",
    "Contents\\INFO.PAK",
    "Contents\\M_TITLE.PAK",
    "missions\\miss01.lvl",
    "missions\\miss02.lvl",
    "missions\\miss03.lvl",
    "missions\\miss04.lvl",
    "missions\\miss05.lvl",
    "missions\\miss06.lvl",
    "missions\\miss07.lvl",
    "missions\\miss08.lvl",
    "missions\\miss09.lvl",
    "missions\\miss10.lvl",
    "missions\\miss11.lvl",
    "missions\\miss12.lvl",
    "missions\\miss13.lvl",
    "missions\\miss14.lvl",
    "missions\\miss15.lvl",
    "missions\\miss16.lvl",
    "missions\\miss17.lvl",
    "missions\\miss18.lvl",
    "missions\\miss19.lvl",
    "missions\\miss20.lvl",
    "missions\\muss18.lvl",
    "training\\les01.lvl",
    "training\\les02.lvl",
    "training\\les03.lvl",
    "training\\les04.lvl",
    "training\\les05.lvl",
    "training\\les06.lvl",
    "training\\les07.lvl",
    "training\\les08.lvl",
    "profile\\DEF1.CFG",
    "training\\les01.dsc",
    "save\\*.SAV",
};

char *TargetPathTable = nullptr;

namespace {

char *entryStart[kTargetEntryCount + 1];

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// A drive letter, a colon and a separator ("C:\..." or "C:/..."), or a
// network path ("\\server\share..."), whose last folder name doesn't end in a
// space.
//
// Anything else the update can't use: a relative path depends on the folder
// the updater was started from, and the paths built from it would apply it
// twice once that directory is entered; the device namespaces ("\\?\",
// "\\.\") take the paths built behind them literally, with no "." or ".." or
// "/" resolved; and Windows drops a space that ends the last name of a path,
// so the directory would be entered as one folder while the files are looked
// for in another, whose name keeps the space.
bool IsUsableDirectory(const char *path)
{
    bool drive = ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
                 path[1] == ':' && IsSeparator(path[2]);
    bool network = IsSeparator(path[0]) && IsSeparator(path[1]) && path[2] != '\0' && !IsSeparator(path[2]);
    bool device = network && (path[2] == '?' || path[2] == '.') && (path[3] == '\0' || IsSeparator(path[3]));
    size_t end = strlen(path);
    while (end > 0 && IsSeparator(path[end - 1]))
        --end;
    bool spaceAtEnd = end > 0 && path[end - 1] == ' ';
    return (drive || network) && !device && !spaceAtEnd;
}

} // namespace

int LocateGameAndBuildPaths()
{
    RegistryKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kGameKeyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return ShowError(kNotInstalled);

    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key, kGamePathValue, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_SZ || size == 0)
        return ShowError(kNotInstalled);

    // Directory area: the registry data plus a terminator of our own.
    size_t directoryRoom = static_cast<size_t>(size) + 1;
    size_t blockSize = directoryRoom;
    for (unsigned entry = 1; entry <= kTargetEntryCount; ++entry)
        blockSize += directoryRoom + 1 + strlen(kRelativeTargetPaths[entry]);
    HeapMemory block(malloc(blockSize));
    if (!block)
        return ShowError(kOutOfMemory);
    memset(block.Get(), 0, blockSize);

    DWORD read = size;
    if (RegQueryValueExA(key, kGamePathValue, nullptr, &type, reinterpret_cast<BYTE *>(block.Get()), &read) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return ShowError(kRegistryUnreadable);
    key.Close();

    const char *directory = block.Get();
    if (directory[0] == '\0')
        return ShowError(kNotInstalled);

    char *start[kTargetEntryCount + 1] = {block.Get()};
    char *next = block.Get() + directoryRoom;
    for (unsigned entry = 1; entry <= kTargetEntryCount; ++entry) {
        start[entry] = next;
        strcpy(next, directory);
        strcat(next, "\\");
        strcat(next, kRelativeTargetPaths[entry]);
        next += directoryRoom + 1 + strlen(kRelativeTargetPaths[entry]);
    }

    if (!IsUsableDirectory(directory) || _chdir(directory) != 0)
        return ShowErrorF(kDirectoryNotFound, directory);

    memcpy(entryStart, start, sizeof start);
    TargetPathTable = static_cast<char *>(block.Release());
    return 1;
}

const char *TargetPath(unsigned entry)
{
    return entry <= kTargetEntryCount ? entryStart[entry] : nullptr;
}

void ReleaseTargetPathTable()
{
    free(TargetPathTable);
    TargetPathTable = nullptr;
    for (char *&start : entryStart)
        start = nullptr;
}
