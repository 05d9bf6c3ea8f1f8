// Registers the common control classes (the progress bar among them) with
// comctl32 loaded from the system directory only. The updater is often started
// from a downloads folder; importing comctl32 statically would let a planted
// comctl32.dll beside it be loaded instead.
#include "app/app.h"

#include "base/library.h"

namespace {

typedef BOOL(WINAPI *SetDefaultDllDirectoriesFunction)(DWORD);
typedef void(WINAPI *InitCommonControlsFunction)();

constexpr WORD kInitCommonControlsOrdinal = 17;

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
