#include "tests/test_support.h"

#include "tests/link_support.h"

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

namespace {
int serial = 0;

// The path for the wide file calls; from MAX_PATH characters on, an absolute
// path gets the "\\?\" prefix, the one way past that limit. The tests need it
// for files that the updater itself must refuse as too long.
std::wstring Wide(const std::string &path)
{
    const std::wstring wide = Widened(path);
    return path.size() >= MAX_PATH && path.size() > 2 && path[1] == ':' ? L"\\\\?\\" + wide : wide;
}
} // namespace

const char *TestPath(const char *variable, const char *compiledIn)
{
    const char *given = getenv(variable);
    return given && *given ? given : compiledIn;
}

RecordedBox Recorded(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type)
{
    std::wstring wideText = text ? text : L"";
    return {owner, Narrowed(wideText), Narrowed(caption ? caption : L""), type, wideText};
}

void ExpectBox(const RecordedBox &box, const std::string &text, UINT style)
{
    EXPECT_EQ(text, box.text);
    EXPECT_EQ(style, box.type);
    EXPECT_EQ(std::string(kCaption), box.caption);
}

TempDir::TempDir(const std::string &parent)
{
    char base[MAX_PATH];
    if (parent.empty())
        GetTempPathA(MAX_PATH, base);
    else
        snprintf(base, sizeof base, "%s\\", parent.c_str());
    char name[MAX_PATH];
    snprintf(name, sizeof name, "%svp-test-%lu-%04d", base, GetCurrentProcessId(), ++serial);
    path_ = name;
    RemoveTree(path_);
    CreateDirectoryA(path_.c_str(), nullptr);
}

TempDir::~TempDir()
{
    char cwd[MAX_PATH];
    if (GetCurrentDirectoryA(MAX_PATH, cwd) && std::string(cwd).rfind(path_, 0) == 0) {
        char base[MAX_PATH];
        GetTempPathA(MAX_PATH, base);
        SetCurrentDirectoryA(base);
    }
    RemoveTree(path_);
}

CurrentDirectoryKept::CurrentDirectoryKept(const std::string &folder) : saved_(CurrentDirectory())
{
    EXPECT_TRUE(folder.empty() || SetCurrentDirectoryA(folder.c_str())) << folder;
}

CurrentDirectoryKept::~CurrentDirectoryKept()
{
    SetCurrentDirectoryA(saved_.c_str());
}

std::string OwnPath()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, length);
}

