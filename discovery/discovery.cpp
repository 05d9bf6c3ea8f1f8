// Reads "PATH" from the game's application key and lays out the target path
// table in one zero-filled heap block: the directory first, then each entry
// with room for the directory, a backslash, its relative path and a NUL.
//
// The value is read as the registry keeps it, in UTF-16, and taken only when
// every character has its own bytes in the ANSI code page: the ANSI calls
// would read a name such as "Niño" as a look-alike ("Nino") and update
// whatever folder that names. An empty value is refused like a missing one:
// it would make every target path point at the root of the current drive. A
// directory the update can't use is refused like one that doesn't exist:
// relative, in a device namespace, one that Windows resolves to another
// folder than the one written (a name "." or "..", or one ending in a dot or
// a space), or one too long for the paths built from it.
#include "discovery/discovery.h"

#include "base/trees.h"
#include "base/holders.h"
#include "base/names.h"
#include "base/prompts.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

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

// The name of "PATH" for the UTF-16 registry calls.
constexpr wchar_t kGamePathValueW[] = L"PATH";
// A value larger than this can't be a path on any Windows (32,767 UTF-16
// units and a NUL); it is refused before anything is allocated from it.
constexpr DWORD kLargestPathValue = 32768 * sizeof(wchar_t);

char *entryStart[kTargetEntryCount + 1];

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// A drive letter, a colon and a separator ("C:\..." or "C:/..."), or a
// network path ("\\server\share..."), outside the device namespaces.
//
// Anything else the update can't use: a relative path depends on the folder
// the updater was started from, and the paths built from it would apply it
// twice once that directory is entered; the device namespaces ("\\?\",
// "\\.\") take the paths built behind them literally, with no "." or ".." or
// "/" resolved.
bool IsAbsoluteOutsideDevices(const char *path)
{
    bool drive = ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
                 path[1] == ':' && IsSeparator(path[2]);
    bool network = IsSeparator(path[0]) && IsSeparator(path[1]) && path[2] != '\0' && !IsSeparator(path[2]);
    bool device = network && (path[2] == '?' || path[2] == '.') && (path[3] == '\0' || IsSeparator(path[3]));
    return (drive || network) && !device;
}

// True when no folder name in path is "." or "..", or ends in a dot or a
// space. Windows drops such a name, or its dots and spaces, when it enters
// the folder, but the paths built behind it keep them: the folder entered
// and the folder whose files the update looks for would differ.
bool HasPlainNames(const char *path)
{
    size_t start = 0, length = strlen(path);
    for (size_t i = 0; i <= length; ++i) {
        if (i < length && !IsSeparator(path[i]))
            continue;
        if (i > start && (path[i - 1] == '.' || path[i - 1] == ' '))
            return false;
        start = i + 1;
    }
    return true;
}

// path with '\' for '/', repeated separators made one (but for the two that
// open a network path) and no separator at the end; the drive letter in upper
// case.
void Normalize(const char *path, char *out)
{
    size_t o = 0;
    for (size_t i = 0; path[i]; ++i) {
        char c = path[i] == '/' ? '\\' : path[i];
        if (c == '\\' && o > 1 && out[o - 1] == '\\')
            continue;
        out[o++] = c;
    }
    while (o > 2 && out[o - 1] == '\\')
        --o;
    out[o] = '\0';
    if (o >= 2 && out[1] == ':')
        out[0] = static_cast<char>(toupper(static_cast<unsigned char>(out[0])));
}

// True when Windows resolves path to the folder written there, letter case,
// '/' and repeated or trailing separators aside, within MAX_PATH.
bool ResolvesToItself(const char *path)
{
    char resolved[MAX_PATH], written[MAX_PATH], full[MAX_PATH];
    if (strlen(path) >= MAX_PATH)
        return false;
    DWORD length = GetFullPathNameA(path, MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH)
        return false;
    Normalize(full, resolved);
    Normalize(path, written);
    return strcmp(resolved, written) == 0;
}

} // namespace

size_t LongestTargetTail()
{
    size_t longest = 0;
    for (unsigned entry = 1; entry <= kTargetEntryCount; ++entry)
        longest =
            strlen(kRelativeTargetPaths[entry]) > longest ? strlen(kRelativeTargetPaths[entry]) : longest;
    return 1 + longest;
}

bool IsUsableDirectory(const char *path)
{
    return IsAbsoluteOutsideDevices(path) && HasPlainNames(path) && ResolvesToItself(path);
}

