// The progress dialog: centred on the desktop, a status line, a running log, a
// progress bar and one button. It starts the update chain when it opens, asks
// before the user cancels a running update, and ends the message loop with
// updateDone as exit code when it closes.
//
// The log and the bar are brought up to date in batches (see dialog.h): with
// Wine's default theme each append to the visible log repaints its scroll bar
// at once, some sixty requests to Wine's server, which made nearly all of a
// saved game's step.
//
// The dialog is a Unicode window, and every text reaches it through the wide
// calls in UTF-16 (the log's pieces come so from the chain): an ANSI window, or
// an ANSI call, would read the Windows-1250 texts in the system's code page.
#include "dialog/dialog.h"

#include "base/holders.h"
#include "base/names.h"
#include "base/prompts.h"
#include "discovery/discovery.h"
#include "resource.h"

#include <commctrl.h>
#include <stdlib.h>
#include <wchar.h>

int updateFailed = 0;
int updateDone = 0;

namespace {

// How long the log and the bar may lag behind the chain, in milliseconds.
constexpr DWORD kShowInterval = 50;
// How often a step's file work lets the window answer, in milliseconds.
constexpr DWORD kAnswerInterval = 100;

void AppendToLogNow(HWND window, const wchar_t *text)
{
    // -2 is clamped to the end of the text: caret at the end, no selection.
    SendDlgItemMessageW(window, IDC_LOG, EM_SETSEL, static_cast<WPARAM>(-2), -2);
    SendDlgItemMessageW(window, IDC_LOG, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
}

// One of the updater's own texts into a control of the dialog.
void SetItemText(HWND window, int id, const char *text)
{
    SetDlgItemTextW(window, id, WideText(kTextCodePage, text).Get());
}

// What the chain has written to the log and counted on the bar since they
// were last brought up to date, and when that was.
struct Pending {
    wchar_t *text = nullptr; // length units in a block of capacity, a NUL's room kept
    size_t length = 0;
    size_t capacity = 0;
    int steps = 0;
    DWORD shownAt = 0;
};
Pending pending;

void ShowPending(HWND window)
{
    if (pending.length > 0) {
        pending.text[pending.length] = L'\0';
        AppendToLogNow(window, pending.text);
        pending.length = 0;
    }
    if (pending.steps > 0) {
        SendDlgItemMessageW(window, IDC_PROGRESS, PBM_DELTAPOS, static_cast<WPARAM>(pending.steps), 0);
        pending.steps = 0;
    }
    pending.shownAt = GetTickCount();
}

void ShowPendingIfDue(HWND window)
{
    if (GetTickCount() - pending.shownAt >= kShowInterval)
        ShowPending(window);
}

void ForgetPending()
{
    free(pending.text);
    pending = Pending();
    pending.shownAt = GetTickCount();
}

// Keeps text aside; when there is no memory for it, everything goes to the
// log at once instead, in the same order.
void AppendToLog(HWND window, const wchar_t *text)
{
    size_t length = wcslen(text);
    if (pending.length + length + 1 > pending.capacity) {
        size_t capacity = pending.capacity ? pending.capacity : 4096;
        while (capacity < pending.length + length + 1)
            capacity *= 2;
        wchar_t *grown = static_cast<wchar_t *>(realloc(pending.text, capacity * sizeof(wchar_t)));
        if (!grown) {
            ShowPending(window);
            AppendToLogNow(window, text);
            return;
        }
        pending.text = grown;
        pending.capacity = capacity;
    }
    wmemcpy(pending.text + pending.length, text, length);
    pending.length += length;
    ShowPendingIfDue(window);
}

// Set while the window answers in the middle of a step's file work, and
// when it last did.
bool answering = false;
DWORD answeredAt = 0;

// Called after each block of a step's file work: every kAnswerInterval ms the
// log and the bar are brought up to date, the messages other programs have
// sent are handled (inside PeekMessage) and so are the paint messages. Input
// and posted messages stay queued: no step can start inside another.
void KeepAnswering()
{
    HWND window = DialogWindow;
    if (!window || answering || GetTickCount() - answeredAt < kAnswerInterval)
        return;
    answering = true;
    ShowPending(window);
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    // Bounded, in case a window leaves its area unpainted.
    for (int i = 0; i < 64 && PeekMessageW(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE); ++i)
        DispatchMessageW(&message);
    answering = false;
    answeredAt = GetTickCount();
}

void ShowPendingBeforeBox()
{
    if (DialogWindow)
        ShowPending(DialogWindow);
}

void CentreOnDesktop(HWND window)
{
    RECT desktop, own;
    GetWindowRect(GetDesktopWindow(), &desktop);
    GetWindowRect(window, &own);
    int width = own.right - own.left;
    int height = own.bottom - own.top;
    int x = desktop.left + ((desktop.right - desktop.left) - width) / 2;
    int y = desktop.top + ((desktop.bottom - desktop.top) - height) / 2;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE);
}

void OnInitDialog(HWND window)
{
    // At 96 DPI the template's own bitmap stays.
    UINT dpi = WindowDpi(window);
    if (dpi != USER_DEFAULT_SCREEN_DPI)
        ScaleBanner(window, dpi);
    CentreOnDesktop(window);
    SetWindowTextW(window, WideText(kTextCodePage, kCaption).Get());
    SetItemText(window, IDC_STATUS, kStatusRunning);
    SetDlgItemTextW(window, IDC_LOG, L"");
    // The log grows by a line for every saved game; lift the edit control's
    // default limit of about 30,000 characters so that no line is dropped.
    SendDlgItemMessageW(window, IDC_LOG, EM_SETLIMITTEXT, 0, 0);
    SetItemText(window, IDC_FINISH, kFinishButton);
    // 32 bits: the saved games alone may pass what PBM_SETRANGE's 16 hold.
    SendDlgItemMessageW(window, IDC_PROGRESS, PBM_SETRANGE32, 0,
                        kUpdateStepCount + MirrorCopyCount() + entryCount);
    SendDlgItemMessageW(window, IDC_PROGRESS, PBM_SETSTEP, 1, 0);
    SendDlgItemMessageW(window, IDC_PROGRESS, PBM_SETPOS, 0, 0);
    HWND finish = GetDlgItem(window, IDC_FINISH);
    EnableWindow(finish, FALSE);
    SetFocus(finish);
    ForgetPending();
    answeredAt = GetTickCount();
    BeforeBoxCall = ShowPendingBeforeBox;
    WhileWorkingCall = KeepAnswering;
    PostMessageW(window, MSG_FIRST_STEP, 0, 0);
}

void OnClose(HWND window)
{
    // The chain runs on under the cancel question, and a step that fails
    // meanwhile closes the dialog (taking the question with it): then there
    // is nothing left to close, whatever the answer.
    if (!updateFailed && !updateDone && (!AskYesNo(kCancelQuestion) || !IsWindow(window)))
        return;
    DestroyWindow(window);
    DialogWindow = nullptr;
    PostQuitMessage(updateDone);
}

void OnUpdateDone(HWND window)
{
    ShowPending(window);
    SetItemText(window, IDC_STATUS, kStatusDone);
    SetItemText(window, IDC_FINISH, kFinishButton);
    HWND finish = GetDlgItem(window, IDC_FINISH);
    EnableWindow(finish, TRUE);
    SetFocus(finish);
    updateDone = 1;
}

} // namespace

