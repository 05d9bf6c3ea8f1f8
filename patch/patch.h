// Patch operations: the file and registry changes that the update steps call.
// Each returns 1 (or nonzero) to go on and 0 to stop, and reports its own
// failures through the prompt set; callers add no message of their own.
#pragma once

#include <windows.h>
#include <stdint.h>
#include <stdio.h>

// Called after each block of the long file operations (the rewrite of a file,
// the copy of a payload chunk) while set, else null: the progress dialog sets
// it so that its window goes on answering while a step's file work runs.
typedef void (*WhileWorkingFunction)();
extern WhileWorkingFunction WhileWorkingCall;
inline void WhileWorking()
{
    if (WhileWorkingCall)
        WhileWorkingCall();
}

// ---------------------------------------------------------------------------
// Payload (payload.cpp) and whole-file extraction (extract.cpp).
//
// The payload is appended to the executable, behind everything else in it:
//
//     ... executable image ... | chunk n-1 | L(n-1) | ... | chunk 0 | L(0) |
//                                          4 bytes LE            4 bytes LE
//
// Each chunk is its data followed by its length as a 32-bit little-endian word
// (never 0). Chunks are counted from the end: index 0 was appended last. The
// chain must reach back exactly to the end of the executable image (the raw
// data of its last section), with at most 7 zero bytes of alignment between;
// anything else is a damaged file and is refused whole. When an Authenticode
// certificate table closes the file, the payload ends in front of it, less
// the 0 to 7 zero bytes of padding the signature put there.

// Full path of the running executable, as a new heap string; null when memory
// runs out or the path doesn't fit. The caller frees it.
char *GetOwnExePath();
// The same in UTF-16, by which the file is opened: its ANSI name is only fit
// to be shown where the folder's name holds a character the code page lacks
// (a downloads folder named in another script).
wchar_t *GetOwnExePathW();

// The updater's own file, read only through one handle held from start-up to
// the end of the run. It usually lies in the player's downloads folder, where
// the player's programs may rename the running file and put another under
// its name: a file read later by name need not be the one that was started,
// and a signature covers only that one.
//
// Opens the running executable once, for reading, and keeps the handle when
// the system proves it the file the running image was mapped from. Shows
// nothing: VerifyPayloadChunk and the extraction say what went wrong. Called
// first thing at start-up; they call it themselves where it wasn't.
void OpenOwnFile();
// Lets go of it (the main flow does this once, at the end of the run).
void ReleaseOwnFile();
// Whether file is the one the image at imageBase was mapped from, as the
// system answers; false where it can't answer.
bool IsFileOfImage(HANDLE file, const void *imageBase);

// Positions stream at the first data byte of chunk index and returns the
// chunk's length; 0 after reporting a failure naming displayName (also when
// the chain doesn't reach back to the image).
uint32_t LocatePayloadChunk(FILE *stream, uint32_t index, const char *displayName);

// Checks, before anything is changed, that the running executable carries
// chunk index in a payload that reaches back to its image. 1 when it does;
// else 0 after the box the extraction would show.
int VerifyPayloadChunk(uint32_t index);
// The running executable's own file (see OpenOwnFile) as a stream at the
// first byte of chunk index, whose length goes to *length; null after the
// box a failure calls for, naming the updater. The caller closes the stream.
FILE *OpenOwnPayloadChunk(uint32_t index, uint32_t *length);
// file (a stream for reading, taken over) at the first byte of chunk index,
// whose length goes to *length; null after the box a failure calls for,
// naming displayName, with the stream closed.
FILE *OpenPayloadChunk(FILE *file, const char *displayName, uint32_t index, uint32_t *length);

// Creates every missing directory on the full file path; the working
// directory is the same afterwards. 1 on success, 0 after a report.
int EnsureDirectories(const char *path);
// Where EnsureDirectories begins to look for the backslashes that end the
// directories it makes sure of: behind a drive ("C:\"), behind the share of a
// network path ("\\server\share\"), behind a leading backslash, or at the
// start.
size_t DirectoryWalkStart(const char *path);

