// The UI driver: runs a GUI program, polls its top-level windows (every 50 ms
// unless told otherwise), answers each message box as it appears and carries
// out the scripted actions on the progress dialog, all from another process,
// through window messages. It needs Windows 10 1703 or later.
#include "tests/driver/driver.h"

#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include "res/resource.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <functional>
#include <set>

namespace {

// The text of a message box.
constexpr int kBoxTextId = 0xFFFF;

// A sent message waits at most this long for a busy program.
constexpr UINT kSendTimeoutMilliseconds = 30000;
// After a failed action the program gets this long to end by itself.
constexpr DWORD kGraceMilliseconds = 5000;

struct ButtonName {
    int id;
    const char *name;
};
constexpr ButtonName kButtons[] = {{IDOK, "ok"},       {IDCANCEL, "cancel"}, {IDABORT, "abort"},
                                   {IDRETRY, "retry"}, {IDIGNORE, "ignore"}, {IDYES, "yes"},
                                   {IDNO, "no"}};

// A message sent to a window of the program, as ANSI or as wide (which
// decides how a text in it travels); false when it wasn't handled (the
// window is gone, or the program didn't answer in time).
bool Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result, bool wide = false,
          UINT timeout = kSendTimeoutMilliseconds)
{
    DWORD_PTR answer = 0;
    if (!window || !(wide ? SendMessageTimeoutW : SendMessageTimeoutA)(window, message, wParam, lParam,
                                                                       SMTO_NORMAL, timeout, &answer))
        return false;
    *result = static_cast<LRESULT>(answer);
    return true;
}

// A control's text through WM_GETTEXT, which Windows carries across
// processes: ANSI bytes in a std::string, UTF-16 in a std::wstring.
template <typename Text> bool ControlText(HWND control, Text *text)
{
    const bool wide = sizeof(typename Text::value_type) > 1;
    LRESULT length = 0;
    if (!Send(control, WM_GETTEXTLENGTH, 0, 0, &length, wide) || length < 0)
        return false;
    std::vector<typename Text::value_type> buffer(static_cast<size_t>(length) + 1);
    LRESULT got = 0;
    if (!Send(control, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()), &got, wide) ||
        got < 0)
        return false;
    text->assign(buffer.data(), static_cast<size_t>(got));
    return true;
}

