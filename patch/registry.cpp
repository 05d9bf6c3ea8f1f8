// The update's registry values, written one record at a time into keys that
// must already exist.
#include "patch/patch.h"

#include "base/holders.h"
#include "base/prompts.h"
#include "discovery/discovery.h"

#include <string.h>

const RegistryEntry kRegistryEntries[1] = {
    {HKEY_LOCAL_MACHINE, kGameKeyPath, "Guid", REG_SZ, "{7B3D0A52-4E19-4C86-A0F1-93D25E6B8C14}"},
};

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
        if (!written)
            return ShowError(kRegistryCannotModify);
    }
    return 1;
}

int ApplyRegistryEntries()
{
    return ApplyRegistryTable(kRegistryEntries, sizeof kRegistryEntries / sizeof kRegistryEntries[0]);
}