// Writes chunk index as the whole content of targetPath. The copy goes to a
// new file beside the target, under a name no one can guess, which takes the
// target's name only once it is complete, so a failed copy leaves the old
// target as it was. The target itself is never opened. Where the update's
// trees are fixed, the folders are made and checked through the door.
int ExtractChunkToFile(const char *targetPath, uint32_t index);
// The same with the payload of the executable at sourcePath, which failures
// name; ExtractChunkToFile passes the running executable.
int ExtractChunkFromFile(const char *sourcePath, const char *targetPath, uint32_t index);
// Whether another program holds targetPath so that the extraction's rename
// could not replace it (a running game): opened through the door with the
// delete access the rename needs, nothing written, and closed again.
bool HeldAgainstReplacement(const char *targetPath);

// ---------------------------------------------------------------------------
// Byte pokes (bytepatch.cpp).

// One byte to write: a packed 5-byte record.
#pragma pack(push, 1)
struct BytePatch {
    uint32_t offset; // absolute position in the file, a signed 32-bit seek
    uint8_t value;
};
#pragma pack(pop)
static_assert(sizeof(BytePatch) == 5, "BytePatch records are packed");

// Writes each record's byte at its offset, in table order. 1 when all are
// written; 0 after a report (records before the failing one stay written).
int ApplyBytePatches(const char *path, const BytePatch *table, uint32_t count);

// Whether another program holds path so that the pokes could not open it
// (a running game): opened through the door as they open it, nothing
// written, and closed again.
bool HeldAgainstPokes(const char *path);

// Patches path when it is an existing file, else extracts chunkIndex to
// extractPath.
int PatchOrExtract(const char *path, const BytePatch *table, uint32_t count, const char *extractPath,
                   uint32_t chunkIndex);

// ---------------------------------------------------------------------------
// The search for a byte pattern and its replacement in memory (search.cpp).

// The searches the pattern replacement can use.
enum class ScanPath { Plain, Sse2, Avx2 };
// The one in use: the widest the processor offers, chosen at the first search.
ScanPath CurrentScanPath();
// Makes every later search take path (tests and benchmarks force the
// narrower ones); 0 when the processor lacks it.
int ChooseScanPath(ScanPath path);

// Replaces every occurrence, left to right and without overlap. 1 if any was
// replaced.
int ReplaceInBuffer(unsigned char *buffer, size_t size, const unsigned char *replacement,
                    const unsigned char *pattern, unsigned length);

// What a rewrite does with the changed bytes [begin, end) of its window
// before the scan goes on past them; false stops the scan.
typedef bool (*FlushRange)(void *context, size_t begin, size_t end);
// Replaces every occurrence that starts in buffer[*position, size), left to
// right without overlap (length 1 to 255), widening [*dirtyBegin, *dirtyEnd)
// over the replaced bytes, and hands a range to flush first whenever the next
// change lies more than 4 KiB behind it. On return *position is the first
// place where a match could still start once more bytes follow. False when a
// flush failed.
bool ReplaceInWindow(unsigned char *buffer, size_t size, size_t *position, const unsigned char *replacement,
                     const unsigned char *pattern, unsigned length, size_t *dirtyBegin, size_t *dirtyEnd,
                     FlushRange flush, void *context);

// ---------------------------------------------------------------------------
// The rewrite of files in place (rewrite.cpp).

// The saved-game rule: wherever "Procesor" stands in two consecutive
// NUL-padded 9-byte fields, the first becomes "CPU". Its length, its
// replacement and its pattern.
constexpr unsigned kSaveRuleLength = 18;
extern const unsigned char kSaveRuleReplacement[kSaveRuleLength];
extern const unsigned char kSavePattern[kSaveRuleLength];

// The rewrite reads a file in blocks of this many bytes.
constexpr size_t kRewriteBlockSize = 64 * 1024;

