#include "stream/bit_reader.h"

#include <algorithm>
#include <cassert>

BitReader::BitReader(const char* fileName) : file(platform::openForReading(fileName)) {
    if (!isOpen()) {
        endReached = true;
        return;
    }
    // Left uninitialised: fills write before anything is read.
    buffer.reset(new std::uint8_t[bufferSize]);
    if (!fill()) endReached = true;
}

BitReader::~BitReader() {
    if (isOpen()) platform::closeFile(file);
}

bool BitReader::fill() {
    const platform::ReadResult result = platform::readFull(file, buffer.get(), bufferSize);
    bytesInBuffer = static_cast<std::uint32_t>(result.count);
    // Bytes that arrived before an error are still delivered; the error is reported once
    // they have been used up.
    if (result.failed) failed = true;
    if (result.count == 0) return false;
    pos = 0;
    bitsLeft = 8;
    return true;
}

void BitReader::consumeByte() {
    if (endReached) return;
    if (static_cast<std::uint32_t>(++pos) != bytesInBuffer) return;
    // Only a full block says that more input may follow.
    if (bytesInBuffer == static_cast<std::uint32_t>(bufferSize) && fill()) return;
    endReached = true;
}

void BitReader::skipToByteBoundary() {
    if (bitsLeft == 8) return;
    consumeByte();
    bitsLeft = 8;
}

std::int32_t BitReader::readBits(int n) {
    assert(n >= 0 && n <= 32);
    std::uint32_t result = 0;
    if (bitsLeft == 8 && n % 8 == 0) {
        // Whole bytes, joined big-endian.
        for (int i = 0; i < n / 8; ++i) {
            result = (result << 8) | static_cast<std::uint32_t>(readByte());
        }
        return static_cast<std::int32_t>(result);
    }
    for (int i = 0; i < n; ++i) {
        std::uint32_t bit = 0;
        if (endReached) {
            overrun = true;
        } else {
            bit = (buffer[pos] >> (bitsLeft - 1)) & 1U;
            if (--bitsLeft == 0) {
                consumeByte();
                bitsLeft = 8;
            }
        }
        result = (result << 1) | bit;
    }
    return static_cast<std::int32_t>(result);
}

std::int32_t BitReader::readByte() {
    skipToByteBoundary();
    if (endReached) {
        overrun = true;
        return 0;
    }
    const std::int32_t value = buffer[pos];
    consumeByte();
    return value;
}

void BitReader::appendBytes(std::vector<std::int32_t>& out, std::int32_t count) {
    if (count <= 0) return;
    skipToByteBoundary();
    while (count > 0) {
        if (endReached) {
            overrun = true;
            out.insert(out.end(), static_cast<std::size_t>(count), 0);
            return;
        }
        // While the end flag is down, pos < bytesInBuffer, so every run takes at least one byte.
        const std::int32_t run = std::min(count, static_cast<std::int32_t>(bytesInBuffer) - pos);
        out.insert(out.end(), buffer.get() + pos, buffer.get() + pos + run);
        count -= run;
        // Step onto the run's last byte and consume it, so that the end-of-buffer rule (refill
        // or end flag) applies exactly as it does byte by byte.
        pos += run - 1;
        consumeByte();
    }
}
