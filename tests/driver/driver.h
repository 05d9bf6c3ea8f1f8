// The UI driver: starts a GUI program and works it from outside as a player
// would, answering its message boxes, reading and pressing its progress dialog,
// and writing down everything it saw as structured records and as a plain
// ASCII transcript.
//
// Message boxes are the process's visible top-level "#32770" windows with a
// static control id 0xFFFF; the progress dialog is its visible top-level
// "#32770" window with a child id 1005 (the log). Texts are read as the ANSI
// bytes of the current code page (Windows-1250 for the updater) and, when
// asked for, also in UTF-16 through the wide calls.
#pragma once

#include <functional>
#include <string>
#include <vector>

// The progress dialog as read at one moment.
struct DialogSnapshot {
    unsigned long milliseconds = 0; // since the program was started
    size_t line = 0;                // its place in the transcript (DriverResult::lines)
    std::string title;
    std::string status;
    std::string log;
    std::string button;
    // With DriverOptions::wide: the same texts read through the wide calls.
    std::wstring wideTitle, wideStatus, wideLog, wideButton;
    bool buttonEnabled = false;
    bool buttonFocused = false;
    int focusId = 0; // id of the dialog's control that has the keyboard focus, 0 if none (not in the line)
    int rangeLow = 0;
    int rangeHigh = 0;
    int position = 0;
    long left = 0, top = 0, right = 0, bottom = 0;                             // the dialog
    long desktopLeft = 0, desktopTop = 0, desktopRight = 0, desktopBottom = 0; // the desktop
    // Not in the line: the banner's size in real pixels, the dialog's DPI and DPI_AWARENESS, the
    // full path of each comctl32.dll the program loaded (";" between).
    long bannerWidth = 0, bannerHeight = 0;
    unsigned dpi = 0;
    int dpiAwareness = -1;
    std::string comctl32;
};

// One message box, as it was shown and as it was answered.
struct BoxRecord {
    unsigned long milliseconds = 0; // since the program was started, when the box was seen
    size_t line = 0;                // its place in the transcript (DriverResult::lines)
    std::string caption;
    std::string text;
    std::string buttons; // visible buttons in id order: "ok", "yes,no", ...
    std::string owner;   // "none", "dialog" (the progress dialog) or "other"
    std::string answer;  // "yes", "no", "ok", ...
    // With DriverOptions::wide: caption and text read through the wide calls.
    std::wstring wideCaption, wideText;
    // The progress dialog read right when the box was seen, if it existed.
    bool dialogSeen = false;
    DialogSnapshot dialog;
};

struct DriverOptions {
    std::string exe;
    // When given, the program is started by this UTF-16 path instead (a
    // folder whose name the ANSI code page lacks).
    std::wstring wideExe;
    std::string arguments;        // appended to the quoted exe path
    std::string workingDirectory; // empty: the driver's own
    // Answers to the boxes in the order they appear: "yes", "no", "ok".
    std::vector<std::string> answers;
    // Read every text through the wide calls as well.
    bool wide = false;
    // Called with each box as it was read, right before it is answered: lets
    // a test change the world at that moment (the program waits on the box).
    std::function<void(const BoxRecord &)> beforeAnswer;
    // Executed in order:
    //   dialog        wait until the dialog exists; snapshot as first seen
    //   snapshot      snapshot the dialog now
    //   wait-done     wait until its button is enabled; snapshot
    //   watch-done    wait until the dialog exists and its button is
    //                 enabled, asking the dialog for its bar's position at
    //                 every poll from its first sight on and noting the
    //                 longest time between two answers (longestSilence);
    //                 snapshot
    //   wait-gone     wait until the dialog no longer exists
    //   press-finish  wait until the button is enabled, press it, wait until
    //                 a box has been answered or the dialog is gone
    //   close-box     the close box (SC_CLOSE), then wait as for press-finish
    //   send-close    send WM_CLOSE, as another program does, and wait until
    //                 the dialog has answered it (at most 5 s)
    //   wait-log:TEXT wait until the log ends with TEXT (ANSI bytes)
    //   escape        Esc down and up to the focused control (or the dialog)
    //   sleep:MS      wait MS milliseconds (boxes are still answered)
    //   signal:PATH   create the file PATH (a mark for a script outside)
    //   wait-exit     wait until the program has exited
    std::vector<std::string> actions;
    // Limit for the whole run, from the start of the program.
    unsigned timeoutSeconds = 600;
    // How often the windows are looked at; the benchmarks look more often.
    unsigned pollMilliseconds = 50;
};

struct DriverResult {
    // The transcript, one event a line, ASCII only:
    //   box caption="..." text="..." buttons=yes,no owner=none answer=yes
    //   dialog title="..." status="..." log="..." button="..." enabled=0 focused=1 range=0..38 pos=0
    //          rect=L,T,R,B desktop=L,T,R,B          (one line)
    //   exit 0 | timeout
    // A box seen while the dialog existed is preceded by a dialog line read
    // at that moment.
    std::vector<std::string> lines;
    std::vector<BoxRecord> boxes;
    std::vector<DialogSnapshot> snapshots; // those of the actions only, in order
    int exitCode = -1;                     // -1 if the program did not exit in time
    // The longest time the dialog took to answer, from one answer to the
    // next, during watch-done (ms).
    unsigned long longestSilence = 0;
    bool timedOut = false;
    // Empty when the run went as scripted; else every problem, "; "-separated:
    // a box with no answer left (answered No or OK), an action that could not
    // be done, the time limit, answers left unused. A problem ends the script;
    // the program then has 5 s to exit before it is killed.
    std::string error;
};

DriverResult RunDriver(const DriverOptions &options);

// text in UTF-16, converted from codePage (0: the ANSI code page), and a
// UTF-16 text in the ANSI code page.
std::wstring Widened(const std::string &text, unsigned codePage = 0);
std::string Narrowed(const std::wstring &text);

// bytes in double quotes with C escapes: \r \n \" \\, other bytes below 0x20
// and from 0x80 up as \xNN.
std::string QuoteForTranscript(const std::string &bytes);
// The transcript lines of a snapshot and of a box.
std::string DialogLine(const DialogSnapshot &snapshot);
std::string BoxLine(const BoxRecord &box);
