// The game folder's mirrors in the VirtualStore, and the trees the update may
// write in: the game folder and those mirrors, each fixed by where it really
// is.
//
// A mirror is looked for at the VirtualStore's own final path followed by
// the game folder's final path without its drive, and at the same followed
// by the long name of "PATH" without its drive, where that is another folder
// (PATH names a link to the game folder): Windows keeps the copies under the
// name the game opened. Below the VirtualStore, names are matched letter case
// aside: Windows makes those folders as the game named them.
#include "discovery/discovery.h"

#include "base/trees.h"
#include "base/holders.h"
#include "base/library.h"
#include "base/names.h"
#include "base/prompts.h"

#include <shlobj.h>

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace {

// A mirror: where it was looked for (UTF-16, the VirtualStore's final path
// and a tail below it), its table, laid out as the target path table, and
// which entries have a copy there.
struct Mirror {
    wchar_t *place = nullptr;
    size_t storeLength = 0;
    char *table = nullptr;
    char *start[kTargetEntryCount + 1] = {};
    bool copy[kTargetEntryCount + 1] = {};
};
Mirror mirrors[kMirrorCount];
unsigned mirrorCount = 0;
unsigned mirrorCopyCount = 0;

typedef HRESULT(WINAPI *GetFolderPathFunction)(HWND, int, HANDLE, DWORD, LPWSTR);

// The player's local application data folder (see PlayerLocalAppData), else
// the process's own, in UTF-16 (MAX_PATH units); false when it can't be had.
// shell32 is loaded from the system directory only, when it is needed.
bool LocalApplicationData(wchar_t *path)
{
    if (const wchar_t *player = PlayerLocalAppData()) {
        wcscpy(path, player);
        return true;
    }
    HMODULE shell = LoadSystemLibrary("shell32.dll");
    auto getFolderPath = shell ? reinterpret_cast<GetFolderPathFunction>(
                                     reinterpret_cast<void *>(GetProcAddress(shell, "SHGetFolderPathW")))
                               : nullptr;
    return getFolderPath &&
           SUCCEEDED(getFolderPath(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path));
}

// folder and rest (a folder's path without its drive) as a new heap string,
// '/' made '\\', separators in a row made one and none left at the end; null
// when memory runs out.
wchar_t *Below(const wchar_t *folder, const wchar_t *rest)
{
    size_t folderLength = wcslen(folder), restLength = wcslen(rest);
    wchar_t *path = static_cast<wchar_t *>(malloc((folderLength + restLength + 1) * sizeof(wchar_t)));
    if (!path)
        return nullptr;
    wcscpy(path, folder);
    size_t length = folderLength;
    for (size_t i = 0; i < restLength; ++i) {
        wchar_t c = rest[i] == L'/' ? L'\\' : rest[i];
        if (c != L'\\' || length == 0 || path[length - 1] != L'\\')
            path[length++] = c;
    }
    while (length > folderLength && path[length - 1] == L'\\')
        --length;
    path[length] = L'\0';
    return path;
}

// The VirtualStore's own final path ("\\?\C:\..."), null when it has none.
wchar_t *StoreFinalPath()
{
    wchar_t local[MAX_PATH];
    if (!LocalApplicationData(local))
        return nullptr;
    HeapMemory store(Below(local, L"\\VirtualStore"));
    return store ? FinalFolderPath(reinterpret_cast<const wchar_t *>(store.Get())) : nullptr;
}

// The tails below the VirtualStore where the game folder's mirrors may
// stand: the game folder's final path without its drive, and PATH's long
// name without its drive; into tails (heap strings, null where none). Only a
// folder on a drive is redirected.
void MirrorTails(const char *directory, wchar_t *tails[kMirrorCount])
{
    tails[0] = tails[1] = nullptr;
    HeapMemory wide(WidenName(directory));
    if (!wide)
        return;
    const wchar_t *name = reinterpret_cast<const wchar_t *>(wide.Get());
    HeapMemory final(FinalFolderPath(name));
    const wchar_t *finalPath = reinterpret_cast<const wchar_t *>(final.Get());
    if (finalPath && wcsncmp(finalPath, L"\\\\?\\", 4) == 0 && finalPath[5] == L':' && finalPath[6])
        tails[0] = Below(L"", finalPath + 6);
    wchar_t longName[MAX_PATH];
    DWORD length = GetLongPathNameW(name, longName, MAX_PATH);
    const wchar_t *pathName = length > 0 && length < MAX_PATH ? longName : name;
    wchar_t *tail = Below(L"", pathName + 2);
    if (tail &&
        (!tail[0] || (tails[0] && CompareStringOrdinal(tail, -1, tails[0], -1, TRUE) == CSTR_EQUAL))) {
        free(tail);
        tail = nullptr;
    }
    tails[tails[0] ? 1 : 0] = tail;
}

// The DOS form of a final path: "C:\..." or "\\server\share\...".
const wchar_t *DosForm(const wchar_t *final, wchar_t *buffer)
{
    if (wcsncmp(final, L"\\\\?\\UNC\\", 8) == 0) {
        buffer[0] = L'\\';
        wcsncpy(buffer + 1, final + 7, MAX_PATH - 1);
        buffer[MAX_PATH - 1] = L'\0';
        return buffer;
    }
    return wcsncmp(final, L"\\\\?\\", 4) == 0 ? final + 4 : final;
}

// Takes the folder at place (a heap string, the VirtualStore's final path of
// storeLength units and a tail) as the next mirror. 1 when done; 0 after the
// missing-folder box, when its name can't be used.
int TakeMirror(wchar_t *place, size_t storeLength)
{
    Mirror &mirror = mirrors[mirrorCount];
    mirror.place = place;
    mirror.storeLength = storeLength;
    wchar_t buffer[MAX_PATH];
    bool exact = false;
    HeapMemory narrow(NarrowName(DosForm(place, buffer), -1, &exact));
    if (!narrow)
        return ShowError(kOutOfMemory);
    if (!exact || strlen(narrow.Get()) + LongestTargetTail() >= MAX_PATH)
        return ShowErrorF(kDirectoryNotFound, narrow.Get());
    mirror.table = BuildPathTable(narrow.Get(), mirror.start);
    if (!mirror.table)
        return ShowError(kOutOfMemory);
    for (unsigned entry = 1; entry < kEntrySaveWildcard; ++entry) {
        DWORD found = GetFileAttributesA(mirror.start[entry]);
        mirror.copy[entry] = found != INVALID_FILE_ATTRIBUTES && !(found & FILE_ATTRIBUTE_DIRECTORY);
        mirrorCopyCount += mirror.copy[entry] ? 1 : 0;
    }
    mirror.copy[kEntrySaveWildcard] = true;
    ++mirrorCount;
    return 1;
}

} // namespace

