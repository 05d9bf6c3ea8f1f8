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
size_t ReadOnUiThread(void *buffer, size_t elementSize, size_t elementCount, FILE *stream);

// The UI thread's id while RunProgressDialog runs its loop, else 0.
extern DWORD UiThreadId;

// Loads comctl32 from the system directory and registers the common control
// classes. 1 on success.
int InitCommonControlsFromSystem();

// Limits the process's DLL search to the system directory where Windows
// supports it. Called first thing in WinMain.
void RestrictDllSearch();
