// FLAC's two checks: the CRC-8 of a frame header and the CRC-16 of a whole frame, both
// most significant bit first, from 0, with nothing xored at the end.
#pragma once

#include <cstddef>
#include <cstdint>

namespace flac {

// Polynomial x^8 + x^2 + x + 1.
std::uint8_t crc8(const std::uint8_t* data, std::size_t size);
// Polynomial x^16 + x^15 + x^2 + 1, going on from `crc`.
std::uint16_t crc16(std::uint16_t crc, const std::uint8_t* data, std::size_t size);
// What `crc` becomes after `count` zero bytes, without reading them: a CRC with no final xor
// is linear, so a frame whose header changes gets its new CRC-16 from its old one.
std::uint16_t crc16AfterZeros(std::uint16_t crc, std::uint64_t count);

}  // namespace flac