int LocateVirtualStoreMirror()
{
    ReleaseVirtualStoreMirror();
    const char *directory = TargetPath(kEntryInstallDirectory);
    if (!directory || directory[0] == '\0' || directory[1] != ':')
        return 1;
    HeapMemory store(StoreFinalPath());
    if (!store)
        return 1;
    const wchar_t *storePath = reinterpret_cast<const wchar_t *>(store.Get());
    wchar_t *tails[kMirrorCount];
    MirrorTails(directory, tails);
    int result = 1;
    for (wchar_t *tail : tails) {
        wchar_t *place = tail && result ? Below(storePath, tail) : nullptr;
        free(tail);
        DWORD attributes = place ? GetFileAttributesW(place) : INVALID_FILE_ATTRIBUTES;
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            result = TakeMirror(place, wcslen(storePath));
        else
            free(place);
    }
    return result;
}

const char *MirrorPath(unsigned mirror, unsigned entry)
{
    if (mirror >= mirrorCount || entry > kTargetEntryCount)
        return nullptr;
    const Mirror &found = mirrors[mirror];
    return entry == kEntryInstallDirectory || found.copy[entry] ? found.start[entry] : nullptr;
}

unsigned MirrorCopyCount()
{
    return mirrorCopyCount;
}

void ReleaseVirtualStoreMirror()
{
    for (Mirror &mirror : mirrors) {
        free(mirror.place);
        free(mirror.table);
        mirror = Mirror();
    }
    mirrorCount = mirrorCopyCount = 0;
}

int FixUpdateTrees()
{
    const char *directories[kTreeCount] = {TargetPath(kEntryInstallDirectory)};
    for (unsigned i = 0; i < mirrorCount; ++i)
        directories[kFirstMirrorTree + i] = MirrorPath(i, kEntryInstallDirectory);
    const char *refused = nullptr;
    DWORD error = 0;
    if (!FixWriteTrees(directories, &refused, &error))
        return ShowFolderRefused(refused, error, DriveTypeOf(refused));
    // Each mirror's folder is where it was looked for, with no link on the
    // way from the VirtualStore down: the VirtualStore's final path spelt
    // exactly, as both are read from the same directory entries, and below
    // it letter case aside.
    for (unsigned i = 0; i < mirrorCount; ++i) {
        const Mirror &mirror = mirrors[i];
        const wchar_t *root = TreeRoot(kFirstMirrorTree + i);
        if (!root || wcsncmp(root, mirror.place, mirror.storeLength) != 0 ||
            CompareStringOrdinal(root + mirror.storeLength, -1, mirror.place + mirror.storeLength, -1,
                                 TRUE) != CSTR_EQUAL) {
            ReleaseWriteTrees();
            return ShowErrorF(kDirectoryNotFound, directories[kFirstMirrorTree + i]);
        }
    }
    return 1;
}
