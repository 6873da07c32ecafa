// The tests' own view of an MPEG audio Layer I or II stream, of AAC in ADTS and of DTS, worked
// out from ISO/IEC 11172-3, 13818-3 and 13818-7 and ETSI TS 102 114 rather than taken from the
// program; and the walk of a stream of any of the formats by its first bytes.
#pragma once

#include "ac3_test_stream.h"

namespace mpeg {

// kbit/s by bit-rate index: MPEG-1 Layer I, Layer II; MPEG-2 and 2.5 Layer I, Layer II.
constexpr int kbitRates[4][15] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
};

inline bool syncAt(const Bytes& data, std::size_t at) {
    return at + 2 <= data.size() && data[at] == 0xFF && (data[at + 1] & 0xE0) == 0xE0;
}

// The Layer I or II frame that starts at `offset`, or size 0 where none does.
inline ac3::Frame frameAt(const Bytes& data, std::size_t offset, double& time) {
    const ac3::Frame none{offset, 0, time, false, 0, 0.0};
    if (data.size() - offset < 4 || !syncAt(data, offset)) return none;
    const std::uint8_t* h = &data[offset];
    const int version = h[1] >> 3 & 3, layer = h[1] >> 1 & 3;
    const int index = h[2] >> 4, rateIndex = h[2] >> 2 & 3, padding = h[2] >> 1 & 1;
    if (version == 1 || layer < 2 || index == 0 || index == 15 || rateIndex == 3) return none;
    const bool layerI = layer == 3;
    const int rate = std::vector<int>{44100, 48000, 32000}[rateIndex] / (version == 3   ? 1
                                                                         : version == 2 ? 2
                                                                                        : 4);
    const long bits = kbitRates[(version == 3 ? 0 : 2) + (layerI ? 0 : 1)][index] * 1000L;
    const std::size_t size = layerI ? static_cast<std::size_t>((12 * bits / rate + padding) * 4)
                                    : static_cast<std::size_t>(144 * bits / rate + padding);
    if (size > data.size() - offset) return none;
    const int samples = layerI ? 384 : 1152;
    const double duration = static_cast<double>(samples) / rate;
    time += duration;
    return {offset, size, time, true, samples, duration};
}

inline std::vector<ac3::Frame> walk(const Bytes& data, std::vector<ac3::Skip>* skips = nullptr) {
    return ac3::walkWith(data, skips, frameAt, syncAt);
}

}  // namespace mpeg

// AAC in ADTS (ISO/IEC 13818-7): a header of 7 bytes, 9 with a CRC, that gives the frame's
// length; (blocks + 1) x 1024 samples.
namespace adts {

inline bool syncAt(const Bytes& data, std::size_t at) {
    return at + 2 <= data.size() && data[at] == 0xFF && (data[at + 1] & 0xF6) == 0xF0;
}

inline ac3::Frame frameAt(const Bytes& data, std::size_t offset, double& time) {
    const ac3::Frame none{offset, 0, time, false, 0, 0.0};
    if (data.size() - offset < 7 || !syncAt(data, offset)) return none;
    const std::uint8_t* h = &data[offset];
    const int rateIndex = h[2] >> 2 & 0x0F;
    const std::size_t size = static_cast<std::size_t>((h[3] & 3) << 11 | h[4] << 3 | h[5] >> 5);
    if (rateIndex >= 13 || size < ((h[1] & 1) ? 7U : 9U) || size > data.size() - offset) {
        return none;
    }
    const int rates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                           22050, 16000, 12000, 11025, 8000,  7350};
    const int samples = ((h[6] & 3) + 1) * 1024;
    const double duration = static_cast<double>(samples) / rates[rateIndex];
    time += duration;
    return {offset, size, time, true, samples, duration};
}

inline std::vector<ac3::Frame> walk(const Bytes& data, std::vector<ac3::Skip>* skips = nullptr) {
    return ac3::walkWith(data, skips, frameAt, syncAt);
}

}  // namespace adts

