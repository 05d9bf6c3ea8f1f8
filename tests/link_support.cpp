// Links for the tests of the door; see link_support.h.
#include "tests/link_support.h"

#include "tests/test_support.h"

#include <gtest/gtest.h>

#include <winioctl.h>

#include <vector>

namespace {

// A path (ANSI) as Wine's Unix side names it, in UTF-16 for a command line.
std::wstring UnixName(const std::wstring &path)
{
    typedef char *(CDECL * UnixNameFunction)(const wchar_t *);
    auto unixName = reinterpret_cast<UnixNameFunction>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    char *name = unixName ? unixName(path.c_str()) : nullptr;
    if (!name)
        return std::wstring();
    std::wstring wide(MultiByteToWideChar(CP_UTF8, 0, name, -1, nullptr, 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, name, -1, &wide[0], static_cast<int>(wide.size()));
    wide.resize(wide.size() - 1);
    HeapFree(GetProcessHeap(), 0, name);
    return wide;
}

// The same for a name that may not lead anywhere (a link to come, or one
// whose target is gone): its folder's Unix name and its own behind it.
std::wstring UnixNameOfEntry(const std::wstring &path)
{
    const size_t cut = path.rfind(L'\\');
    const std::wstring folder = UnixName(path.substr(0, cut));
    return folder.empty() ? folder : folder + L"/" + path.substr(cut + 1);
}

// Runs a Unix program (its path, then its arguments) under Wine and waits
// until done() holds: the exit code Wine reports for it means nothing. The
// program is named as Wine names it, which works also in a prefix without a
// drive for the Unix root ("\\?\unix\...").
bool RunUnix(const char *program, const std::wstring &arguments, bool (*done)(const std::wstring &),
             const std::wstring &path)
{
    typedef wchar_t *(CDECL * DosNameFunction)(const char *);
    auto dosName = reinterpret_cast<DosNameFunction>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name")));
    wchar_t *name = dosName ? dosName(program) : nullptr;
    if (!name)
        return false;
    const std::wstring application = name;
    HeapFree(GetProcessHeap(), 0, name);
    std::wstring commandLine = L"\"" + application + L"\" " + arguments;
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int i = 0; i < 500 && !done(path); ++i)
        Sleep(10);
    return done(path);
}

bool Exists(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Gone from its folder's listing, where a link whose target is gone still
// stands.
bool Gone(const std::wstring &path)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return true;
    FindClose(search);
    return false;
}

// What MinGW-w64's headers lack of a mount point's reparse data.
struct MountPointData {
    DWORD ReparseTag;
    WORD ReparseDataLength;
    WORD Reserved;
    WORD SubstituteNameOffset;
    WORD SubstituteNameLength;
    WORD PrintNameOffset;
    WORD PrintNameLength;
    WCHAR PathBuffer[1024];
};

} // namespace

