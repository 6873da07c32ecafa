#include "stream/mp3/mp3_frame.h"

#include "stream/crc16.h"

namespace mp3 {

namespace {

// `count` bits (up to 16) from bit `at` of the side information on, which holds the 3 bytes
// they start in.
std::uint32_t bitsAt(const std::uint8_t* side, std::size_t at, int count) {
    const std::uint8_t* p = side + at / 8;
    const std::uint32_t three = static_cast<std::uint32_t>(p[0]) << 16 | p[1] << 8 | p[2];
    return three >> (24 - at % 8 - static_cast<std::size_t>(count)) & ((1u << count) - 1);
}

}  // namespace

std::uint32_t sideInfoSize(const mpeg::Header& h) {
    if (h.lowRate()) return h.channels() == 1 ? 9 : 17;
    return h.channels() == 1 ? 17 : 32;
}

std::uint32_t maxBack(const mpeg::Header& h) { return h.lowRate() ? 255 : 511; }

bool readLayout(const std::uint8_t* frame, std::size_t size, Layout& layout) {
    if (size < 4) return false;
    const mpeg::Header h(frame);
    layout.size = static_cast<std::uint32_t>(h.size());
    layout.sideStart = h.protection ? 6 : 4;
    layout.sideSize = sideInfoSize(h);
    if (size < layout.slotStart() || layout.size < layout.slotStart()) return false;
    // ISO/IEC 11172-3 2.4.1.7 and 13818-3 2.4.1.7: main_data_begin, the private bits, the
    // scale factor selection (MPEG-1), then 59 (MPEG-1) or 63 bits for each granule and
    // channel, which start with part2_3_length.
    const std::uint8_t* side = frame + layout.sideStart;
    const bool mpeg1 = !h.lowRate();
    const int channels = h.channels();
    layout.mainDataBegin = bitsAt(side, 0, mpeg1 ? 9 : 8);
    std::size_t at = mpeg1 ? (channels == 1 ? 18 : 20) : (channels == 1 ? 9 : 10);
    const int granules = mpeg1 ? 2 : 1;
    std::uint32_t bits = 0;
    for (int i = 0; i < granules * channels; ++i, at += mpeg1 ? 59 : 63) {
        bits += bitsAt(side, at, 12);
    }
    layout.dataBytes = (bits + 7) / 8;
    return true;
}

std::uint16_t frameCrc(const std::uint8_t* frame, const Layout& layout) {
    // Polynomial 0x8005, most significant bit first, from 0xFFFF.
    const std::uint16_t header = crc::crc16(0xFFFF, frame + 2, 2);
    return crc::crc16(header, frame + layout.sideStart, layout.sideSize);
}

bool crcHolds(const std::uint8_t* frame, const Layout& layout) {
    if (layout.sideStart == 4) return true;
    return frameCrc(frame, layout) == (frame[4] << 8 | frame[5]);
}

namespace {

void renewCrc(std::uint8_t* frame, const Layout& layout) {
    if (layout.sideStart == 4) return;
    const std::uint16_t crc = frameCrc(frame, layout);
    frame[4] = static_cast<std::uint8_t>(crc >> 8);
    frame[5] = static_cast<std::uint8_t>(crc & 0xFF);
}

}  // namespace

void setMainDataBegin(std::uint8_t* frame, const Layout& layout, std::uint32_t value) {
    std::uint8_t* side = frame + layout.sideStart;
    if (mpeg::Header(frame).lowRate()) {
        side[0] = static_cast<std::uint8_t>(value);
    } else {
        side[0] = static_cast<std::uint8_t>(value >> 1);
        side[1] = static_cast<std::uint8_t>((side[1] & 0x7F) | (value & 1) << 7);
    }
    renewCrc(frame, layout);
}

void silence(std::uint8_t* frame, const Layout& layout, std::uint32_t mainDataBegin) {
    for (std::uint32_t i = 0; i < layout.sideSize; ++i) frame[layout.sideStart + i] = 0;
    setMainDataBegin(frame, layout, mainDataBegin);
}

std::uint32_t sizeAtBitRate(const std::uint8_t* header, int bitRateIndex) {
    std::uint8_t other[4] = {header[0], header[1], header[2], header[3]};
    other[2] = static_cast<std::uint8_t>((other[2] & 0x0F) | bitRateIndex << 4);
    return static_cast<std::uint32_t>(mpeg::Header(other).size());
}

std::vector<std::uint8_t> silentFrame(const std::uint8_t* header) {
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(mpeg::Header(header).size()), 0);
    for (int i = 0; i < 4; ++i) frame[i] = header[i];
    Layout layout;
    if (readLayout(frame.data(), frame.size(), layout)) silence(frame.data(), layout, 0);
    return frame;
}

}  // namespace mp3
