// The frames of a FLAC stream, one after the other. A header does not say how long its frame
// is: a frame ends where the next header starts whose CRC-8 holds, whose fields agree with
// the stream and whose number comes next, and where the frame's own CRC-16 holds. A frame
// whose CRC-16 holds nowhere ends at the first header after it that agrees with the stream,
// whatever its number: frames numbered out of turn are then read as frames of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "stream/bit_reader.h"
#include "stream/flac/flac_frame_header.h"
#include "stream/flac/flac_metadata.h"

namespace flac {

class FrameScanner {
public:
    enum class Stop { none, end, noFrame, tooLong };

    explicit FrameScanner(BitReader& reader) : reader(reader) {}

    // The header of the first frame, at the reader's position; false when none is there.
    bool open(FrameHeader& first);
    // Bytes read ahead of the frame last read.
    std::size_t held() const { return buffer.size() - frameEnd; }
    // The frames agree with `info` and `first`, the first frame's header.
    void begin(const StreamInfo& info, const FrameHeader& first);
    // Reads the next frame. False at the end of the input, and where no frame starts or none
    // ends soon enough (stop() says which).
    bool next();
    // After a stop where no frame is: on to the next header that fits the stream, with
    // `count` the bytes passed over. False when the input ends first.
    bool skip(std::uint64_t& count);
    // Where the spot that stopped it starts.
    std::uint64_t stopOffset() const { return bufferOffset + frameEnd; }
    // Goes back or forth to the frame at `offset`, the first of sample `sample`.
    bool goTo(std::uint64_t offset, std::uint64_t sample);

    // The frame last read.
    const std::uint8_t* data() const { return buffer.data() + frameStart; }
    std::size_t size() const { return frameEnd - frameStart; }
    const FrameHeader& header() const { return current; }
    std::uint64_t offset() const { return bufferOffset + frameStart; }
    std::uint64_t firstSample() const;
    std::uint64_t endSample() const { return firstSample() + current.blockSize; }
    // The CRC-16 it carries xor the one its bytes have: 0 when it holds.
    std::uint16_t crcError() const { return error; }
    // Its number is not the one the frame before it called for.
    bool numberJumped() const { return jumped; }
    // The number the frame before it called for.
    std::uint64_t dueNumber() const { return due; }
    Stop stop() const { return stopped; }
    std::uint32_t fixedBlockSize() const { return fixedBlock; }

private:
    bool fits(const FrameHeader& header) const;
    bool have(std::size_t end);
    std::uint64_t expectedAfter(const FrameHeader& header) const;
    bool fittingHeader(std::size_t at, FrameHeader& header);
    std::size_t findEnd(std::uint16_t& crc);
    void compact();

    BitReader& reader;
    StreamInfo info;
    bool variable = false;
    std::uint32_t fixedBlock = 0;
    std::size_t longest = 0;  // bytes a frame may take at most
    std::vector<std::uint8_t> buffer;
    std::uint64_t bufferOffset = 0;
    std::size_t frameStart = 0, frameEnd = 0;
    FrameHeader current;
    std::uint16_t error = 0;
    bool jumped = false, any = false;
    std::uint64_t expected = 0, due = 0;
    Stop stopped = Stop::none;
};

}  // namespace flac
