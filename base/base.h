// The ground both the shell and the update stand on: the texts the user sees,
// the prompt set through which every error and question reaches the user, and
// the holders that release what a function holds on every way out.
//
// Every box has the same caption and takes DialogWindow, read at the moment of
// the call, as its owner. Texts are Windows-1250 bytes (the sources are UTF-8
// and are compiled with -fexec-charset=CP1250).
#pragma once

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

// ---------------------------------------------------------------------------
// Texts. Each is held once; code and tests use these names.

// The caption of every box and of the dialog; the out-of-memory error; what
// a question to continue ends with.
constexpr char kCaption[] = "Vendrake II PL - PATCH 1.00B";
constexpr char kOutOfMemory[] = "Za mało pamięci do przeprowadzenia\nprocesu aktualizacji Vendrake II PL.";
constexpr char kContinueSuffix[] = "\n\nCzy chcesz kontynuować?";

// Start-up: discovery and the confirmation.
constexpr char kNotInstalled[] = "Gra Vendrake II PL nie jest zainstalowana.";
constexpr char kRegistryUnreadable[] = "Nie można odczytać z rejestru\ninformacji o grze Vendrake II PL.";
constexpr char kDirectoryNotFound[] = "Nie znaleziono katalogu \"%s\".";
constexpr char kConfirmUpdate[] =
    "Znaleziono grę Vendrake II PL w katalogu \"%s\".\nCzy chcesz kontynuować aktualizację gry?";

// The file operations ("%s": the file).
constexpr char kCannotOpen[] = "Nie można otworzyć pliku \"%s\".";
constexpr char kCannotRead[] = "Nie można odczytać danych z pliku \"%s\".";
constexpr char kCannotWrite[] = "Nie można zapisać danych do pliku \"%s\".";
constexpr char kCannotCreate[] = "Nie można utworzyć pliku \"%s\".";
constexpr char kBadFileName[] = "Niewłaściwa nazwa pliku \"%s\"";
constexpr char kBadFileName2[] = "Niewłaściwa nazwa pliku \"%s%s\"";

// The registry values.
constexpr char kRegistryBadType[] = "Nieobsługiwany typ wartości rejetru";
constexpr char kRegistryCannotModify[] = "Nie można zmodyfikować wpisów do rejestru";

// The progress dialog.
constexpr char kCancelQuestion[] = "Czy na pewno chcesz anulować aktualizację gry?";
constexpr char kStatusRunning[] = "Trwa uaktualnianie gry Vendrake II PL";
constexpr char kStatusDone[] = "Uaktualnienie gry Vendrake II PL zakończone pomyślnie";
constexpr char kFinishButton[] = "Zakończ";

// The pieces of the log's lines.
constexpr char kLogRegistry[] = "Uaktualnianie wpisów do rejestru...";
constexpr char kLogFileOpen[] = "Uaktualnianie pliku \"";
constexpr char kLogFileClose[] = "\"...";
constexpr char kLogOk[] = " OK\r\n";
// Ends the line of a saved game the user chose to go on from after a failure:
// left as it was, or not wholly done.
constexpr char kLogSkipped[] = " pominięto\r\n";

// ---------------------------------------------------------------------------
// Prompt set. Results: errors 0, ShowInfo 1, questions 1 only for Yes.

// Box styles (MessageBoxA type values).
enum : UINT {
    kStyleError = MB_OK | MB_ICONERROR,            // 0x10
    kStyleQuestion = MB_YESNO | MB_ICONQUESTION,   // 0x24
    kStyleInformation = MB_OK | MB_ICONINFORMATION // 0x40
};

// The one platform call the prompt set makes. Tests replace it; it defaults to
// MessageBoxA.
typedef int(WINAPI *MessageBoxFunction)(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
extern MessageBoxFunction MessageBoxCall;

// The progress dialog while it exists, else null; owner of every box.
extern HWND DialogWindow;

// Sent to DialogWindow before every box: the dialog brings its log and bar up
// to date, so that a box always stands over what the update has done so far.
constexpr UINT MSG_SHOW_PENDING = WM_APP + 12;

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

// ---------------------------------------------------------------------------
// Holders that release what they hold on every way out of a function.

// A block from malloc (or nothing), freed with the holder unless Release()
// hands it on.
class HeapMemory {
public:
    explicit HeapMemory(void *memory = nullptr) : memory_(memory) {}
    HeapMemory(const HeapMemory &) = delete;
    HeapMemory &operator=(const HeapMemory &) = delete;
    ~HeapMemory() { free(memory_); }
    char *Get() const { return static_cast<char *>(memory_); }
    explicit operator bool() const { return memory_ != nullptr; }
    void *Release()
    {
        void *memory = memory_;
        memory_ = nullptr;
        return memory;
    }

private:
    void *memory_;
};

// A stream from fopen (or null).
class FileStream {
public:
    explicit FileStream(FILE *file) : file_(file) {}
    FileStream(const FileStream &) = delete;
    FileStream &operator=(const FileStream &) = delete;
    ~FileStream() { Close(); }
    operator FILE *() const { return file_; }
    // Nonzero when buffered data couldn't be written. The flush is asked for
    // on its own: Wine's fclose reports success even when its final flush
    // failed (a full disk), while fflush reports it.
    int Close()
    {
        if (!file_)
            return 0;
        int flushed = fflush(file_);
        int closed = fclose(file_);
        file_ = nullptr;
        return flushed != 0 || closed != 0;
    }

private:
    FILE *file_;
};

// A kernel object handle (or null, or INVALID_HANDLE_VALUE, as the call that
// made it fails).
class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    ~Handle() { Close(); }
    bool Valid() const { return handle_ && handle_ != INVALID_HANDLE_VALUE; }
    operator HANDLE() const { return handle_; }
    void Close()
    {
        if (Valid())
            CloseHandle(handle_);
        handle_ = nullptr;
    }

private:
    HANDLE handle_;
};

// A search of FindFirstFileA.
class FindSearch {
public:
    FindSearch(const char *pattern, WIN32_FIND_DATAA *found) : handle_(FindFirstFileA(pattern, found)) {}
    FindSearch(const FindSearch &) = delete;
    FindSearch &operator=(const FindSearch &) = delete;
    ~FindSearch() { Close(); }
    bool Found() const { return handle_ != INVALID_HANDLE_VALUE; }
    bool Next(WIN32_FIND_DATAA *found) { return Found() && FindNextFileA(handle_, found); }
    void Close()
    {
        if (Found())
            FindClose(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle_;
};

// A registry key, opened through &key.
class RegistryKey {
public:
    RegistryKey() = default;
    RegistryKey(const RegistryKey &) = delete;
    RegistryKey &operator=(const RegistryKey &) = delete;
    ~RegistryKey() { Close(); }
    HKEY *operator&() { return &key_; }
    operator HKEY() const { return key_; }
    void Close()
    {
        if (key_)
            RegCloseKey(key_);
        key_ = nullptr;
    }

private:
    HKEY key_ = nullptr;
};
