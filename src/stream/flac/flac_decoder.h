// A FLAC frame's samples from its subframes: constant, verbatim, fixed and LPC, with Rice
// coded residuals, wasted bits and the three stereo decorrelations. Used only where a seam
// cuts through a frame; every other frame is copied as it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "stream/flac/flac_frame_header.h"

namespace flac {

class FrameDecoder {
public:
    // Decodes the frame of `size` bytes at `frame`, whose header is `header`, with samples of
    // `bits` bits, into `samples`: header.blockSize of each channel, one channel after the
    // other. False when its subframes are no valid code for that many samples.
    bool decode(const std::uint8_t* frame, std::size_t size, const FrameHeader& header, int bits,
                std::vector<std::int32_t>& samples);

private:
    // The channels as decoded, with the side channel's extra bit: kept from frame to frame.
    std::vector<std::int64_t> work;
};

}  // namespace flac