// A top-level window's title, as the system keeps it (no message to the
// owner): ANSI bytes in a std::string, UTF-16 in a std::wstring.
template <typename Text> Text WindowTitle(HWND window)
{
    typedef typename Text::value_type Char;
    const bool wide = sizeof(Char) > 1;
    const int length = wide ? GetWindowTextLengthW(window) : GetWindowTextLengthA(window);
    std::vector<Char> buffer(static_cast<size_t>(length > 0 ? length : 0) + 1);
    const int size = static_cast<int>(buffer.size());
    const int got = wide ? GetWindowTextW(window, reinterpret_cast<wchar_t *>(buffer.data()), size)
                         : GetWindowTextA(window, reinterpret_cast<char *>(buffer.data()), size);
    return Text(buffer.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

bool IsDialogClass(HWND window)
{
    char name[16];
    return GetClassNameA(window, name, sizeof name) && lstrcmpA(name, "#32770") == 0;
}

struct TopLevelScan {
    DWORD processId;
    HWND dialog;
    std::vector<HWND> boxes;
};

BOOL CALLBACK ScanTopLevel(HWND window, LPARAM context)
{
    TopLevelScan &scan = *reinterpret_cast<TopLevelScan *>(context);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    // Invisible windows are still being built: a dialog shows itself only
    // after WM_INITDIALOG has filled it in.
    if (processId != scan.processId || !IsWindowVisible(window) || !IsDialogClass(window))
        return TRUE;
    if (GetDlgItem(window, IDC_LOG))
        scan.dialog = window;
    else if (GetDlgItem(window, kBoxTextId))
        scan.boxes.push_back(window);
    return TRUE;
}

void ReadScale(HWND dialog, DialogSnapshot *snapshot)
{
    RECT rect = {};
    GetWindowRect(GetDlgItem(dialog, static_cast<WORD>(IDC_BANNER)), &rect);
    snapshot->bannerWidth = rect.right - rect.left, snapshot->bannerHeight = rect.bottom - rect.top;
    snapshot->dpi = GetDpiForWindow(dialog);
    snapshot->dpiAwareness = GetAwarenessFromDpiAwarenessContext(GetWindowDpiAwarenessContext(dialog));
    DWORD processId = 0;
    GetWindowThreadProcessId(dialog, &processId);
    HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId);
    MODULEENTRY32 module = {};
    module.dwSize = sizeof module;
    for (BOOL more = Module32First(modules, &module); more; more = Module32Next(modules, &module))
        if (lstrcmpiA(module.szModule, "comctl32.dll") == 0)
            snapshot->comctl32 += (snapshot->comctl32.empty() ? "" : ";") + std::string(module.szExePath);
    CloseHandle(modules);
}

// Reads the dialog (also through the wide calls where wide is set); false
// when it closed (or stopped answering) meanwhile.
bool ReadDialog(HWND dialog, DWORD started, bool wide, DialogSnapshot *snapshot)
{
    snapshot->milliseconds = GetTickCount() - started;
    snapshot->title = WindowTitle<std::string>(dialog);
    HWND button = GetDlgItem(dialog, IDC_FINISH);
    HWND bar = GetDlgItem(dialog, IDC_PROGRESS);
    LRESULT low = 0, high = 0, position = 0;
    bool read = ControlText(GetDlgItem(dialog, IDC_STATUS), &snapshot->status) &&
                ControlText(GetDlgItem(dialog, IDC_LOG), &snapshot->log) &&
                ControlText(button, &snapshot->button) && Send(bar, PBM_GETRANGE, TRUE, 0, &low) &&
                Send(bar, PBM_GETRANGE, FALSE, 0, &high) && Send(bar, PBM_GETPOS, 0, 0, &position);
    if (wide) {
        snapshot->wideTitle = WindowTitle<std::wstring>(dialog);
        read = read && ControlText(GetDlgItem(dialog, IDC_STATUS), &snapshot->wideStatus) &&
               ControlText(GetDlgItem(dialog, IDC_LOG), &snapshot->wideLog) &&
               ControlText(button, &snapshot->wideButton);
    }
    snapshot->rangeLow = static_cast<int>(low);
    snapshot->rangeHigh = static_cast<int>(high);
    snapshot->position = static_cast<int>(position);
    snapshot->buttonEnabled = button && IsWindowEnabled(button);
    GUITHREADINFO thread = {};
    thread.cbSize = sizeof thread;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &thread) && thread.hwndFocus &&
        IsChild(dialog, thread.hwndFocus)) {
        snapshot->buttonFocused = button && thread.hwndFocus == button;
        snapshot->focusId = GetDlgCtrlID(thread.hwndFocus);
    }
    RECT rect = {};
    read = read && GetWindowRect(dialog, &rect);
    snapshot->left = rect.left, snapshot->top = rect.top;
    snapshot->right = rect.right, snapshot->bottom = rect.bottom;
    GetWindowRect(GetDesktopWindow(), &rect);
    snapshot->desktopLeft = rect.left, snapshot->desktopTop = rect.top;
    snapshot->desktopRight = rect.right, snapshot->desktopBottom = rect.bottom;
    ReadScale(dialog, snapshot);
    // While a dialog is being destroyed its controls go first.
    return read && IsWindow(dialog) && GetDlgItem(dialog, IDC_LOG);
}

HWND VisibleChild(HWND window, int id)
{
    HWND child = GetDlgItem(window, id);
    return child && IsWindowVisible(child) ? child : nullptr;
}

// One run of the program: the process, what has been seen of it, and the
// result being filled in.
class Session {
public:
    Session(const DriverOptions &options, DriverResult &result) : options_(options), result_(result) {}
    ~Session()
    {
        if (process_)
            CloseHandle(process_);
    }

    bool Start();
    void RunActions();
    void Finish();

private:
    void Fail(const std::string &problem)
    {
        if (!result_.error.empty())
            result_.error += "; ";
        result_.error += problem;
    }
    bool PastDeadline() const { return static_cast<LONG>(GetTickCount() - deadline_) >= 0; }

    void Poll();
    void RecordBox(HWND box);
    bool WaitFor(const std::string &action, const std::function<bool()> &done);
    bool RunAction(const std::string &action);
    bool Snapshot(HWND dialog);

