// The door's trees and the folders it holds; see trees.h and door_tree.h.
//
// Names are resolved with GetFullPathNameA, then matched against the trees
// by their folder, which is held and known by its final path. Everything
// below a held folder (the file, a folder made in it, a new file) is opened
// through that final path, so that nothing is looked up again by the names
// above it.
#include "base/door_tree.h"

#include "base/holders.h"
#include "base/names.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace door {

namespace {

Folder roots[kTreeCount];
Folder *held = nullptr;
size_t heldCount = 0;

// The final paths of the files written in this run, each with a hash to
// compare first.
struct Written {
    uint32_t hash;
    wchar_t *path;
};
Written *written = nullptr;
size_t writtenCount = 0, writtenCapacity = 0;

void Free(Folder &folder)
{
    if (folder.handle != INVALID_HANDLE_VALUE)
        CloseHandle(folder.handle);
    free(folder.path);
    free(folder.final);
    folder = Folder();
}

char *Copy(const char *text)
{
    char *copy = static_cast<char *>(malloc(strlen(text) + 1));
    return copy ? strcpy(copy, text) : nullptr;
}

uint32_t Hash(const wchar_t *path)
{
    uint32_t hash = 2166136261u;
    for (; *path; ++path)
        hash = (hash ^ static_cast<uint32_t>(*path)) * 16777619u;
    return hash;
}

// The full name of path, without a separator at the end but for a drive's
// root; false when it doesn't fit MAX_PATH.
bool FullPath(const char *path, char *full)
{
    DWORD length = GetFullPathNameA(path, MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH)
        return false;
    while (length > 3 && full[length - 1] == '\\')
        full[--length] = '\0';
    return true;
}

// The folder a full name (or a folder's) stands in, into folder, with its
// separator where that is a drive's root; and where its own name begins.
// False when there is no separator, or no name behind it.
bool Split(const char *full, char *folder, const char **name)
{
    const char *separator = strrchr(full, '\\');
    if (!separator || separator[1] == '\0')
        return false;
    size_t length = static_cast<size_t>(separator - full);
    if (length == 2 && full[1] == ':')
        ++length;
    memcpy(folder, full, length);
    folder[length] = '\0';
    *name = separator + 1;
    return true;
}

// path opened as a folder to be held, into folder (its handle and final
// path), after making it where it is missing and create is set. Held with
// data access, so that its sharing counts and no one can delete or rename it
// while it is held. The refusal when it can't be, with *error the system's
// error of the open (0 when it opened as something else).
Refusal OpenHeld(const wchar_t *path, bool create, Folder *folder, DWORD *error)
{
    auto open = [path] {
        return CreateFileW(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, kOpenFlags, nullptr);
    };
    folder->handle = open();
    *error = folder->handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (folder->handle == INVALID_HANDLE_VALUE && create &&
        (*error == ERROR_FILE_NOT_FOUND || *error == ERROR_PATH_NOT_FOUND)) {
        if (!CreateDirectoryW(path, nullptr))
            return Refusal::FolderNotMade;
        folder->handle = open();
        *error = folder->handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    }
    if (folder->handle == INVALID_HANDLE_VALUE)
        return create ? Refusal::Unsafe : Refusal::Unopened;
    // A plain file where the folder should be can't be entered, nor made.
    FILE_STANDARD_INFO info;
    if (!GetFileInformationByHandleEx(folder->handle, FileStandardInfo, &info, sizeof info) ||
        !info.Directory)
        return create ? Refusal::FolderNotMade : Refusal::Unopened;
    folder->final = FinalPathOf(folder->handle);
    return folder->final ? Refusal::None : Refusal::Unsafe;
}

// The tree whose folder full lies in (the longest that fits), or kNoTree.
unsigned TreeOf(const char *full)
{
    unsigned found = kNoTree;
    size_t longest = 0;
    for (unsigned tree = 0; tree < kTreeCount; ++tree) {
        const char *root = roots[tree].path;
        size_t length = root ? strlen(root) : 0;
        if (root && length > longest && _strnicmp(full, root, length) == 0 &&
            (full[length] == '\\' || full[length] == '\0' || root[length - 1] == '\\')) {
            found = tree;
            longest = length;
        }
    }
    return found;
}

// The folder full (inside tree) held, after each folder above it inside the
// tree; a missing one is made first when create is set. Null with *refusal.
// The pointer is valid until the next call.
Folder *Hold(const char *full, unsigned tree, bool create, Refusal *refusal)
{
    if (_stricmp(full, roots[tree].path) == 0)
        return &roots[tree];
    for (size_t i = 0; i < heldCount; ++i)
        if (held[i].tree == tree && _stricmp(held[i].path, full) == 0)
            return &held[i];

    char parent[MAX_PATH];
    const char *name = nullptr;
    if (!Split(full, parent, &name) || strlen(parent) < strlen(roots[tree].path)) {
        *refusal = Refusal::Unsafe;
        return nullptr;
    }
    Folder *above = Hold(parent, tree, create, refusal);
    if (!above)
        return nullptr;

    Folder folder;
    folder.tree = tree;
    HeapMemory path(Join(above->final, name));
    const wchar_t *opened = reinterpret_cast<const wchar_t *>(path.Get());
    DWORD error = 0;
    *refusal = opened ? OpenHeld(opened, create, &folder, &error) : Refusal::Unopened;
    // The folder is itself: no link leads from its name elsewhere, outside
    // the tree or inside it. Its name comes from a table.
    if (*refusal == Refusal::None && !IsItself(folder.final, opened, false))
        *refusal = Refusal::Unsafe;
    Folder *grown = *refusal == Refusal::None && (folder.path = Copy(full)) != nullptr
                        ? static_cast<Folder *>(realloc(held, (heldCount + 1) * sizeof *held))
                        : nullptr;
    if (!grown) {
        if (*refusal == Refusal::None)
            *refusal = Refusal::Unsafe;
        Free(folder);
        return nullptr;
    }
    held = grown;
    held[heldCount] = folder;
    return &held[heldCount++];
}

} // namespace

