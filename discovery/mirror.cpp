// The game folder's mirror in the VirtualStore, and the trees the update may
// write in: the game folder and that mirror, each fixed by where it really
// is.
#include "discovery/discovery.h"

#include "base/door.h"
#include "base/holders.h"
#include "base/library.h"
#include "base/names.h"
#include "base/prompts.h"

#include <shlobj.h>

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace {

// The mirror's table, laid out as the target path table, and which entries
// have a copy there.
char *mirrorTable = nullptr;
char *mirrorStart[kTargetEntryCount + 1];
bool mirrorCopy[kTargetEntryCount + 1];
unsigned mirrorCopyCount = 0;

typedef HRESULT(WINAPI *GetFolderPathFunction)(HWND, int, HANDLE, DWORD, LPWSTR);

// The local application data folder of the user the updater runs as, in
// UTF-16 (MAX_PATH units); false when it can't be had. shell32 is loaded
// from the system directory only, when it is needed.
bool LocalApplicationData(wchar_t *path)
{
    HMODULE shell = LoadSystemLibrary("shell32.dll");
    auto getFolderPath = shell ? reinterpret_cast<GetFolderPathFunction>(
                                     reinterpret_cast<void *>(GetProcAddress(shell, "SHGetFolderPathW")))
                               : nullptr;
    return getFolderPath &&
           SUCCEEDED(getFolderPath(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path));
}

// local, "\\VirtualStore" and rest (a folder's path without its drive, '/'
// made '\\' as the store keeps it) as a new heap string; null when memory
// runs out.
wchar_t *InStore(const wchar_t *local, const wchar_t *rest)
{
    static const wchar_t kStore[] = L"\\VirtualStore";
    size_t localLength = wcslen(local), restLength = wcslen(rest);
    wchar_t *path =
        static_cast<wchar_t *>(malloc((localLength + wcslen(kStore) + restLength + 1) * sizeof(wchar_t)));
    if (!path)
        return nullptr;
    wcscpy(path, local);
    wcscat(path, kStore);
    wchar_t *at = path + wcslen(path);
    for (size_t i = 0; i <= restLength; ++i)
        at[i] = rest[i] == L'/' ? L'\\' : rest[i];
    return path;
}

// The mirror of directory (a folder on a drive) in UTF-16, as a new heap
// string; null when memory runs out or there is no local application data.
wchar_t *MirrorOf(const char *directory)
{
    wchar_t local[MAX_PATH];
    if (!LocalApplicationData(local))
        return nullptr;
    HeapMemory tail(WidenName(directory + 2));
    return tail ? InStore(local, reinterpret_cast<const wchar_t *>(tail.Get())) : nullptr;
}

} // namespace

int LocateVirtualStoreMirror()
{
    ReleaseVirtualStoreMirror();
    const char *directory = TargetPath(kEntryInstallDirectory);
    // Only a folder on a drive is redirected; a network path never is.
    if (!directory || directory[0] == '\0' || directory[1] != ':')
        return 1;
    HeapMemory mirror(MirrorOf(directory));
    if (!mirror)
        return 1;
    DWORD attributes = GetFileAttributesW(reinterpret_cast<const wchar_t *>(mirror.Get()));
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return 1;

    bool exact = false;
    HeapMemory narrow(NarrowName(reinterpret_cast<const wchar_t *>(mirror.Get()), -1, &exact));
    if (!narrow)
        return ShowError(kOutOfMemory);
    if (!exact || strlen(narrow.Get()) + LongestTargetTail() >= MAX_PATH)
        return ShowErrorF(kDirectoryNotFound, narrow.Get());
    char *start[kTargetEntryCount + 1];
    char *table = BuildPathTable(narrow.Get(), start);
    if (!table)
        return ShowError(kOutOfMemory);
    mirrorTable = table;
    memcpy(mirrorStart, start, sizeof start);
    for (unsigned entry = 1; entry < kEntrySaveWildcard; ++entry) {
        DWORD found = GetFileAttributesA(start[entry]);
        mirrorCopy[entry] = found != INVALID_FILE_ATTRIBUTES && !(found & FILE_ATTRIBUTE_DIRECTORY);
        mirrorCopyCount += mirrorCopy[entry] ? 1 : 0;
    }
    mirrorCopy[kEntrySaveWildcard] = true;
    return 1;
}

const char *MirrorPath(unsigned entry)
{
    if (!mirrorTable || entry > kTargetEntryCount)
        return nullptr;
    return entry == kEntryInstallDirectory || mirrorCopy[entry] ? mirrorStart[entry] : nullptr;
}

unsigned MirrorCopyCount()
{
    return mirrorCopyCount;
}

void ReleaseVirtualStoreMirror()
{
    free(mirrorTable);
    mirrorTable = nullptr;
    for (unsigned entry = 0; entry <= kTargetEntryCount; ++entry) {
        mirrorStart[entry] = nullptr;
        mirrorCopy[entry] = false;
    }
    mirrorCopyCount = 0;
}

namespace {

// True when the mirror's folder is where the VirtualStore keeps the game
// folder's copies, with no link on the way from the VirtualStore down: its
// final path is the VirtualStore's own final path, spelt exactly, then the
// game folder's final path without its drive, letter case aside (Windows
// makes those folders as the game named them, not as the game folder's own
// entries spell them).
bool MirrorIsWhereItShouldBe()
{
    const wchar_t *game = TreeRoot(kGameTree);
    const wchar_t *mirror = TreeRoot(kMirrorTree);
    wchar_t local[MAX_PATH];
    if (!game || !mirror || wcsncmp(game, L"\\\\?\\", 4) != 0 || game[5] != L':' ||
        !LocalApplicationData(local))
        return false;
    HeapMemory store(InStore(local, L""));
    HeapMemory storeFinal(store ? FinalFolderPath(reinterpret_cast<const wchar_t *>(store.Get())) : nullptr);
    if (!storeFinal)
        return false;
    const wchar_t *storePath = reinterpret_cast<const wchar_t *>(storeFinal.Get());
    const size_t storeLength = wcslen(storePath);
    return wcsncmp(mirror, storePath, storeLength) == 0 &&
           CompareStringOrdinal(mirror + storeLength, -1, game + 6, -1, TRUE) == CSTR_EQUAL;
}

} // namespace

int FixUpdateTrees()
{
    const char *refused = nullptr;
    const char *mirror = MirrorPath(kEntryInstallDirectory);
    if (!FixWriteTrees(TargetPath(kEntryInstallDirectory), mirror, &refused))
        return ShowErrorF(kDirectoryNotFound, refused);
    if (mirror && !MirrorIsWhereItShouldBe()) {
        ReleaseWriteTrees();
        return ShowErrorF(kDirectoryNotFound, mirror);
    }
    return 1;
}
