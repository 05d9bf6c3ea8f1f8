// Holders that release what a function holds on every way out of it.
//
// None of them converts to what it holds: the object is handed out by Get()
// for a call that uses it, and an out-parameter for a call that makes one is
// asked for by name. So a holder can't be given by mistake to a call that
// releases it behind the holder's back (fclose(holder) doesn't compile), and
// what it holds is released exactly once.
#pragma once

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

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
    // Frees what it holds and takes memory instead.
    void Reset(void *memory)
    {
        free(memory_);
        memory_ = memory;
    }
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
    FILE *Get() const { return file_; }
    explicit operator bool() const { return file_ != nullptr; }
    // Hands the stream on, unclosed.
    FILE *Release()
    {
        FILE *file = file_;
        file_ = nullptr;
        return file;
    }
    // Closes the stream; nonzero when any write through it failed. The error
    // flag is asked first: Microsoft's C runtime keeps a flush that failed
    // inside fseek only there, and reports neither it from a later fflush or
    // fclose, nor (with nothing left to write) anything else. Then the last
    // buffered data is flushed on its own, then the stream is closed.
    int Close()
    {
        if (!file_)
            return 0;
        int failed = ferror(file_);
        int flushed = fflush(file_);
        int closed = fclose(file_);
        file_ = nullptr;
        return failed != 0 || flushed != 0 || closed != 0;
    }

private:
    FILE *file_;
};

// handle (a file's) as a binary stream opened with mode ("rb", "rb+", "wb"),
// which then owns it: closing the stream closes the handle. Null when the
// runtime can't take it; the handle is then closed, after discard (when
// given) has done what must be done through it first.
inline FILE *StreamOnHandle(HANDLE handle, const char *mode, void (*discard)(HANDLE) = nullptr)
{
    int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
    FILE *stream = descriptor >= 0 ? _fdopen(descriptor, mode) : nullptr;
    if (stream)
        return stream;
    if (discard)
        discard(handle);
    if (descriptor >= 0)
        _close(descriptor);
    else
        CloseHandle(handle);
    return nullptr;
}

// A kernel object handle (or null, or INVALID_HANDLE_VALUE, as the call that
// made it fails).
class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    ~Handle() { Close(); }
    bool Valid() const { return handle_ && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }
    void Close()
    {
        if (Valid())
            CloseHandle(handle_);
        handle_ = nullptr;
    }

private:
    HANDLE handle_;
};

// A search from FindFirstFileA or FindFirstFileW (or INVALID_HANDLE_VALUE
// when it found nothing).
class FindSearch {
public:
    explicit FindSearch(HANDLE handle) : handle_(handle) {}
    FindSearch(const FindSearch &) = delete;
    FindSearch &operator=(const FindSearch &) = delete;
    ~FindSearch() { Close(); }
    bool Found() const { return handle_ != INVALID_HANDLE_VALUE; }
    bool Next(WIN32_FIND_DATAA *found) { return Found() && FindNextFileA(handle_, found); }
    bool Next(WIN32_FIND_DATAW *found) { return Found() && FindNextFileW(handle_, found); }
    void Close()
    {
        if (Found())
            FindClose(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle_;
};

// A registry key, opened into Receive().
class RegistryKey {
public:
    RegistryKey() = default;
    RegistryKey(const RegistryKey &) = delete;
    RegistryKey &operator=(const RegistryKey &) = delete;
    ~RegistryKey() { Close(); }
    HKEY Get() const { return key_; }
    // Where a call that opens a key puts it; a key held before is closed.
    HKEY *Receive()
    {
        Close();
        return &key_;
    }
    void Close()
    {
        if (key_)
            RegCloseKey(key_);
        key_ = nullptr;
    }

private:
    HKEY key_ = nullptr;
};
