// Names between the system's UTF-16 and the ANSI code page the updater works
// in, and texts into UTF-16 for the wide calls that show them. The ANSI calls
// turn a character that the code page lacks into a look-alike ("ñ" into "n")
// or into "?", without failing, and would then work on some other file than
// the one that exists; these conversions say so instead.
#pragma once

#include <windows.h>

// The code page of the updater's own texts (texts.h), whatever the system's.
constexpr UINT kTextCodePage = 1250;

// text (NUL-terminated) in UTF-16, converted from the code page it is in:
// kTextCodePage for the updater's own texts and formats, CP_ACP for the names
// that the file and registry calls give and take. So the player reads the
// same letters on a Windows of any code page. The text is held in the object
// where it fits, as every text of the updater and every path below MAX_PATH
// does, else on the heap; Get() is null when memory for it ran out.
class WideText {
public:
    WideText(UINT codePage, const char *text);
    WideText(const WideText &) = delete;
    WideText &operator=(const WideText &) = delete;
    ~WideText();
    const wchar_t *Get() const { return text_; }

private:
    wchar_t fixed_[MAX_PATH];
    wchar_t *text_;
};

// name (length UTF-16 units, or -1 up to its NUL) in the ANSI code page, as a
// new NUL-terminated heap string, or null when memory runs out. *exact says
// whether every character has its own bytes there; where not, the string
// holds the code page's default character in its place and is fit only to be
// shown. The caller frees it.
char *NarrowName(const wchar_t *name, int length, bool *exact);

// name (ANSI, NUL-terminated) in UTF-16, as a new heap string, or null when
// memory runs out. The caller frees it.
wchar_t *WidenName(const char *name);
