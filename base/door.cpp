// The door: the checks on each handle it hands out, and the replacement of
// a file by a new one put in its place.
#include "base/door.h"

#include "base/door_tree.h"
#include "base/holders.h"
#include "base/names.h"

#include <fcntl.h>
#include <io.h>
#include <ntsecapi.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

using namespace door;

namespace {

// Every open of the door: a folder too opens (to be refused as one), and a
// named pipe that a link might lead to learns who opened it but can't act
// as the administrator.
constexpr DWORD kOpenFlags = FILE_FLAG_BACKUP_SEMANTICS | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

// The checks on a file's handle: no folder; where it was opened through a
// held folder (opened names that path), written before in this run (when
// once is set), else itself: its final path is the path opened, the
// folder's spelt exactly and the last name as from says; and one name only.
// When once is set, it then counts as written. Where the tree is a network
// share, a link count that can't be had is let pass: a share's links can't
// lead to this machine's files.
Refusal Check(HANDLE handle, unsigned tree, const wchar_t *opened, NameFrom from, bool once, long long *size)
{
    FILE_STANDARD_INFO info;
    bool counted = GetFileInformationByHandleEx(handle, FileStandardInfo, &info, sizeof info);
    if (counted && info.Directory)
        return Refusal::Unsafe;
    HeapMemory final(opened ? FinalPathOf(handle) : nullptr);
    const wchar_t *finalPath = reinterpret_cast<const wchar_t *>(final.Get());
    if (opened && !finalPath)
        return Refusal::Unsafe;
    // A file written before and reached again (through a link, or a second
    // name) is said so first: the caller may pass over it without a word.
    if (opened && once && WrittenBefore(finalPath))
        return Refusal::WrittenBefore;
    if (opened && !IsItself(finalPath, opened, from == NameFrom::Listing))
        return Refusal::Unsafe;
    LARGE_INTEGER length = {};
    bool known = counted ? (length = info.EndOfFile, info.NumberOfLinks == 1)
                         : tree < kTreeCount && OnNetworkShare(tree) && GetFileSizeEx(handle, &length);
    if (!known)
        return Refusal::Unsafe;
    if (size)
        *size = length.QuadPart;
    if (opened && once) {
        if (!Remember(reinterpret_cast<wchar_t *>(final.Get())))
            return Refusal::Unsafe;
        final.Release();
    }
    return Refusal::None;
}

void Dispose(HANDLE handle)
{
    FILE_DISPOSITION_INFO disposition = {TRUE};
    SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
}

} // namespace

void EnforceRedirectionTrust()
{
    typedef BOOL(WINAPI * SetPolicyFunction)(int policy, PVOID buffer, SIZE_T length);
    // ProcessRedirectionTrustPolicy, and its EnforceRedirectionTrust flag.
    constexpr int kRedirectionTrustPolicy = 16;
    DWORD flags = 1;
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    auto setPolicy = kernel ? reinterpret_cast<SetPolicyFunction>(reinterpret_cast<void *>(
                                  GetProcAddress(kernel, "SetProcessMitigationPolicy")))
                            : nullptr;
    if (setPolicy)
        setPolicy(kRedirectionTrustPolicy, &flags, sizeof flags);
}

HANDLE OpenToChange(const char *path, DWORD access, DWORD share, NameFrom from, bool once, long long *size,
                    Refusal *refusal)
{
    HANDLE handle = INVALID_HANDLE_VALUE;
    unsigned tree = kTreeCount;
    HeapMemory opened;
    *refusal = Refusal::Unopened;
    if (!TreesFixed()) {
        handle = CreateFileA(path, access, share, nullptr, OPEN_EXISTING, kOpenFlags, nullptr);
    } else {
        char full[MAX_PATH], folder[MAX_PATH];
        const char *name = nullptr;
        if (!FullPath(path, full) || !Split(full, folder, &name))
            return INVALID_HANDLE_VALUE;
        if ((tree = TreeOf(full)) == kTreeCount) {
            *refusal = Refusal::Unsafe;
            return INVALID_HANDLE_VALUE;
        }
        Folder *holding = Hold(folder, tree, false, refusal);
        opened.Reset(holding ? Join(holding->final, name) : nullptr);
        if (!opened)
            return INVALID_HANDLE_VALUE;
        handle = CreateFileW(reinterpret_cast<const wchar_t *>(opened.Get()), access, share, nullptr,
                             OPEN_EXISTING, kOpenFlags, nullptr);
    }
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        *refusal = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? Refusal::InUse
                                                                                     : Refusal::Unopened;
        return handle;
    }
    *refusal = Check(handle, tree, reinterpret_cast<const wchar_t *>(opened.Get()), from, once, size);
    if (*refusal != Refusal::None) {
        CloseHandle(handle);
        return INVALID_HANDLE_VALUE;
    }
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
    if (folder_ != INVALID_HANDLE_VALUE)
        CloseHandle(folder_);
}

