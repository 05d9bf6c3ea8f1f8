// Registers the common control classes (the progress bar among them) with
// comctl32 loaded from the system directory only. The updater is often started
// from a downloads folder; importing comctl32 statically would let a planted
// comctl32.dll beside it be loaded instead.
#include "app/app.h"

#include <string.h>

namespace {

typedef BOOL(WINAPI *SetDefaultDllDirectoriesFunction)(DWORD);
typedef void(WINAPI *InitCommonControlsFunction)();

constexpr DWORD kSearchSystem32 = 0x00000800; // LOAD_LIBRARY_SEARCH_SYSTEM32
constexpr WORD kInitCommonControlsOrdinal = 17;

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

} // namespace

void RestrictDllSearch()
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel)
        return;
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void *>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefault)
        setDefault(kSearchSystem32);
}

int InitCommonControlsFromSystem()
{
    HMODULE comctl = LoadSystemLibrary("comctl32.dll");
    if (!comctl)
        return 0;
    auto init = reinterpret_cast<InitCommonControlsFunction>(
        reinterpret_cast<void *>(GetProcAddress(comctl, MAKEINTRESOURCEA(kInitCommonControlsOrdinal))));
    if (!init)
        return 0;
    init();
    return 1;
}
