// Big-endian numbers in the headers of the formats that write them so (FLAC's metadata, the
// Xing and LAME fields of MP3), read from bytes and written into them.
#pragma once

#include <cstdint>

// The `bytes` bytes at `p`, most significant first.
inline std::uint64_t bigEndian(const std::uint8_t* p, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value = value << 8 | p[i];
    return value;
}

// Writes `value`'s low `bytes` bytes at `p`, most significant first.
inline void setBigEndian(std::uint8_t* p, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        p[i] = static_cast<std::uint8_t>(value >> (8 * (bytes - 1 - i)));
}
