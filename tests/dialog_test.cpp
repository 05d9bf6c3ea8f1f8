// The progress dialog made from the real template (read from the built
// updater) and driven in-process, and the message loop's read requests.
#include <gtest/gtest.h>

#include "app/app.h"
#include "dialog/dialog.h"
#include "discovery/discovery.h"
#include "res/resource.h"
#include "tests/test_support.h"

#include <commctrl.h>

#include <thread>
#include <vector>

namespace {

// What a modal box's own loop does while it is open: it dispatches what is
// posted meanwhile, so that the chain runs on under it, until nothing is left
// or its owner is gone. A quit met meanwhile is handed on.
void RunModalLoop(HWND owner)
{
    MSG message;
    while ((!owner || IsWindow(owner)) && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

class Dialog : public testing::Test {
protected:
    void SetUp() override
    {
        InitCommonControlsFromSystem();
        module_ = LoadLibraryExA(DIST_EXE, nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, module_);
        updateFailed = 0;
        updateDone = 0;
    }
    void TearDown() override
    {
        if (window_ && IsWindow(window_))
            DestroyWindow(window_);
        DialogWindow = nullptr;
        DrainQueue();
        entryCount = 0;
        if (module_)
            FreeLibrary(module_);
    }

    // Creates the dialog without running the chain: its first step message is
    // taken off the queue and checked.
    void Create()
    {
        window_ = CreateDialogParamW(module_, MAKEINTRESOURCEW(IDD_PROGRESS), nullptr, ProgressDialogProc, 0);
        ASSERT_NE(nullptr, window_);
        DialogWindow = window_;
        MSG message;
        ASSERT_TRUE(PeekMessageA(&message, window_, MSG_FIRST_STEP, MSG_FIRST_STEP, PM_REMOVE));
        EXPECT_EQ(0u, message.wParam);
        EXPECT_EQ(0, message.lParam);
    }

    std::string Text(int id) const
    {
        char text[65536];
        GetDlgItemTextA(window_, id, text, sizeof text);
        return text;
    }
    LRESULT Bar(UINT message, WPARAM wParam = 0) const
    {
        return SendDlgItemMessageA(window_, IDC_PROGRESS, message, wParam, 0);
    }
    // Dispatches what is queued; returns the exit code of a quit message, or
    // -1 when none came.
    static int DrainQueue()
    {
        int quit = -1;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT)
                quit = static_cast<int>(message.wParam);
            else if (message.message < WM_APP || message.hwnd == nullptr)
                DispatchMessageA(&message);
        }
        return quit;
    }

    HMODULE module_ = nullptr;
    HWND window_ = nullptr;
};

TEST_F(Dialog, OpensCentredInItsRunningState)
{
    entryCount = 3;
    Create();
    char title[256];
    GetWindowTextA(window_, title, sizeof title);
    EXPECT_STREQ(kCaption, title);
    EXPECT_EQ(kStatusRunning, Text(IDC_STATUS));
    EXPECT_EQ("", Text(IDC_LOG));
    EXPECT_EQ(kFinishButton, Text(IDC_FINISH));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window_, IDC_FINISH)));
    EXPECT_EQ(0, Bar(PBM_GETRANGE, TRUE));
    EXPECT_EQ(38, Bar(PBM_GETRANGE, FALSE));
    EXPECT_EQ(0, Bar(PBM_GETPOS));

    RECT desktop, own;
    GetWindowRect(GetDesktopWindow(), &desktop);
    GetWindowRect(window_, &own);
    EXPECT_EQ(desktop.left + ((desktop.right - desktop.left) - (own.right - own.left)) / 2, own.left);
    EXPECT_EQ(desktop.top + ((desktop.bottom - desktop.top) - (own.bottom - own.top)) / 2, own.top);

    // A step done moves the bar by one, once the bar is brought up to date.
    AdvanceProgress(window_);
    ShowProgressNow(window_);
    EXPECT_EQ(1, Bar(PBM_GETPOS));
    // More saved games than 16 bits count: the range holds them all.
    DestroyWindow(window_);
    entryCount = 70000;
    Create();
    EXPECT_EQ(70035, Bar(PBM_GETRANGE, FALSE));
}

