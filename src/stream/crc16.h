// CRC-16 with the polynomial x^16 + x^15 + x^2 + 1, from any start and with nothing xored at
// the end: most significant bit first, as FLAC's frames take it, or least significant bit
// first (the polynomial mirrored, 0xA001), as LAME's tag does.
#pragma once

#include <cstddef>
#include <cstdint>

namespace crc {

// Going on from `crc`.
std::uint16_t crc16(std::uint16_t crc, const std::uint8_t* data, std::size_t size);
// What `crc` becomes after `count` zero bytes, without reading them: a CRC with no final xor
// is linear, so a frame whose header changes gets its new CRC-16 from its old one.
std::uint16_t crc16AfterZeros(std::uint16_t crc, std::uint64_t count);

// Least significant bit first, going on from `crc`.
std::uint16_t crc16LsbFirst(std::uint16_t crc, const std::uint8_t* data, std::size_t size);

}  // namespace crc
