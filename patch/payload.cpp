// The payload appended to the executable, and the extraction of one chunk into
// a game file.
#include "patch/patch.h"

#include "app/app.h"

#include <direct.h>
#include <stdlib.h>
#include <string.h>

namespace {

constexpr size_t kBlockSize = 4096;

bool ReadWord(FILE *stream, long position, uint32_t *value)
{
    unsigned char bytes[4];
    if (position < 0 || fseek(stream, position, SEEK_SET) != 0 || fread(bytes, 1, 4, stream) != 4)
        return false;
    *value = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    return true;
}

uint32_t Half(uint32_t word) { return word & 0xFFFF; }

// The signed form of a release: the start of an Authenticode certificate
// table that closes the file and, through `imageEnd`, the end of the
// executable image (behind the raw data of its last section). False when the
// file carries no such table.
bool FindCertificateTable(FILE *stream, long fileSize, long *tableStart, long *imageEnd)
{
    uint32_t peOffset, signature, counts, sizes, magicWord;
    if (!ReadWord(stream, 0x3C, &peOffset) || peOffset > 0x10000000 ||
        !ReadWord(stream, static_cast<long>(peOffset), &signature) || signature != 0x00004550 ||
        !ReadWord(stream, static_cast<long>(peOffset) + 4, &counts) ||
        !ReadWord(stream, static_cast<long>(peOffset) + 20, &sizes) ||
        !ReadWord(stream, static_cast<long>(peOffset) + 24, &magicWord))
        return false;
    const long optionalHeader = static_cast<long>(peOffset) + 24;
    long directories;
    switch (Half(magicWord)) {
    case 0x10B: directories = optionalHeader + 96; break;
    case 0x20B: directories = optionalHeader + 112; break;
    default: return false;
    }
    uint32_t tableOffset, tableSize;
    if (!ReadWord(stream, directories + 4 * 8, &tableOffset) ||
        !ReadWord(stream, directories + 4 * 8 + 4, &tableSize))
        return false;
    if (tableOffset == 0 || tableSize == 0 || tableOffset > static_cast<uint32_t>(fileSize) ||
        tableSize != static_cast<uint32_t>(fileSize) - tableOffset)
        return false;

    const uint32_t sectionCount = counts >> 16;
    const long sections = optionalHeader + static_cast<long>(Half(sizes));
    uint32_t end = 0;
    for (uint32_t i = 0; i < sectionCount; ++i) {
        uint32_t rawSize, rawOffset;
        if (!ReadWord(stream, sections + 40 * static_cast<long>(i) + 16, &rawSize) ||
            !ReadWord(stream, sections + 40 * static_cast<long>(i) + 20, &rawOffset))
            return false;
        if (rawSize != 0 && rawOffset + rawSize > end)
            end = rawOffset + rawSize;
    }
    *tableStart = static_cast<long>(tableOffset);
    *imageEnd = static_cast<long>(end);
    return true;
}

// True when the whole chunk chain ending at `end` starts at most 7 bytes
// behind the executable image: 0 to 7 zero bytes of padding, then chunks up
// to the certificate table. A signature that itself padded the file behind
// the last length word fails this test, and the updater then refuses the
// payload instead of taking bytes from the middle of a chunk for a length.
bool ChainFillsPayload(FILE *stream, long imageEnd, long end)
{
    long long position = end;
    uint32_t length;
    while (position >= imageEnd && ReadWord(stream, static_cast<long>(position - 4), &length)) {
        if (length == 0)
            return position - imageEnd < 8;
        position -= 4 + static_cast<long long>(length);
    }
    return false;
}

} // namespace

char *GetOwnExePath()
{
    for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
        char *path = static_cast<char *>(malloc(size));
        if (!path)
            return nullptr;
        DWORD length = GetModuleFileNameA(nullptr, path, size);
        if (length > 0 && length < size)
            return path;
        free(path);
        if (length == 0)
            return nullptr;
    }
    return nullptr;
}

