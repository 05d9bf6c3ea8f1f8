// What the benchmark programs share: a clock and the console in place of the
// message boxes (they have no window to own a box).
#pragma once

#include <windows.h>

#include <stdio.h>

// Seconds on the performance counter.
inline double Seconds()
{
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Takes the place of MessageBoxW: prints the text (in the ANSI code page) and
// answers No (or OK).
inline int WINAPI PrintBox(HWND, LPCWSTR text, LPCWSTR, UINT)
{
    char narrow[4096] = "";
    WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
    narrow[sizeof narrow - 1] = '\0';
    fprintf(stderr, "bench: %s\n", narrow);
    return IDNO;
}
