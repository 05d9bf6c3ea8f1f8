// The payload appended to the executable: the chain of chunks checked back
// to the executable image, and a chunk located in it.
#include "patch/patch.h"

#include "base/holders.h"
#include "base/prompts.h"

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

uint32_t Half(uint32_t word)
{
    return word & 0xFFFF;
}

// Where the executable image ends (behind the raw data of its last section)
// and, when an Authenticode certificate table closes the file, where that
// table begins (else -1). False when the file is no PE image.
bool ReadImageLayout(FILE *stream, long fileSize, long *imageEnd, long *tableStart)
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
    case 0x10B:
        directories = optionalHeader + 96;
        break;
    case 0x20B:
        directories = optionalHeader + 112;
        break;
    default:
        return false;
    }

    const uint32_t sectionCount = counts >> 16;
    const long sections = optionalHeader + static_cast<long>(Half(sizes));
    long long end = 0;
    for (uint32_t i = 0; i < sectionCount; ++i) {
        uint32_t rawSize, rawOffset;
        if (!ReadWord(stream, sections + 40 * static_cast<long>(i) + 16, &rawSize) ||
            !ReadWord(stream, sections + 40 * static_cast<long>(i) + 20, &rawOffset))
            return false;
        if (rawSize != 0 && static_cast<long long>(rawOffset) + rawSize > end)
            end = static_cast<long long>(rawOffset) + rawSize;
    }
    if (end > fileSize)
        return false;
    *imageEnd = static_cast<long>(end);

    uint32_t tableOffset, tableSize;
    if (!ReadWord(stream, directories + 4 * 8, &tableOffset) ||
        !ReadWord(stream, directories + 4 * 8 + 4, &tableSize))
        return false;
    *tableStart = tableOffset != 0 && tableSize != 0 && tableOffset <= static_cast<uint32_t>(fileSize) &&
                          tableSize == static_cast<uint32_t>(fileSize) - tableOffset
                      ? static_cast<long>(tableOffset)
                      : -1;
    return true;
}

// True when the `count` bytes at `position` are all zero.
bool ZeroBytes(FILE *stream, long position, long count)
{
    unsigned char bytes[8];
    if (count == 0)
        return true;
    if (count > 8 || fseek(stream, position, SEEK_SET) != 0 ||
        fread(bytes, 1, static_cast<size_t>(count), stream) != static_cast<size_t>(count))
        return false;
    for (long i = 0; i < count; ++i)
        if (bytes[i] != 0)
            return false;
    return true;
}

// The number of chunks in the chain that ends at `end`, when that chain
// reaches back exactly to the end of the image: chunk 0 of the walk lands
// on imageEnd, or behind at most 7 zero bytes of alignment. Else 0: a length
// word that is damaged, cut short or read from the wrong place leads the walk
// anywhere but there.
uint32_t ChainLength(FILE *stream, long imageEnd, long end)
{
    long long position = end;
    for (uint32_t count = 0;; ++count) {
        if (count > 0 && position >= imageEnd && position - imageEnd < 8 &&
            ZeroBytes(stream, imageEnd, static_cast<long>(position - imageEnd)))
            return count;
        uint32_t length;
        if (position - 4 < imageEnd || !ReadWord(stream, static_cast<long>(position - 4), &length) ||
            length == 0)
            return 0;
        position -= 4 + static_cast<long long>(length);
        if (position < imageEnd)
            return 0;
    }
}

// Where the payload ends and how many chunks it holds; false when no chain
// reaches back to the image. A signature pads the file with 0 to 7 zero bytes
// in front of its certificate table, so a signed file's payload ends at the
// table less the one padding for which the chain reaches back; a file that
// two paddings would fit is as ambiguous as one that none fits.
bool FindPayload(FILE *stream, long fileSize, long *payloadEnd, uint32_t *chunkCount)
{
    long imageEnd, tableStart;
    if (!ReadImageLayout(stream, fileSize, &imageEnd, &tableStart))
        return false;
    if (tableStart < 0) {
        *payloadEnd = fileSize;
        *chunkCount = ChainLength(stream, imageEnd, fileSize);
        return *chunkCount != 0;
    }
    unsigned fits = 0;
    for (long padding = 0; padding < 8 && tableStart - padding >= imageEnd; ++padding) {
        uint32_t count = ChainLength(stream, imageEnd, tableStart - padding);
        if (count != 0 && ZeroBytes(stream, tableStart - padding, padding)) {
            ++fits;
            *payloadEnd = tableStart - padding;
            *chunkCount = count;
        }
    }
    return fits == 1;
}

} // namespace