void AdvanceProgress(HWND dialog)
{
    ++pending.steps;
    ShowPendingIfDue(dialog);
}

void ShowProgressNow(HWND dialog)
{
    ShowPending(dialog);
}

INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(window);
        return FALSE;
    case MSG_LOG_APPEND:
        AppendToLog(window, reinterpret_cast<const wchar_t *>(lParam));
        return TRUE;
    case WM_DPICHANGED:
        // Left to the dialog manager, which rescales the dialog and its
        // controls once this returns FALSE (Windows 10 1703 on); the banner
        // is set afterwards, from the queue, so that the rescaling can't
        // size it anew.
        PostMessageW(window, MSG_SCALE_BANNER, LOWORD(wParam), 0);
        return FALSE;
    case MSG_SCALE_BANNER:
        ScaleBanner(window, static_cast<UINT>(wParam));
        return TRUE;
    case WM_DESTROY:
        ReleaseBanner(window);
        ForgetPending();
        BeforeBoxCall = nullptr;
        WhileWorkingCall = nullptr;
        return FALSE;
    case WM_COMMAND:
        // Only the button closes; Esc's IDCANCEL does nothing.
        if (LOWORD(wParam) != IDC_FINISH)
            return FALSE;
        PostMessageW(window, WM_CLOSE, 0, 0);
        return TRUE;
    case WM_CLOSE:
        // Sent by another program while a step's file work runs: taken up
        // once the step has ended.
        if (answering)
            PostMessageW(window, WM_CLOSE, 0, 0);
        else
            OnClose(window);
        return TRUE;
    case MSG_UPDATE_DONE:
        OnUpdateDone(window);
        return TRUE;
    default:
        return RunUpdateStep(window, message, lParam);
    }
}