// Rewrites fileName in place as one left-to-right pass over the whole file
// would, reading it in blocks of kRewriteBlockSize and writing back only what
// changed. Files of any size: positions are 64-bit.
int ReplaceInFile(const char *fileName, const unsigned char *replacement, const unsigned char *pattern,
                  unsigned length, int failHard);

// ReplaceInFile on one named file, with its three time stamps put back
// afterwards when keepTimes is set. The file is opened so that no other
// program may write to it meanwhile; one that another program holds for
// writing fails to open, and when the user chooses to go on it is left as it
// was, times included. *complete (when given) says whether everything was
// done: false after any failure the user chose to go on from.
int ReplaceInFileKeepTimes(const char *fileName, const unsigned char *replacement,
                           const unsigned char *pattern, unsigned length, int failHard, int keepTimes,
                           bool *complete = nullptr);

// ReplaceInFile (and the time stamps) for every file the wildcard matches.
int ReplaceInMatchingFiles(const char *wildcard, const unsigned char *replacement,
                           const unsigned char *pattern, unsigned length, int failHard, int keepTimes);

// ---------------------------------------------------------------------------
// The wildcard walk, existence checks and time stamps (walk.cpp).

// What a walk does with each match; 0 stops the walk.
typedef int (*MatchVisitor)(const char *fullName, const WIN32_FIND_DATAA &found, void *context);
// Resolves the wildcard's directory and calls visit with the full name of every
// match that isn't a directory, in the order the file system delivers them.
// 1 when the walk ends normally (also without any match); 0, or the answer to
// a report, when it stops. *enumerated says whether the enumeration began (the
// wildcard could be resolved).
int WalkMatchingFiles(const char *wildcard, int failHard, MatchVisitor visit, void *context,
                      bool *enumerated = nullptr);

// 1 if path names an existing non-directory.
int IsExistingFile(const char *path);
// FILE_ATTRIBUTE_DIRECTORY (16) if path names an existing directory, else 0.
int IsExistingDirectory(const char *path);

// Sets the three time stamps of fileName, holding it open without sharing
// meanwhile. 1 when set; else the result of the report. *set (when given)
// says whether they were set, rather than skipped after a Yes.
int RestoreFileTimes(const char *fileName, const FILETIME *creationTime, const FILETIME *lastAccessTime,
                     const FILETIME *lastWriteTime, int failHard, bool *set = nullptr);

// ---------------------------------------------------------------------------
// The saved-game list (filelist.cpp): heap copies of full file names in
// enumeration order, entries[entryCount] is null. Empty (entries null) at
// start.

// The names, and how many there are.
extern char **entries;
extern uint32_t entryCount;

// Adds a heap copy of fileName to the list (the other arguments are those of
// ReplaceInFile and go unused). 1 when added; else the result of the report.
int AppendToFileList(const char *fileName, const unsigned char *replacement, const unsigned char *pattern,
                     unsigned length, int failHard);
// Adds the full name of every file the wildcard matches whose own name ends
// in the wildcard's extension ("SAV" of "*.SAV", letter case aside), which a
// match against a short name, or a name ending in a dot or a space, doesn't.
// 1 when the walk ends normally; on a stop the whole list is emptied and the
// result is 0.
int CollectMatchingFiles(const char *wildcard, const unsigned char *replacement, const unsigned char *pattern,
                         unsigned length, int failHard, int keepTimes);

// Frees every entry, last to first, then the array; the list is empty after.
void ReleaseFileList();

// ---------------------------------------------------------------------------
// Registry entries (registry.cpp).

// One registry value to write.
struct RegistryEntry {
    HKEY rootKey;
    const char *subkey;
    const char *valueName;
    DWORD valueType;
    const char *data;
};

// The release's registry values: the game's "Guid".
extern const RegistryEntry kRegistryEntries[1];

// Writes the release's table.
int ApplyRegistryEntries();
// Writes the given table, record by record: REG_SZ values only, keys opened,
// never created.
int ApplyRegistryTable(const RegistryEntry *table, size_t count);