void Replacement::Discard()
{
    if (!stream_)
        return;
    Dispose(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream_))));
    fclose(stream_);
    stream_ = nullptr;
}

Refusal Replacement::Begin(const char *target)
{
    char full[MAX_PATH], folder[MAX_PATH];
    const char *name = nullptr;
    if (!FullPath(target, full) || !Split(full, folder, &name))
        return Refusal::Unopened;
    unsigned tree = kTreeCount;
    const wchar_t *folderFinal = nullptr;
    wchar_t *ownFinal = nullptr;
    if (TreesFixed()) {
        if ((tree = TreeOf(full)) == kTreeCount)
            return Refusal::Unsafe;
        Refusal refusal = Refusal::None;
        Folder *holding = Hold(folder, tree, true, &refusal);
        if (!holding)
            return refusal;
        folderFinal = holding->final;
    } else {
        wchar_t *wide = WidenName(folder);
        folder_ = wide ? OpenFolder(wide) : INVALID_HANDLE_VALUE;
        free(wide);
        if (folder_ == INVALID_HANDLE_VALUE || !IsFolder(folder_) || !(ownFinal = FinalPathOf(folder_)))
            return Refusal::Unopened;
        folderFinal = ownFinal;
    }
    target_ = Join(folderFinal, name);
    if (!target_ || (tree < kTreeCount && WrittenBefore(target_))) {
        free(ownFinal);
        return target_ ? Refusal::WrittenBefore : Refusal::Unopened;
    }

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
        path.Reset(Join(folderFinal, temporary));
        if (!path)
            break;
        handle = CreateFileW(reinterpret_cast<const wchar_t *>(path.Get()), GENERIC_WRITE | DELETE, 0,
                             nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL | kOpenFlags, nullptr);
        DWORD error = GetLastError();
        if (handle == INVALID_HANDLE_VALUE && error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            break;
    }
    free(ownFinal);
    if (handle == INVALID_HANDLE_VALUE)
        return Refusal::Unopened;
    // The new file too is checked: made where it was asked for, by its own
    // name, with one name.
    Refusal refusal =
        Check(handle, tree, reinterpret_cast<const wchar_t *>(path.Get()), NameFrom::Listing, false, nullptr);
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
    return stream_ && fflush(stream_) == 0 && !ferror(stream_) &&
           FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream_))));
}

bool Replacement::PutInPlace()
{
    if (!stream_ || !target_ || wcsncmp(target_, L"\\\\?\\", 4) != 0)
        return false;
    // The rename takes the target's name as the system's own path: "\??\"
    // in place of the final path's "\\?\".
    size_t length = wcslen(target_);
    size_t size = sizeof(FILE_RENAME_INFO) + length * sizeof(wchar_t);
    FILE_RENAME_INFO *rename = static_cast<FILE_RENAME_INFO *>(calloc(1, size));
    if (!rename)
        return false;
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(length * sizeof(wchar_t));
    memcpy(rename->FileName, L"\\??\\", 4 * sizeof(wchar_t));
    memcpy(rename->FileName + 4, target_ + 4, (length - 4) * sizeof(wchar_t));
    bool renamed = SetFileInformationByHandle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream_))),
                                              FileRenameInfo, rename, static_cast<DWORD>(size)) != 0;
    free(rename);
    if (!renamed)
        return false;
    fclose(stream_);
    stream_ = nullptr;
    if (TreesFixed() && Remember(target_))
        target_ = nullptr;
    return true;
}
