// Conversions between UTF-16 names and the ANSI code page that never take a
// look-alike for the real character, and texts into UTF-16.
#include "base/names.h"

#include <stdlib.h>

namespace {

// The conversion's flags, and whether it can tell a default character used.
// Where the ANSI code page is UTF-8 (a Windows option) every character has
// its bytes, and only an unpaired surrogate can't be converted.
bool Utf8CodePage()
{
    return GetACP() == CP_UTF8;
}

int Narrow(const wchar_t *name, int length, char *out, int size, bool strict, BOOL *usedDefault)
{
    *usedDefault = FALSE;
    if (Utf8CodePage())
        return WideCharToMultiByte(CP_ACP, strict ? WC_ERR_INVALID_CHARS : 0, name, length, out, size,
                                   nullptr, nullptr);
    return WideCharToMultiByte(CP_ACP, strict ? WC_NO_BEST_FIT_CHARS : 0, name, length, out, size, nullptr,
                               usedDefault);
}

} // namespace

char *NarrowName(const wchar_t *name, int length, bool *exact)
{
    if (length < 0)
        length = lstrlenW(name);
    BOOL usedDefault = FALSE;
    bool strict = true;
    int size = length == 0 ? 0 : Narrow(name, length, nullptr, 0, strict, &usedDefault);
    if (length > 0 && size <= 0) {
        // Only a strict conversion to UTF-8 refuses; the name is then shown
        // as well as it can be.
        strict = false;
        size = Narrow(name, length, nullptr, 0, strict, &usedDefault);
        if (size <= 0)
            size = 0;
    }
    char *narrow = static_cast<char *>(malloc(static_cast<size_t>(size) + 1));
    if (!narrow)
        return nullptr;
    int written = size == 0 ? 0 : Narrow(name, length, narrow, size, strict, &usedDefault);
    if (written < 0)
        written = 0;
    narrow[written] = '\0';
    *exact = strict && !usedDefault && written == size;
    return narrow;
}

wchar_t *WidenName(const char *name)
{
    int size = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
    if (size <= 0)
        size = 1;
    wchar_t *wide = static_cast<wchar_t *>(malloc(static_cast<size_t>(size) * sizeof(wchar_t)));
    if (!wide)
        return nullptr;
    if (MultiByteToWideChar(CP_ACP, 0, name, -1, wide, size) <= 0)
        wide[0] = L'\0';
    return wide;
}

WideText::WideText(UINT codePage, const char *text) : text_(fixed_)
{
    if (MultiByteToWideChar(codePage, 0, text, -1, fixed_, MAX_PATH) > 0)
        return;
    // Too long for the object's own buffer (or not convertible at all, which
    // then shows as an empty text).
    fixed_[0] = L'\0';
    int size = MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
    if (size <= 0)
        return;
    text_ = static_cast<wchar_t *>(malloc(static_cast<size_t>(size) * sizeof(wchar_t)));
    if (text_ && MultiByteToWideChar(codePage, 0, text, -1, text_, size) <= 0)
        text_[0] = L'\0';
}

WideText::~WideText()
{
    if (text_ != fixed_)
        free(text_);
}
