// Names between the system's UTF-16 and the ANSI code page the updater works
// in. The ANSI calls turn a character that the code page lacks into a
// look-alike ("ñ" into "n") or into "?", without failing, and would then work
// on some other file than the one that exists; these conversions say so
// instead.
#pragma once

#include <windows.h>

// name (length UTF-16 units, or -1 up to its NUL) in the ANSI code page, as a
// new NUL-terminated heap string, or null when memory runs out. *exact says
// whether every character has its own bytes there; where not, the string
// holds the code page's default character in its place and is fit only to be
// shown. The caller frees it.
char *NarrowName(const wchar_t *name, int length, bool *exact);

// name (ANSI, NUL-terminated) in UTF-16, as a new heap string, or null when
// memory runs out. The caller frees it.
wchar_t *WidenName(const char *name);
