// Byte pokes: single bytes written at fixed offsets of an existing file.
#include "patch/patch.h"

#include "base/door.h"
#include "base/holders.h"
#include "base/prompts.h"

namespace {

// The pokes share reading and writing, as a plain open for update does.
constexpr DWORD kPokeSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

} // namespace

bool HeldAgainstPokes(const char *path)
{
    Refusal refusal = Refusal::None;
    Handle file(OpenToChange(path, GENERIC_READ | GENERIC_WRITE, kPokeSharing, NameFrom::Table, false,
                             nullptr, &refusal));
    return refusal == Refusal::InUse;
}

int ApplyBytePatches(const char *path, const BytePatch *table, uint32_t count)
{
    // Opened through the door; a file it refuses is one that can't be opened.
    Refusal refusal = Refusal::None;
    FileStream file(OpenStreamToChange(path, kPokeSharing, NameFrom::Table, nullptr, &refusal));
    if (!file)
        return ShowErrorF(kCannotOpen, path);
    for (uint32_t i = 0; i < count; ++i) {
        const BytePatch &record = table[i];
        // Offsets are signed 32-bit positions: 2^31 and above can't be reached.
        if (record.offset > 0x7FFFFFFFu ||
            fseek(file.Get(), static_cast<long>(record.offset), SEEK_SET) != 0 ||
            fputc(record.value, file.Get()) == EOF) {
            file.Close();
            return ShowErrorF(kCannotWrite, path);
        }
    }
    // Every write is known only now: the last bytes leave the stream's buffer
    // as it is closed, and a flush that failed inside fseek shows only in the
    // stream's error flag.
    if (file.Close() != 0)
        return ShowErrorF(kCannotWrite, path);
    return 1;
}

int PatchOrExtract(const char *path, const BytePatch *table, uint32_t count, const char *extractPath,
                   uint32_t chunkIndex)
{
    if (IsExistingFile(path))
        return ApplyBytePatches(path, table, count);
    return ExtractChunkToFile(extractPath, chunkIndex);
}
