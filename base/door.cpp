// The door: the checks on each handle it hands out, and the replacement of
// a file by a new one put in its place.
#include "base/door.h"

#include "base/door_tree.h"
#include "base/holders.h"

#include <io.h>
#include <ntsecapi.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

using namespace door;

namespace {

// The checks on a file's handle: no folder; written before in this run (when
// once is set); else itself, its final path the path opened (the folder's
// spelt exactly, the last name as from says); and one name only. When once
// is set, it then counts as written. Where the tree is a network share, a
// link count that can't be had is let pass: a share's links can't lead to
// this machine's files.
Refusal Check(HANDLE handle, unsigned tree, const wchar_t *opened, NameFrom from, bool once, long long *size)
{
    FILE_STANDARD_INFO info;
    bool counted = GetFileInformationByHandleEx(handle, FileStandardInfo, &info, sizeof info);
    if (counted && info.Directory)
        return Refusal::Unsafe;
    HeapMemory final(FinalPathOf(handle));
    wchar_t *finalPath = reinterpret_cast<wchar_t *>(final.Get());
    if (!finalPath)
        return Refusal::Unsafe;
    // A file written before and reached again (through a link, or a second
    // name) is said so first: the caller may pass over it without a word.
    if (once && WrittenBefore(finalPath))
        return Refusal::WrittenBefore;
    if (!IsItself(finalPath, opened, from == NameFrom::Listing))
        return Refusal::Unsafe;
    LARGE_INTEGER length = {};
    bool known = counted ? (length = info.EndOfFile, info.NumberOfLinks == 1)
                         : OnNetworkShare(tree) && GetFileSizeEx(handle, &length);
    if (!known)
        return Refusal::Unsafe;
    if (size)
        *size = length.QuadPart;
    if (once) {
        if (!Remember(finalPath))
            return Refusal::Unsafe;
        final.Release();
    }
    return Refusal::None;
}

// path opened and checked, in its tree as it stands.
HANDLE Open(const char *path, DWORD access, DWORD share, NameFrom from, bool once, long long *size,
            Refusal *refusal)
{
    Place place;
    *refusal = Locate(path, false, &place);
    HeapMemory opened(*refusal == Refusal::None ? Join(place.folder->final, place.name) : nullptr);
    const wchar_t *openedPath = reinterpret_cast<const wchar_t *>(opened.Get());
    if (!openedPath) {
        if (*refusal == Refusal::None)
            *refusal = Refusal::Unopened;
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = CreateFileW(openedPath, access, share, nullptr, OPEN_EXISTING, kOpenFlags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        *refusal = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? Refusal::InUse
                                                                                     : Refusal::Unopened;
        return handle;
    }
    *refusal = Check(handle, place.tree, openedPath, from, once, size);
    if (*refusal != Refusal::None) {
        CloseHandle(handle);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

void Dispose(HANDLE handle)
{
    FILE_DISPOSITION_INFO disposition = {TRUE};
    SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
}

HANDLE HandleOf(FILE *stream)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

} // namespace

HANDLE OpenToChange(const char *path, DWORD access, DWORD share, NameFrom from, bool once, long long *size,
                    Refusal *refusal)
{
    // The folder and what was written in an operation's own tree are let go
    // of once the file is open: the handle is what is written through.
    const bool ownTree = FixOwnTree(path);
    HANDLE handle = Open(path, access, share, from, once, size, refusal);
    if (ownTree)
        ReleaseWriteTrees();
    return handle;
}

FILE *OpenStreamToChange(const char *path, DWORD share, NameFrom from, long long *size, Refusal *refusal)
{
    HANDLE handle = OpenToChange(path, GENERIC_READ | GENERIC_WRITE, share, from, true, size, refusal);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    FILE *stream = StreamOnHandle(handle, "rb+");
    if (!stream)
        *refusal = Refusal::Unopened;
    return stream;
}

Replacement::~Replacement()
{
    Discard();
    free(target_);
    if (ownTree_)
        ReleaseWriteTrees();
}

void Replacement::Discard()
{
    if (!stream_)
        return;
    Dispose(HandleOf(stream_));
    fclose(stream_);
    stream_ = nullptr;
}

Refusal Replacement::Begin(const char *target)
{
    // The folder stays held, in the replacement's own tree where no tree is
    // fixed, until the new file has taken the target's name.
    ownTree_ = FixOwnTree(target);
    Place place;
    Refusal refusal = Locate(target, true, &place);
    if (refusal != Refusal::None)
        return refusal;
    target_ = Join(place.folder->final, place.name);
    if (!target_)
        return Refusal::Unopened;
    if (WrittenBefore(target_))
        return Refusal::WrittenBefore;

    // "~", six letters no one can guess, ".tmp"; a name that stands already
    // is never opened, only another drawn.
    HANDLE handle = INVALID_HANDLE_VALUE;
    HeapMemory path;
    for (int attempt = 0; attempt < 16 && handle == INVALID_HANDLE_VALUE; ++attempt) {
        unsigned char random[6];
        if (!RtlGenRandom(random, sizeof random))
            break;
        char temporary[] = "~abcdef.tmp";
        for (int i = 0; i < 6; ++i)
            temporary[1 + i] = static_cast<char>('a' + random[i] % 26);
        path.Reset(Join(place.folder->final, temporary));
        if (!path)
            break;
        handle = CreateFileW(reinterpret_cast<const wchar_t *>(path.Get()), GENERIC_WRITE | DELETE, 0,
                             nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL | kOpenFlags, nullptr);
        DWORD error = GetLastError();
        if (handle == INVALID_HANDLE_VALUE && error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            break;
    }
    if (handle == INVALID_HANDLE_VALUE)
        return Refusal::Unopened;
    // The new file too is checked: made where it was asked for, by its own
    // name, with one name.
    refusal = Check(handle, place.tree, reinterpret_cast<const wchar_t *>(path.Get()), NameFrom::Listing,
                    false, nullptr);
    stream_ = refusal == Refusal::None ? StreamOnHandle(handle, "wb", Dispose) : nullptr;
    if (!stream_) {
        if (refusal != Refusal::None) {
            Dispose(handle);
            CloseHandle(handle);
        }
        return refusal == Refusal::None ? Refusal::Unopened : refusal;
    }
    return Refusal::None;
}

bool Replacement::Flush()
{
    return stream_ && fflush(stream_) == 0 && !ferror(stream_) && FlushFileBuffers(HandleOf(stream_));
}

bool Replacement::PutInPlace()
{
    if (!stream_ || !target_ || wcsncmp(target_, L"\\\\?\\", 4) != 0)
        return false;
    // The rename takes the target's name as the system's own path: "\??\"
    // in place of the final path's "\\?\".
    size_t length = wcslen(target_);
    size_t size = sizeof(FILE_RENAME_INFO) + length * sizeof(wchar_t);
    HeapMemory memory(calloc(1, size));
    FILE_RENAME_INFO *rename = reinterpret_cast<FILE_RENAME_INFO *>(memory.Get());
    if (!rename)
        return false;
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(length * sizeof(wchar_t));
    memcpy(rename->FileName, L"\\??\\", 4 * sizeof(wchar_t));
    memcpy(rename->FileName + 4, target_ + 4, (length - 4) * sizeof(wchar_t));
    if (!SetFileInformationByHandle(HandleOf(stream_), FileRenameInfo, rename, static_cast<DWORD>(size)))
        return false;
    fclose(stream_);
    stream_ = nullptr;
    if (Remember(target_))
        target_ = nullptr;
    return true;
}
