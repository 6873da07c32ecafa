// An in-memory stand-in for the file seam, linked into the readers in place of the real one,
// so that a test can make the input fail at any byte.
#pragma once

#include <cstddef>
#include <limits>
#include <string>

#include "test_files.h"

namespace fake_files {

constexpr std::size_t never = std::numeric_limits<std::size_t>::max();

// Makes `name` open with `data` as its contents. Reads fail once `failAt` bytes have been
// delivered (a read that reaches that point still delivers what came before it).
void add(const std::string& name, Bytes data, std::size_t failAt = never);

}  // namespace fake_files