uint32_t LocatePayloadChunk(FILE *stream, uint32_t index, const char *displayName)
{
    long end;
    if (fseek(stream, 0, SEEK_END) != 0 || (end = ftell(stream)) < 0) {
        ShowErrorF(kCannotRead, displayName);
        return 0;
    }
    // A signed release: the payload ends where its certificate table begins.
    long tableStart, imageEnd;
    if (FindCertificateTable(stream, end, &tableStart, &imageEnd)) {
        if (!ChainFillsPayload(stream, imageEnd, tableStart)) {
            ShowErrorF(kCannotRead, displayName);
            return 0;
        }
        end = tableStart;
    }

    // position: the first byte behind the trailer of the chunk looked at.
    long long position = end;
    uint32_t length = 0;
    for (uint32_t passed = 0;; ++passed) {
        if (!ReadWord(stream, static_cast<long>(position - 4), &length) || length == 0 ||
            position - 4 - static_cast<long long>(length) < 0) {
            ShowErrorF(kCannotRead, displayName);
            return 0;
        }
        position -= 4 + static_cast<long long>(length);
        if (passed == index)
            break;
    }
    if (fseek(stream, static_cast<long>(position), SEEK_SET) != 0) {
        ShowErrorF(kCannotRead, displayName);
        return 0;
    }
    return length;
}

int EnsureDirectories(const char *path)
{
    char saved[MAX_PATH];
    if (!_getcwd(saved, MAX_PATH))
        return ShowErrorF(kCannotWrite, path);

    size_t length = strlen(path);
    char *prefix = static_cast<char *>(malloc(length + 1));
    if (!prefix)
        return ShowErrorF(kCannotWrite, path);
    memcpy(prefix, path, length + 1);

    size_t start = 0;
    if (length >= 2 && path[1] == ':')
        start = length >= 3 ? 3 : length;
    else if (path[0] == '\\' && path[1] == '\\')
        start = 2;
    else if (path[0] == '\\')
        start = 1;

    bool creating = false;
    for (size_t i = start; i < length; ++i) {
        if (path[i] != '\\')
            continue;
        prefix[i] = '\0';
        if (!creating && _chdir(prefix) != 0)
            creating = true;
        if (creating && _mkdir(prefix) != 0) {
            free(prefix);
            ShowErrorF(kCannotWrite, path);
            _chdir(saved);
            return 0;
        }
        prefix[i] = '\\';
    }
    free(prefix);
    if (_chdir(saved) != 0)
        return ShowErrorF(kCannotWrite, path);
    return 1;
}

namespace {

// The temporary file beside target: its directory followed by "~patch.tmp".
// Null when memory runs out.
char *TemporaryPathBeside(const char *target)
{
    static const char kName[] = "~patch.tmp";
    const char *slash = strrchr(target, '\\');
    size_t directoryLength = slash ? static_cast<size_t>(slash - target) + 1 : 0;
    char *path = static_cast<char *>(malloc(directoryLength + sizeof kName));
    if (!path)
        return nullptr;
    memcpy(path, target, directoryLength);
    memcpy(path + directoryLength, kName, sizeof kName);
    return path;
}

// Copies length bytes from source to the new file at temporaryPath. On failure
// reports (the read naming ownPath, the write naming targetPath) and returns 0.
int CopyChunk(FILE *source, uint32_t length, const char *temporaryPath, const char *ownPath,
              const char *targetPath)
{
    FileStream target(fopen(temporaryPath, "wb"));
    if (!target)
        return ShowErrorF(kCannotCreate, targetPath);
    unsigned char block[kBlockSize];
    while (length > 0) {
        size_t size = length < kBlockSize ? length : kBlockSize;
        if (fread(block, 1, size, source) != size)
            return ShowErrorF(kCannotRead, ownPath);
        if (fwrite(block, 1, size, target) != size)
            return ShowErrorF(kCannotWrite, targetPath);
        length -= static_cast<uint32_t>(size);
    }
    // Buffered data reaches the disk only now; a full disk shows here.
    if (target.Close() != 0)
        return ShowErrorF(kCannotWrite, targetPath);
    return 1;
}

} // namespace

int ExtractChunkToFile(const char *targetPath, uint32_t index)
{
    char *ownPath = GetOwnExePath();
    if (!ownPath)
        return ShowError(kOutOfMemory);

    int result = 0;
    FileStream own(fopen(ownPath, "rb"));
    uint32_t length;
    char *temporaryPath = nullptr;
    if (!own) {
        ShowErrorF(kCannotOpen, ownPath);
    } else if ((length = LocatePayloadChunk(own, index, ownPath)) != 0 &&
               EnsureDirectories(targetPath)) {
        temporaryPath = TemporaryPathBeside(targetPath);
        if (!temporaryPath) {
            ShowError(kOutOfMemory);
        } else if (CopyChunk(own, length, temporaryPath, ownPath, targetPath)) {
            if (MoveFileExA(temporaryPath, targetPath,
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
                result = 1;
            else
                ShowErrorF(kCannotCreate, targetPath);
        }
        if (temporaryPath && !result)
            DeleteFileA(temporaryPath);
    }
    free(temporaryPath);
    free(ownPath);
    return result;
}
