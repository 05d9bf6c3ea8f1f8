// Loading a library from the system directory, on every Windows the updater
// runs on.
#include "base/library.h"

#include <string.h>

HMODULE LoadSystemLibrary(const char *name)
{
    // LOAD_LIBRARY_SEARCH_SYSTEM32 is known to the loader wherever
    // SetDefaultDllDirectories exists (Windows 8, or 7 with KB2533623).
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel && GetProcAddress(kernel, "SetDefaultDllDirectories"))
        return LoadLibraryExA(name, nullptr, kSearchSystem32);

    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length + 1 + strlen(name) >= MAX_PATH)
        return nullptr;
    path[length] = '\\';
    strcpy(path + length + 1, name);
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