TEST_F(Dialog, AppendsToTheEndOfTheLogWhateverIsSelected)
{
    Create();
    // The procedure's results are checked by calling it: SendMessage to a
    // dialog returns its DWLP_MSGRESULT instead.
    const std::wstring ok = Polish(kLogOk);
    EXPECT_EQ(TRUE, ProgressDialogProc(window_, MSG_LOG_APPEND, 0, reinterpret_cast<LPARAM>(L"Pierwszy")));
    EXPECT_EQ(TRUE, ProgressDialogProc(window_, MSG_LOG_APPEND, 0, reinterpret_cast<LPARAM>(ok.c_str())));
    ShowProgressNow(window_);
    EXPECT_EQ(std::string("Pierwszy OK\r\n"), Text(IDC_LOG));
    SendDlgItemMessageA(window_, IDC_LOG, EM_SETSEL, 2, 5);
    SendMessageW(window_, MSG_LOG_APPEND, 0, reinterpret_cast<LPARAM>(L"Drugi"));
    ShowProgressNow(window_);
    EXPECT_EQ(std::string("Pierwszy OK\r\nDrugi"), Text(IDC_LOG));
    // The append can't be undone.
    EXPECT_FALSE(SendDlgItemMessageA(window_, IDC_LOG, EM_CANUNDO, 0, 0));
    // Far past the edit control's default limit of 30,000 characters (some
    // 250 saved games), nothing is dropped.
    const std::wstring line = std::wstring(98, L'x') + ok;
    for (int i = 0; i < 400; ++i)
        SendMessageW(window_, MSG_LOG_APPEND, 0, reinterpret_cast<LPARAM>(line.c_str()));
    ShowProgressNow(window_);
    EXPECT_EQ(static_cast<int>(18 + 400 * line.size()), GetWindowTextLengthA(GetDlgItem(window_, IDC_LOG)));
}

TEST_F(Dialog, TheCloseBoxAsksWhileTheUpdateRuns)
{
    Create();
    PromptRecorder boxes({IDNO, IDYES});
    EXPECT_EQ(TRUE, ProgressDialogProc(window_, WM_CLOSE, 0, 0));
    ASSERT_EQ(1u, boxes.boxes.size());
    EXPECT_EQ(kCancelQuestion, boxes.boxes[0].text);
    EXPECT_EQ(kQuestionBox, boxes.boxes[0].type);
    EXPECT_EQ(window_, boxes.boxes[0].owner);
    EXPECT_TRUE(IsWindow(window_));
    EXPECT_EQ(-1, DrainQueue());

    SendMessageA(window_, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window_));
    EXPECT_EQ(nullptr, DialogWindow);
    EXPECT_EQ(0, DrainQueue());
}

// The chain runs on under the cancel question, and a step that fails there
// (the registry step, without the game's key) shows its error over the
// question and closes the dialog, taking the question with it: the dialog
// ends once, with exit code 0, and nothing asks again, even when the answer
// that comes last is Yes.
TEST_F(Dialog, AStepThatFailsUnderTheCancelQuestionClosesTheDialogOnce)
{
    Create();
    DeleteRegistryKey(kGameKeyPath);
    PostMessageA(window_, MSG_FIRST_STEP, 0, 0);
    PromptRecorder boxes({IDOK, IDYES}, RunModalLoop); // the error inside the question comes first
    EXPECT_EQ(TRUE, ProgressDialogProc(window_, WM_CLOSE, 0, 0));
    ASSERT_EQ(2u, boxes.boxes.size());
    ExpectBox(boxes.boxes[0], kCancelQuestion, kQuestionBox);
    ExpectBox(boxes.boxes[1], kRegistryCannotModify, kErrorBox);
    EXPECT_EQ(window_, boxes.boxes[1].owner);
    EXPECT_EQ(1, updateFailed);
    EXPECT_FALSE(IsWindow(window_));
    EXPECT_EQ(nullptr, DialogWindow);
    EXPECT_EQ(0, DrainQueue());
    EXPECT_EQ(2u, boxes.boxes.size());
}

TEST_F(Dialog, OnlyTheButtonCloses)
{
    Create();
    PromptRecorder boxes;
    // Esc reaches the dialog as IDCANCEL: nothing happens.
    EXPECT_EQ(FALSE, ProgressDialogProc(window_, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0));
    EXPECT_EQ(-1, DrainQueue());
    EXPECT_TRUE(IsWindow(window_));

    // After a failed step the close asks nothing and the exit code is 0.
    updateFailed = 1;
    EXPECT_EQ(TRUE, ProgressDialogProc(window_, WM_COMMAND, MAKEWPARAM(IDC_FINISH, BN_CLICKED), 0));
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(0, DrainQueue());
    EXPECT_FALSE(IsWindow(window_));
}