    // The actions (see DriverOptions); each gets the text behind its name.
    bool FirstSight(const std::string &);
    bool TakeSnapshot(const std::string &);
    bool WaitDone(const std::string &);
    bool WatchDone(const std::string &);
    bool WaitGone(const std::string &);
    bool WaitExit(const std::string &);
    bool Signal(const std::string &path);
    bool SleepFor(const std::string &milliseconds);
    bool PressFinish(const std::string &);
    bool CloseBox(const std::string &);
    bool Escape(const std::string &);
    bool SendClose(const std::string &);
    bool WaitLog(const std::string &text);
    // After a press: waits until a box has been answered or the dialog is gone.
    bool AwaitOutcome(const char *action, size_t boxesBefore);
    bool NeedDialog(const char *action);
    bool DialogExists() const { return dialog_ && IsWindow(dialog_); }
    bool FinishEnabled() const
    {
        HWND button = DialogExists() ? GetDlgItem(dialog_, IDC_FINISH) : nullptr;
        return button && IsWindowEnabled(button);
    }

    const DriverOptions &options_;
    DriverResult &result_;
    HANDLE process_ = nullptr;
    DWORD processId_ = 0;
    DWORD started_ = 0;
    DWORD deadline_ = 0;
    bool exited_ = false;

    HWND dialog_ = nullptr; // the progress dialog while it exists
    bool dialogSeen_ = false;
    bool snapshotOnSight_ = false; // the "dialog" action waits for its first sight
    std::set<HWND> handledBoxes_;
    size_t nextAnswer_ = 0;
};

bool Session::Start()
{
    std::string commandLine = "\"" + options_.exe + "\"";
    if (!options_.arguments.empty())
        commandLine += " " + options_.arguments;
    const char *directory = options_.workingDirectory.empty() ? nullptr : options_.workingDirectory.c_str();
    PROCESS_INFORMATION started = {};
    started_ = GetTickCount();
    deadline_ = started_ + options_.timeoutSeconds * 1000u;
    BOOL created;
    if (options_.wideExe.empty()) {
        std::vector<char> buffer(commandLine.begin(), commandLine.end());
        buffer.push_back('\0');
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        created = CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, directory,
                                 &startup, &started);
    } else {
        std::wstring wide = L"\"" + options_.wideExe + L"\"";
        if (!options_.arguments.empty())
            wide += L" " + Widened(options_.arguments);
        wide.push_back(L'\0');
        std::wstring wideDirectory = Widened(options_.workingDirectory);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        created = CreateProcessW(nullptr, &wide[0], nullptr, nullptr, FALSE, 0, nullptr,
                                 directory ? wideDirectory.c_str() : nullptr, &startup, &started);
    }
    if (!created) {
        Fail("cannot start " + options_.exe + " (error " + std::to_string(GetLastError()) + ")");
        return false;
    }
    CloseHandle(started.hThread);
    process_ = started.hProcess;
    processId_ = started.dwProcessId;
    return true;
}

// Looks at the process once: its exit, its dialog, and every box not seen
// before, which is recorded and answered at once.
void Session::Poll()
{
    if (!exited_ && WaitForSingleObject(process_, 0) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(process_, &code);
        exited_ = true;
        result_.exitCode = static_cast<int>(code);
        result_.lines.push_back("exit " + std::to_string(result_.exitCode));
    }

    TopLevelScan scan = {processId_, nullptr, {}};
    if (!exited_)
        EnumWindows(ScanTopLevel, reinterpret_cast<LPARAM>(&scan));
    dialog_ = scan.dialog;
    if (dialog_ && !dialogSeen_) {
        dialogSeen_ = true;
        // The earliest look at the dialog, taken before any box is answered.
        if (snapshotOnSight_)
            Snapshot(dialog_);
        snapshotOnSight_ = false;
    }
    for (HWND box : scan.boxes)
        if (handledBoxes_.insert(box).second)
            RecordBox(box);
}