bool UnderWine()
{
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

bool MakeLink(const std::string &link, const std::string &target, bool folder)
{
    const std::wstring wideLink = Widened(link), wideTarget = Widened(target);
    if (UnderWine()) {
        const std::wstring linkName = UnixNameOfEntry(wideLink), targetName = UnixName(wideTarget);
        if (linkName.empty() || targetName.empty())
            return false;
        return RunUnix("/bin/ln", L"-s \"" + targetName + L"\" \"" + linkName + L"\"", Exists, wideLink);
    }
    if (folder) {
        wchar_t full[MAX_PATH];
        return GetFullPathNameW(wideTarget.c_str(), MAX_PATH, full, nullptr) &&
               MakeJunction(wideLink, L"\\??\\" + std::wstring(full));
    }
    // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE, for a machine in developer
    // mode; an administrator needs none.
    return CreateSymbolicLinkW(wideLink.c_str(), wideTarget.c_str(), 0x2) ||
           CreateSymbolicLinkW(wideLink.c_str(), wideTarget.c_str(), 0);
}

bool IsLink(const std::wstring &path, DWORD attributes)
{
    if (!UnderWine())
        return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    wchar_t full[MAX_PATH], final[MAX_PATH];
    HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    DWORD length = GetFinalPathNameByHandleW(file, final, MAX_PATH, VOLUME_NAME_DOS);
    CloseHandle(file);
    DWORD fullLength = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    // Spelt exactly: a link may lead into a folder whose name differs from
    // its own in letter case alone, another folder there.
    return length > 4 && length < MAX_PATH && fullLength > 0 && fullLength < MAX_PATH &&
           wcscmp(final + 4, full) != 0;
}

void RemoveLink(const std::wstring &link)
{
    if (UnderWine()) {
        // Wine removes neither a link to a folder nor, through it, anything
        // but what it names.
        const std::wstring name = UnixNameOfEntry(link);
        if (!name.empty())
            RunUnix("/bin/rm", L"-f \"" + name + L"\"", Gone, link);
        return;
    }
    DWORD attributes = GetFileAttributesW(link.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        RemoveDirectoryW(link.c_str());
    else
        DeleteFileW(link.c_str());
}

bool RenameOnUnixSide(const std::string &from, const std::string &to)
{
    const std::wstring source = UnixNameOfEntry(Widened(from)), destination = UnixNameOfEntry(Widened(to));
    return UnderWine() && !source.empty() && !destination.empty() &&
           RunUnix("/bin/mv", L"-f \"" + source + L"\" \"" + destination + L"\"", Gone, Widened(from));
}

bool MakeJunction(const std::wstring &link, const std::wstring &substitute)
{
    if (UnderWine() || substitute.size() > 500 || !CreateDirectoryW(link.c_str(), nullptr))
        return false;
    HANDLE folder = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
        RemoveDirectoryW(link.c_str());
        return false;
    }
    // The substitute name, its NUL, then an empty print name and its NUL.
    MountPointData data = {};
    const WORD bytes = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
    data.ReparseTag = IO_REPARSE_TAG_MOUNT_POINT;
    data.SubstituteNameLength = bytes;
    data.PrintNameOffset = static_cast<WORD>(bytes + sizeof(wchar_t));
    memcpy(data.PathBuffer, substitute.c_str(), bytes);
    data.ReparseDataLength = static_cast<WORD>(8 + bytes + 2 * sizeof(wchar_t));
    DWORD returned = 0;
    BOOL made = DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, &data, 8 + data.ReparseDataLength, nullptr,
                                0, &returned, nullptr);
    CloseHandle(folder);
    if (!made)
        RemoveDirectoryW(link.c_str());
    return made != 0;
}

bool MakeJunctionAsStandardUser(const std::wstring &link, const std::wstring &substitute)
{
    HANDLE own = nullptr, restricted = nullptr, impersonation = nullptr;
    BYTE administrators[SECURITY_MAX_SID_SIZE], medium[SECURITY_MAX_SID_SIZE];
    DWORD administratorsSize = sizeof administrators, mediumSize = sizeof medium;
    bool made = false;
    if (!UnderWine() &&
        OpenProcessToken(GetCurrentProcess(),
                         TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT, &own) &&
        CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &administratorsSize) &&
        CreateWellKnownSid(WinMediumLabelSid, nullptr, medium, &mediumSize)) {
        SID_AND_ATTRIBUTES denied = {administrators, 0};
        TOKEN_MANDATORY_LABEL label = {};
        label.Label.Sid = medium;
        label.Label.Attributes = SE_GROUP_INTEGRITY;
        if (CreateRestrictedToken(own, DISABLE_MAX_PRIVILEGE, 1, &denied, 0, nullptr, 0, nullptr,
                                  &restricted) &&
            SetTokenInformation(restricted, TokenIntegrityLevel, &label,
                                sizeof label + GetLengthSid(medium)) &&
            DuplicateTokenEx(restricted, TOKEN_IMPERSONATE | TOKEN_QUERY, nullptr, SecurityImpersonation,
                             TokenImpersonation, &impersonation) &&
            SetThreadToken(nullptr, impersonation)) {
            made = MakeJunction(link, substitute);
            RevertToSelf();
        }
    }
    for (HANDLE token : {own, restricted, impersonation})
        if (token)
            CloseHandle(token);
    return made;
}

bool HasRedirectionGuard()
{
    typedef BOOL(WINAPI * GetPolicyFunction)(HANDLE, int, PVOID, SIZE_T);
    auto getPolicy = reinterpret_cast<GetPolicyFunction>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetProcessMitigationPolicy")));
    DWORD flags = 0;
    // ProcessRedirectionTrustPolicy; older systems refuse to answer for it.
    return !UnderWine() && getPolicy && getPolicy(GetCurrentProcess(), 16, &flags, sizeof flags);
}

FixedTrees::FixedTrees(const std::string &game, const char *mirror)
{
    const char *refused = nullptr;
    const char *directories[kTreeCount] = {game.c_str(), mirror};
    DWORD error = 0;
    EXPECT_EQ(1, FixWriteTrees(directories, &refused, &error)) << (refused ? refused : "");
}
