#include "stream/frame_bits.h"

#include <cassert>

std::uint32_t BitCursor::read(int bits) {
    assert(bits >= 0 && bits <= 32);
    std::uint32_t value = 0;
    for (int i = 0; i < bits; ++i, ++position_) {
        const std::size_t byte = position_ / 8;
        const std::uint32_t bit = byte < size ? (data[byte] >> (7 - position_ % 8)) & 1U : 0U;
        value = (value << 1) | bit;
    }
    return value;
}

void BitWriter::put(std::uint32_t value, int bits) {
    assert(bits >= 0 && bits <= 32);
    for (int i = bits - 1; i >= 0; --i, ++this->bits) {
        if (this->bits % 8 == 0) out.push_back(0);
        out.back() |= static_cast<std::uint8_t>(((value >> i) & 1U) << (7 - this->bits % 8));
    }
}

void BitWriter::copy(const std::uint8_t* data, std::size_t first, std::size_t count) {
    for (std::size_t bit = first; bit < first + count; ++bit) {
        put((data[bit / 8] >> (7 - bit % 8)) & 1U, 1);
    }
}