void Session::RecordBox(HWND box)
{
    BoxRecord record;
    record.milliseconds = GetTickCount() - started_;
    record.caption = WindowTitle<std::string>(box);
    ControlText(GetDlgItem(box, kBoxTextId), &record.text);
    if (options_.wide) {
        record.wideCaption = WindowTitle<std::wstring>(box);
        ControlText(GetDlgItem(box, kBoxTextId), &record.wideText);
    }
    for (const ButtonName &button : kButtons) {
        if (!VisibleChild(box, button.id))
            continue;
        if (!record.buttons.empty())
            record.buttons += ",";
        record.buttons += button.name;
    }
    HWND owner = GetWindow(box, GW_OWNER);
    bool ownedByDialog = owner && IsDialogClass(owner) && GetDlgItem(owner, IDC_LOG);
    record.owner = !owner ? "none" : ownedByDialog ? "dialog" : "other";

    std::string answer;
    if (nextAnswer_ < options_.answers.size()) {
        answer = options_.answers[nextAnswer_++];
    } else {
        answer = VisibleChild(box, IDNO) ? "no" : "ok";
        Fail("box " + QuoteForTranscript(record.text) + " came with no answer left");
    }
    int id = 0;
    for (const ButtonName &button : kButtons)
        if (answer == button.name)
            id = button.id;
    HWND button = id ? VisibleChild(box, id) : nullptr;
    if (!button) {
        Fail("box " + QuoteForTranscript(record.text) + " has no button \"" + answer + "\"");
        id = VisibleChild(box, IDNO) ? IDNO : VisibleChild(box, IDOK) ? IDOK : IDCANCEL;
        button = GetDlgItem(box, id);
    }
    record.answer = answer;

    if (DialogExists()) {
        // A dialog that closed while being read gives no snapshot.
        record.dialogSeen = ReadDialog(dialog_, started_, options_.wide, &record.dialog);
        if (record.dialogSeen) {
            record.dialog.line = result_.lines.size();
            result_.lines.push_back(DialogLine(record.dialog));
        }
    }
    record.line = result_.lines.size();
    result_.boxes.push_back(record);
    result_.lines.push_back(BoxLine(record));
    if (options_.beforeAnswer)
        options_.beforeAnswer(record);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

bool Session::Snapshot(HWND dialog)
{
    DialogSnapshot snapshot;
    if (!ReadDialog(dialog, started_, options_.wide, &snapshot)) {
        Fail("snapshot: the dialog closed while it was being read");
        return false;
    }
    snapshot.line = result_.lines.size();
    result_.snapshots.push_back(snapshot);
    result_.lines.push_back(DialogLine(snapshot));
    return true;
}

// Polls until done() holds (checked right after each poll). False after
// recording why not: the deadline, or the program's exit.
bool Session::WaitFor(const std::string &action, const std::function<bool()> &done)
{
    for (;;) {
        Poll();
        if (done())
            return true;
        // A box that came with no answer left ends the script too.
        if (!result_.error.empty())
            return false;
        if (exited_) {
            Fail(action + ": the program exited");
            return false;
        }
        if (PastDeadline()) {
            Fail(action + ": time limit reached");
            return false;
        }
        Sleep(options_.pollMilliseconds);
    }
}

bool Session::FirstSight(const std::string &)
{
    Poll();
    if (DialogExists())
        return Snapshot(dialog_), true;
    if (dialogSeen_) {
        Fail("dialog: the dialog has already closed");
        return false;
    }
    snapshotOnSight_ = true;
    return WaitFor("dialog", [this] { return dialogSeen_; });
}

bool Session::NeedDialog(const char *action)
{
    Poll();
    if (DialogExists())
        return true;
    Fail(std::string(action) + ": there is no dialog");
    return false;
}

bool Session::TakeSnapshot(const std::string &)
{
    return NeedDialog("snapshot") && (Snapshot(dialog_), true);
}

bool Session::WaitDone(const std::string &)
{
    return WaitFor("wait-done", [this] { return FinishEnabled(); }) && (Snapshot(dialog_), true);
}

// A window that doesn't answer for 5 s is marked as not responding by
// Windows. A message sent from another program waits until the dialog
// answers it (under Wine also past its time-out), so the time between two
// answers is the time the dialog couldn't answer, plus a poll. The watch
// starts when the dialog is first seen, so it is the first action.
bool Session::WatchDone(const std::string &)
{
    bool watching = false;
    DWORD lastAnswer = 0;
    auto answered = [this, &watching, &lastAnswer] {
        if (!DialogExists())
            return false;
        if (!watching) {
            watching = true;
            lastAnswer = GetTickCount();
        }
        LRESULT position = 0;
        if (Send(GetDlgItem(dialog_, IDC_PROGRESS), PBM_GETPOS, 0, 0, &position)) {
            DWORD now = GetTickCount();
            if (now - lastAnswer > result_.longestSilence)
                result_.longestSilence = now - lastAnswer;
            lastAnswer = now;
        }
        return FinishEnabled();
    };
    return WaitFor("watch-done", answered) && (Snapshot(dialog_), true);
}

bool Session::WaitGone(const std::string &)
{
    return WaitFor("wait-gone", [this] { return exited_ || (dialogSeen_ && !DialogExists()); });
}

bool Session::WaitExit(const std::string &)
{
    return WaitFor("wait-exit", [this] { return exited_; });
}

// Tells a script outside that this point is reached (it takes a screenshot,
// for instance): creates the named file.
bool Session::Signal(const std::string &path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        Fail("signal:" + path + ": cannot create the file");
        return false;
    }
    CloseHandle(file);
    return true;
}

