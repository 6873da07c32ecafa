// Bit fields of one frame held in memory, most significant bit first: read from a frame of
// the stream, and written into a frame the program makes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class BitCursor {
public:
    BitCursor(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}

    // The next `bits` bits (0 to 32); zeros past the end, which overran() then tells.
    std::uint32_t read(int bits);
    void skip(std::size_t bits) { position_ += bits; }
    // Bits read or skipped from the start.
    std::size_t position() const { return position_; }
    bool overran() const { return position_ > size * 8; }

private:
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position_ = 0;
};

class BitWriter {
public:
    void put(std::uint32_t value, int bits);
    // Bits `first` to `first + count` of `data`, as they stand.
    void copy(const std::uint8_t* data, std::size_t first, std::size_t count);
    std::size_t bitCount() const { return bits; }
    // The bytes written so far, the last one filled up with zero bits.
    const std::vector<std::uint8_t>& bytes() const { return out; }

private:
    std::vector<std::uint8_t> out;
    std::size_t bits = 0;
};
