// The player at the screen, and the folders of theirs that the game reads.
//
// The updater runs as administrator. A player with a standard account who
// types an administrator's password at the prompt runs it as that
// administrator, whose local application data and registry hive are not the
// player's: the copies Windows keeps for the game (its VirtualStore) stand in
// the player's. So the session is asked who sits at it, and where that is
// another user whose folders can be had, theirs are taken.
#include "discovery/discovery.h"

#include "base/holders.h"
#include "base/library.h"

#include <sddl.h>
#include <wtsapi32.h>

#include <stdlib.h>
#include <wchar.h>

namespace {

// Whose folders the update looks in: the player's SID (empty when unknown)
// and local application data (empty: the process's own).
wchar_t playerSid[kSidLength];
wchar_t playerLocalAppData[MAX_PATH];

// first, second and third one after another into out (capacity units);
// false when they don't fit.
bool Compose(wchar_t *out, size_t capacity, const wchar_t *first, const wchar_t *second, const wchar_t *third)
{
    const size_t a = wcslen(first), b = wcslen(second), c = wcslen(third);
    if (a + b + c >= capacity)
        return false;
    wmemcpy(out, first, a);
    wmemcpy(out + a, second, b);
    wmemcpy(out + a + b, third, c + 1);
    return true;
}

// psid as a string SID into text (kSidLength units); false when it can't be.
bool SidText(PSID sid, wchar_t *text)
{
    wchar_t *converted = nullptr;
    if (!ConvertSidToStringSidW(sid, &converted))
        return false;
    bool fits = wcslen(converted) < kSidLength;
    if (fits)
        wcscpy(text, converted);
    LocalFree(converted);
    return fits;
}

// The session's user, as the terminal services name them, as a string SID.
bool SessionUserSid(wchar_t *text)
{
    typedef BOOL(WINAPI * QueryFunction)(HANDLE, DWORD, WTS_INFO_CLASS, LPWSTR *, DWORD *);
    typedef void(WINAPI * FreeFunction)(PVOID);
    HMODULE wts = LoadSystemLibrary("wtsapi32.dll");
    auto query = wts ? reinterpret_cast<QueryFunction>(
                           reinterpret_cast<void *>(GetProcAddress(wts, "WTSQuerySessionInformationW")))
                     : nullptr;
    auto release =
        wts ? reinterpret_cast<FreeFunction>(reinterpret_cast<void *>(GetProcAddress(wts, "WTSFreeMemory")))
            : nullptr;
    LPWSTR user = nullptr, domain = nullptr;
    DWORD bytes = 0;
    bool found = false;
    if (query && release &&
        query(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, WTSUserName, &user, &bytes) &&
        query(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, WTSDomainName, &domain, &bytes) && user[0]) {
        wchar_t account[512], referenced[256];
        BYTE sid[SECURITY_MAX_SID_SIZE];
        DWORD sidSize = sizeof sid, referencedSize = 256;
        SID_NAME_USE use;
        found = Compose(account, 512, domain, L"\\", user) &&
                LookupAccountNameW(nullptr, account, sid, &sidSize, referenced, &referencedSize, &use) &&
                SidText(sid, text);
    }
    if (user)
        release(user);
    if (domain)
        release(domain);
    return found;
}

// The user the process runs as, as a string SID.
bool OwnUserSid(wchar_t *text)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    Handle held(token);
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } info;
    DWORD size = 0;
    return GetTokenInformation(token, TokenUser, &info, sizeof info, &size) &&
           SidText(info.user.User.Sid, text);
}

// A string value as the registry keeps it (nothing expanded) into value
// (MAX_PATH units); false when it is missing, of another type or too long.
bool ReadString(HKEY root, const wchar_t *subkey, const wchar_t *name, wchar_t *value)
{
    RegistryKey key;
    DWORD type = 0, size = (MAX_PATH - 1) * sizeof(wchar_t);
    if (RegOpenKeyExW(root, subkey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.Receive()) != ERROR_SUCCESS ||
        RegQueryValueExW(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE *>(value), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    value[size / sizeof(wchar_t)] = L'\0';
    return true;
}

// value with each %USERPROFILE% (letter case aside) made profile, into out
// (MAX_PATH units); false when anything else is left to expand, profile is
// needed and missing, or the result is no full path within MAX_PATH.
bool WithProfile(const wchar_t *value, const wchar_t *profile, wchar_t *out)
{
    static const wchar_t kProfile[] = L"%USERPROFILE%";
    const size_t variable = wcslen(kProfile);
    size_t length = 0;
    for (const wchar_t *at = value; *at;) {
        const bool isProfile = _wcsnicmp(at, kProfile, variable) == 0;
        if (!isProfile && *at == L'%')
            return false;
        const wchar_t *piece = isProfile ? profile : at;
        const size_t pieceLength = isProfile ? wcslen(profile) : 1;
        if ((isProfile && !profile[0]) || length + pieceLength >= MAX_PATH)
            return false;
        wmemcpy(out + length, piece, pieceLength);
        length += pieceLength;
        at += isProfile ? variable : 1;
    }
    out[length] = L'\0';
    const bool drive = length >= 3 && out[1] == L':' && out[2] == L'\\';
    const bool network = length >= 3 && out[0] == L'\\' && out[1] == L'\\';
    return drive || network;
}

} // namespace

void AskWhoPlays(PlayerAnswers *answers)
{
    if (!SessionUserSid(answers->sessionSid))
        answers->sessionSid[0] = L'\0';
    if (!OwnUserSid(answers->ownSid))
        answers->ownSid[0] = L'\0';
}

void AskPlayerFolders(const wchar_t *sid, PlayerAnswers *answers)
{
    wchar_t subkey[kSidLength + 128], profile[MAX_PATH];
    if (!Compose(subkey, kSidLength + 128, sid, L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer",
                 L"\\User Shell Folders") ||
        !ReadString(HKEY_USERS, subkey, L"Local AppData", answers->localAppData))
        answers->localAppData[0] = L'\0';
    // A profile's own path names only variables of the whole system
    // (%SystemDrive%), the same for every user.
    DWORD expanded = 0;
    if (!Compose(subkey, kSidLength + 128, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\",
                 sid, L"") ||
        !ReadString(HKEY_LOCAL_MACHINE, subkey, L"ProfileImagePath", profile) ||
        (expanded = ExpandEnvironmentStringsW(profile, answers->profile, MAX_PATH)) == 0 ||
        expanded > MAX_PATH)
        answers->profile[0] = L'\0';
}

void DecidePlayer(const PlayerAnswers &answers)
{
    wcscpy(playerSid, answers.ownSid);
    playerLocalAppData[0] = L'\0';
    wchar_t local[MAX_PATH];
    if (answers.sessionSid[0] && answers.ownSid[0] && _wcsicmp(answers.sessionSid, answers.ownSid) != 0 &&
        WithProfile(answers.localAppData, answers.profile, local)) {
        wcscpy(playerSid, answers.sessionSid);
        wcscpy(playerLocalAppData, local);
    }
}

void FindPlayer()
{
    PlayerAnswers answers = {};
    AskWhoPlays(&answers);
    if (answers.sessionSid[0])
        AskPlayerFolders(answers.sessionSid, &answers);
    DecidePlayer(answers);
}

const wchar_t *PlayerSid()
{
    return playerSid[0] ? playerSid : nullptr;
}

const wchar_t *PlayerLocalAppData()
{
    return playerLocalAppData[0] ? playerLocalAppData : nullptr;
}

void ForgetPlayer()
{
    playerSid[0] = playerLocalAppData[0] = L'\0';
}
