// The update's registry values, written one record at a time into keys that
// must already exist, and into the copies of those keys that Windows keeps
// for the game in the player's hive.
#include "patch/patch.h"

#include "base/holders.h"
#include "base/names.h"
#include "base/prompts.h"
#include "discovery/discovery.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

const RegistryEntry kRegistryEntries[1] = {
    {HKEY_LOCAL_MACHINE, kGameKeyPath, "Guid", REG_SZ, "{7B3D0A52-4E19-4C86-A0F1-93D25E6B8C14}"},
};

namespace {

// What MinGW-w64's headers lack of the native query of a key's name.
typedef LONG(NTAPI *QueryKeyFunction)(HANDLE key, int informationClass, PVOID information, ULONG length,
                                      PULONG resultLength);
constexpr int kKeyNameInformation = 3;

// True when key is the key the registry names name (letter case aside, as
// registry names are): no link on the way led elsewhere.
bool IsNamed(HKEY key, const wchar_t *name)
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    auto queryKey = ntdll ? reinterpret_cast<QueryKeyFunction>(
                                reinterpret_cast<void *>(GetProcAddress(ntdll, "NtQueryKey")))
                          : nullptr;
    union {
        ULONG length;
        BYTE bytes[4 + 2 * 1024];
    } information;
    ULONG size = 0;
    if (!queryKey || queryKey(key, kKeyNameInformation, &information, sizeof information, &size) != 0 ||
        information.length > sizeof information - 4)
        return false;
    const wchar_t *own = reinterpret_cast<const wchar_t *>(information.bytes + 4);
    return CompareStringOrdinal(own, static_cast<int>(information.length / sizeof(wchar_t)), name, -1,
                                TRUE) == CSTR_EQUAL;
}

// Where Windows keeps its copies of a key below HKEY_LOCAL_MACHINE\Software
// for a program it virtualizes (the game has no manifest and runs without
// elevation), in the player's classes hive: below the machine's key itself,
// and below its 32-bit view on a 64-bit Windows.
const wchar_t *const kStoreViews[] = {L"\\VirtualStore\\MACHINE\\SOFTWARE\\",
                                      L"\\VirtualStore\\MACHINE\\SOFTWARE\\WOW6432Node\\"};

// Writes entry's value (size bytes) into each copy of its key that the
// player's classes hive holds; a copy that isn't there is not made. The hive
// is the player's to write: a copy is written only where the key opened is
// the key named. True when every copy there is was written (or there is
// none).
bool WriteStoredCopies(const RegistryEntry &entry, DWORD size)
{
    static const char kSoftware[] = "Software\\";
    const wchar_t *sid = PlayerSid();
    if (!sid || entry.rootKey != HKEY_LOCAL_MACHINE || _strnicmp(entry.subkey, kSoftware, strlen(kSoftware)))
        return true;
    HeapMemory rest(WidenName(entry.subkey + strlen(kSoftware)));
    if (!rest)
        return false;
    static const wchar_t kUsers[] = L"\\REGISTRY\\USER\\", kClasses[] = L"_Classes";
    for (const wchar_t *view : kStoreViews) {
        // The key's name as the registry gives it: "\REGISTRY\USER\", then
        // its path below HKEY_USERS.
        const size_t users = wcslen(kUsers);
        const size_t length = users + wcslen(sid) + wcslen(kClasses) + wcslen(view) +
                              wcslen(reinterpret_cast<const wchar_t *>(rest.Get()));
        HeapMemory name(malloc((length + 1) * sizeof(wchar_t)));
        wchar_t *full = reinterpret_cast<wchar_t *>(name.Get());
        if (!full)
            return false;
        wcscpy(full, kUsers);
        wcscat(full, sid);
        wcscat(full, kClasses);
        wcscat(full, view);
        wcscat(full, reinterpret_cast<const wchar_t *>(rest.Get()));
        // The literal path: Wine would show a 32-bit program another key.
        RegistryKey key;
        LONG opened = RegOpenKeyExW(HKEY_USERS, full + users, 0,
                                    KEY_SET_VALUE | KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.Receive());
        if (opened == ERROR_FILE_NOT_FOUND || opened == ERROR_PATH_NOT_FOUND)
            continue;
        if (opened != ERROR_SUCCESS || !IsNamed(key.Get(), full) ||
            RegSetValueExA(key.Get(), entry.valueName, 0, entry.valueType,
                           reinterpret_cast<const BYTE *>(entry.data), size) != ERROR_SUCCESS)
            return false;
    }
    return true;
}

} // namespace

int ApplyRegistryTable(const RegistryEntry *table, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        const RegistryEntry &entry = table[i];
        if (entry.valueType != REG_SZ) {
            ShowError(kRegistryBadType);
            continue;
        }
        DWORD size = static_cast<DWORD>(strlen(entry.data) + 1);
        RegistryKey key;
        bool written =
            RegOpenKeyExA(entry.rootKey, entry.subkey, 0, KEY_SET_VALUE, key.Receive()) == ERROR_SUCCESS &&
            RegSetValueExA(key.Get(), entry.valueName, 0, entry.valueType,
                           reinterpret_cast<const BYTE *>(entry.data), size) == ERROR_SUCCESS;
        key.Close();
        // After the key itself, the copies the game may read instead.
        if (!written || !WriteStoredCopies(entry, size))
            return ShowError(kRegistryCannotModify);
    }
    return 1;
}

int ApplyRegistryEntries()
{
    return ApplyRegistryTable(kRegistryEntries, sizeof kRegistryEntries / sizeof kRegistryEntries[0]);
}
