// The 4-byte header of an MPEG audio frame (ISO/IEC 11172-3, 13818-3 and MPEG-2.5), shared by
// Layers I and II and by Layer III: its fields as coded, and what they make of the frame.
#pragma once

#include <cstdint>

namespace mpeg {

// Header fields as coded: version 3 = MPEG-1, 2 = MPEG-2, 0 = MPEG-2.5 (1 reserved); layer
// 3 = I, 2 = II, 1 = III (0 reserved).
struct Header {
    int version, layer;
    bool protection;  // a CRC follows the header
    int bitRateIndex, sampleRateIndex, padding, mode, modeExtension;

    explicit Header(const std::uint8_t* h)
        : version(h[1] >> 3 & 3),
          layer(h[1] >> 1 & 3),
          protection((h[1] & 1) == 0),
          bitRateIndex(h[2] >> 4),
          sampleRateIndex(h[2] >> 2 & 3),
          padding(h[2] >> 1 & 1),
          mode(h[3] >> 6),
          modeExtension(h[3] >> 4 & 3) {}

    bool lowRate() const { return version != 3; }
    bool layerI() const { return layer == 3; }
    bool layerIII() const { return layer == 1; }
    int channels() const { return mode == 3 ? 1 : 2; }
    std::int32_t sampleRate() const;
    std::int32_t bitRate() const;  // bits per second
    // Layer III of MPEG-2 and 2.5 has one granule of 576 samples a frame, not two.
    std::int32_t samples() const { return layerI() ? 384 : layerIII() && lowRate() ? 576 : 1152; }
    // Bytes in a slot, and the frame's length without padding, in slots.
    std::int32_t slot() const { return layerI() ? 4 : 1; }
    std::int32_t slots() const { return slotsPerSecond() * bitRate() / sampleRate(); }
    std::int32_t size() const { return (slots() + padding) * slot(); }
    bool wholeSlots() const { return slotsPerSecond() * bitRate() % sampleRate() == 0; }
    // Version, layer, bit rate and sample rate are none of the reserved or free values.
    bool valid() const {
        return version != 1 && layer != 0 && bitRateIndex != 0 && bitRateIndex != 15 &&
               sampleRateIndex != 3;
    }

private:
    std::int32_t slotsPerSecond() const { return samples() / 8 / slot(); }
};

}  // namespace mpeg
