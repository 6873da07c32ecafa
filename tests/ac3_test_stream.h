// The tests' own view of an AC-3 stream, worked out from the A/52 formulas rather than
// taken from the program, so that the two can be checked against each other.
#pragma once

#include <cstdint>
#include <vector>

#include "test_files.h"

namespace ac3 {

constexpr int kbitRates[19] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                               192, 224, 256, 320, 384, 448, 512, 576, 640};
constexpr int sampleRates[3] = {48000, 44100, 32000};

inline int bitRate(int frmsizecod) { return kbitRates[frmsizecod / 2] * 1000; }

// words = bit rate x 1536 / (16 x sample rate); at 44.1 kHz an odd code adds a padding word.
inline int frameBytes(int fscod, int frmsizecod) {
    const long long words =
        static_cast<long long>(bitRate(frmsizecod)) * 1536 / (16 * sampleRates[fscod]);
    return 2 * static_cast<int>(words + (fscod == 1 ? frmsizecod % 2 : 0));
}

// A frame of the right size with a valid header; the body is a recognisable pattern.
inline Bytes makeFrame(int fscod, int frmsizecod, std::uint8_t fill) {
    Bytes frame(frameBytes(fscod, frmsizecod), fill);
    frame[0] = 0x0B;
    frame[1] = 0x77;
    frame[2] = 0xC3;
    frame[3] = 0x3C;
    frame[4] = static_cast<std::uint8_t>(fscod << 6 | frmsizecod);
    return frame;
}

// Seconds: bytes per second over frame bytes is frames per second, and its reciprocal the
// frame's time. Evaluated in this order, sums agree to the last bit with the program's clock,
// which window limits are compared against exactly.
inline double frameTime(int frmsizecod, std::size_t size) {
    return 1.0 / ((bitRate(frmsizecod) * 0.125) / static_cast<double>(size));
}

struct Frame {
    std::size_t offset;
    std::size_t size;
    double end;  // seconds
};

// Walks whole frames from the start of `data` until the first one that is not complete.
inline std::vector<Frame> walk(const Bytes& data) {
    std::vector<Frame> frames;
    double time = 0.0;
    std::size_t offset = 0;
    while (offset + 5 <= data.size() && data[offset] == 0x0B && data[offset + 1] == 0x77) {
        const int fscod = data[offset + 4] >> 6;
        const int frmsizecod = data[offset + 4] & 0x3F;
        if (fscod == 3 || frmsizecod > 37) break;
        const std::size_t size = frameBytes(fscod, frmsizecod);
        if (offset + size > data.size()) break;
        time += frameTime(frmsizecod, size);
        frames.push_back({offset, size, time});
        offset += size;
    }
    return frames;
}

}  // namespace ac3
