// The tests' own view of an AC-3 or E-AC-3 stream, worked out from the A/52 formulas and its
// Annex E rather than taken from the program, so that the two can be checked against each other.
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
    frame[5] = 8 << 3;  // bsid 8, as AC-3 encoders write
    // Stream information for stereo, without any of the optional fields.
    frame[6] = 0x43;  // acmod 2, dsurmod 0, lfeon 0, dialnorm 11...
    frame[7] = 0x60;  // ...011, no compr, langcod, audprod, copyright, origbs
    frame[8] = 0x00;  // no timecod1, timecod2, addbsi
    return frame;
}

// E-AC-3 header fields. With fscod 3, `blocksOrFscod2` is fscod2 (0 = 24, 1 = 22.05,
// 2 = 16 kHz) and the frame has 6 blocks; otherwise it is numblkscod (1, 2, 3, 6 blocks).
struct Eac3 {
    int strmtyp = 0;  // 0 independent, 1 dependent, 2 independent converted from AC-3
    int substreamid = 0;
    int fscod = 0;
    int blocksOrFscod2 = 3;
    std::size_t size = 768;  // bytes, even, 8 to 4096
    int bsid = 16;
};

inline Eac3 eac3(int strmtyp, int substreamid, std::size_t size = 512, int fscod = 0,
                 int blocksOrFscod2 = 3) {
    Eac3 h;
    h.strmtyp = strmtyp;
    h.substreamid = substreamid;
    h.size = size;
    h.fscod = fscod;
    h.blocksOrFscod2 = blocksOrFscod2;
    return h;
}

inline Bytes makeEac3Frame(const Eac3& h, std::uint8_t fill) {
    Bytes frame(h.size, fill);
    const unsigned frmsiz = static_cast<unsigned>(h.size / 2 - 1);
    frame[0] = 0x0B;
    frame[1] = 0x77;
    frame[2] = static_cast<std::uint8_t>(h.strmtyp << 6 | h.substreamid << 3 | frmsiz >> 8);
    frame[3] = static_cast<std::uint8_t>(frmsiz & 0xFF);
    frame[4] = static_cast<std::uint8_t>(h.fscod << 6 | h.blocksOrFscod2 << 4 | 2 << 1);  // stereo
    // bsid, then stream information without any of the optional fields: dialnorm 24, no
    // compr, chanmap, mixing or informational metadata, convsync, frmsizecod or addbsi.
    frame[5] = static_cast<std::uint8_t>(h.bsid << 3 | 6);
    frame[6] = frame[7] = 0x00;
    return frame;
}

// `stream` with `bytes` put in at `offset`.
inline Bytes inserted(Bytes stream, std::size_t offset, const Bytes& bytes) {
    stream.insert(stream.begin() + static_cast<std::ptrdiff_t>(offset), bytes.begin(), bytes.end());
    return stream;
}

inline Bytes joined(const std::vector<Bytes>& pieces) {
    Bytes data;
    for (const Bytes& piece : pieces) data.insert(data.end(), piece.begin(), piece.end());
    return data;
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
    double end;   // seconds: the clock after this frame's time step
    bool steps;   // the frame moves the clock; the frames after it up to the next one go with it
    int samples;  // per channel: 1536 for AC-3, 256 per audio block for E-AC-3
    double duration = 0.0;  // of the time step it starts (0 for a frame that does not step)
};

// The frame that starts at `offset` in `data`, or size 0 where no whole, valid frame starts.
inline Frame frameAt(const Bytes& data, std::size_t offset, double& time) {
    const std::size_t left = data.size() - offset;
    if (left < 6 || data[offset] != 0x0B || data[offset + 1] != 0x77)
        return {offset, 0, time, false, 0, 0.0};
    const std::uint8_t* h = &data[offset];
    const int fscod = h[4] >> 6;
    const int bsid = h[5] >> 3;
    std::size_t size = 0;
    double duration = 0;
    bool steps = true;
    int samples = 1536;
    if (bsid >= 11 && bsid <= 16) {
        const int strmtyp = h[2] >> 6;
        const int substreamid = (h[2] >> 3) & 7;
        const std::size_t frmsiz = static_cast<std::size_t>((h[2] & 7) << 8 | h[3]);
        const int next = (h[4] >> 4) & 3;
        if (strmtyp == 3 || (fscod == 3 && next == 3) || frmsiz < 3)
            return {offset, 0, time, false, 0, 0.0};
        constexpr int blocks[4] = {1, 2, 3, 6};
        constexpr int reducedRates[3] = {24000, 22050, 16000};
        size = (frmsiz + 1) * 2;
        samples = fscod == 3 ? 1536 : blocks[next] * 256;
        duration = fscod == 3 ? 6 * 256.0 / reducedRates[next]
                              : static_cast<double>(blocks[next] * 256) / sampleRates[fscod];
        steps = strmtyp != 1 && substreamid == 0;
    } else {
        const int frmsizecod = h[4] & 0x3F;
        if (fscod == 3 || frmsizecod > 37) return {offset, 0, time, false, 0, 0.0};
        size = frameBytes(fscod, frmsizecod);
        duration = frameTime(frmsizecod, size);
    }
    if (size > left) return {offset, 0, time, false, 0, 0.0};
    if (steps) time += duration;
    return {offset, size, time, steps, samples, steps ? duration : 0.0};
}

