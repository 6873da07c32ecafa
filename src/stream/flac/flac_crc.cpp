#include "stream/flac/flac_crc.h"

#include <array>

namespace flac {

namespace {

// table[k][b]: the CRC-16 of byte b followed by k zero bytes, so that eight bytes are taken
// in one step.
using Tables = std::array<std::array<std::uint16_t, 256>, 8>;

Tables makeTables() {
    Tables tables{};
    for (std::uint32_t byte = 0; byte < 256; ++byte) {
        std::uint32_t crc = byte << 8;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) != 0 ? crc << 1 ^ 0x8005 : crc << 1;
        tables[0][byte] = static_cast<std::uint16_t>(crc);
    }
    for (std::size_t k = 1; k < 8; ++k) {
        for (std::size_t byte = 0; byte < 256; ++byte) {
            const std::uint16_t before = tables[k - 1][byte];
            tables[k][byte] = static_cast<std::uint16_t>(before << 8 ^ tables[0][before >> 8]);
        }
    }
    return tables;
}

const Tables tables = makeTables();

// a × b modulo the CRC-16's polynomial.
std::uint16_t multiply(std::uint16_t a, std::uint16_t b) {
    std::uint32_t product = 0;
    for (int bit = 15; bit >= 0; --bit) {
        product = (product & 0x8000) != 0 ? (product << 1 ^ 0x8005) & 0xFFFF : product << 1;
        if ((b >> bit & 1) != 0) product ^= a;
    }
    return static_cast<std::uint16_t>(product);
}

}  // namespace

std::uint8_t crc8(const std::uint8_t* data, std::size_t size) {
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80) != 0 ? crc << 1 ^ 0x07 : crc << 1;
        crc &= 0xFF;
    }
    return static_cast<std::uint8_t>(crc);
}

std::uint16_t crc16(std::uint16_t crc, const std::uint8_t* data, std::size_t size) {
    const auto& t = tables;
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        const std::uint8_t* p = data + i;
        crc = static_cast<std::uint16_t>(t[7][p[0] ^ crc >> 8] ^ t[6][p[1] ^ (crc & 0xFF)] ^
                                         t[5][p[2]] ^ t[4][p[3]] ^ t[3][p[4]] ^ t[2][p[5]] ^
                                         t[1][p[6]] ^ t[0][p[7]]);
    }
    for (; i < size; ++i) crc = static_cast<std::uint16_t>(crc << 8 ^ t[0][crc >> 8 ^ data[i]]);
    return crc;
}

std::uint16_t crc16AfterZeros(std::uint16_t crc, std::uint64_t count) {
    // crc × x^(8 × count): x^8 squared as the bits of count ask.
    std::uint16_t power = 1, square = 0x0100;
    for (; count != 0; count >>= 1) {
        if ((count & 1) != 0) power = multiply(power, square);
        square = multiply(square, square);
    }
    return multiply(crc, power);
}

}  // namespace flac