TEST_F(Dialog, FinishedStateClosesWithExitCodeOne)
{
    Create();
    SendMessageW(window_, MSG_LOG_APPEND, 0, reinterpret_cast<LPARAM>(L"log"));
    PromptRecorder boxes;
    EXPECT_EQ(TRUE, ProgressDialogProc(window_, MSG_UPDATE_DONE, 0, 0));
    EXPECT_EQ(1, updateDone);
    EXPECT_EQ(kStatusDone, Text(IDC_STATUS));
    EXPECT_EQ(kFinishButton, Text(IDC_FINISH));
    EXPECT_EQ("log", Text(IDC_LOG));
    HWND finish = GetDlgItem(window_, IDC_FINISH);
    EXPECT_TRUE(IsWindowEnabled(finish));
    EXPECT_EQ(finish, GetFocus());

    SendMessageA(window_, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(1, DrainQueue());
    EXPECT_FALSE(IsWindow(window_));
}

TEST_F(Dialog, ReadRequestsOfOtherThreads)
{
    TempDir directory;
    std::string name = directory / "data.bin";
    WriteFileBytes(name, "0123456789");

    // When the request can't be posted (here: to a thread that has ended),
    // the read is done on the calling thread.
    DWORD ended = 0;
    std::thread([&] { ended = GetCurrentThreadId(); }).join();
    UiThreadId = ended;
    FILE *file = fopen(name.c_str(), "rb");
    char buffer[16] = {};
    size_t got = 0;
    std::thread([&] { got = ReadOnUiThread(buffer, 1, 4, file); }).join();
    EXPECT_EQ(4u, got);
    EXPECT_EQ(std::string("0123"), std::string(buffer, 4));
    UiThreadId = 0;

    // Through the real loop: the worker's request is served on the UI thread
    // while the updater's first step reports a missing registry key; the
    // report waits until the request is queued, so it is served before the
    // dialog closes.
    DeleteRegistryKey(kGameKeyPath);
    ASSERT_FALSE(RegistryKeyExists(kGameKeyPath));
    HANDLE queued = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    size_t rest = 0;
    DWORD servedBy = 0;
    std::thread worker([&] {
        while (*static_cast<volatile DWORD *>(&UiThreadId) == 0)
            Sleep(1);
        servedBy = UiThreadId;
        SetEvent(queued);
        rest = ReadOnUiThread(buffer, 2, 8, file); // three whole elements remain
    });
    // The box waits until the request has had time to be posted.
    PromptRecorder waiting({}, [queued](HWND) {
        WaitForSingleObject(queued, 10000);
        Sleep(200);
    });
    EXPECT_EQ(0, RunProgressDialog(module_)) << "a stopped update";
    worker.join();
    CloseHandle(queued);
    ASSERT_EQ(1u, waiting.boxes.size()) << "the failed step closes without a question";
    EXPECT_EQ(kErrorBox, waiting.boxes[0].type);
    EXPECT_EQ(GetCurrentThreadId(), servedBy);
    EXPECT_EQ(3u, rest);
    EXPECT_EQ(std::string("456789"), std::string(buffer, 6));
    EXPECT_EQ(0u, UiThreadId);

    // At the end of the file a request yields 0, as fread does.
    std::thread([&] { got = ReadOnUiThread(buffer, 1, 4, file); }).join();
    EXPECT_EQ(0u, got);
    fclose(file);
}

// The loop's result: 1 when the dialog ends after the finished state. The
// chain can't run to its end here (there is no installation), so the
// finished state is posted while the first step reports its failure, as if
// the chain had ended just then. Meanwhile the dialog the loop made is read:
// it and its four controls are Unicode windows, which keep the wide texts
// put into them whatever the system's code page.
TEST_F(Dialog, TheLoopSaysWhetherTheUpdateFinished)
{
    DeleteRegistryKey(kGameKeyPath);
    std::vector<BOOL> unicodeWindows;
    PromptRecorder boxes({}, [&unicodeWindows](HWND owner) {
        unicodeWindows = {IsWindowUnicode(owner)};
        for (int id : {IDC_STATUS, IDC_LOG, IDC_PROGRESS, IDC_FINISH})
            unicodeWindows.push_back(GetDlgItem(owner, id) && IsWindowUnicode(GetDlgItem(owner, id)));
        PostMessageW(owner, MSG_UPDATE_DONE, 0, 0);
    });
    EXPECT_EQ(1, RunProgressDialog(module_));
    EXPECT_EQ(1, updateDone);
    EXPECT_EQ(nullptr, DialogWindow);
    EXPECT_EQ(std::vector<BOOL>(5, TRUE), unicodeWindows) << "the dialog, status, log, bar and button";
}

// The chain as the release has it: every step's message, target, operation,
// record count and successor, and every record of its table but table B's
// stand-ins (the build takes those from the release data), folded into one
// FNV-1a digest, whose value was taken from tables checked record by record
// against the release. A changed byte, offset, step or order anywhere
// changes it. The tables' shape is checked where they are compiled.
TEST(Tables, TheChainIsTheReleasesOwn)
{
    uint32_t digest = 2166136261u;
    const auto fold = [&digest](uint32_t value) {
        for (int i = 0; i < 4; ++i)
            digest = (digest ^ ((value >> (8 * i)) & 0xFF)) * 16777619u;
    };
    for (const UpdateStep &step : kUpdateSteps) {
        for (uint32_t field :
             {step.message, static_cast<UINT>(step.target), static_cast<UINT>(step.operation),
              static_cast<UINT>(step.recordCount), step.next})
            fold(field);
        for (unsigned i = 0; i < step.recordCount; ++i)
            if (&step != &kUpdateSteps[3] || i < 5 || i >= 185) {
                fold(step.table[i].offset);
                fold(step.table[i].value);
            }
    }
    EXPECT_EQ(0x807EDD27u, digest) << std::hex << digest;
}

} // namespace
