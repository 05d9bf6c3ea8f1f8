// The update dialog: the progress dialog's procedure and the chain of update
// steps it runs, one posted window message per step, with the chain's
// compiled-in data.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "patch/patch.h"

// Private window messages of the progress dialog.
constexpr UINT MSG_LOG_APPEND = WM_APP + 0;    // lParam: UTF-16 text to append; sent
constexpr UINT MSG_FIRST_STEP = WM_APP + 1;    // posted by WM_INITDIALOG
constexpr UINT MSG_SAVE_STEP = WM_APP + 11;    // lParam: index into entries
constexpr UINT MSG_SCALE_BANNER = WM_APP + 12; // wParam: the new DPI; posted by WM_DPICHANGED
constexpr UINT MSG_COPY_STEP = WM_APP + 13;    // lParam: index into kUpdateSteps, mirror << 8
constexpr UINT MSG_UPDATE_DONE = WM_APP + 100; // the chain has finished

// Set by a failing step; the close that follows asks nothing.
extern int updateFailed;
// Set when the chain has finished; the exit code of the message loop.
extern int updateDone;

// The progress dialog's procedure: centres and fills the dialog, starts the
// chain, appends to the log, asks before a cancel, shows the finished state
// and, when it closes, posts the quit message with updateDone.
//
// What the chain writes to the log (MSG_LOG_APPEND) and the steps it counts
// on the bar (AdvanceProgress) are kept aside and brought to the screen
// together: at the first append or step once 50 ms have passed since they
// were last shown, and always before a box, when the chain ends and when a
// step fails. Each append to the visible log costs Wine a repaint of its
// scroll bar at once.
//
// While a step's file work runs, the dialog brings them up to date every
// 100 ms and handles its paint messages and the messages other programs
// send it, so that it never stops answering; input and posted messages wait
// for the step's end, and a close asked for meanwhile is taken up after it.
INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Counts one more step done on the bar.
void AdvanceProgress(HWND dialog);
// Brings the log and the bar up to date at once.
void ShowProgressNow(HWND dialog);

// ---------------------------------------------------------------------------
// The banner at the display's scale.

// The DPI of window: GetDpiForWindow's where Windows has it (10 1607 on),
// else the system's.
UINT WindowDpi(HWND window);
// Sets the dialog's banner to the artwork scaled to dpi (380 x 69 pixels at
// 96) and deletes the bitmap the banner showed before. Nothing changes when
// there is no memory for the new one.
void ScaleBanner(HWND dialog, UINT dpi);
// Takes the banner's bitmap from the control and deletes it; for when the
// dialog goes.
void ReleaseBanner(HWND dialog);

// ---------------------------------------------------------------------------
// The chain.

// What a step does to its target.
enum class StepOperation : uint8_t { RegistryEntries, ExtractChunk, BytePatches };

// One step of the chain, run when its message arrives.
struct UpdateStep {
    UINT message;   // the step's private message
    uint8_t target; // entry of the target path table (0: none)
    StepOperation operation;
    const BytePatch *table; // byte-patch steps: their table
    uint16_t recordCount;   // and its number of records
    UINT next;              // message posted after success
};

// Steps of the chain before the saved games, and the records of their tables.
constexpr unsigned kUpdateStepCount = 35;
constexpr unsigned kBytePatchRecordCount = 500;

// The steps in chain order.
extern const UpdateStep kUpdateSteps[kUpdateStepCount];

// The records of the 33 byte-patch tables, back to back in step order.
extern const BytePatch kBytePatchRecords[];

// Before anything is changed: 1 when no file the chain changes, in the game
// folder or a mirror, is held by another program so that its step could not
// open it; else 0 after the box naming the first such file. Every other
// trouble with a file is left to its step.
int CheckTargetsFree();

// The step handled by message, or null.
const UpdateStep *FindUpdateStep(UINT message);

// Runs the step of message in the dialog (logging, operation, progress, next
// message). Returns FALSE when message isn't a step of the chain.
BOOL RunUpdateStep(HWND dialog, UINT message, LPARAM lParam);