namespace {

// The running executable's full path through getModuleFileName (the ANSI or
// the UTF-16 call), as a new heap string grown until it fits; null when
// memory runs out or the path doesn't fit 32,768 characters.
template <typename Char> Char *ModuleFileName(DWORD(WINAPI *getModuleFileName)(HMODULE, Char *, DWORD))
{
    for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
        HeapMemory path(malloc(size * sizeof(Char)));
        if (!path)
            return nullptr;
        DWORD length = getModuleFileName(nullptr, reinterpret_cast<Char *>(path.Get()), size);
        if (length > 0 && length < size)
            return static_cast<Char *>(path.Release());
        if (length == 0)
            return nullptr;
    }
    return nullptr;
}

} // namespace

wchar_t *GetOwnExePathW()
{
    return ModuleFileName<wchar_t>(GetModuleFileNameW);
}

char *GetOwnExePath()
{
    return ModuleFileName<char>(GetModuleFileNameA);
}

uint32_t LocatePayloadChunk(FILE *stream, uint32_t index, const char *displayName)
{
    // The whole chain is checked before any chunk is taken from it.
    long fileSize, end = 0;
    uint32_t chunkCount = 0;
    if (fseek(stream, 0, SEEK_END) != 0 || (fileSize = ftell(stream)) < 0 ||
        !FindPayload(stream, fileSize, &end, &chunkCount) || index >= chunkCount) {
        ShowErrorF(kCannotRead, displayName);
        return 0;
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

FILE *OpenPayloadChunk(FILE *file, const char *displayName, uint32_t index, uint32_t *length)
{
    FileStream stream(file);
    *length = LocatePayloadChunk(stream.Get(), index, displayName);
    if (*length == 0)
        return nullptr;
    return stream.Release();
}

namespace {

// The updater's own file, opened once and kept for the whole run, and
// whether it could be opened and proven the file the running image was
// mapped from.
enum class OwnFile { NotTried, Unopened, Unproven, Proven };
OwnFile ownFileState = OwnFile::NotTried;
HANDLE ownFile = INVALID_HANDLE_VALUE;

} // namespace

bool IsFileOfImage(HANDLE file, const void *imageBase)
{
    typedef LONG(NTAPI * SameFunction)(PVOID imageView, PVOID fileView);
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    auto same = ntdll ? reinterpret_cast<SameFunction>(
                            reinterpret_cast<void *>(GetProcAddress(ntdll, "NtAreMappedFilesTheSame")))
                      : nullptr;
    if (!same)
        return false;
    Handle mapping(CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr));
    void *view = mapping.Valid() ? MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 1) : nullptr;
    if (!view)
        return false;
    bool proven = same(const_cast<void *>(imageBase), view) == 0;
    UnmapViewOfFile(view);
    return proven;
}

void OpenOwnFile()
{
    if (ownFileState != OwnFile::NotTried)
        return;
    ownFileState = OwnFile::Unopened;
    HeapMemory path(GetOwnExePathW());
    if (!path)
        return;
    // Read only. Others may read it, rename it or delete its name (an
    // antivirus, a download manager): what this handle reads stays the file
    // that was started. No one may write to it meanwhile; on Windows no one
    // can while its image is mapped anyway. Opened with the least a pipe
    // server could make of it, should a link lead there.
    ownFile = CreateFileW(reinterpret_cast<const wchar_t *>(path.Get()), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                          SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (ownFile == INVALID_HANDLE_VALUE)
        return;
    ownFileState = IsFileOfImage(ownFile, GetModuleHandleW(nullptr)) ? OwnFile::Proven : OwnFile::Unproven;
}

void ReleaseOwnFile()
{
    if (ownFile != INVALID_HANDLE_VALUE)
        CloseHandle(ownFile);
    ownFile = INVALID_HANDLE_VALUE;
    ownFileState = OwnFile::NotTried;
}

FILE *OpenOwnPayloadChunk(uint32_t index, uint32_t *length)
{
    OpenOwnFile();
    HeapMemory ownPath(GetOwnExePath());
    if (!ownPath) {
        ShowError(kOutOfMemory);
        return nullptr;
    }
    if (ownFileState == OwnFile::Unopened) {
        ShowErrorF(kCannotOpen, ownPath.Get());
        return nullptr;
    }
    // A file that can't be proven the one that was started is not read: a
    // signature covers that file, not whatever stands under its name now.
    HANDLE duplicate = nullptr;
    if (ownFileState != OwnFile::Proven || !DuplicateHandle(GetCurrentProcess(), ownFile, GetCurrentProcess(),
                                                            &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        ShowErrorF(kCannotRead, ownPath.Get());
        return nullptr;
    }
    FILE *stream = StreamOnHandle(duplicate, "rb");
    if (!stream) {
        ShowErrorF(kCannotRead, ownPath.Get());
        return nullptr;
    }
    return OpenPayloadChunk(stream, ownPath.Get(), index, length);
}

int VerifyPayloadChunk(uint32_t index)
{
    uint32_t length = 0;
    FileStream source(OpenOwnPayloadChunk(index, &length));
    return source ? 1 : 0;
}
