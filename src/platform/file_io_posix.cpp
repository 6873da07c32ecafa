#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <initializer_list>

#include "platform/file_io.h"

namespace platform {

namespace {

volatile std::sig_atomic_t stopSignal = 0;

extern "C" void onStopSignal(int signal) { stopSignal = signal; }

}  // namespace

FileHandle openForReading(const char* name) {
    const int fd = ::open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return invalidHandle;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        return invalidHandle;
    }
    return fd;
}

FileHandle createForWriting(const char* name, FileHandle input) {
    // Open without O_TRUNC and look at what was opened before emptying it: truncating first
    // would destroy the input when the output name is a link to it.
    const int fd = ::open(name, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return invalidHandle;
    struct stat out {};
    struct stat in {};
    const bool known = ::fstat(fd, &out) == 0;
    const bool sameAsInput = known && input != invalidHandle && ::fstat(input, &in) == 0 &&
                             out.st_dev == in.st_dev && out.st_ino == in.st_ino;
    if (!known || sameAsInput || (S_ISREG(out.st_mode) && ::ftruncate(fd, 0) != 0)) {
        ::close(fd);
        return invalidHandle;
    }
    return fd;
}

ReadResult readFull(FileHandle file, std::uint8_t* buffer, std::size_t size) {
    std::size_t count = 0;
    while (count < size && !stopRequested()) {
        const ssize_t n = ::read(file, buffer + count, size - count);
        if (n > 0) {
            count += static_cast<std::size_t>(n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            return {count, true};
        }
    }
    return {count, false};
}

bool writeAll(FileHandle file, const std::uint8_t* data, std::size_t size, std::size_t* written) {
    std::size_t done = 0;
    bool ok = true;
    while (done < size) {
        // A pipe takes what fits and then waits; a stop request that comes while it waits
        // makes write() return what it took, and the next call would wait again.
        if (stopRequested()) {
            ok = false;
            break;
        }
        const ssize_t n = ::write(file, data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n == 0 || errno != EINTR || stopRequested()) {
            ok = false;
            break;
        }
    }
    if (written != nullptr) *written = done;
    return ok;
}

bool closeFile(FileHandle file) {
    // Linux releases the descriptor even when close() is interrupted; only a real error counts.
    return ::close(file) == 0 || errno == EINTR;
}

bool seekTo(FileHandle file, std::uint64_t offset) {
    if (fileSize(file) < 0) return false;
    return ::lseek(file, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

std::int64_t fileSize(FileHandle file) {
    struct stat info {};
    if (::fstat(file, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    return static_cast<std::int64_t>(info.st_size);
}

bool stdoutIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

void catchStopRequests() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a read or write that waits returns, and the flag is seen.
    action.sa_flags = 0;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction before {};
        if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) {
            ::sigaction(signal, &action, nullptr);
        }
    }
}

bool stopRequested() { return stopSignal != 0; }

void endAsStopped() {
    const int signal = stopSignal;
    ::signal(signal, SIG_DFL);
    ::raise(signal);
    ::_exit(128 + signal);  // not reached: the signal's default action ends the process
}

}  // namespace platform
