// The prompt set: every error and question reaches the player through these,
// and they are the only code that shows a message box.
//
// Every box has the caption kCaption and takes DialogWindow, read at the
// moment of the call, as its owner. Results: errors 0, ShowInfo 1, questions
// 1 only for Yes. A text that can't be composed for want of memory is
// replaced by the out-of-memory error, and a question then counts as No.
//
// Texts and formats are the updater's own, in Windows-1250 (texts.h); the
// arguments put into them are names in the ANSI code page. Each is converted
// to UTF-16 from its own code page and the box is shown through the wide call,
// so that the player reads Polish on a Windows of any code page.
#pragma once

#include <windows.h>

#include "base/texts.h"

// Box styles (message-box type values).
enum : UINT {
    kStyleError = MB_OK | MB_ICONERROR,            // 0x10
    kStyleQuestion = MB_YESNO | MB_ICONQUESTION,   // 0x24
    kStyleInformation = MB_OK | MB_ICONINFORMATION // 0x40
};

// The one platform call the prompt set makes. Tests replace it; it defaults to
// MessageBoxW.
typedef int(WINAPI *MessageBoxFunction)(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
extern MessageBoxFunction MessageBoxCall;

// Called right before every box while set (else null). The progress dialog
// sets it while it exists, to bring its log and bar up to date, so that a box
// always stands over what the update has done so far.
typedef void (*BeforeBoxFunction)();
extern BeforeBoxFunction BeforeBoxCall;

// The progress dialog while it exists, else null; owner of every box.
extern HWND DialogWindow;

// An error box with text; 0.
int ShowError(const char *text);
// An error box with format expanded ("%s" conversions only); 0.
int ShowErrorF(const char *format, const char *argument);
// The same with two arguments; 0.
int ShowErrorF2(const char *format, const char *argument1, const char *argument2);
// A Yes/No question; 1 only for Yes.
int AskYesNo(const char *text);
// A question with format expanded; 1 only for Yes, 0 also when the text
// can't be composed (the out-of-memory error is shown instead).
int AskYesNoF(const char *format, const char *argument);
// The same with two arguments.
int AskYesNoF2(const char *format, const char *argument1, const char *argument2);
// An information box; 1.
int ShowInfo(const char *text);

// failHard nonzero: an error box with text, result 0. Zero: text, a blank
// line and "Czy chcesz kontynuować?" as a question, result 1 on Yes.
int ReportOrAsk(const char *text, int failHard);
// The same with format expanded with argument, in both cases.
int ReportOrAskF(const char *format, const char *argument, int failHard);
// The same with two arguments.
int ReportOrAskF2(const char *format, const char *argument1, const char *argument2, int failHard);
