// Byte pokes: single bytes written at fixed offsets of an existing file.
#include "patch/patch.h"

#include "base/base.h"

int ApplyBytePatches(const char *path, const BytePatch *table, uint32_t count)
{
    FileStream file(fopen(path, "rb+"));
    if (!file)
        return ShowErrorF(kCannotOpen, path);
    for (uint32_t i = 0; i < count; ++i) {
        const BytePatch &record = table[i];
        // Offsets are signed 32-bit positions: 2^31 and above can't be reached.
        if (record.offset > 0x7FFFFFFFu || fseek(file, static_cast<long>(record.offset), SEEK_SET) != 0 ||
            fputc(record.value, file) == EOF)
            return ShowErrorF(kCannotWrite, path);
    }
    // The bytes leave the stream's buffer only now; a failure here is a failed
    // write, not a success.
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
