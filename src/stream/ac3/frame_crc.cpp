#include "stream/ac3/frame_crc.h"

#include <array>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

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

// tables[k][b]: the CRC of byte b followed by k zero bytes, so that eight bytes are taken in
// one step: the CRC is linear, and the register's two bytes fold into the first two.
constexpr std::array<std::array<std::uint16_t, 256>, 8> makeTables() {
    std::array<std::array<std::uint16_t, 256>, 8> tables{};
    tables[0] = makeTable();
    for (int k = 1; k < 8; ++k) {
        for (unsigned byte = 0; byte < 256; ++byte) {
            const std::uint16_t before = tables[k - 1][byte];
            tables[k][byte] = static_cast<std::uint16_t>((before << 8) ^ tables[0][before >> 8]);
        }
    }
    return tables;
}

constexpr std::array<std::array<std::uint16_t, 256>, 8> tables = makeTables();
// The CRC of a byte: one byte at a time.
constexpr const std::array<std::uint16_t, 256>& table = tables[0];

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

// x^n modulo the polynomial, for the folding constants below.
constexpr std::uint64_t xPowerMod(int n) {
    std::uint32_t value = 1;
    for (int i = 0; i < n; ++i) {
        value <<= 1;
        if (value & 0x10000) value ^= 0x10000 | polynomial;
    }
    return value;
}

std::uint16_t crc16Bytes(const std::uint8_t* data, std::size_t size, std::uint16_t crc);

#if defined(__x86_64__) || defined(__i386__)
// Most of a frame is folded 64 bytes at a time with carry-less multiplication: the CRC is the
// message modulo the polynomial (times x^16), and a 128-bit block B followed by 512 more bits
// is, modulo the polynomial, B's top half times x^576 plus its bottom half times x^512. Four
// such running remainders are folded into one, which then goes through the byte table as
// 16 bytes of message, followed by the bytes left over.
#define MORVANE_FOLDING __attribute__((target("pclmul,ssse3")))

// The 16 bytes in the other order: from stream order to a polynomial and back.
MORVANE_FOLDING __m128i reversed(__m128i bytes) {
    return _mm_shuffle_epi8(bytes,
                            _mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0));
}

// 16 bytes as a polynomial: the first byte's top bit the highest power.
MORVANE_FOLDING __m128i loadBlock(const std::uint8_t* data) {
    return reversed(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data)));
}

// block times x^n, plus next, modulo the polynomial: `constants` holds x^(n+64) and x^n.
MORVANE_FOLDING __m128i fold(__m128i block, __m128i constants, __m128i next) {
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(block, constants, 0x11),
                                       _mm_clmulepi64_si128(block, constants, 0x00)),
                         next);
}

MORVANE_FOLDING std::uint16_t crc16Folded(const std::uint8_t* data, std::size_t size,
                                          std::uint16_t crc) {
    const __m128i by512 = _mm_set_epi64x(static_cast<long long>(xPowerMod(576)),
                                         static_cast<long long>(xPowerMod(512)));
    const __m128i by128 = _mm_set_epi64x(static_cast<long long>(xPowerMod(192)),
                                         static_cast<long long>(xPowerMod(128)));
    __m128i r[4] = {loadBlock(data), loadBlock(data + 16), loadBlock(data + 32),
                    loadBlock(data + 48)};
    // The register so far stands in front of the message: it goes into its first two bytes.
    r[0] = _mm_xor_si128(r[0], _mm_set_epi64x(static_cast<long long>(std::uint64_t{crc} << 48), 0));
    std::size_t at = 64;
    for (; at + 64 <= size; at += 64) {
        for (int i = 0; i < 4; ++i) r[i] = fold(r[i], by512, loadBlock(data + at + 16 * i));
    }
    __m128i folded = fold(fold(fold(r[0], by128, r[1]), by128, r[2]), by128, r[3]);
    for (; at + 16 <= size; at += 16) folded = fold(folded, by128, loadBlock(data + at));
    alignas(16) std::uint8_t remainder[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(remainder), reversed(folded));
    return crc16Bytes(data + at, size - at, crc16Bytes(remainder, 16, 0));
}

const bool folding = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3");
#endif

}  // namespace

std::uint16_t crc16(const std::uint8_t* data, std::size_t size, std::uint16_t crc) {
#if defined(__x86_64__) || defined(__i386__)
    if (folding && size >= 64) return crc16Folded(data, size, crc);
#endif
    return crc16Bytes(data, size, crc);
}

namespace {

std::uint16_t crc16Bytes(const std::uint8_t* data, std::size_t size, std::uint16_t crc) {
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        const std::uint8_t* b = data + i;
        crc = static_cast<std::uint16_t>(tables[7][(crc >> 8) ^ b[0]] ^
                                         tables[6][(crc & 0xFF) ^ b[1]] ^ tables[5][b[2]] ^
                                         tables[4][b[3]] ^ tables[3][b[4]] ^ tables[2][b[5]] ^
                                         tables[1][b[6]] ^ tables[0][b[7]]);
    }
    for (; i < size; ++i) {
        crc = static_cast<std::uint16_t>((crc << 8) ^ table[(crc >> 8) ^ data[i]]);
    }
    return crc;
}

}  // namespace

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
    // Where crc1 holds, the register is 0 at the 5/8 point, so crc2's check goes on from there
    // as if it started anew: every byte is read once.
    const std::size_t from = eac3 ? 2 : crc1End(size);
    if (!eac3 && crc16(frame + 2, from - 2) != 0) return false;
    return crc16(frame + from, size - from) == 0;
}
