// Fuzz inputs reach the program as files, since that is all the readers accept. One
// memory-backed file is reused for every input and opened by name through /proc.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

class FuzzInputFile {
public:
    FuzzInputFile() : fd(memfd_create("morvane-fuzz-input", 0)) {
        if (fd < 0) {
            std::perror("memfd_create");
            std::abort();
        }
        name = "/proc/self/fd/" + std::to_string(fd);
    }

    // Replaces the file's contents with `data` and returns a name that opens it.
    const char* hold(const std::uint8_t* data, std::size_t size) {
        if (ftruncate(fd, 0) != 0 ||
            (size > 0 && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))) {
            std::perror("fuzz input file");
            std::abort();
        }
        return name.c_str();
    }

private:
    int fd;
    std::string name;
};

// Stops the run with a message; the fuzzer records the input as a crash.
[[noreturn]] inline void fuzzFailure(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}
