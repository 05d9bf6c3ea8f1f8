// The update chain: one posted message per step. A step logs what it works
// on, runs its operation, and on success logs " OK", advances the bar and
// posts its successor as its very last action, so at most one step message is
// queued at any time. A failed operation has already shown its message; the
// step then marks the update failed and closes the dialog. A target that has
// a copy in the game folder's mirror in the VirtualStore is followed by a
// step for the copy (MSG_COPY_STEP), which then posts the step's successor.
#include "dialog/dialog.h"

#include "base/holders.h"
#include "base/names.h"
#include "base/prompts.h"
#include "discovery/discovery.h"

namespace {

// Appends a piece of a log line, in UTF-16 converted from the code page the
// piece is in, so that no line pastes the bytes of two code pages together.
void Append(HWND dialog, UINT codePage, const char *text)
{
    const WideText wide(codePage, text);
    if (!wide.Get()) {
        ShowError(kOutOfMemory);
        return;
    }
    SendMessageW(dialog, MSG_LOG_APPEND, 0, reinterpret_cast<LPARAM>(wide.Get()));
}

// One of the updater's own texts.
void Log(HWND dialog, const char *text)
{
    Append(dialog, kTextCodePage, text);
}

void LogFileStart(HWND dialog, const char *path)
{
    Log(dialog, kLogFileOpen);
    // Paths are in the ANSI code page of the file calls that use them.
    Append(dialog, CP_ACP, path);
    Log(dialog, kLogFileClose);
}

// Ends the step's line with ending, advances the bar and posts the next step.
void Advance(HWND dialog, const char *ending, UINT next, LPARAM nextParam)
{
    Log(dialog, ending);
    AdvanceProgress(dialog);
    PostMessageW(dialog, next, 0, nextParam);
}

void Fail(HWND dialog)
{
    ShowProgressNow(dialog);
    updateFailed = 1;
    PostMessageW(dialog, WM_CLOSE, 0, 0);
}

int RunOperation(const UpdateStep &step, const char *target)
{
    switch (step.operation) {
    case StepOperation::RegistryEntries:
        return ApplyRegistryEntries();
    case StepOperation::ExtractChunk:
        return ExtractChunkToFile(target, 0);
    case StepOperation::BytePatches:
        return ApplyBytePatches(target, step.table, step.recordCount);
    }
    return 0;
}

void RunSaveStep(HWND dialog, uint32_t index)
{
    if (index >= entryCount) {
        PostMessageW(dialog, MSG_UPDATE_DONE, 0, 0);
        return;
    }
    const char *file = entries[index];
    LogFileStart(dialog, file);
    // A saved game left as it was, or not wholly done, because the user chose
    // to go on gets no " OK".
    bool complete = false;
    if (ReplaceInFileKeepTimes(file, kSaveRuleReplacement, kSavePattern, kSaveRuleLength, 0, 1, &complete))
        Advance(dialog, complete ? kLogOk : kLogSkipped, MSG_SAVE_STEP, static_cast<LPARAM>(index + 1));
    else
        Fail(dialog);
}

} // namespace

const UpdateStep *FindUpdateStep(UINT message)
{
    for (const UpdateStep &step : kUpdateSteps)
        if (step.message == message)
            return &step;
    return nullptr;
}

BOOL RunUpdateStep(HWND dialog, UINT message, LPARAM lParam)
{
    if (message == MSG_SAVE_STEP) {
        RunSaveStep(dialog, static_cast<uint32_t>(lParam));
        return TRUE;
    }
    // A target's copy in the game folder's mirror gets the step's operation
    // right after the real file, as a step of its own.
    const bool copy = message == MSG_COPY_STEP;
    const UpdateStep *step =
        copy ? (static_cast<WPARAM>(lParam) < kUpdateStepCount ? &kUpdateSteps[lParam] : nullptr)
             : FindUpdateStep(message);
    if (!step)
        return FALSE;
    const char *target = !step->target ? nullptr : copy ? MirrorPath(step->target) : TargetPath(step->target);
    if (copy && !target)
        return FALSE;
    const bool copyFollows = !copy && step->target && MirrorPath(step->target);

    if (target)
        LogFileStart(dialog, target);
    else
        Log(dialog, kLogRegistry);

    if (RunOperation(*step, target))
        Advance(dialog, kLogOk, copyFollows ? MSG_COPY_STEP : step->next,
                copyFollows ? static_cast<LPARAM>(step - kUpdateSteps) : 0);
    else
        Fail(dialog);
    return TRUE;
}
