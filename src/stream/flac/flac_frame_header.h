// A FLAC frame's header: read from its bytes and checked against its CRC-8, and written anew
// with another number, for a frame that is copied or made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace flac {

struct FrameHeader {
    bool variable = false;        // the number counts samples, not frames
    std::uint32_t blockSize = 0;  // samples per channel
    std::uint32_t rate = 0;       // 0: the one STREAMINFO gives
    int channels = 0;
    int assignment = 0;  // 0 to 7 independent, 8 left/side, 9 side/right, 10 mid/side
    int bits = 0;        // 0: the size STREAMINFO gives
    std::uint64_t number = 0;
    std::size_t length = 0;  // bytes, the CRC-8 included
    // How the header codes its fields, for frames made to match it: the third and fourth
    // bytes, and the sample rate's own bytes after the number (0 to 2 of them).
    std::uint8_t codes[2] = {0, 0};
    std::uint8_t rateBytes[2] = {0, 0};
    int rateByteCount = 0;
};

// The header at `bytes` (`size` of them at hand), when it is one: the sync code, no reserved
// value, a number of the right length and a CRC-8 that holds.
bool readHeader(const std::uint8_t* bytes, std::size_t size, FrameHeader& header);

// The header of a frame of `blockSize` samples numbered `number`, coded as `like` codes its
// sample rate and sample size, into `out`; `copy` keeps like's block size and channel codes.
void writeHeader(const FrameHeader& like, bool variable, std::uint64_t number,
                 std::uint32_t blockSize, bool copy, std::vector<std::uint8_t>& out);

// The longest header: 2 + 2 + 7 bytes of number + 2 + 2 + 1.
inline constexpr std::size_t longestHeader = 16;

}  // namespace flac
