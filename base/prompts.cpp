// The prompt set: every message box of the updater is built here.
//
// Composed texts are measured before they are formatted, so a buffer is always
// exactly as large as the text it receives. When the heap can't supply it, the
// out-of-memory text is shown as an error instead and the result is 0: a
// question that can't be composed is never asked and counts as No.
#include "base/prompts.h"

#include "base/holders.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

MessageBoxFunction MessageBoxCall = MessageBoxA;
BeforeBoxFunction BeforeBoxCall = nullptr;
HWND DialogWindow = nullptr;

namespace {

int Box(const char *text, UINT style)
{
    if (BeforeBoxCall)
        BeforeBoxCall();
    return MessageBoxCall(DialogWindow, text, kCaption, style);
}

// Expands format into a new heap string; null when memory runs out or the
// format is malformed. The caller frees the result.
char *Compose(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int length = _vscprintf(format, args);
    va_end(args);
    if (length < 0)
        return nullptr;
    char *text = static_cast<char *>(malloc(static_cast<size_t>(length) + 1));
    if (!text)
        return nullptr;
    va_start(args, format);
    _vsnprintf(text, static_cast<size_t>(length) + 1, format, args);
    va_end(args);
    text[length] = '\0';
    return text;
}

// Shows a composed text, or the out-of-memory error when there is none.
int ShowComposed(char *composed, UINT style)
{
    HeapMemory text(composed);
    if (!text)
        return ShowError(kOutOfMemory);
    return Box(text.Get(), style);
}

} // namespace

int ShowError(const char *text)
{
    Box(text, kStyleError);
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
    return Box(text, kStyleQuestion) == IDYES;
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
    Box(text, kStyleInformation);
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
        return ShowError(kOutOfMemory);
    return AskYesNo(question.Get());
}

int ReportOrAskF(const char *format, const char *argument, int failHard)
{
    if (failHard)
        return ShowErrorF(format, argument);
    HeapMemory question(WithContinueSuffix(format));
    if (!question)
        return ShowError(kOutOfMemory);
    return AskYesNoF(question.Get(), argument);
}

int ReportOrAskF2(const char *format, const char *argument1, const char *argument2, int failHard)
{
    if (failHard)
        return ShowErrorF2(format, argument1, argument2);
    HeapMemory question(WithContinueSuffix(format));
    if (!question)
        return ShowError(kOutOfMemory);
    return AskYesNoF2(question.Get(), argument1, argument2);
}
