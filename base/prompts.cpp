// The prompt set: every message box of the updater is built here.
//
// Composed texts are measured before they are formatted, so a buffer is always
// exactly as large as the text it receives. When the heap can't supply it, the
// out-of-memory text is shown as an error instead and the result is 0: a
// question that can't be composed is never asked and counts as No. That error
// and the caption are converted into buffers of their own, so that showing it
// needs no heap.
#include "base/prompts.h"

#include "base/holders.h"
#include "base/names.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

MessageBoxFunction MessageBoxCall = MessageBoxW;
BeforeBoxFunction BeforeBoxCall = nullptr;
HWND DialogWindow = nullptr;

namespace {

int Box(const wchar_t *text, UINT style)
{
    if (BeforeBoxCall)
        BeforeBoxCall();
    const WideText caption(kTextCodePage, kCaption);
    return MessageBoxCall(DialogWindow, text, caption.Get(), style);
}

int ShowOutOfMemory()
{
    const WideText text(kTextCodePage, kOutOfMemory);
    Box(text.Get(), kStyleError);
    return 0;
}

// One of the updater's own texts, as it stands.
int ShowText(const char *text, UINT style)
{
    const WideText wide(kTextCodePage, text);
    if (!wide.Get())
        return ShowOutOfMemory();
    return Box(wide.Get(), style);
}

// Expands format (wide arguments) into a new heap string; null when memory
// runs out or the format is malformed. The caller frees the result. These are
// msvcrt's calls, where %s takes a wchar_t *: libstdc++ switches on MinGW's
// own printf family, whose vswprintf reads %s as a char *.
wchar_t *Expand(const wchar_t *format, ...)
{
    va_list args;
    va_start(args, format);
    int length = _vscwprintf(format, args);
    va_end(args);
    if (length < 0)
        return nullptr;
    wchar_t *text = static_cast<wchar_t *>(malloc((static_cast<size_t>(length) + 1) * sizeof(wchar_t)));
    if (!text)
        return nullptr;
    va_start(args, format);
    _vsnwprintf(text, static_cast<size_t>(length) + 1, format, args);
    va_end(args);
    text[length] = L'\0';
    return text;
}

// format (one of the updater's own) expanded with the names (ANSI), each
// converted from its own code page first, as a new heap string; null when
// memory runs out. A format with one conversion leaves name2 unused.
wchar_t *Compose(const char *format, const char *name1, const char *name2 = "")
{
    const WideText wideFormat(kTextCodePage, format);
    const WideText wide1(CP_ACP, name1);
    const WideText wide2(CP_ACP, name2);
    if (!wideFormat.Get() || !wide1.Get() || !wide2.Get())
        return nullptr;
    return Expand(wideFormat.Get(), wide1.Get(), wide2.Get());
}

// Shows a composed text, or the out-of-memory error when there is none.
int ShowComposed(wchar_t *composed, UINT style)
{
    HeapMemory text(composed);
    if (!text)
        return ShowOutOfMemory();
    return Box(composed, style);
}

} // namespace

int ShowError(const char *text)
{
    ShowText(text, kStyleError);
    return 0;
}

int ShowErrorF(const char *format, const char *argument)
{
    ShowComposed(Compose(format, argument), kStyleError);
    return 0;
}

int ShowErrorF2(const char *format, const char *argument1, const char *argument2)
{
    ShowComposed(Compose(format, argument1, argument2), kStyleError);
    return 0;
}

int AskYesNo(const char *text)
{
    return ShowText(text, kStyleQuestion) == IDYES;
}

int AskYesNoF(const char *format, const char *argument)
{
    return ShowComposed(Compose(format, argument), kStyleQuestion) == IDYES;
}

int AskYesNoF2(const char *format, const char *argument1, const char *argument2)
{
    return ShowComposed(Compose(format, argument1, argument2), kStyleQuestion) == IDYES;
}

int ShowInfo(const char *text)
{
    ShowText(text, kStyleInformation);
    return 1;
}

namespace {

// The message followed by the continue suffix, as a new heap string (itself a
// format where the message was one). Null when memory runs out.
char *WithContinueSuffix(const char *message)
{
    size_t length = strlen(message);
    char *text = static_cast<char *>(malloc(length + sizeof kContinueSuffix));
    if (!text)
        return nullptr;
    memcpy(text, message, length);
    memcpy(text + length, kContinueSuffix, sizeof kContinueSuffix);
    return text;
}

} // namespace

int ReportOrAsk(const char *text, int failHard)
{
    if (failHard)
        return ShowError(text);
    HeapMemory question(WithContinueSuffix(text));
    if (!question)
        return ShowOutOfMemory();
    return AskYesNo(question.Get());
}

int ReportOrAskF(const char *format, const char *argument, int failHard)
{
    if (failHard)
        return ShowErrorF(format, argument);
    HeapMemory question(WithContinueSuffix(format));
    if (!question)
        return ShowOutOfMemory();
    return AskYesNoF(question.Get(), argument);
}

int ReportOrAskF2(const char *format, const char *argument1, const char *argument2, int failHard)
{
    if (failHard)
        return ShowErrorF2(format, argument1, argument2);
    HeapMemory question(WithContinueSuffix(format));
    if (!question)
        return ShowOutOfMemory();
    return AskYesNoF2(question.Get(), argument1, argument2);
}
