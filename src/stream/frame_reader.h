// Splits an AC-3 elementary stream into sync frames and tells how long each one plays.
// Only the first five header bytes are looked at: sync word, crc1, fscod and frmsizecod.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "stream/bit_reader.h"

class FrameReader {
public:
    static constexpr int frameSizeCodes = 38;

    // `reader` is borrowed and must outlive this object.
    explicit FrameReader(BitReader& reader);
    virtual ~FrameReader() = default;
    FrameReader(const FrameReader&) = delete;
    FrameReader& operator=(const FrameReader&) = delete;

    // Reads the next sync frame. True when all of its bytes came from the input; false at
    // the end of the input, at a truncated frame, at anything that is not a sync word, and
    // at a reserved sample rate or frame size code. There is no resynchronisation.
    bool readFrame();
    // Playing time in seconds of the frame last read, from its size and nominal bit rate.
    double frameDuration() const;
    // The frame last read, one element per byte (0 to 255), in stream order.
    std::vector<std::int32_t> bytes() const { return frameBytes; }

    std::int32_t syncword = 0;
    std::int32_t crc1 = 0;
    std::int32_t fscod = 0;       // 0 = 48 kHz, 1 = 44.1 kHz, 2 = 32 kHz, 3 reserved
    std::int32_t frmsizecod = 0;  // 0 to 37 defined

private:
    bool headerKnown() const;
    std::int32_t frameSize() const;  // bytes, from the current header

    BitReader& reader;
    std::vector<std::int32_t> frameBytes;
    // Bytes per sync frame by frmsizecod; columns 32 kHz, 44.1 kHz, 48 kHz.
    std::array<std::array<std::int32_t, 3>, frameSizeCodes> frameSizes{};
};
