// FLAC's CRCs, and LAME's CRC-16 least significant bit first, against their bit-by-bit
// definitions, over runs of every length up to some hundreds of bytes, whole and in parts, and
// the CRC-16 carried over zeros.
#include "stream/flac/flac_crc.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

// Least significant bit first, polynomial 0xA001.
std::uint16_t mirroredBitByBit(const std::vector<std::uint8_t>& bytes) {
    std::uint16_t crc = 0;
    for (const std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) != 0 ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

std::uint32_t bitByBit(const std::vector<std::uint8_t>& bytes, int width, std::uint32_t poly) {
    const std::uint32_t top = 1u << (width - 1), mask = (top << 1) - 1;
    std::uint32_t crc = 0;
    for (const std::uint8_t byte : bytes) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool in = ((byte >> bit & 1) != 0) != ((crc & top) != 0);
            crc = (crc << 1 ^ (in ? poly : 0)) & mask;
        }
    }
    return crc;
}

TEST(FlacCrcTest, MatchBitByBitOverEveryLength) {
    const std::vector<std::uint8_t> check = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(flac::crc16(0, check.data(), check.size()), 0xFEE8);
    EXPECT_EQ(crc::crc16LsbFirst(0, check.data(), check.size()), 0xBB3D);
    std::mt19937 random(7);
    for (std::size_t size = 0; size < 600; size += size < 160 ? 1 : 37) {
        std::vector<std::uint8_t> bytes(size);
        for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(random());
        SCOPED_TRACE(size);
        EXPECT_EQ(flac::crc8(bytes.data(), size), bitByBit(bytes, 8, 0x07));
        const std::uint32_t whole = bitByBit(bytes, 16, 0x8005);
        EXPECT_EQ(flac::crc16(0, bytes.data(), size), whole);
        const std::size_t cut = size == 0 ? 0 : random() % size;
        EXPECT_EQ(flac::crc16(flac::crc16(0, bytes.data(), cut), bytes.data() + cut, size - cut),
                  whole);
        const std::uint16_t lame = mirroredBitByBit(bytes);
        EXPECT_EQ(crc::crc16LsbFirst(0, bytes.data(), size), lame);
        EXPECT_EQ(crc::crc16LsbFirst(crc::crc16LsbFirst(0, bytes.data(), cut), bytes.data() + cut,
                                     size - cut),
                  lame);
        std::vector<std::uint8_t> zeros(bytes);
        zeros.resize(size + 75, 0);
        EXPECT_EQ(flac::crc16AfterZeros(static_cast<std::uint16_t>(whole), 75),
                  bitByBit(zeros, 16, 0x8005));
    }
}

}  // namespace
