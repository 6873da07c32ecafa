// Preloaded into the morvane process by the end-to-end tests (LD_PRELOAD) to make file
// reads and writes misbehave the way slow or failing systems do. Only descriptors 3 and up
// are touched, so the console stays as it is.
//   IO_FAULT_CHOPPY=1       every other call fails with EINTR; the others move at most
//                           1000 bytes
//   IO_FAULT_READ_LIMIT=N   reads fail with EIO once N bytes have been read
//   IO_FAULT_WRITE_LIMIT=N  writes fail with ENOSPC once N bytes have been written, as on a
//                           full disk: the write that reaches the limit writes up to it
//   IO_FAULT_CLOSE_FAILS=1  closing the descriptor last written to fails with EIO, as a
//                           late write error on NFS does (the descriptor is closed)
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

using ReadCall = ssize_t (*)(int, void*, size_t);
using WriteCall = ssize_t (*)(int, const void*, size_t);
using CloseCall = int (*)(int);

int lastWritten = -1;

bool choppy() { return std::getenv("IO_FAULT_CHOPPY") != nullptr; }

// In choppy mode, decides whether this call is interrupted and how much it may move.
bool interrupted(size_t& count) {
    static bool interruptNext = true;
    if (!choppy()) return false;
    interruptNext = !interruptNext;
    if (!interruptNext) {
        errno = EINTR;
        return true;
    }
    if (count > 1000) count = 1000;
    return false;
}

// With `variable` set to N, a call may move only the bytes left before N have moved. When
// none are left it fails: false, with errno set to `error`.
bool withinLimit(const char* variable, size_t moved, size_t& count, int error) {
    const char* limit = std::getenv(variable);
    if (limit == nullptr) return true;
    const size_t left = std::strtoul(limit, nullptr, 10) - moved;
    if (left == 0) {
        errno = error;
        return false;
    }
    if (count > left) count = left;
    return true;
}

}  // namespace

extern "C" ssize_t read(int fd, void* buffer, size_t count) {
    static const auto realRead = reinterpret_cast<ReadCall>(dlsym(RTLD_NEXT, "read"));
    static size_t delivered = 0;
    if (fd < 3) return realRead(fd, buffer, count);
    if (interrupted(count) || !withinLimit("IO_FAULT_READ_LIMIT", delivered, count, EIO)) {
        return -1;
    }
    const ssize_t n = realRead(fd, buffer, count);
    if (n > 0) delivered += static_cast<size_t>(n);
    return n;
}

extern "C" ssize_t write(int fd, const void* data, size_t count) {
    static const auto realWrite = reinterpret_cast<WriteCall>(dlsym(RTLD_NEXT, "write"));
    static size_t written = 0;
    if (fd < 3) return realWrite(fd, data, count);
    lastWritten = fd;
    if (interrupted(count) || !withinLimit("IO_FAULT_WRITE_LIMIT", written, count, ENOSPC)) {
        return -1;
    }
    const ssize_t n = realWrite(fd, data, count);
    if (n > 0) written += static_cast<size_t>(n);
    return n;
}

extern "C" int close(int fd) {
    static const auto realClose = reinterpret_cast<CloseCall>(dlsym(RTLD_NEXT, "close"));
    const int result = realClose(fd);
    if (result == 0 && fd == lastWritten && std::getenv("IO_FAULT_CLOSE_FAILS") != nullptr) {
        errno = EIO;
        return -1;
    }
    return result;
}
