// The entry point: discovery, the saved-game list, the payload check, the
// confirmation, the progress dialog; then everything held is released. The
// exit code is 0 on every path and the command line is ignored.
#include "app/app.h"

#include "base/prompts.h"
#include "discovery/discovery.h"
#include "patch/patch.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    RestrictDllSearch();

    if (LocateGameAndBuildPaths()) {
        // A collection that stops leaves the list empty; the question comes
        // only after one that ends normally, with or without saved games. A
        // damaged download is refused before the question, while nothing has
        // been changed yet.
        if (CollectMatchingFiles(TargetPath(kEntrySaveWildcard), kSaveRuleReplacement, kSavePattern,
                                 static_cast<unsigned char>(kSaveRuleLength), 0, 1) &&
            VerifyPayloadChunk(0) && AskYesNoF(kConfirmUpdate, TargetPath(kEntryInstallDirectory)))
            RunProgressDialog(instance);
        ReleaseFileList();
        ReleaseTargetPathTable();
    }
    return 0;
}
