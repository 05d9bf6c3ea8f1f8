// The update chain: one posted message per step. A step logs what it works
// on, runs its operation, and on success logs " OK", advances the bar and
// posts its successor as its very last action, so at most one step message is
// queued at any time. A failed operation has already shown its message; the
// step then marks the update failed and closes the dialog. A target that has
// a copy in a mirror of the game folder in the VirtualStore is followed by a
// step for each copy (MSG_COPY_STEP), the last of which posts the step's
// successor.
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

int CheckTargetsFree()
{
    for (const UpdateStep &step : kUpdateSteps) {
        if (!step.target)
            continue;
        for (unsigned place = 0; place <= kMirrorCount; ++place) {
            const char *path = place == 0 ? TargetPath(step.target) : MirrorPath(place - 1, step.target);
            if (path && (step.operation == StepOperation::ExtractChunk ? HeldAgainstReplacement(path)
                                                                       : HeldAgainstPokes(path)))
                return ShowErrorF(kFileInUse, path);
        }
    }
    return 1;
}

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
    // A target's copies in the game folder's mirrors get the step's operation
    // right after the real file, each as a step of its own: lParam holds the
    // step's place in the chain and the mirror.
    const bool copy = message == MSG_COPY_STEP;
    const unsigned place = static_cast<unsigned>(lParam) & 0xFF, mirror = static_cast<unsigned>(lParam) >> 8;
    const UpdateStep *step =
        copy ? (place < kUpdateStepCount ? &kUpdateSteps[place] : nullptr) : FindUpdateStep(message);
    if (!step)
        return FALSE;
    const char *target = !step->target ? nullptr
                         : copy        ? MirrorPath(mirror, step->target)
                                       : TargetPath(step->target);
    if (copy && !target)
        return FALSE;

    if (target)
        LogFileStart(dialog, target);
    else
        Log(dialog, kLogRegistry);

    if (!RunOperation(*step, target)) {
        Fail(dialog);
        return TRUE;
    }
    // The next mirror with a copy of the target, else the next step.
    unsigned next = copy ? mirror + 1 : 0;
    while (step->target && next < kMirrorCount && !MirrorPath(next, step->target))
        ++next;
    if (step->target && next < kMirrorCount)
        Advance(dialog, kLogOk, MSG_COPY_STEP, static_cast<LPARAM>((step - kUpdateSteps) | next << 8));
    else
        Advance(dialog, kLogOk, step->next, 0);
    return TRUE;
}
