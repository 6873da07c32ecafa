// The error checks of a sync frame: CRC-16 with the polynomial x^16 + x^15 + x^2 + 1, most
// significant bit first, starting from 0. crc2 makes the CRC over everything after the sync
// word 0; in AC-3, crc1 makes the CRC over bytes 2 up to the 5/8 point 0 as well.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

std::uint16_t crc16(const std::uint8_t* data, std::size_t size, std::uint16_t crc = 0);

// Where the part of an AC-3 frame of `frameSize` bytes that crc1 checks ends: 5/8 of the
// frame, counted in 16-bit words and rounded down.
std::size_t crc1End(std::size_t frameSize);

// Sets crc2 (the last two bytes) and, for AC-3, crc1 (bytes 2 and 3) so that both checks hold.
void setCrcs(std::vector<std::uint8_t>& frame, bool eac3);

// Both checks of a whole frame hold.
bool crcsHold(const std::uint8_t* frame, std::size_t size, bool eac3);