std::string CurrentDirectory()
{
    char path[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(MAX_PATH, path);
    return std::string(path, length < MAX_PATH ? length : 0);
}

std::string ReadFileBytes(const std::string &path)
{
    std::string bytes;
    FILE *file = _wfopen(Wide(path).c_str(), L"rb");
    if (!file)
        return bytes;
    char block[65536];
    size_t got;
    while ((got = fread(block, 1, sizeof block, file)) > 0)
        bytes.append(block, got);
    fclose(file);
    return bytes;
}

void WriteFileBytes(const std::string &path, const std::string &bytes)
{
    FILE *file = _wfopen(Wide(path).c_str(), L"wb");
    if (!file)
        return;
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

bool MakeSparseFile(const std::string &path, long long size,
                    const std::vector<std::pair<long long, std::string>> &writes)
{
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER end;
    end.QuadPart = size;
    bool made = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    for (const auto &write : writes) {
        LARGE_INTEGER at;
        at.QuadPart = write.first;
        DWORD written = 0;
        made = made && SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
               WriteFile(file, write.second.data(), static_cast<DWORD>(write.second.size()), &written,
                         nullptr) &&
               written == write.second.size();
    }
    CloseHandle(file);
    return made;
}

bool PathExists(const std::string &path)
{
    return GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {

// Lists the folder's entries (not "." and ".."), as full names with their
// attributes.
std::vector<std::pair<std::wstring, DWORD>> Entries(const std::wstring &folder)
{
    std::vector<std::pair<std::wstring, DWORD>> entries;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return entries;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            entries.push_back({folder + L"\\" + name, found.dwFileAttributes});
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return entries;
}

// Every link in the tree goes before anything else in it does: Wine lists no
// link whose target is gone, so that it, and its folder, could not be
// removed after its target.
void RemoveLinksBelow(const std::wstring &folder)
{
    for (const auto &entry : Entries(folder)) {
        if (IsLink(entry.first, entry.second))
            RemoveLink(entry.first);
        else if (entry.second & FILE_ATTRIBUTE_DIRECTORY)
            RemoveLinksBelow(entry.first);
    }
}

// Names are removed by their literal form ("\\?\"), so that one ending in a
// dot or a space goes too.
void RemoveWideTree(const std::wstring &path, bool linksGone = false)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        attributes = GetFileAttributesW((L"\\\\?\\" + path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    if (IsLink(path, attributes)) {
        RemoveLink(path);
        return;
    }
    const std::wstring literal = path.size() > 2 && path[1] == L':' ? L"\\\\?\\" + path : path;
    SetFileAttributesW(literal.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(literal.c_str());
        return;
    }
    if (!linksGone)
        RemoveLinksBelow(path);
    for (const auto &entry : Entries(path))
        RemoveWideTree(entry.first, true);
    RemoveDirectoryW(literal.c_str());
}

} // namespace

void RemoveTree(const std::string &path)
{
    RemoveWideTree(Wide(path));
}

std::vector<ListedEntry> ListEntries(const std::string &wildcard)
{
    std::vector<ListedEntry> entries;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(Wide(wildcard).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return entries;
    do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            entries.push_back({name, found.dwFileAttributes});
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return entries;
}

std::vector<std::string> ListFiles(const std::string &wildcard)
{
    std::vector<std::string> names;
    for (const ListedEntry &entry : ListEntries(wildcard))
        if (!entry.IsDirectory())
            names.push_back(Narrowed(entry.name));
    return names;
}

std::vector<std::string> TemporaryFiles(const std::string &folder)
{
    return ListFiles(folder + "\\~*.tmp");
}

FileTimes GetFileTimes(const std::string &path)
{
    FileTimes times = {};
    HANDLE file = CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, file) << path;
    EXPECT_TRUE(GetFileTime(file, &times.creation, &times.access, &times.write));
    CloseHandle(file);
    return times;
}

void SetFileTimes(const std::string &path, const FileTimes &times)
{
    HANDLE file = CreateFileW(Wide(path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << path;
    EXPECT_TRUE(SetFileTime(file, &times.creation, &times.access, &times.write));
    CloseHandle(file);
}

FILETIME TimeOf(WORD year, WORD month, WORD day)
{
    SYSTEMTIME system = {year, month, 0, day, 10, 20, 30, 0};
    FILETIME time;
    SystemTimeToFileTime(&system, &time);
    return time;
}

uint64_t Ticks(const FILETIME &time)
{
    return static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

const FileTimes kOldTimes = {TimeOf(2001, 2, 3), TimeOf(2002, 3, 4), TimeOf(2003, 4, 5)};

void MakeDirectories(const std::string &path)
{
    for (size_t i = 3; i <= path.size(); ++i)
        if (i == path.size() || path[i] == '\\')
            CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
}

std::string Formatted(const char *format, const std::string &argument)
{
    int length = snprintf(nullptr, 0, format, argument.c_str());
    std::string text(static_cast<size_t>(length) + 1, '\0');
    snprintf(&text[0], text.size(), format, argument.c_str());
    text.resize(static_cast<size_t>(length));
    return text;
}

std::string Formatted(const char *format, const std::string &argument1, const std::string &argument2)
{
    int length = snprintf(nullptr, 0, format, argument1.c_str(), argument2.c_str());
    std::string text(static_cast<size_t>(length) + 1, '\0');
    snprintf(&text[0], text.size(), format, argument1.c_str(), argument2.c_str());
    text.resize(static_cast<size_t>(length));
    return text;
}

PeImage::PeImage(std::string bytes) : bytes_(std::move(bytes))
{
    pe_ = Dword(0x3C);
    valid_ = bytes_.size() > 0x40 && bytes_.compare(pe_, 4, std::string("PE\0\0", 4)) == 0;
}

uint32_t PeImage::Dword(size_t at) const
{
    return Word(at) | static_cast<uint32_t>(Word(at + 2)) << 16;
}

uint16_t PeImage::Word(size_t at) const
{
    if (at + 2 > bytes_.size() || at + 2 < at)
        return 0;
    return static_cast<uint16_t>(static_cast<unsigned char>(bytes_[at]) |
                                 static_cast<unsigned char>(bytes_[at + 1]) << 8);
}

size_t PeImage::SectionDataEnd() const
{
    size_t end = 0;
    for (unsigned i = 0; i < Word(pe_ + 6); ++i)
        if (Dword(Section(i) + 16) != 0)
            end = std::max<size_t>(end, Dword(Section(i) + 20) + static_cast<size_t>(Dword(Section(i) + 16)));
    return end;
}

size_t PeImage::DirectoryEntry(unsigned index) const
{
    const size_t optional = pe_ + 24;
    return optional + (Word(optional) == 0x20B ? 112 : 96) + 8u * index;
}

size_t PeImage::FileOffset(uint32_t rva) const
{
    for (unsigned i = 0; i < Word(pe_ + 6); ++i) {
        uint32_t virtualAddress = Dword(Section(i) + 12), rawSize = Dword(Section(i) + 16);
        if (rva >= virtualAddress && rva < virtualAddress + rawSize)
            return rva - virtualAddress + Dword(Section(i) + 20);
    }
    return 0;
}

DiskFiller::DiskFiller(const std::string &directory, unsigned long long leave)
    : path_(directory + "\\zapełnienie")
{
    Fill(directory, leave);
}

void DiskFiller::Fill(const std::string &directory, unsigned long long leave)
{
    ULARGE_INTEGER available;
    ASSERT_TRUE(GetDiskFreeSpaceExA(directory.c_str(), &available, nullptr, nullptr));
    ASSERT_GE(available.QuadPart, leave);
    WriteFileBytes(path_, std::string(static_cast<size_t>(available.QuadPart - leave), 'z'));
    ASSERT_TRUE(GetDiskFreeSpaceExA(directory.c_str(), &available, nullptr, nullptr));
    ASSERT_EQ(leave, available.QuadPart) << "the disk's free space is not in whole blocks";
}

std::string SmallDisk()
{
    const char *disk = getenv("VP_SMALL_DISK");
    return disk ? disk : "";
}

namespace {

struct NativeString {
    USHORT length;
    USHORT maximumLength;
    wchar_t *buffer;
};
typedef LONG(NTAPI *NtSetValueKeyFunction)(HANDLE key, NativeString *name, ULONG titleIndex, ULONG type,
                                           void *data, ULONG size);

} // namespace

bool RegistryKeyExists(const char *subkey, REGSAM view, HKEY root)
{
    HKEY key;
    if (RegOpenKeyExA(root, subkey, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

RegistryValue ReadRegistryValue(const char *subkey, const char *name, REGSAM view, HKEY root)
{
    RegistryValue value;
    HKEY key;
    if (RegOpenKeyExA(root, subkey, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
        return value;
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        value.data.resize(size);
        if (RegQueryValueExA(key, name, nullptr, &value.type, reinterpret_cast<BYTE *>(&value.data[0]),
                             &size) == ERROR_SUCCESS) {
            value.present = true;
            value.data.resize(size);
        }
    }
    if (!value.present)
        value = RegistryValue();
    RegCloseKey(key);
    return value;
}

bool ReadRegistryValues(const char *subkey, std::vector<std::pair<std::string, RegistryValue>> *values,
                        REGSAM view)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return false;
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD nameSize = sizeof name, type = 0, dataSize = 0;
        if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, nullptr, &dataSize) != ERROR_SUCCESS)
            break;
        std::string data(dataSize, '\0');
        nameSize = sizeof name;
        RegEnumValueA(key, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE *>(&data[0]), &dataSize);
        data.resize(dataSize);
        values->push_back({std::string(name, nameSize), {true, type, data}});
    }
    RegCloseKey(key);
    return true;
}

void WriteRegistryValue(const char *subkey, const char *name, const RegistryValue &value, REGSAM view,
                        HKEY root)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(root, subkey, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &key, nullptr));
    if (value.present)
        EXPECT_EQ(ERROR_SUCCESS,
                  RegSetValueExA(key, name, 0, value.type, reinterpret_cast<const BYTE *>(value.data.data()),
                                 static_cast<DWORD>(value.data.size())));
    else
        RegDeleteValueA(key, name);
    RegCloseKey(key);
}

void DeleteRegistryKey(const char *subkey, REGSAM view, HKEY root)
{
    RegDeleteKeyExA(root, subkey, view, 0);
}

bool MakeRegistryLink(HKEY root, const char *subkey, REGSAM view, const std::wstring &target)
{
    HKEY link;
    if (RegCreateKeyExA(root, subkey, 0, nullptr, REG_OPTION_CREATE_LINK,
                        KEY_ALL_ACCESS | KEY_CREATE_LINK | view, nullptr, &link, nullptr) != ERROR_SUCCESS)
        return false;
    bool made =
        RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE *>(target.data()),
                       static_cast<DWORD>(target.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
    RegCloseKey(link);
    return made;
}

void DeleteRegistryLink(HKEY root, const char *subkey, REGSAM view)
{
    typedef LONG(NTAPI * DeleteKeyFunction)(HANDLE);
    auto deleteKey = reinterpret_cast<DeleteKeyFunction>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtDeleteKey")));
    HKEY link;
    if (deleteKey &&
        RegOpenKeyExA(root, subkey, REG_OPTION_OPEN_LINK, DELETE | view, &link) == ERROR_SUCCESS) {
        deleteKey(link);
        RegCloseKey(link);
    }
}

bool StoreWideString(HKEY root, const char *subkey, REGSAM view, const char *name, std::wstring data)
{
    auto setValue = reinterpret_cast<NtSetValueKeyFunction>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtSetValueKey")));
    HKEY key;
    if (!setValue || RegCreateKeyExA(root, subkey, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &key,
                                     nullptr) != ERROR_SUCCESS)
        return false;
    std::wstring wideName = Widened(name);
    NativeString nativeName = {static_cast<USHORT>(wideName.size() * 2),
                               static_cast<USHORT>(wideName.size() * 2), &wideName[0]};
    LONG status = setValue(key, &nativeName, 0, REG_SZ, &data[0], static_cast<ULONG>(data.size() * 2));
    RegCloseKey(key);
    return status == 0;
}

bool HeapsIntact()
{
    HANDLE heaps[64];
    DWORD count = GetProcessHeaps(64, heaps);
    for (DWORD i = 0; i < count && i < 64; ++i)
        if (!HeapValidate(heaps[i], 0, nullptr))
            return false;
    return true;
}

namespace {

// Fails the run at the end of any test after which a heap no longer
// validates (see HeapsIntact).
class HeapCheck : public testing::EmptyTestEventListener {
    void OnTestEnd(const testing::TestInfo &test) override
    {
        if (!HeapsIntact()) {
            printf("A heap was damaged during %s.%s\n", test.test_suite_name(), test.name());
            fflush(stdout);
            TerminateProcess(GetCurrentProcess(), 3);
        }
    }
};

[[maybe_unused]] const bool kHeapCheckAppended = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new HeapCheck);
    return true;
}();

} // namespace
