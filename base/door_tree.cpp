// The door's trees and the folders it holds; see door.h and door_tree.h.
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

Folder roots[kTreeCount];

namespace {

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

} // namespace

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

wchar_t *FinalPathOf(HANDLE handle)
{
    DWORD size = MAX_PATH;
    for (int attempt = 0; attempt < 2; ++attempt) {
        wchar_t *path = static_cast<wchar_t *>(malloc(size * sizeof(wchar_t)));
        if (!path)
            return nullptr;
        DWORD length = GetFinalPathNameByHandleW(handle, path, size, VOLUME_NAME_DOS);
        if (length > 0 && length < size) {
            // A drive's or a share's root ends in a separator; nothing else does.
            if (path[length - 1] == L'\\')
                path[length - 1] = L'\0';
            return path;
        }
        free(path);
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

// A folder opened to be held: with data access, so that its sharing counts
// and no one can delete or rename it while it is held.
HANDLE OpenFolder(const wchar_t *path)
{
    return CreateFileW(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
}

bool IsFolder(HANDLE handle)
{
    FILE_STANDARD_INFO info;
    return GetFileInformationByHandleEx(handle, FileStandardInfo, &info, sizeof info) && info.Directory;
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

// Takes path (a heap string) into the list; false when memory runs out.
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

// The tree whose folder full lies in (the longest that fits), or kTreeCount.
unsigned TreeOf(const char *full)
{
    unsigned found = kTreeCount;
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
Folder *Hold(const char *full, unsigned tree, bool create, Refusal *refusal)
{
    if (_stricmp(full, roots[tree].path) == 0)
        return &roots[tree];
    for (size_t i = 0; i < heldCount; ++i)
        if (held[i].tree == tree && _stricmp(held[i].path, full) == 0)
            return &held[i];

    // The folder above, which a drive's root keeps its separator for.
    char parent[MAX_PATH];
    strcpy(parent, full);
    char *separator = strrchr(parent, '\\');
    const size_t rootLength = strlen(roots[tree].path);
    if (!separator || static_cast<size_t>(separator - parent) + 1 < rootLength) {
        *refusal = Refusal::Unsafe;
        return nullptr;
    }
    const char *name = full + (separator - parent) + 1;
    separator[separator - parent + 1 == static_cast<ptrdiff_t>(rootLength) ? 1 : 0] = '\0';
    Folder *above = Hold(parent, tree, create, refusal);
    if (!above)
        return nullptr;

    Folder folder;
    folder.tree = tree;
    HeapMemory path(Join(above->final, name));
    const wchar_t *opened = reinterpret_cast<const wchar_t *>(path.Get());
    if (opened) {
        folder.handle = OpenFolder(opened);
        DWORD error = GetLastError();
        if (folder.handle == INVALID_HANDLE_VALUE && create &&
            (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) {
            if (!CreateDirectoryW(opened, nullptr)) {
                *refusal = Refusal::FolderNotMade;
                return nullptr;
            }
            folder.handle = OpenFolder(opened);
        }
    }
    if (folder.handle == INVALID_HANDLE_VALUE) {
        *refusal = create ? Refusal::Unsafe : Refusal::Unopened;
        return nullptr;
    }
    // A plain file where the folder should be can't be entered, nor made.
    if (!IsFolder(folder.handle)) {
        Free(folder);
        *refusal = create ? Refusal::FolderNotMade : Refusal::Unopened;
        return nullptr;
    }
    // The folder is itself: no link leads from its name elsewhere, outside
    // the tree or inside it. Its name comes from a table.
    folder.final = FinalPathOf(folder.handle);
    folder.path = Copy(full);
    Folder *grown = static_cast<Folder *>(realloc(held, (heldCount + 1) * sizeof *held));
    if (!folder.final || !folder.path || !grown || !IsItself(folder.final, opened, false)) {
        if (grown)
            held = grown;
        Free(folder);
        *refusal = Refusal::Unsafe;
        return nullptr;
    }
    held = grown;
    held[heldCount] = folder;
    return &held[heldCount++];
}

// Splits full at its last backslash into its folder and its name (pointing
// into folder); false when there is none, or no name behind it.
bool Split(const char *full, char *folder, const char **name)
{
    strcpy(folder, full);
    char *separator = strrchr(folder, '\\');
    if (!separator || separator[1] == '\0')
        return false;
    *separator = '\0';
    *name = separator + 1;
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
        char full[MAX_PATH];
        DWORD openError = 0;
        if (FullPath(directories[tree], full) && (root.path = Copy(full)) != nullptr) {
            HeapMemory wide(WidenName(full));
            if (wide) {
                root.handle = OpenFolder(reinterpret_cast<const wchar_t *>(wide.Get()));
                openError = root.handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
            }
        }
        root.tree = tree;
        if (root.handle != INVALID_HANDLE_VALUE && IsFolder(root.handle))
            root.final = FinalPathOf(root.handle);
        if (!root.final) {
            *refused = directories[tree];
            *error = openError;
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
    HANDLE folder = OpenFolder(path);
    if (folder == INVALID_HANDLE_VALUE)
        return nullptr;
    wchar_t *final = IsFolder(folder) ? FinalPathOf(folder) : nullptr;
    CloseHandle(folder);
    return final;
}