// The CRC-16 of A/52, bit by bit: x^16 + x^15 + x^2 + 1, most significant bit first, from 0.
inline unsigned crc16(const std::uint8_t* data, std::size_t size) {
    unsigned crc = 0;
    for (std::size_t i = 0; i < size; ++i) {
        for (int bit = 7; bit >= 0; --bit) {
            const unsigned in = ((data[i] >> bit) & 1U) ^ (crc >> 15);
            crc = ((crc << 1) & 0xFFFF) ^ (in ? 0x8005 : 0);
        }
    }
    return crc;
}

// Both error checks of the whole frame at `frame` hold: crc2 over everything after the sync
// word, and for AC-3 crc1 over bytes 2 up to the 5/8 point.
inline bool crcsHold(const std::uint8_t* frame, std::size_t size) {
    const std::size_t words = size / 2;
    const bool eac3 = (frame[5] >> 3) >= 11 && (frame[5] >> 3) <= 16;
    if (!eac3 && crc16(frame + 2, 2 * (words / 2 + words / 8) - 2) != 0) return false;
    return crc16(frame + 2, size - 2) == 0;
}

// An E-AC-3 frame with its one error check, crc2, made to hold.
inline Bytes withCrc2(Bytes frame) {
    const unsigned crc = crc16(frame.data() + 2, frame.size() - 4);
    frame[frame.size() - 2] = static_cast<std::uint8_t>(crc >> 8);
    frame[frame.size() - 1] = static_cast<std::uint8_t>(crc);
    return frame;
}

// An AC-3 frame with both error checks made to hold. crc1 comes first in the part it guards:
// the register that the rest of that part takes to 0 is found by running the CRC backwards
// from 0, and crc1 is the word that takes the register from 0 to it.
inline Bytes withCrcs(Bytes frame) {
    const std::size_t words = frame.size() / 2;
    const std::size_t end = 2 * (words / 2 + words / 8);
    unsigned needed = 0;
    for (std::size_t i = end; i-- > 4;) {
        for (int bit = 0; bit < 8; ++bit) {
            // The feedback lands in the lowest bit; the top bit was the data bit XOR it.
            const unsigned in = needed & 1U;
            needed = ((needed ^ (in ? 0x8005U : 0U)) >> 1) | (in ^ ((frame[i] >> bit) & 1U)) << 15;
        }
    }
    for (unsigned word = 0; word <= 0xFFFF; ++word) {
        const std::uint8_t crc1[2] = {static_cast<std::uint8_t>(word >> 8),
                                      static_cast<std::uint8_t>(word)};
        if (crc16(crc1, 2) != needed) continue;
        frame[2] = crc1[0];
        frame[3] = crc1[1];
        break;
    }
    return withCrc2(frame);
}

struct Skip {
    std::size_t offset;  // where the spot that is no whole frame starts
    std::size_t bytes;   // how many bytes up to the next frame
};

// Walks whole frames from the start of `data` until the first one that is not complete. With
// `skips`, the walk resynchronises instead: it goes on at the first later offset where a whole
// frame starts that is followed by a sync word or ends at the end of the data.
// The frames of `data` by `frameAt`, a format's own reading of one frame; with `skips`, past
// junk to the next whole frame followed by a sync word (`syncAt`) or the end, as --resync does.
template <typename FrameAt, typename SyncAt>
std::vector<Frame> walkWith(const Bytes& data, std::vector<Skip>* skips, FrameAt frameAt,
                            SyncAt syncAt) {
    std::vector<Frame> frames;
    double time = 0.0;
    for (std::size_t offset = 0; offset < data.size();) {
        const Frame frame = frameAt(data, offset, time);
        if (frame.size != 0) {
            frames.push_back(frame);
            offset += frame.size;
            continue;
        }
        if (skips == nullptr) break;
        std::size_t next = offset + 1;
        for (; next < data.size(); ++next) {
            double scratch = time;
            const std::size_t end = next + frameAt(data, next, scratch).size;
            if (end == next) continue;
            if (end == data.size() || syncAt(data, end)) break;
        }
        if (next >= data.size()) break;
        skips->push_back({offset, next - offset});
        offset = next;
    }
    return frames;
}

inline std::vector<Frame> walk(const Bytes& data, std::vector<Skip>* skips = nullptr) {
    return walkWith(data, skips, frameAt, [](const Bytes& bytes, std::size_t at) {
        return at + 2 <= bytes.size() && bytes[at] == 0x0B && bytes[at + 1] == 0x77;
    });
}

}  // namespace ac3
