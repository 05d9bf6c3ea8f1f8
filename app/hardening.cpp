// What makes the process fit to run as administrator from a folder the
// player's account may write to (a downloads folder), done once, before
// anything else.
#include "app/app.h"

#include "base/library.h"

namespace {

typedef BOOL(WINAPI *SetDefaultDllDirectoriesFunction)(DWORD);
typedef BOOL(WINAPI *SetPolicyFunction)(int policy, PVOID buffer, SIZE_T length);

// ProcessRedirectionTrustPolicy, and its EnforceRedirectionTrust flag.
constexpr int kRedirectionTrustPolicy = 16;

template <typename Function> Function Kernel32(const char *name)
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    return kernel ? reinterpret_cast<Function>(reinterpret_cast<void *>(GetProcAddress(kernel, name)))
                  : nullptr;
}

} // namespace

void HardenProcess()
{
    // A folder on an empty removable drive gets the updater's own box, not
    // the system's "There is no disk in the drive".
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    // Libraries come from the system directory only, where Windows can be
    // told so (Windows 8, or 7 with KB2533623): a planted one beside the
    // updater is never found first.
    if (auto setDefault = Kernel32<SetDefaultDllDirectoriesFunction>("SetDefaultDllDirectories"))
        setDefault(kSearchSystem32);
    // Windows' own guard where the system has it (Windows 10 22H2 and 11):
    // the process follows no junction that a non-administrator made.
    DWORD flags = 1;
    if (auto setPolicy = Kernel32<SetPolicyFunction>("SetProcessMitigationPolicy"))
        setPolicy(kRedirectionTrustPolicy, &flags, sizeof flags);
}
