// Helpers shared by the in-process tests: a recorder that takes the place of
// the message-box call, temporary directories with real files, and small file
// utilities.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <stdint.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "base/holders.h"
#include "base/names.h"
#include "base/prompts.h"
#include "tests/driver/driver.h"

// Where the tests find the files and folders they read: the distributables,
// the menu texts, the signed copies, the planted library and its probes. The
// build compiles in each one's place in the build tree as DEFAULT_<name>
// (tests/CMakeLists.txt); the environment variable VP_<name>, where set,
// names another place, as run.cmd does on a Windows machine where the
// archive of scripts/windows-check was unpacked.
const char *TestPath(const char *variable, const char *compiledIn);
#define DIST_EXE TestPath("VP_DIST_EXE", DEFAULT_DIST_EXE)
#define RELEASE_EXE TestPath("VP_RELEASE_EXE", DEFAULT_RELEASE_EXE)
#define MENU_TEXT TestPath("VP_MENU_TEXT", DEFAULT_MENU_TEXT)
#define LINKED_EXE TestPath("VP_LINKED_EXE", DEFAULT_LINKED_EXE)
#define SIGNED_DIR TestPath("VP_SIGNED_DIR", DEFAULT_SIGNED_DIR)
#define PLANTED_DLL TestPath("VP_PLANTED_DLL", DEFAULT_PLANTED_DLL)
#define STATIC_PROBE TestPath("VP_STATIC_PROBE", DEFAULT_STATIC_PROBE)
#define LOAD_PROBE TestPath("VP_LOAD_PROBE", DEFAULT_LOAD_PROBE)

// A box as the prompt set showed it. The texts come in UTF-16 and are kept
// so (wideText) and in the ANSI code page, as an ANSI reader of the box sees
// them (Windows-1250 bytes for the updater's texts under code page 1250).
struct RecordedBox {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
    std::wstring wideText;
};
RecordedBox Recorded(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

// While alive, every box of the prompt set is recorded instead of shown and
// answered from the queue (IDNO for a question, IDOK otherwise, when empty),
// after onBox, when given, has been called with the box's owner.
class PromptRecorder {
public:
    explicit PromptRecorder(std::deque<int> answers = {}, std::function<void(HWND owner)> onBox = {})
        : answers_(std::move(answers)), onBox_(std::move(onBox))
    {
        current_ = this;
        MessageBoxCall = &PromptRecorder::Record;
    }
    ~PromptRecorder()
    {
        MessageBoxCall = MessageBoxW;
        current_ = nullptr;
    }
    void Answer(int answer) { answers_.push_back(answer); }

    std::vector<RecordedBox> boxes;

private:
    static int WINAPI Record(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type)
    {
        PromptRecorder &self = *current_;
        self.boxes.push_back(Recorded(owner, text, caption, type));
        if (self.onBox_)
            self.onBox_(owner);
        if (!self.answers_.empty()) {
            int answer = self.answers_.front();
            self.answers_.pop_front();
            return answer;
        }
        return (type & 0xF) == MB_YESNO ? IDNO : IDOK;
    }

    std::deque<int> answers_;
    std::function<void(HWND)> onBox_;
    static inline PromptRecorder *current_ = nullptr;
};

// The box styles as Windows defines them, which every box of the updater
// must have.
constexpr UINT kErrorBox = MB_OK | MB_ICONERROR;
constexpr UINT kQuestionBox = MB_YESNO | MB_ICONQUESTION;
constexpr UINT kInformationBox = MB_OK | MB_ICONINFORMATION;

// A box as the prompt set shows it: the caption, the text and the style.
void ExpectBox(const RecordedBox &box, const std::string &text, UINT style = kErrorBox);

// A fresh directory under the temporary folder (or under `parent`), removed
// with everything in it when the object goes. Path() has no trailing backslash.
class TempDir {
public:
    explicit TempDir(const std::string &parent = "");
    ~TempDir();
    const std::string &Path() const { return path_; }
    std::string operator/(const std::string &relative) const { return path_ + "\\" + relative; }

private:
    std::string path_;
};

// Enters folder, when one is given, and puts the current directory back
// where it was when the object goes.
class CurrentDirectoryKept {
public:
    explicit CurrentDirectoryKept(const std::string &folder = "");
    ~CurrentDirectoryKept();
    CurrentDirectoryKept(const CurrentDirectoryKept &) = delete;
    CurrentDirectoryKept &operator=(const CurrentDirectoryKept &) = delete;

private:
    std::string saved_;
};

// The entries that wildcard matches (a directory's "\\*" for all), in the
// order the file system delivers them, by their UTF-16 names; "." and ".."
// left out.
struct ListedEntry {
    std::wstring name;
    DWORD attributes;
    bool IsDirectory() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
};
std::vector<ListedEntry> ListEntries(const std::string &wildcard);
// The ANSI names of the files (not directories) among them.
std::vector<std::string> ListFiles(const std::string &wildcard);

// The temporary files ("~*.tmp") in a folder: what the extraction leaves
// behind beside its target.
std::vector<std::string> TemporaryFiles(const std::string &folder);

// A file's three time stamps.
struct FileTimes {
    FILETIME creation, access, write;
};
FileTimes GetFileTimes(const std::string &path);
void SetFileTimes(const std::string &path, const FileTimes &times);
FILETIME TimeOf(WORD year, WORD month, WORD day);
uint64_t Ticks(const FILETIME &time);
// Times long past that the tests give files, to see them kept or changed.
extern const FileTimes kOldTimes;

// The running program's full path, and the current directory.
std::string OwnPath();
std::string CurrentDirectory();

std::string ReadFileBytes(const std::string &path);
// A file of size bytes, all zero but for what is written at its offsets,
// made as a sparse file (in no time, whatever its size). False on failure.
bool MakeSparseFile(const std::string &path, long long size,
                    const std::vector<std::pair<long long, std::string>> &writes = {});
void WriteFileBytes(const std::string &path, const std::string &bytes);
bool PathExists(const std::string &path);
void RemoveTree(const std::string &path);
// Creates every directory of path (a directory path, not a file).
void MakeDirectories(const std::string &path);
// The text f(format, argument) as the prompt set would show it.
std::string Formatted(const char *format, const std::string &argument);
std::string Formatted(const char *format, const std::string &argument1, const std::string &argument2);

// Holds a file open, by default without sharing, as a running game would: no
// one else can open it until Close or the end of the object.
class HeldOpen : public Handle {
public:
    explicit HeldOpen(const std::string &path, DWORD access = GENERIC_READ, DWORD share = 0)
        : Handle(CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr))
    {
        EXPECT_TRUE(Valid()) << path;
    }
};

