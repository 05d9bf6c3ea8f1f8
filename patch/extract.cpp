// The extraction of one payload chunk into a game file: the folders it
// needs, a new file written beside the target, and the rename that puts it
// in the target's place once it is complete.
#include "patch/patch.h"

#include "base/door.h"
#include "base/holders.h"
#include "base/names.h"
#include "base/prompts.h"

#include <direct.h>
#include <stdlib.h>
#include <string.h>

size_t DirectoryWalkStart(const char *path)
{
    size_t length = strlen(path);
    if (length >= 2 && path[1] == ':')
        return length >= 3 ? 3 : length;
    if (path[0] == '\\' && path[1] == '\\') {
        // A network path's first two names are its server and its share; the
        // server is no folder that could be entered.
        const char *server = strchr(path + 2, '\\');
        const char *share = server ? strchr(server + 1, '\\') : nullptr;
        return share ? static_cast<size_t>(share - path) + 1 : length;
    }
    return path[0] == '\\' ? 1 : 0;
}

int EnsureDirectories(const char *path)
{
    char saved[MAX_PATH];
    if (!_getcwd(saved, MAX_PATH))
        return ShowErrorF(kCannotWrite, path);

    size_t length = strlen(path);
    HeapMemory copy(malloc(length + 1));
    if (!copy)
        return ShowErrorF(kCannotWrite, path);
    char *prefix = copy.Get();
    memcpy(prefix, path, length + 1);

    bool creating = false;
    for (size_t i = DirectoryWalkStart(path); i < length; ++i) {
        if (path[i] != '\\')
            continue;
        prefix[i] = '\0';
        if (!creating && _chdir(prefix) != 0)
            creating = true;
        if (creating && _mkdir(prefix) != 0) {
            ShowErrorF(kCannotWrite, path);
            _chdir(saved);
            return 0;
        }
        prefix[i] = '\\';
    }
    if (_chdir(saved) != 0)
        return ShowErrorF(kCannotWrite, path);
    return 1;
}

namespace {

constexpr size_t kBlockSize = 4096;

// What went wrong in a copy, to be reported once everything is released.
enum class CopyFailure { None, Create, Read, Write };

// Copies length bytes from source into the replacement's new file and puts
// them on the disk.
CopyFailure CopyChunk(FILE *source, uint32_t length, Replacement &replacement)
{
    unsigned char block[kBlockSize];
    while (length > 0) {
        size_t size = length < kBlockSize ? length : kBlockSize;
        if (fread(block, 1, size, source) != size)
            return CopyFailure::Read;
        if (fwrite(block, 1, size, replacement.Stream()) != size)
            return CopyFailure::Write;
        length -= static_cast<uint32_t>(size);
        WhileWorking();
    }
    // Buffered data reaches the file only now; a full disk shows here. Then
    // the file's data is put on the disk itself, so that the rename that
    // follows can never stand over data a power loss took.
    return replacement.Flush() ? CopyFailure::None : CopyFailure::Write;
}

// True when targetPath is a file that may be replaced, or nothing: a
// read-only file is refused here as on Windows, where the rename over it
// fails (Wine would replace it and drop the attribute), and a directory
// before anything is copied.
bool MayReplace(const char *targetPath)
{
    DWORD attributes = GetFileAttributesA(targetPath);
    return attributes == INVALID_FILE_ATTRIBUTES ||
           !(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
}

// Copies the chunk (a stream at its first byte, taken over; null after the
// box that said why there is none) read from sourcePath into targetPath.
// Where the update's trees are fixed, the door makes the folders the target
// needs, each checked before anything is made in it; a folder it refuses, or
// a new file it refuses, is a file that can't be created. Elsewhere the
// folders are made by EnsureDirectories.
int Extract(FILE *chunk, uint32_t length, const char *sourcePath, const char *targetPath)
{
    FileStream source(chunk);
    if (!source)
        return 0;
    if (!TreesFixed() && !EnsureDirectories(targetPath))
        return 0;
    if (!MayReplace(targetPath)) {
        source.Close();
        return ShowErrorF(kCannotCreate, targetPath);
    }
    CopyFailure failure = CopyFailure::None;
    {
        Replacement replacement;
        Refusal refusal = replacement.Begin(targetPath);
        if (refusal == Refusal::FolderNotMade) {
            source.Close();
            return ShowErrorF(kCannotWrite, targetPath);
        }
        failure =
            refusal != Refusal::None ? CopyFailure::Create : CopyChunk(source.Get(), length, replacement);
        source.Close();
        // The copy's data is on the disk already, so the rename, inside its
        // folder, never stands over missing data.
        if (failure == CopyFailure::None && replacement.PutInPlace())
            return 1;
        // Leaving, the replacement removes its new file: the old target is
        // as it was.
    }
    switch (failure) {
    case CopyFailure::Read:
        return ShowErrorF(kCannotRead, sourcePath);
    case CopyFailure::Write:
        return ShowErrorF(kCannotWrite, targetPath);
    default:
        return ShowErrorF(kCannotCreate, targetPath);
    }
}

} // namespace

bool HeldAgainstReplacement(const char *targetPath)
{
    // The rename that replaces the file needs the right to delete it, which
    // a program holding it without delete sharing denies.
    Refusal refusal = Refusal::None;
    Handle file(OpenToChange(targetPath, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             NameFrom::Table, false, nullptr, &refusal));
    return refusal == Refusal::InUse;
}

int ExtractChunkFromFile(const char *sourcePath, const char *targetPath, uint32_t index)
{
    HeapMemory wide(WidenName(sourcePath));
    if (!wide)
        return ShowError(kOutOfMemory);
    FILE *file = _wfopen(reinterpret_cast<const wchar_t *>(wide.Get()), L"rb");
    if (!file)
        return ShowErrorF(kCannotOpen, sourcePath);
    uint32_t length = 0;
    FILE *chunk = OpenPayloadChunk(file, sourcePath, index, &length);
    return Extract(chunk, length, sourcePath, targetPath);
}

int ExtractChunkToFile(const char *targetPath, uint32_t index)
{
    HeapMemory ownPath(GetOwnExePath());
    if (!ownPath)
        return ShowError(kOutOfMemory);
    uint32_t length = 0;
    FILE *chunk = OpenOwnPayloadChunk(index, &length);
    return Extract(chunk, length, ownPath.Get(), targetPath);
}