// DTS core frames (sync word 0x7FFE8001): (NBLKS + 1) x 32 samples in FSIZE + 1 bytes; and
// DTS-HD extension substream frames (0x64582025), which play alongside the core before them,
// of nuExtSSFsize + 1 bytes.
namespace dts {

inline bool syncAt(const Bytes& data, std::size_t at) {
    if (at + 4 > data.size()) return false;
    const std::uint32_t word = static_cast<std::uint32_t>(data[at]) << 24 | data[at + 1] << 16 |
                               data[at + 2] << 8 | data[at + 3];
    return word == 0x7FFE8001 || word == 0x64582025;
}

inline ac3::Frame frameAt(const Bytes& data, std::size_t offset, double& time) {
    const ac3::Frame none{offset, 0, time, false, 0, 0.0};
    if (data.size() - offset < 11 || !syncAt(data, offset)) return none;
    const std::uint8_t* h = &data[offset];
    if (h[0] == 0x64) {  // nuExtSSFsize after a 1-bit size type and 8 or 12 bits of header size
        const bool wide = (h[5] & 0x20) != 0;
        const std::size_t size =
            wide ? ((h[6] & 0x01U) << 19 | h[7] << 11 | h[8] << 3 | h[9] >> 5) + 1
                 : ((h[6] & 0x1FU) << 11 | h[7] << 3 | h[8] >> 5) + 1;
        if (size > data.size() - offset) return none;
        return {offset, size, time, false, 0, 0.0};
    }
    const int blocks = ((h[4] & 1) << 6 | h[5] >> 2) + 1;
    const std::size_t size = static_cast<std::size_t>((h[5] & 3) << 12 | h[6] << 4 | h[7] >> 4) + 1;
    const int rates[16] = {0,     8000, 16000, 32000, 0,     0,     11025, 22050,
                           44100, 0,    0,     12000, 24000, 48000, 0,     0};
    const int rate = rates[h[8] >> 2 & 0x0F];
    if (blocks < 6 || size < 96 || rate == 0 || size > data.size() - offset) return none;
    const double duration = static_cast<double>(blocks * 32) / rate;
    time += duration;
    return {offset, size, time, true, blocks * 32, duration};
}

inline std::vector<ac3::Frame> walk(const Bytes& data, std::vector<ac3::Skip>* skips = nullptr) {
    return ac3::walkWith(data, skips, frameAt, syncAt);
}

// An extension substream frame of an 18-byte header and `payload` bytes of one asset in the
// auxiliary coding mode, which decoders skip; with more than 60,000 bytes, a 20-byte header of
// the wide fields. The header's CRC-16 (0x1021 from 0xFFFF) runs from its sixth byte to
// its end, the CRC itself included, to 0.
inline Bytes extensionFrame(std::size_t payload) {
    const bool wide = payload > 60000;
    const std::size_t header = wide ? 20 : 18;
    const auto p = static_cast<std::uint32_t>(payload - 1);
    int used = 0;
    Bytes frame = {0x64, 0x58, 0x20, 0x25, 0x00};
    const auto put = [&](std::uint64_t value, int count) {
        for (int i = count - 1; i >= 0; --i, ++used) {
            if (used % 8 == 0) frame.push_back(0);
            frame.back() |= static_cast<std::uint8_t>((value >> i & 1) << (7 - used % 8));
        }
    };
    put(wide, 3);  // nExtSSIndex, bHeaderSizeType
    put(header - 1, wide ? 12 : 8);
    put(header + payload - 1, wide ? 20 : 16);
    put(0, 1);               // bStaticFieldsPresent
    put(p, wide ? 20 : 16);  // nuAssetFsize
    put(4, 9);               // nuAssetDescriptFsize: 5 bytes
    put(0, 5);               // nuAssetIndex, no DRC, no dialog normalization
    put(3, 2);               // nuCodingMode: auxiliary
    put(p & 0x3FFF, 14);     // its size
    put(0, 11);              // codec, no sync word, pad; bBcCorePresent, byte align
    std::uint32_t crc = 0xFFFF;
    for (std::size_t i = 5; i < frame.size(); ++i) {
        crc ^= static_cast<std::uint32_t>(frame[i]) << 8;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) != 0 ? crc << 1 ^ 0x1021 : crc << 1;
    }
    frame.push_back(static_cast<std::uint8_t>(crc >> 8 & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.resize(header + payload, 0);
    return frame;
}

// A DTS-HD stream: an extension substream frame after every core frame of `core`.
inline Bytes withExtensions(const Bytes& core, std::size_t payload = 32) {
    Bytes stream;
    for (const ac3::Frame& frame : walk(core)) {
        stream.insert(stream.end(), core.begin() + static_cast<long>(frame.offset),
                      core.begin() + static_cast<long>(frame.offset + frame.size));
        const Bytes extension = extensionFrame(payload);
        stream.insert(stream.end(), extension.begin(), extension.end());
    }
    return stream;
}

}  // namespace dts

// The frames of an AC-3 or E-AC-3 stream, of an ADTS one, of an MPEG audio one or of a DTS one.
inline std::vector<ac3::Frame> walkStream(const Bytes& data,
                                          std::vector<ac3::Skip>* skips = nullptr) {
    if (dts::syncAt(data, 0)) return dts::walk(data, skips);
    if (adts::syncAt(data, 0)) return adts::walk(data, skips);
    return mpeg::syncAt(data, 0) ? mpeg::walk(data, skips) : ac3::walk(data, skips);
}