bool Session::SleepFor(const std::string &milliseconds)
{
    DWORD until = GetTickCount() + static_cast<DWORD>(strtoul(milliseconds.c_str(), nullptr, 10));
    for (;;) {
        Poll();
        if (!result_.error.empty())
            return false;
        if (static_cast<LONG>(GetTickCount() - until) >= 0)
            return true;
        if (PastDeadline()) {
            Fail("sleep:" + milliseconds + ": time limit reached");
            return false;
        }
        Sleep(options_.pollMilliseconds);
    }
}

bool Session::AwaitOutcome(const char *action, size_t boxesBefore)
{
    return WaitFor(action, [this, boxesBefore] {
        return result_.boxes.size() > boxesBefore || !DialogExists() || exited_;
    });
}

bool Session::PressFinish(const std::string &)
{
    if (!NeedDialog("press-finish"))
        return false;
    size_t boxesBefore = result_.boxes.size();
    // A player can press the button only once it is enabled.
    if (!WaitFor("press-finish", [this] { return FinishEnabled(); }))
        return false;
    PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDC_FINISH, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog_, IDC_FINISH)));
    return AwaitOutcome("press-finish", boxesBefore);
}

bool Session::CloseBox(const std::string &)
{
    if (!NeedDialog("close-box"))
        return false;
    size_t boxesBefore = result_.boxes.size();
    PostMessageA(dialog_, WM_SYSCOMMAND, SC_CLOSE, 0);
    return AwaitOutcome("close-box", boxesBefore);
}

// Esc to the control with the focus, where a real key goes, so that the
// program's IsDialogMessage handles it like a real key.
bool Session::Escape(const std::string &)
{
    if (!NeedDialog("escape"))
        return false;
    GUITHREADINFO thread = {};
    thread.cbSize = sizeof thread;
    HWND target = dialog_;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog_, nullptr), &thread) && thread.hwndFocus &&
        (thread.hwndFocus == dialog_ || IsChild(dialog_, thread.hwndFocus)))
        target = thread.hwndFocus;
    PostMessageA(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageA(target, WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0010001u));
    return true;
}

// WM_CLOSE sent as another program sends it (a task manager's "close"); a
// dialog that works on a file answers it from inside its step.
bool Session::SendClose(const std::string &)
{
    if (!NeedDialog("send-close"))
        return false;
    LRESULT result = 0;
    if (Send(dialog_, WM_CLOSE, 0, 0, &result, false, 5000))
        return true;
    Fail("send-close: the dialog did not answer within 5 s");
    return false;
}

bool Session::WaitLog(const std::string &text)
{
    return WaitFor("wait-log", [this, &text] {
        std::string log;
        return DialogExists() && ControlText(GetDlgItem(dialog_, IDC_LOG), &log) &&
               log.size() >= text.size() && log.compare(log.size() - text.size(), text.size(), text) == 0;
    });
}

// An action by name; a name ending in ':' takes the rest of the action as
// its argument.
struct ActionHandler {
    const char *name;
    bool (Session::*run)(const std::string &argument);
};

