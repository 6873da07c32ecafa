#include "stream/crc16.h"

#include <array>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define MORVANE_CLMUL 1
#endif

namespace crc {

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

std::uint16_t crc16Tables(std::uint16_t crc, const std::uint8_t* data, std::size_t size) {
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

#ifdef MORVANE_CLMUL
// 16 bytes as a polynomial of 128 bits, the first byte's first bit its highest: its most
// significant bit, or with `lsbFirst` its least.
template <bool lsbFirst>
__attribute__((target("pclmul,ssse3"))) __m128i load(const std::uint8_t* bytes) {
    const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m128i in =
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)), reverse);
    if (!lsbFirst) return in;
    // Each byte's bits reversed, a nibble at a time.
    const __m128i nibbles = _mm_set1_epi8(0x0F);
    const __m128i mirrored = _mm_setr_epi8(0x0, 0x8, 0x4, 0xC, 0x2, 0xA, 0x6, 0xE, 0x1, 0x9, 0x5,
                                           0xD, 0x3, 0xB, 0x7, 0xF);
    const __m128i low = _mm_shuffle_epi8(mirrored, _mm_and_si128(in, nibbles));
    const __m128i high = _mm_shuffle_epi8(mirrored, _mm_and_si128(_mm_srli_epi16(in, 4), nibbles));
    return _mm_or_si128(_mm_slli_epi16(low, 4), high);
}

// x^n and x^(n + 64) modulo the polynomial, for moving the low and high halves of 128 bits
// n bits up.
__attribute__((target("pclmul,ssse3"))) __m128i moveBy(std::uint64_t bits) {
    return _mm_set_epi64x(static_cast<long long>(crc16AfterZeros(1, (bits + 64) / 8)),
                          static_cast<long long>(crc16AfterZeros(1, bits / 8)));
}

// `bytes` moved up by the bits `move` was made for, modulo the polynomial, plus `next`.
__attribute__((target("pclmul,ssse3"))) __m128i fold(__m128i bytes, __m128i move, __m128i next) {
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(bytes, move, 0x11),
                                       _mm_clmulepi64_si128(bytes, move, 0x00)),
                         next);
}

constexpr int lanesAtOnce = 8;

// Long runs by carry-less multiplication, in eight lanes of 16 bytes: each lane, a polynomial
// of 128 bits, is moved 1024 bits up modulo the polynomial and the next 16 bytes added. The
// lanes are then joined into one, which is congruent to the bytes so far: its CRC is theirs.
// The CRC, most significant bit first, of the whole 16 bytes taken; `at` says how many.
template <bool lsbFirst>
__attribute__((target("pclmul,ssse3"))) std::uint16_t crc16Folded(std::uint16_t crc,
                                                                  const std::uint8_t* data,
                                                                  std::size_t size,
                                                                  std::size_t& at) {
    static const __m128i by128 = moveBy(128), by1024 = moveBy(1024);
    __m128i lanes[lanesAtOnce];
    for (int i = 0; i < lanesAtOnce; ++i) lanes[i] = load<lsbFirst>(data + 16 * i);
    // The CRC so far goes into the first two bytes.
    lanes[0] = _mm_xor_si128(lanes[0],
                             _mm_set_epi64x(static_cast<long long>(std::uint64_t{crc} << 48), 0));
    at = 16 * lanesAtOnce;
    for (; at + 16 * lanesAtOnce <= size; at += 16 * lanesAtOnce) {
        for (int i = 0; i < lanesAtOnce; ++i) {
            lanes[i] = fold(lanes[i], by1024, load<lsbFirst>(data + at + 16 * i));
        }
    }
    __m128i bytes = lanes[0];
    for (int i = 1; i < lanesAtOnce; ++i) bytes = fold(bytes, by128, lanes[i]);
    for (; at + 16 <= size; at += 16) bytes = fold(bytes, by128, load<lsbFirst>(data + at));
    const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    alignas(16) std::uint8_t folded[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(folded), _mm_shuffle_epi8(bytes, reverse));
    return crc16Tables(0, folded, 16);
}

bool canFold() {
    static const bool can = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3");
    return can;
}
#endif

}  // namespace

std::uint16_t crc16(std::uint16_t crc, const std::uint8_t* data, std::size_t size) {
#ifdef MORVANE_CLMUL
    if (size >= 128 && canFold()) {
        std::size_t at = 0;
        crc = crc16Folded<false>(crc, data, size, at);
        return crc16Tables(crc, data + at, size - at);
    }
#endif
    return crc16Tables(crc, data, size);
}

namespace {

std::uint16_t reflect(std::uint16_t value) {
    std::uint16_t mirrored = 0;
    for (int bit = 0; bit < 16; ++bit)
        mirrored = static_cast<std::uint16_t>(mirrored << 1 | (value >> bit & 1));
    return mirrored;
}

std::uint16_t crc16LsbBytes(std::uint16_t crc, const std::uint8_t* data, std::size_t size) {
    static const std::array<std::uint16_t, 256> table = [] {
        std::array<std::uint16_t, 256> t{};
        for (std::uint32_t byte = 0; byte < 256; ++byte) {
            std::uint32_t c = byte;
            for (int bit = 0; bit < 8; ++bit) c = (c & 1) != 0 ? c >> 1 ^ 0xA001 : c >> 1;
            t[byte] = static_cast<std::uint16_t>(c);
        }
        return t;
    }();
    for (std::size_t i = 0; i < size; ++i) {
        crc = static_cast<std::uint16_t>(crc >> 8 ^ table[(crc ^ data[i]) & 0xFF]);
    }
    return crc;
}

}  // namespace

// Least significant bit first is most significant bit first on bytes whose bits are
// mirrored, with the CRC mirrored going in and coming out.
std::uint16_t crc16LsbFirst(std::uint16_t crc, const std::uint8_t* data, std::size_t size) {
#ifdef MORVANE_CLMUL
    if (size >= 128 && canFold()) {
        std::size_t at = 0;
        crc = reflect(crc16Folded<true>(reflect(crc), data, size, at));
        return crc16LsbBytes(crc, data + at, size - at);
    }
#endif
    return crc16LsbBytes(crc, data, size);
}

std::uint16_t crc16AfterZeros(std::uint16_t crc, std::uint64_t count) {
    // x^(8 × 2^k) for every bit k a count may have, so that a frame's takes a few products.
    static const std::array<std::uint16_t, 64> powers = [] {
        std::array<std::uint16_t, 64> table{};
        table[0] = 0x0100;
        for (std::size_t k = 1; k < table.size(); ++k) {
            table[k] = multiply(table[k - 1], table[k - 1]);
        }
        return table;
    }();
    for (std::size_t k = 0; count != 0; ++k, count >>= 1) {
        if ((count & 1) != 0) crc = multiply(crc, powers[k]);
    }
    return crc;
}

}  // namespace crc
