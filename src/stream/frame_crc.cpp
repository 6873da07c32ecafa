#include "stream/frame_crc.h"

#include <array>

namespace {

constexpr std::uint16_t polynomial = 0x8005;  // x^16 + x^15 + x^2 + 1, x^16 implied

constexpr std::array<std::uint16_t, 256> makeTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        unsigned crc = byte << 8;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? (crc << 1) ^ polynomial : crc << 1;
        table[byte] = static_cast<std::uint16_t>(crc);
    }
    return table;
}

constexpr std::array<std::uint16_t, 256> table = makeTable();

// The CRC of `value` followed by `zeros` zero bytes.
std::uint16_t crcOfWordThenZeros(std::uint16_t value, std::size_t zeros) {
    const std::uint8_t word[2] = {static_cast<std::uint8_t>(value >> 8),
                                  static_cast<std::uint8_t>(value)};
    std::uint16_t crc = crc16(word, 2);
    for (std::size_t i = 0; i < zeros; ++i) {
        crc = static_cast<std::uint16_t>((crc << 8) ^ table[crc >> 8]);
    }
    return crc;
}

// The word w at the start of a region of `length` bytes (w included) that makes the CRC over
// the region 0, given the CRC `rest` of the region with w = 0. The CRC is linear over GF(2),
// so this solves 16 equations in the 16 bits of w.
std::uint16_t leadingWordForZeroCrc(std::uint16_t rest, std::size_t length) {
    // Columns: what each bit of w adds to the CRC; rows are solved by Gaussian elimination.
    std::array<std::uint32_t, 16> rows{};  // bit 16 + j: coefficient of w's bit j; bit 0: rhs
    for (int j = 0; j < 16; ++j) {
        const std::uint16_t column =
            crcOfWordThenZeros(static_cast<std::uint16_t>(1U << j), length - 2);
        for (int i = 0; i < 16; ++i) rows[i] |= ((column >> i) & 1U) << (16 + j);
    }
    for (int i = 0; i < 16; ++i) rows[i] |= (rest >> i) & 1U;
    std::uint16_t w = 0;
    for (int j = 0; j < 16; ++j) {
        int pivot = j;
        while (pivot < 16 && !((rows[pivot] >> (16 + j)) & 1U)) ++pivot;
        if (pivot == 16) continue;  // cannot happen: x is invertible modulo the polynomial
        std::swap(rows[j], rows[pivot]);
        for (int i = 0; i < 16; ++i) {
            if (i != j && ((rows[i] >> (16 + j)) & 1U)) rows[i] ^= rows[j];
        }
    }
    for (int j = 0; j < 16; ++j) w |= static_cast<std::uint16_t>((rows[j] & 1U) << j);
    return w;
}

}  // namespace

std::uint16_t crc16(const std::uint8_t* data, std::size_t size, std::uint16_t crc) {
    for (std::size_t i = 0; i < size; ++i) {
        crc = static_cast<std::uint16_t>((crc << 8) ^ table[(crc >> 8) ^ data[i]]);
    }
    return crc;
}

std::size_t crc1End(std::size_t frameSize) {
    const std::size_t words = frameSize / 2;
    return 2 * (words / 2 + words / 8);
}

void setCrcs(std::vector<std::uint8_t>& frame, bool eac3) {
    const std::size_t size = frame.size();
    if (!eac3) {
        const std::size_t end = crc1End(size);
        frame[2] = frame[3] = 0;
        const std::uint16_t crc1 = leadingWordForZeroCrc(crc16(&frame[2], end - 2), end - 2);
        frame[2] = static_cast<std::uint8_t>(crc1 >> 8);
        frame[3] = static_cast<std::uint8_t>(crc1);
    }
    const std::uint16_t crc2 = crc16(&frame[2], size - 4);
    frame[size - 2] = static_cast<std::uint8_t>(crc2 >> 8);
    frame[size - 1] = static_cast<std::uint8_t>(crc2);
}

bool crcsHold(const std::uint8_t* frame, std::size_t size, bool eac3) {
    if (!eac3 && crc16(frame + 2, crc1End(size) - 2) != 0) return false;
    return crc16(frame + 2, size - 2) == 0;
}