bool Session::RunAction(const std::string &action)
{
    static const ActionHandler kActions[] = {
        {"dialog", &Session::FirstSight},
        {"snapshot", &Session::TakeSnapshot},
        {"wait-done", &Session::WaitDone},
        {"watch-done", &Session::WatchDone},
        {"wait-gone", &Session::WaitGone},
        {"wait-exit", &Session::WaitExit},
        {"signal:", &Session::Signal},
        {"sleep:", &Session::SleepFor},
        {"press-finish", &Session::PressFinish},
        {"close-box", &Session::CloseBox},
        {"escape", &Session::Escape},
        {"send-close", &Session::SendClose},
        {"wait-log:", &Session::WaitLog},
    };
    for (const ActionHandler &handler : kActions) {
        const size_t length = strlen(handler.name);
        const bool takesArgument = handler.name[length - 1] == ':';
        if (takesArgument ? action.compare(0, length, handler.name) == 0 : action == handler.name)
            return (this->*handler.run)(action.substr(takesArgument ? length : action.size()));
    }
    Fail("unknown action \"" + action + "\"");
    return false;
}

void Session::RunActions()
{
    for (const std::string &action : options_.actions)
        if (!RunAction(action) || !result_.error.empty())
            return;
}

// Waits for the exit (within the limit, or a short grace after a failed
// action) and kills the program if it is still there.
void Session::Finish()
{
    bool scripted = result_.error.empty();
    DWORD graceEnd = GetTickCount() + kGraceMilliseconds;
    while (!exited_) {
        Poll();
        if (exited_)
            break;
        if (PastDeadline() || (!scripted && static_cast<LONG>(GetTickCount() - graceEnd) >= 0)) {
            TerminateProcess(process_, 1);
            WaitForSingleObject(process_, 10000);
            result_.timedOut = true;
            result_.lines.push_back("timeout");
            Fail("the program did not exit in time");
            return;
        }
        Sleep(options_.pollMilliseconds);
    }
    if (nextAnswer_ < options_.answers.size())
        Fail(std::to_string(options_.answers.size() - nextAnswer_) + " answer(s) left unused");
}

} // namespace

DriverResult RunDriver(const DriverOptions &options)
{
    // Real pixels, whatever the program's own DPI awareness.
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    DriverResult result;
    Session session(options, result);
    if (!session.Start())
        return result;
    session.RunActions();
    session.Finish();
    return result;
}

std::string QuoteForTranscript(const std::string &bytes)
{
    std::string quoted = "\"";
    for (unsigned char c : bytes) {
        switch (c) {
        case '\r':
            quoted += "\\r";
            break;
        case '\n':
            quoted += "\\n";
            break;
        case '"':
            quoted += "\\\"";
            break;
        case '\\':
            quoted += "\\\\";
            break;
        default:
            if (c < 0x20 || c >= 0x80) {
                char escape[8];
                snprintf(escape, sizeof escape, "\\x%02X", c);
                quoted += escape;
            } else {
                quoted += static_cast<char>(c);
            }
        }
    }
    return quoted + "\"";
}

std::string DialogLine(const DialogSnapshot &s)
{
    char numbers[256];
    snprintf(numbers, sizeof numbers,
             " enabled=%d focused=%d range=%d..%d pos=%d rect=%ld,%ld,%ld,%ld desktop=%ld,%ld,%ld,%ld",
             s.buttonEnabled ? 1 : 0, s.buttonFocused ? 1 : 0, s.rangeLow, s.rangeHigh, s.position, s.left,
             s.top, s.right, s.bottom, s.desktopLeft, s.desktopTop, s.desktopRight, s.desktopBottom);
    return "dialog title=" + QuoteForTranscript(s.title) + " status=" + QuoteForTranscript(s.status) +
           " log=" + QuoteForTranscript(s.log) + " button=" + QuoteForTranscript(s.button) + numbers;
}

std::string BoxLine(const BoxRecord &box)
{
    return "box caption=" + QuoteForTranscript(box.caption) + " text=" + QuoteForTranscript(box.text) +
           " buttons=" + box.buttons + " owner=" + box.owner + " answer=" + box.answer;
}

std::wstring Widened(const std::string &text, unsigned codePage)
{
    std::wstring wide(text.size() + 1, L'\0');
    int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                     static_cast<int>(wide.size()));
    wide.resize(static_cast<size_t>(length > 0 ? length : 0));
    return wide;
}

std::string Narrowed(const std::wstring &text)
{
    std::string narrow(text.size() * 2 + 1, '\0');
    int length = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &narrow[0],
                                     static_cast<int>(narrow.size()), nullptr, nullptr);
    narrow.resize(static_cast<size_t>(length > 0 ? length : 0));
    return narrow;
}
