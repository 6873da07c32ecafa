#include "stream/bit_reader.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "stream/buffer_pool.h"

BitReader::BitReader(const char* fileName) : file(platform::openForReading(fileName)) {
    if (!isOpen()) {
        endReached = true;
        return;
    }
    // Left uninitialised: fills write before anything is read.
    buffer = takeBuffer(historySize + bufferSize);
    data = buffer.get() + historySize;
    if (!fill()) endReached = true;
}

BitReader::~BitReader() {
    if (isOpen()) platform::closeFile(file);
    keepBuffer(std::move(buffer), historySize + bufferSize);
}

bool BitReader::jumpTo(std::uint64_t target) {
    const bool atHand =
        target + static_cast<std::uint64_t>(historyValid) >= blockStart && target < bytesReceived();
    if (!buffer || atHand || !platform::seekTo(file, target)) return seek(target);
    blockStart = target;
    bytesInBuffer = 0;
    historyValid = 0;
    pos = 0;
    bitsLeft = 8;
    endReached = false;
    overrun = false;
    if (!fill()) endReached = true;
    return !endReached;
}

bool BitReader::fill() {
    // Only a full block is ever followed by another: keep its end in front of the next.
    const bool refill = bytesInBuffer == static_cast<std::uint32_t>(bufferSize);
    if (refill && refillHook && !refillHook()) return false;
    const std::int32_t kept = historyToKeep();
    if (refill) std::memcpy(data - kept, data + bufferSize - kept, static_cast<std::size_t>(kept));
    const platform::ReadResult result = platform::readFull(file, data, bufferSize);
    // Bytes that arrived before an error are still delivered; the error is reported once
    // they have been used up.
    if (result.failed) failed = true;
    if (result.count == 0) {
        // The block stays as it was, but what stands before it is no longer its history.
        historyValid = 0;
        return false;
    }
    if (refill) {
        blockStart += bytesInBuffer;
        historyValid = kept;
    }
    bytesInBuffer = static_cast<std::uint32_t>(result.count);
    pos = 0;
    bitsLeft = 8;
    return true;
}

std::int32_t BitReader::historyToKeep() const {
    const std::int64_t wanted = 2 * static_cast<std::int64_t>(longestRun) + 4096;
    return static_cast<std::int32_t>(
        std::min<std::int64_t>(historySize, std::max<std::int64_t>(minimumHistory, wanted)));
}

bool BitReader::seek(std::uint64_t target) {
    if (!buffer) return false;
    skipToByteBoundary();
    if (target < offset()) {
        if (target + static_cast<std::uint64_t>(historyValid) < blockStart) return false;
        pos = static_cast<std::int32_t>(static_cast<std::int64_t>(target - blockStart));
        endReached = false;
        overrun = false;
        return true;
    }
    while (offset() < target) {
        if (endReached) return false;
        const std::uint64_t inBlock =
            static_cast<std::uint64_t>(static_cast<std::int64_t>(bytesInBuffer) - pos);
        // Onto the last byte to skip (or of the block), then consume it as readByte() would.
        pos += static_cast<std::int32_t>(std::min(target - offset(), inBlock)) - 1;
        consumeByte();
    }
    return true;
}

void BitReader::consumeByte() {
    if (endReached) return;
    if (++pos != static_cast<std::int32_t>(bytesInBuffer)) return;
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
            bit = (data[pos] >> (bitsLeft - 1)) & 1U;
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
    const std::int32_t value = data[pos];
    consumeByte();
    return value;
}

void BitReader::appendBytes(std::vector<std::int32_t>& out, std::int32_t count) {
    if (count <= 0) return;
    longestRun = std::max(longestRun, count);
    skipToByteBoundary();
    // Most runs end inside the block, before its last byte: no refill or end can come of them.
    if (!endReached && count < static_cast<std::int32_t>(bytesInBuffer) - pos) {
        out.insert(out.end(), data + pos, data + pos + count);
        pos += count;
        return;
    }
    while (count > 0) {
        if (endReached) {
            overrun = true;
            out.insert(out.end(), static_cast<std::size_t>(count), 0);
            return;
        }
        // While the end flag is down, pos < bytesInBuffer, so every run takes at least one byte.
        const std::int32_t run = std::min(count, static_cast<std::int32_t>(bytesInBuffer) - pos);
        out.insert(out.end(), data + pos, data + pos + run);
        count -= run;
        // Step onto the run's last byte and consume it, so that the end-of-buffer rule (refill
        // or end flag) applies exactly as it does byte by byte.
        pos += run - 1;
        consumeByte();
    }
}

std::uint64_t BitReader::bytesAfter(std::uint64_t offset, bool& atLeast) const {
    const std::int64_t size =
        endReached ? static_cast<std::int64_t>(bytesReceived()) : platform::fileSize(file);
    atLeast = size < 0;
    return (atLeast ? bytesReceived() : static_cast<std::uint64_t>(size)) - offset;
}
