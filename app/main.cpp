// The entry point: discovery (with the player at the screen, the game
// folder's mirrors in the VirtualStore and the trees the update may write
// in), the saved-game list, the payload check, the confirmation, the progress
// dialog; then everything held is released. The exit code is 0 on every path
// and the command line is ignored.
#include "app/app.h"

#include "base/trees.h"
#include "base/prompts.h"
#include "dialog/dialog.h"
#include "discovery/discovery.h"
#include "patch/patch.h"

namespace {

// Adds the saved games the wildcard matches, with the arguments the save
// steps give the rewrite; every problem is a question.
int CollectSavedGames(const char *wildcard)
{
    return CollectMatchingFiles(wildcard, kSaveRuleReplacement, kSavePattern,
                                static_cast<unsigned char>(kSaveRuleLength), 0, 1);
}

// The saved games of the game folder first, then those of each of its
// mirrors in the VirtualStore. A collection that stops leaves the list empty,
// and nothing more is collected.
int CollectEverySavedGame()
{
    if (!CollectSavedGames(TargetPath(kEntrySaveWildcard)))
        return 0;
    for (unsigned mirror = 0; mirror < kMirrorCount; ++mirror)
        if (MirrorPath(mirror, kEntrySaveWildcard) &&
            !CollectSavedGames(MirrorPath(mirror, kEntrySaveWildcard)))
            return 0;
    return 1;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    HardenProcess();
    // Before anything else can happen to the file that was started: every
    // read of the payload goes through this handle.
    OpenOwnFile();

    if (LocateGameAndBuildPaths()) {
        // The player at the screen, whose copies of the game the mirrors
        // are. The question comes only after collections that end normally,
        // with or without saved games. A damaged download, and a game that
        // still runs and holds a file the update changes, are refused before
        // the question, while nothing has been changed yet.
        FindPlayer();
        if (LocateVirtualStoreMirror() && FixUpdateTrees() && CollectEverySavedGame() &&
            VerifyPayloadChunk(0) && CheckTargetsFree() &&
            AskYesNoF(kConfirmUpdate, TargetPath(kEntryInstallDirectory)))
            RunProgressDialog(instance);
        ReleaseFileList();
        ReleaseWriteTrees();
        ReleaseVirtualStoreMirror();
        ReleaseTargetPathTable();
    }
    ReleaseOwnFile();
    return 0;
}
