// The application shell: the entry point, the message loop that carries the
// update, and the loading of the common controls.
#pragma once

#include <windows.h>
#include <stdio.h>

// ---------------------------------------------------------------------------
// Message loop.

// Thread message by which another thread has a stream read done on the UI
// thread.
constexpr UINT MSG_READ_REQUEST = WM_APP + 201;

struct ReadRequest {
    void *buffer;
    size_t elementSize;
    size_t elementCount;
    FILE *stream;
    size_t result;
    HANDLE semaphore;
};

// Creates the progress dialog and runs the loop until the quit message.
// 1 when the loop ended with a nonzero exit code (the update completed).
int RunProgressDialog(HINSTANCE instance);

// fread performed on the UI thread; for callers on other threads only.
//
// The request travels as a thread message, which only this loop serves: a
// modal loop running on the UI thread meanwhile (a message box, whose loop
// drops thread messages) would lose it, and the caller would wait for ever.
// So the rule this code keeps is that no caller issues a request while a box
// can be open. It holds today because nothing calls this: the process has no
// other thread. A caller added on another thread must hold to it too, or
// this must first be moved to a message window, whose messages survive
// modal loops.
size_t ReadOnUiThread(void *buffer, size_t elementSize, size_t elementCount, FILE *stream);

// The UI thread's id while RunProgressDialog runs its loop, else 0.
extern DWORD UiThreadId;

// Loads comctl32 from the system directory (the version the manifest names
// from Windows' side-by-side store) and registers the common control classes.
// 1 on success.
int InitCommonControlsFromSystem();

// Makes the process fit to run elevated from a folder the player may write
// to: no system error box, libraries from the system directory only, no
// junction followed that a non-administrator made (each where Windows can
// do it). Called first thing in WinMain.
void HardenProcess();
