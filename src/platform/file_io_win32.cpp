#include <io.h>
#include <windows.h>

#include <algorithm>
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

bool writeAll(FileHandle file, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        DWORD n = 0;
        const DWORD request = static_cast<DWORD>(std::min(size, maxCall));
        if (!WriteFile(native(file), data, request, &n, nullptr) || n == 0) return false;
        data += n;
        size -= n;
    }
    return true;
}

bool closeFile(FileHandle file) { return CloseHandle(native(file)) != 0; }

std::int64_t fileSize(FileHandle file) {
    LARGE_INTEGER size{};
    if (GetFileType(native(file)) != FILE_TYPE_DISK || !GetFileSizeEx(native(file), &size)) {
        return -1;
    }
    return size.QuadPart;
}

bool stdoutIsTerminal() { return _isatty(_fileno(stdout)) != 0; }

}  // namespace platform
