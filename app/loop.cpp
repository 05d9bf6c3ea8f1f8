// The UI thread's message loop around the modeless progress dialog, and the
// read requests that other threads have served on it.
#include "app/app.h"

#include "base/holders.h"
#include "base/prompts.h"
#include "dialog/dialog.h"
#include "resource.h"

DWORD UiThreadId = 0;

int RunProgressDialog(HINSTANCE instance)
{
    InitCommonControlsFromSystem();
    // A Unicode dialog, whose controls are Unicode windows too: an ANSI edit
    // control would keep its text in the system's code page, and the wide
    // texts put into it would lose their Polish letters there.
    DialogWindow =
        CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_PROGRESS), nullptr, ProgressDialogProc, 0);
    if (!DialogWindow)
        return 0;

    UiThreadId = GetCurrentThreadId();
    MSG message;
    BOOL got;
    while ((got = GetMessageW(&message, nullptr, 0, 0)) == 1) {
        // Esc does nothing in the dialog. Left to the dialog manager it would
        // reach a focused multi-line edit (the log), which closes its dialog
        // on Esc.
        if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE && DialogWindow &&
            (message.hwnd == DialogWindow || IsChild(DialogWindow, message.hwnd)))
            continue;
        // DialogWindow is read anew: after the dialog closes it is null and
        // nothing is treated as a dialog message any more.
        if (IsDialogMessageW(DialogWindow, &message))
            continue;
        if (message.hwnd == nullptr && message.message == MSG_READ_REQUEST) {
            ReadRequest *request = reinterpret_cast<ReadRequest *>(message.lParam);
            request->result =
                fread(request->buffer, request->elementSize, request->elementCount, request->stream);
            ReleaseSemaphore(request->semaphore, 1, nullptr);
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    UiThreadId = 0;
    return got == 0 && message.wParam != 0;
}

size_t ReadOnUiThread(void *buffer, size_t elementSize, size_t elementCount, FILE *stream)
{
    // With no loop running, or on the UI thread itself, a request would never
    // be served: read here.
    DWORD uiThread = *static_cast<volatile DWORD *>(&UiThreadId);
    if (uiThread == 0 || uiThread == GetCurrentThreadId())
        return fread(buffer, elementSize, elementCount, stream);

    Handle semaphore(CreateSemaphoreA(nullptr, 0, 1, nullptr));
    ReadRequest request = {buffer, elementSize, elementCount, stream, 0, semaphore.Get()};
    if (!semaphore.Valid() ||
        !PostThreadMessageW(uiThread, MSG_READ_REQUEST, 0, reinterpret_cast<LPARAM>(&request))) {
        semaphore.Close();
        return fread(buffer, elementSize, elementCount, stream);
    }
    WaitForSingleObject(semaphore.Get(), INFINITE);
    return request.result;
}
