// The entry point: discovery, the saved-game list, the confirmation, the
// progress dialog; then everything held is released. The exit code is 0 on
// every path and the command line is ignored.
#include "app/app.h"

#include "discovery/discovery.h"
#include "patch/patch.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    RestrictDllSearch();

    if (!LocateGameAndBuildPaths())
        return 0;

    if (!CollectMatchingFiles(TargetPath(kEntrySaveWildcard), kSaveRuleReplacement, kSavePattern,
                              static_cast<unsigned char>(kSaveRuleLength), 0, 1)) {
        ReleaseTargetPathTable();
        return 0;
    }

    if (AskYesNoF(kConfirmUpdate, TargetPath(kEntryInstallDirectory)))
        RunProgressDialog(instance);

    ReleaseFileList();
    ReleaseTargetPathTable();
    return 0;
}
