// FLAC's two checks: the CRC-8 of a frame header and the CRC-16 of a whole frame, both
// most significant bit first, from 0, with nothing xored at the end.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stream/crc16.h"

namespace flac {

// Polynomial x^8 + x^2 + x + 1.
std::uint8_t crc8(const std::uint8_t* data, std::size_t size);
// Polynomial x^16 + x^15 + x^2 + 1.
using crc::crc16;
using crc::crc16AfterZeros;

}  // namespace flac