namespace {

// "PATH" in the ANSI code page as a new heap string (the caller frees it), or
// null after the box that says why not.
char *ReadGameDirectory()
{
    RegistryKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kGameKeyPath, 0, KEY_QUERY_VALUE, key.Receive()) != ERROR_SUCCESS)
        return ShowError(kNotInstalled), nullptr;

    // The key is closed before any box.
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.Get(), kGamePathValueW, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_SZ || size == 0 || size > kLargestPathValue)
        return key.Close(), ShowError(kNotInstalled), nullptr;

    // A value stored without its terminator is read to its size.
    HeapMemory value(calloc(size, 1));
    if (!value)
        return key.Close(), ShowError(kOutOfMemory), nullptr;
    DWORD read = size;
    bool readAgain = RegQueryValueExW(key.Get(), kGamePathValueW, nullptr, &type,
                                      reinterpret_cast<BYTE *>(value.Get()), &read) == ERROR_SUCCESS &&
                     type == REG_SZ;
    key.Close();
    if (!readAgain)
        return ShowError(kRegistryUnreadable), nullptr;

    const wchar_t *wide = reinterpret_cast<const wchar_t *>(value.Get());
    size_t wideLength = wcsnlen(wide, read / sizeof(wchar_t));
    if (wideLength == 0)
        return ShowError(kNotInstalled), nullptr;
    bool exact = false;
    char *directory = NarrowName(wide, static_cast<int>(wideLength), &exact);
    if (!directory)
        return ShowError(kOutOfMemory), nullptr;
    if (!exact || strlen(directory) + LongestTargetTail() >= MAX_PATH) {
        ShowErrorF(kDirectoryNotFound, directory);
        free(directory);
        return nullptr;
    }
    return directory;
}

// Enters path as the C runtime's _chdir does (the drive's own current
// directory too, which Windows keeps in the environment as "=C:"), keeping
// the system's error when that fails.
bool Enter(const char *path, DWORD *error)
{
    if (!SetCurrentDirectoryA(path)) {
        *error = GetLastError();
        return false;
    }
    char current[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(MAX_PATH, current);
    if (length >= 2 && length < MAX_PATH && current[1] == ':') {
        char variable[] = "=C:";
        variable[1] = static_cast<char>(toupper(static_cast<unsigned char>(current[0])));
        SetEnvironmentVariableA(variable, current);
    }
    return true;
}

} // namespace

UINT DriveTypeOf(const char *path)
{
    if (!isalpha(static_cast<unsigned char>(path[0])) || path[1] != ':')
        return DRIVE_UNKNOWN;
    const wchar_t root[] = {static_cast<wchar_t>(path[0]), L':', L'\\', L'\0'};
    return GetDriveTypeW(root);
}

int ShowFolderRefused(const char *path, DWORD error, UINT driveType)
{
    if (driveType == DRIVE_NO_ROOT_DIR && isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') {
        const char drive[] = {path[0], ':', '\0'};
        return ShowErrorF(kDriveInvisible, drive);
    }
    return ShowErrorF(error == kUntrustedMountPoint ? kJunctionUntrusted : kDirectoryNotFound, path);
}

char *BuildPathTable(const char *directory, char *start[kTargetEntryCount + 1])
{
    size_t directoryRoom = strlen(directory) + 1;
    size_t blockSize = directoryRoom;
    for (unsigned entry = 1; entry <= kTargetEntryCount; ++entry)
        blockSize += directoryRoom + 1 + strlen(kRelativeTargetPaths[entry]);
    char *block = static_cast<char *>(calloc(blockSize, 1));
    if (!block)
        return nullptr;
    memcpy(block, directory, directoryRoom);
    start[0] = block;
    char *next = block + directoryRoom;
    for (unsigned entry = 1; entry <= kTargetEntryCount; ++entry) {
        start[entry] = next;
        strcpy(next, directory);
        strcat(next, "\\");
        strcat(next, kRelativeTargetPaths[entry]);
        next += directoryRoom + 1 + strlen(kRelativeTargetPaths[entry]);
    }
    return block;
}

int LocateGameAndBuildPaths()
{
    HeapMemory directory(ReadGameDirectory());
    if (!directory)
        return 0;
    char *start[kTargetEntryCount + 1];
    HeapMemory block(BuildPathTable(directory.Get(), start));
    if (!block)
        return ShowError(kOutOfMemory);

    const char *path = directory.Get();
    if (!IsUsableDirectory(path))
        return ShowErrorF(kDirectoryNotFound, path);
    DWORD error = 0;
    if (!Enter(path, &error))
        return ShowFolderRefused(path, error, DriveTypeOf(path));

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
