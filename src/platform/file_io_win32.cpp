#include <io.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "platform/file_io.h"

namespace platform {

namespace {

HANDLE native(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

FileHandle wrap(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? invalidHandle : reinterpret_cast<FileHandle>(handle);
}

// The largest request one ReadFile or WriteFile call takes.
constexpr std::size_t maxCall = 1 << 30;

std::atomic<bool> stopFlag{false};

// Runs on a thread of its own. The main thread sees the flag between frames, finishes and
// ends the process; if it is held up in a read or write, the default handling ends it after a
// while.
BOOL WINAPI onConsoleEvent(DWORD) {
    stopFlag = true;
    Sleep(2000);
    return FALSE;
}

}  // namespace

FileHandle openForReading(const char* name) {
    // Without FILE_FLAG_BACKUP_SEMANTICS a directory does not open.
    return wrap(CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
}

FileHandle createForWriting(const char* name, FileHandle) {
    // The input is open with no sharing, so opening it again here fails with a sharing
    // violation before anything is truncated.
    return wrap(CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
}

ReadResult readFull(FileHandle file, std::uint8_t* buffer, std::size_t size) {
    std::size_t count = 0;
    while (count < size) {
        DWORD n = 0;
        const DWORD request = static_cast<DWORD>(std::min(size - count, maxCall));
        if (!ReadFile(native(file), buffer + count, request, &n, nullptr)) {
            // The writing end of a pipe was closed: that is the end of the input.
            if (GetLastError() == ERROR_BROKEN_PIPE) break;
            return {count, true};
        }
        if (n == 0) break;
        count += n;
    }
    return {count, false};
}

bool writeAll(FileHandle file, const std::uint8_t* data, std::size_t size, std::size_t* written) {
    std::size_t done = 0;
    bool ok = true;
    while (done < size) {
        DWORD n = 0;
        const DWORD request = static_cast<DWORD>(std::min(size - done, maxCall));
        if (!WriteFile(native(file), data + done, request, &n, nullptr) || n == 0) {
            ok = false;
            break;
        }
        done += n;
    }
    if (written != nullptr) *written = done;
    return ok;
}

bool closeFile(FileHandle file) { return CloseHandle(native(file)) != 0; }

std::int64_t fileSize(FileHandle file) {
    LARGE_INTEGER size{};
    if (GetFileType(native(file)) != FILE_TYPE_DISK || !GetFileSizeEx(native(file), &size)) {
        return -1;
    }
    return size.QuadPart;
}

bool seekTo(FileHandle file, std::uint64_t offset) {
    if (fileSize(file) < 0) return false;
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(native(file), to, nullptr, FILE_BEGIN) != 0;
}

bool stdoutIsTerminal() { return _isatty(_fileno(stdout)) != 0; }

void catchStopRequests() { SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

bool stopRequested() { return stopFlag; }

void endAsStopped() { ExitProcess(STATUS_CONTROL_C_EXIT); }

}  // namespace platform
