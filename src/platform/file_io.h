// The few operating-system file calls the tool needs, in one place. The readers and the
// driver see only these functions and the FileHandle type.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

#ifdef _WIN32
// A Win32 HANDLE, held as an integer so that the invalid value (INVALID_HANDLE_VALUE) can be a
// compile-time constant.
using FileHandle = std::intptr_t;
#else
using FileHandle = int;
#endif
inline constexpr FileHandle invalidHandle = -1;

// Opens an existing file for reading. A directory counts as a failure: it would open on
// POSIX, but reading it fails. On Windows no other opener may share the file.
FileHandle openForReading(const char* name);

// Creates `name` for writing, or empties it if it exists. Refuses (invalid handle, nothing
// touched) when `name` leads to the same file as `input`, through a symbolic or hard link.
// Only a regular file is emptied, so a name that points at a device still gets written to.
// On Windows the input is open without sharing, so the system itself refuses the same file.
FileHandle createForWriting(const char* name, FileHandle input);

struct ReadResult {
    std::size_t count;  // bytes delivered, also when failed is set
    bool failed;        // an error other than the end of the file stopped the read
};

// Reads until `size` bytes have arrived or the file ends, so that pipes are read whole. A
// stop request (see catchStopRequests) that interrupts a waiting read ends it early.
ReadResult readFull(FileHandle file, std::uint8_t* buffer, std::size_t size);

// Writes all `size` bytes; false on any error, or when a stop request interrupts a waiting
// write. `written`, when given, receives how many bytes were written either way.
bool writeAll(FileHandle file, const std::uint8_t* data, std::size_t size,
              std::size_t* written = nullptr);

// Moves a regular file's position to `offset` bytes from its start, for the next read or
// write. False for anything that cannot seek (a pipe, a device) and on any error.
bool seekTo(FileHandle file, std::uint64_t offset);
// False when the system reports an error, which for a file written to can be a write that
// failed late (NFS, quotas). The handle is gone either way.
bool closeFile(FileHandle file);

// The size of a regular file, or -1 for anything else (a pipe, a device).
std::int64_t fileSize(FileHandle file);

bool stdoutIsTerminal();

// From now on, the user or the system stopping the process (SIGINT, SIGTERM, SIGHUP; on
// Windows the console's Ctrl-C, Ctrl-Break and close events) no longer ends it at once but
// raises a flag, so that it can finish what it must and then end by endAsStopped(). A signal
// that the process was started with ignored stays ignored.
void catchStopRequests();
bool stopRequested();
// Ends the process as the stop request would have ended it.
[[noreturn]] void endAsStopped();

}  // namespace platform
