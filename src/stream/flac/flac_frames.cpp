#include "stream/flac/flac_frames.h"

#include <algorithm>
#include <cstring>

#include "stream/flac/flac_crc.h"

namespace flac {

namespace {

// Bytes taken from the reader at a time: the buffer holds a frame and at most this more.
constexpr std::size_t pull = 0x4000;
constexpr std::size_t notFound = ~std::size_t{0};

}  // namespace

void FrameScanner::begin(const StreamInfo& streamInfo, const FrameHeader& first) {
    info = streamInfo;
    variable = first.variable;
    fixedBlock = variable ? 0 : first.blockSize;
    // A frame is never longer than its samples written out, with headers and padding.
    const std::size_t most = std::max<std::size_t>(info.maxBlock, first.blockSize);
    longest =
        std::max<std::size_t>(info.maxFrame, most * static_cast<std::size_t>(info.channels) *
                                                     (static_cast<std::size_t>(info.bits) + 1) / 8 +
                                                 static_cast<std::size_t>(info.channels) * 8 + 64);
    any = false;
}

bool FrameScanner::open(FrameHeader& first) {
    buffer.clear();
    bufferOffset = reader.offset();
    frameStart = frameEnd = 0;
    have(longestHeader);
    return readHeader(buffer.data(), buffer.size(), first);
}

std::uint64_t FrameScanner::firstSample() const {
    return variable ? current.number : current.number * fixedBlock;
}

std::uint64_t FrameScanner::expectedAfter(const FrameHeader& header) const {
    return variable ? header.number + header.blockSize : header.number + 1;
}

bool FrameScanner::fits(const FrameHeader& header) const {
    return header.variable == variable && header.channels == info.channels &&
           (header.bits == 0 || header.bits == info.bits) &&
           (header.rate == 0 || header.rate == info.rate) &&
           (variable || header.blockSize <= fixedBlock);
}

bool FrameScanner::have(std::size_t end) {
    while (buffer.size() < end) {
        std::size_t count = 0;
        const std::uint8_t* bytes = reader.run(count);
        if (count == 0) return false;
        count = std::min(count, pull);
        buffer.insert(buffer.end(), bytes, bytes + count);
        reader.seek(reader.offset() + count);
    }
    return true;
}

void FrameScanner::compact() {
    if (frameStart < 2 * pull) return;
    buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(frameStart));
    bufferOffset += frameStart;
    frameEnd -= frameStart;
    frameStart = 0;
}

// The header at `at`, when one is there that fits the stream.
bool FrameScanner::fittingHeader(std::size_t at, FrameHeader& header) {
    have(at + longestHeader);
    return readHeader(buffer.data() + at, buffer.size() - at, header) && fits(header);
}

bool FrameScanner::next() {
    frameStart = frameEnd;
    compact();
    stopped = Stop::none;
    if (!have(frameStart + 2)) {
        stopped = buffer.size() == frameStart ? Stop::end : Stop::noFrame;
        return false;
    }
    FrameHeader header;
    if (!fittingHeader(frameStart, header)) {
        stopped = Stop::noFrame;
        return false;
    }
    jumped = any && header.number != expected;
    due = any ? expected : header.number;
    current = header;
    std::uint16_t crc = 0;
    frameEnd = findEnd(crc);
    if (frameEnd == notFound) {
        frameEnd = frameStart;
        stopped = Stop::tooLong;
        return false;
    }
    error = 0;
    if (crc != 0 && size() >= current.length + 2) {
        const std::uint8_t* end = data() + size() - 2;
        error = static_cast<std::uint16_t>(crc16(0, data(), size() - 2) ^ (end[0] << 8 | end[1]));
    } else if (crc != 0) {
        error = 1;
    }
    any = true;
    expected = expectedAfter(current);
    return true;
}

// Where the frame at frameStart ends; `crc` is its bytes' CRC-16 with the one it carries,
// 0 when that holds. The CRC is taken only up to the headers found on the way.
std::size_t FrameScanner::findEnd(std::uint16_t& crc) {
    const std::uint64_t next = expectedAfter(current);
    std::size_t at = frameStart + current.length, later = notFound, summed = frameStart;
    crc = 0;
    const auto sumTo = [&](std::size_t end) {
        crc = crc16(crc, buffer.data() + summed, end - summed);
        summed = end;
    };
    while (at - frameStart <= longest) {
        if (at == buffer.size() && !have(at + 1)) {
            sumTo(at);
            return later == notFound || crc == 0 ? at : later;
        }
        const void* found = std::memchr(buffer.data() + at, 0xFF, buffer.size() - at);
        at =
            found == nullptr
                ? buffer.size()
                : static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - buffer.data());
        FrameHeader header;
        if (at == buffer.size() || !fittingHeader(at, header)) {
            at += at == buffer.size() ? 0 : 1;
            continue;
        }
        sumTo(at);
        if (crc == 0 && header.number == next) return at;
        if (later == notFound) later = at;
        ++at;
    }
    return later;
}

bool FrameScanner::skip(std::uint64_t& count) {
    count = 0;
    std::size_t at = frameEnd + 1;
    for (;;) {
        if (at + 2 > buffer.size() && !have(at + 2)) {
            count += buffer.size() - frameEnd;
            return false;
        }
        const void* found = std::memchr(buffer.data() + at, 0xFF, buffer.size() - at);
        if (found == nullptr) {
            at = buffer.size() - 1;
            // The bytes passed over need not be kept.
            count += at - frameEnd;
            bufferOffset += at;
            buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(at));
            frameStart = frameEnd = at = 0;
            continue;
        }
        at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - buffer.data());
        FrameHeader header;
        if (fittingHeader(at, header)) {
            count += at - frameEnd;
            frameStart = frameEnd = at;
            return true;
        }
        ++at;
    }
}

bool FrameScanner::goTo(std::uint64_t offset, std::uint64_t sample) {
    if (!reader.jumpTo(offset)) return false;
    buffer.clear();
    bufferOffset = offset;
    frameStart = frameEnd = 0;
    expected = variable ? sample : sample / std::max<std::uint32_t>(fixedBlock, 1);
    return true;
}

}  // namespace flac
