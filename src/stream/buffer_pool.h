// Large buffers kept when freed, for the next reader or output of the same size to take. A run
// makes one reader and few outputs, but the fuzz targets make several for every input, and
// fresh memory for each is most of their cost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// A buffer of `size` bytes, left uninitialised: one kept, or a new one.
std::unique_ptr<std::uint8_t[]> takeBuffer(std::size_t size);
// Keeps `buffer`, of `size` bytes, for takeBuffer(); a few are kept, the rest freed.
void keepBuffer(std::unique_ptr<std::uint8_t[]> buffer, std::size_t size);