Refusal Locate(const char *path, bool create, Place *place)
{
    char folder[MAX_PATH];
    if (!FullPath(path, place->full) || !Split(place->full, folder, &place->name))
        return Refusal::Unopened;
    // With no tree, the operation's own could not be had: its folder can't
    // be opened.
    if ((place->tree = TreeOf(place->full)) == kNoTree)
        return TreesFixed() ? Refusal::Unsafe : Refusal::Unopened;
    Refusal refusal = Refusal::None;
    place->folder = Hold(folder, place->tree, create, &refusal);
    return refusal;
}

bool FixOwnTree(const char *path)
{
    char full[MAX_PATH], folder[MAX_PATH];
    const char *name = nullptr;
    const char *directories[kTreeCount] = {folder};
    const char *refused = nullptr;
    DWORD error = 0;
    return !TreesFixed() && FullPath(path, full) && Split(full, folder, &name) &&
           FixWriteTrees(directories, &refused, &error);
}

wchar_t *FinalPathOf(HANDLE handle)
{
    DWORD size = MAX_PATH;
    for (int attempt = 0; attempt < 2; ++attempt) {
        HeapMemory memory(malloc(size * sizeof(wchar_t)));
        wchar_t *path = reinterpret_cast<wchar_t *>(memory.Get());
        if (!path)
            return nullptr;
        DWORD length = GetFinalPathNameByHandleW(handle, path, size, VOLUME_NAME_DOS);
        if (length > 0 && length < size) {
            // A drive's or a share's root ends in a separator; nothing else does.
            if (path[length - 1] == L'\\')
                path[length - 1] = L'\0';
            return static_cast<wchar_t *>(memory.Release());
        }
        if (length == 0)
            return nullptr;
        size = length + 1;
    }
    return nullptr;
}

wchar_t *Join(const wchar_t *folder, const char *name)
{
    size_t folderLength = wcslen(folder) + 1;
    int nameLength = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
    if (nameLength <= 0)
        return nullptr;
    wchar_t *path = static_cast<wchar_t *>(malloc((folderLength + nameLength) * sizeof(wchar_t)));
    if (!path)
        return nullptr;
    wcscpy(path, folder);
    path[folderLength - 1] = L'\\';
    MultiByteToWideChar(CP_ACP, 0, name, -1, path + folderLength, nameLength);
    return path;
}

bool IsItself(const wchar_t *final, const wchar_t *opened, bool exactName)
{
    const wchar_t *name = wcsrchr(opened, L'\\');
    if (!name++)
        return false;
    const size_t folder = static_cast<size_t>(name - opened);
    return wcsncmp(final, opened, folder) == 0 &&
           (exactName ? wcscmp(final + folder, name) == 0
                      : CompareStringOrdinal(final + folder, -1, name, -1, TRUE) == CSTR_EQUAL);
}

bool OnNetworkShare(unsigned tree)
{
    return wcsncmp(roots[tree].final, L"\\\\?\\UNC\\", 8) == 0;
}

bool WrittenBefore(const wchar_t *path)
{
    uint32_t hash = Hash(path);
    for (size_t i = 0; i < writtenCount; ++i)
        if (written[i].hash == hash && wcscmp(written[i].path, path) == 0)
            return true;
    return false;
}

bool Remember(wchar_t *path)
{
    if (writtenCount == writtenCapacity) {
        size_t capacity = writtenCapacity ? 2 * writtenCapacity : 64;
        Written *grown = static_cast<Written *>(realloc(written, capacity * sizeof *written));
        if (!grown)
            return false;
        written = grown;
        writtenCapacity = capacity;
    }
    written[writtenCount++] = {Hash(path), path};
    return true;
}

} // namespace door

using namespace door;

int FixWriteTrees(const char *const directories[kTreeCount], const char **refused, DWORD *error)
{
    ReleaseWriteTrees();
    for (unsigned tree = 0; tree < kTreeCount; ++tree) {
        if (!directories[tree])
            continue;
        Folder &root = roots[tree];
        root.tree = tree;
        char full[MAX_PATH];
        HeapMemory wide(FullPath(directories[tree], full) ? WidenName(full) : nullptr);
        *error = 0;
        if (!wide || !(root.path = Copy(full)) ||
            OpenHeld(reinterpret_cast<const wchar_t *>(wide.Get()), false, &root, error) != Refusal::None) {
            *refused = directories[tree];
            ReleaseWriteTrees();
            return 0;
        }
    }
    return 1;
}

const wchar_t *TreeRoot(unsigned tree)
{
    return tree < kTreeCount ? roots[tree].final : nullptr;
}

bool TreesFixed()
{
    return roots[kGameTree].final != nullptr;
}

void ReleaseWriteTrees()
{
    for (size_t i = 0; i < heldCount; ++i)
        Free(held[i]);
    free(held);
    held = nullptr;
    heldCount = 0;
    for (Folder &root : roots)
        Free(root);
    for (size_t i = 0; i < writtenCount; ++i)
        free(written[i].path);
    free(written);
    written = nullptr;
    writtenCount = writtenCapacity = 0;
}

wchar_t *FinalFolderPath(const wchar_t *path)
{
    Folder folder;
    DWORD error = 0;
    wchar_t *final = OpenHeld(path, false, &folder, &error) == Refusal::None ? folder.final : nullptr;
    folder.final = nullptr;
    Free(folder);
    return final;
}