// A PE file read back as the loader sees it: the few fields the tests check.
// Reads outside the bytes give 0.
class PeImage {
public:
    explicit PeImage(std::string bytes);
    const std::string &Bytes() const { return bytes_; }
    bool Valid() const { return valid_; }
    uint32_t Dword(size_t at) const;
    uint16_t Word(size_t at) const;
    uint16_t Machine() const { return Word(pe_ + 4); }
    uint16_t Subsystem() const { return Word(pe_ + 24 + 68); }
    // Where the raw data of the last section ends: the payload starts here.
    size_t SectionDataEnd() const;
    // File offset of data directory entry `index` (1 imports, 4 certificates).
    size_t DirectoryEntry(unsigned index) const;
    // File offset of a relative virtual address; 0 when no section holds it.
    size_t FileOffset(uint32_t rva) const;

private:
    size_t Section(unsigned i) const { return pe_ + 24 + Word(pe_ + 20) + 40u * i; }

    std::string bytes_;
    size_t pe_ = 0;
    bool valid_ = false;
};

// Fills the disk that directory lies on with a file in it until exactly
// `leave` bytes (a multiple of the block size) are free; the file goes with
// the object. The small disk that scripts/test mounts is named by
// VP_SMALL_DISK; SmallDisk() is empty where there is none.
class DiskFiller {
public:
    DiskFiller(const std::string &directory, unsigned long long leave);
    ~DiskFiller() { DeleteFileA(path_.c_str()); }
    DiskFiller(const DiskFiller &) = delete;
    DiskFiller &operator=(const DiskFiller &) = delete;

private:
    void Fill(const std::string &directory, unsigned long long leave);

    std::string path_;
};
std::string SmallDisk();

// True when every heap of the process validates. With WINEDEBUG=warn+heap
// (the tests' CMake files set it) Wine checks the tail of every block, so a
// write past an allocation shows here for as long as the block is not freed.
bool HeapsIntact();

// Registry keys and values below HKEY_LOCAL_MACHINE (or another root), in
// the registry view given (0, or a WOW64 flag: a 32-bit updater reads
// HKLM\Software through the 32-bit view).
struct RegistryValue {
    bool present = false;
    DWORD type = REG_NONE;
    std::string data;
};
bool RegistryKeyExists(const char *subkey, REGSAM view = 0, HKEY root = HKEY_LOCAL_MACHINE);
// Not present when the key or the value is missing.
RegistryValue ReadRegistryValue(const char *subkey, const char *name, REGSAM view = 0,
                                HKEY root = HKEY_LOCAL_MACHINE);
// Every value of the key, by name; false when the key can't be opened.
bool ReadRegistryValues(const char *subkey, std::vector<std::pair<std::string, RegistryValue>> *values,
                        REGSAM view = 0);
// Sets the value (the key is made where it is missing), or deletes it when it
// is not present.
void WriteRegistryValue(const char *subkey, const char *name, const RegistryValue &value, REGSAM view = 0,
                        HKEY root = HKEY_LOCAL_MACHINE);
// Deletes the key, which must have no subkeys.
void DeleteRegistryKey(const char *subkey, REGSAM view = 0, HKEY root = HKEY_LOCAL_MACHINE);
// Makes subkey a link to the key the registry names target ("\REGISTRY\..."),
// as a user may in their own hive; and deletes such a link, not what it names.
bool MakeRegistryLink(HKEY root, const char *subkey, REGSAM view, const std::wstring &target);
void DeleteRegistryLink(HKEY root, const char *subkey, REGSAM view);

// One of the updater's texts (Windows-1250) in UTF-16: what the player reads.
inline std::wstring Polish(const std::string &text)
{
    return Widened(text, kTextCodePage);
}
// Stores a REG_SZ value as exactly the UTF-16 units of data through the
// native registry call, which adds no terminator as the Win32 calls would;
// also characters that the ANSI code page lacks. The key is opened in `view`
// (0, or a WOW64 flag).
bool StoreWideString(HKEY root, const char *subkey, REGSAM view, const char *name, std::wstring data);
