// One Layer III frame held in memory: where its side information, its slot of main data and
// the main data it needs lie, and the fields of it the program writes anew.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "stream/mpeg_audio/mpeg_header.h"

namespace mp3 {

// What a Layer III frame's header and side information say of its bytes. Its main data
// starts `mainDataBegin` bytes before its own slot, in the slots of the frames before it laid
// end to end, and runs for `dataBytes`.
struct Layout {
    std::uint32_t size = 0;       // the whole frame
    std::uint32_t sideStart = 0;  // after the header and the CRC
    std::uint32_t sideSize = 0;   // 9, 17 or 32 bytes
    std::uint32_t mainDataBegin = 0;
    std::uint32_t dataBytes = 0;  // the part2_3_lengths, in bytes rounded up

    std::uint32_t slotStart() const { return sideStart + sideSize; }
    std::uint32_t slot() const { return size - slotStart(); }
};

// The side information's size for this header: by version and channels.
std::uint32_t sideInfoSize(const mpeg::Header& h);
// How far back main_data_begin reaches at most: 511 bytes in MPEG-1, 255 in MPEG-2 and 2.5.
std::uint32_t maxBack(const mpeg::Header& h);
// The layout of the Layer III frame whose first `size` bytes are at `frame`; false when they
// do not hold its header and side information.
bool readLayout(const std::uint8_t* frame, std::size_t size, Layout& layout);
// The CRC-16 a frame with a CRC carries: over the header's second half and the side
// information.
std::uint16_t frameCrc(const std::uint8_t* frame, const Layout& layout);
bool crcHolds(const std::uint8_t* frame, const Layout& layout);
// Writes main_data_begin, and the CRC where the frame has one.
void setMainDataBegin(std::uint8_t* frame, const Layout& layout, std::uint32_t value);
// Side information of zeros (no granule holds a bit of main data) but for main_data_begin,
// and the CRC made anew; the slot is left as it is.
void silence(std::uint8_t* frame, const Layout& layout, std::uint32_t mainDataBegin);
// The size of a frame of this header at another bit-rate index.
std::uint32_t sizeAtBitRate(const std::uint8_t* header, int bitRateIndex);
// A silent frame of this header: zeros after it, the CRC made anew.
std::vector<std::uint8_t> silentFrame(const std::uint8_t* header);

}  // namespace mp3
