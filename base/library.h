// Libraries loaded while the updater runs come from the system directory
// only. The updater is often started from a downloads folder, where a planted
// library of the same name would otherwise be found first.
#pragma once

#include <windows.h>

// LOAD_LIBRARY_SEARCH_SYSTEM32, which older SDK headers may lack.
constexpr DWORD kSearchSystem32 = 0x00000800;

// name (a file name such as "comctl32.dll") loaded from the system directory,
// or null.
HMODULE LoadSystemLibrary(const char *name);
