// The progress dialog: centred on the desktop, a status line, a running log, a
// progress bar and one button. It starts the update chain when it opens, asks
// before the user cancels a running update, and ends the message loop with
// updateDone as exit code when it closes.
#include "dialog/dialog.h"

#include "base/base.h"
#include "resource.h"

#include <commctrl.h>

int updateFailed = 0;
int updateDone = 0;

namespace {

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
    CentreOnDesktop(window);
    SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(kCaption));
    SetDlgItemTextA(window, IDC_STATUS, kStatusRunning);
    SetDlgItemTextA(window, IDC_LOG, "");
    // The log grows by a line for every saved game; lift the edit control's
    // default limit of about 30,000 characters so that no line is dropped.
    SendDlgItemMessageA(window, IDC_LOG, EM_SETLIMITTEXT, 0, 0);
    SetDlgItemTextA(window, IDC_FINISH, kFinishButton);
    SendDlgItemMessageA(window, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, kUpdateStepCount + entryCount));
    SendDlgItemMessageA(window, IDC_PROGRESS, PBM_SETSTEP, 1, 0);
    SendDlgItemMessageA(window, IDC_PROGRESS, PBM_SETPOS, 0, 0);
    HWND finish = GetDlgItem(window, IDC_FINISH);
    EnableWindow(finish, FALSE);
    SetFocus(finish);
    PostMessageA(window, MSG_FIRST_STEP, 0, 0);
}

void AppendToLog(HWND window, LPARAM text)
{
    // -2 is clamped to the end of the text: caret at the end, no selection.
    SendDlgItemMessageA(window, IDC_LOG, EM_SETSEL, static_cast<WPARAM>(-2), -2);
    SendDlgItemMessageA(window, IDC_LOG, EM_REPLACESEL, FALSE, text);
}

void OnClose(HWND window)
{
    if (!updateFailed && !updateDone && !AskYesNo(kCancelQuestion))
        return;
    DestroyWindow(window);
    DialogWindow = nullptr;
    PostQuitMessage(updateDone);
}

void OnUpdateDone(HWND window)
{
    SetDlgItemTextA(window, IDC_STATUS, kStatusDone);
    SetDlgItemTextA(window, IDC_FINISH, kFinishButton);
    HWND finish = GetDlgItem(window, IDC_FINISH);
    EnableWindow(finish, TRUE);
    SetFocus(finish);
    updateDone = 1;
}

} // namespace

INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(window);
        return FALSE;
    case MSG_LOG_APPEND:
        AppendToLog(window, lParam);
        return TRUE;
    case WM_COMMAND:
        // Only the button closes; Esc's IDCANCEL does nothing.
        if (LOWORD(wParam) != IDC_FINISH)
            return FALSE;
        PostMessageA(window, WM_CLOSE, 0, 0);
        return TRUE;
    case WM_CLOSE:
        OnClose(window);
        return TRUE;
    case MSG_UPDATE_DONE:
        OnUpdateDone(window);
        return TRUE;
    default:
        return RunUpdateStep(window, message, lParam);
    }
}
