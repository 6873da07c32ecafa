#include "stream/mp3/mp3_info.h"

#include <cstring>

#include "stream/big_endian.h"
#include "stream/crc16.h"
#include "stream/mp3/mp3_frame.h"

namespace mp3 {

namespace {

// The Xing fields that flags 1, 2, 4 and 8 announce, in bytes: frames, bytes, TOC, quality.
constexpr std::uint32_t fieldSizes[4] = {4, 4, 100, 4};
// LAME's tag, from its start: ReplayGain's peak and gains, delay and padding, the music
// length and CRC, and its own CRC; it ends after that.
constexpr std::uint32_t peakAt = 11, delayAt = 21, lengthAt = 28, musicCrcAt = 32, tagCrcAt = 34,
                        tagSize = 36;

std::uint32_t fieldsSize(std::uint32_t flags) {
    std::uint32_t size = 8;
    for (int i = 0; i < 4; ++i) size += (flags >> i & 1) != 0 ? fieldSizes[i] : 0;
    return size;
}

bool readLameTag(InfoFrame& info) {
    const std::uint32_t at = info.xingAt + fieldsSize(info.flags);
    if (at + tagSize > info.frame.size()) return false;
    const std::uint8_t* tag = info.frame.data() + at;
    info.encoder.assign(reinterpret_cast<const char*>(tag), 9);
    // Anything that names an encoder in printable characters.
    for (const char c : info.encoder.substr(0, 4)) {
        if (c < 0x20 || c > 0x7E) return false;
    }
    info.lameAt = at;
    info.delay = static_cast<std::uint32_t>(tag[delayAt] << 4 | tag[delayAt + 1] >> 4);
    info.padding = static_cast<std::uint32_t>((tag[delayAt + 1] & 0x0F) << 8 | tag[delayAt + 2]);
    return true;
}

// The LAME tag of an output, after its Xing fields.
void writeLameTag(const InfoFrame& input, const OutputCounts& counts,
                  std::vector<std::uint8_t>& frame) {
    const std::uint32_t at = input.xingAt + fieldsSize(7 | (input.flags & 8));
    std::uint8_t* tag = frame.data() + at;
    std::memcpy(tag, input.frame.data() + input.lameAt, tagSize);
    std::memset(tag + peakAt, 0, 8);  // the peak, and the radio and audiophile gains
    tag[delayAt] = static_cast<std::uint8_t>(counts.delay >> 4);
    tag[delayAt + 1] = static_cast<std::uint8_t>((counts.delay & 0x0F) << 4 | counts.padding >> 8);
    tag[delayAt + 2] = static_cast<std::uint8_t>(counts.padding & 0xFF);
    setBigEndian(tag + lengthAt, counts.bytes, 4);
    setBigEndian(tag + musicCrcAt, counts.musicCrc, 2);
}

}  // namespace

bool InfoFrame::gapless() const {
    if (!lameTag) return false;
    const std::string head = encoder.substr(0, 4);
    return head == "LAME" || head == "Lavf" || head == "Lavc";
}

bool readInfoFrame(const std::uint8_t* frame, std::size_t size, std::uint32_t sideInfo,
                   InfoFrame& info) {
    info = InfoFrame();
    const std::uint32_t xingAt = 4 + sideInfo;
    if (size >= 36 + 26 && std::memcmp(frame + 36, "VBRI", 4) == 0) {
        info.vbri = true;
        info.xingAt = xingAt;
        info.frames = static_cast<std::uint32_t>(bigEndian(frame + 36 + 14, 4));
        info.flags = 1;
    } else if (size >= xingAt + 8 && (std::memcmp(frame + xingAt, "Xing", 4) == 0 ||
                                      std::memcmp(frame + xingAt, "Info", 4) == 0)) {
        info.xingAt = xingAt;
        info.flags = static_cast<std::uint32_t>(bigEndian(frame + xingAt + 4, 4)) & 0x0F;
        if (xingAt + fieldsSize(info.flags) > size) return false;
        if ((info.flags & 1) != 0)
            info.frames = static_cast<std::uint32_t>(bigEndian(frame + xingAt + 8, 4));
    } else {
        return false;
    }
    info.present = true;
    info.frame.assign(frame, frame + size);
    if (!info.vbri) info.lameTag = readLameTag(info);
    return true;
}

std::uint32_t infoFrameNeeds(const InfoFrame& input) {
    return input.xingAt + fieldsSize(7 | (input.flags & 8)) + (input.lameTag ? tagSize : 0);
}

std::vector<std::uint8_t> writeInfoFrame(const InfoFrame& input, const OutputCounts& counts) {
    std::vector<std::uint8_t> frame(input.frame.size(), 0);
    std::memcpy(frame.data(), input.frame.data(), 4);
    // The Xing fields of a frame that had VBRI's stand where a Xing frame has them.
    std::uint8_t* xing = frame.data() + input.xingAt;
    std::memcpy(xing, counts.vbr ? "Xing" : "Info", 4);
    const std::uint32_t flags = 7 | (input.flags & 8);
    setBigEndian(xing + 4, flags, 4);
    setBigEndian(xing + 8, counts.frames, 4);
    setBigEndian(xing + 12, counts.bytes, 4);
    for (int i = 0; i < 100; ++i) {
        const std::uint64_t scaled =
            256ULL * counts.toc[i] / (counts.bytes == 0 ? 1 : counts.bytes);
        xing[16 + i] = static_cast<std::uint8_t>(scaled > 255 ? 255 : scaled);
    }
    if ((flags & 8) != 0) {
        std::memcpy(xing + 116, input.frame.data() + input.xingAt + fieldsSize(input.flags) - 4, 4);
    }
    if (input.lameTag) writeLameTag(input, counts, frame);
    // The CRC covers the side information, where the Xing fields start in a frame with one.
    Layout layout;
    if ((frame[1] & 1) == 0 && readLayout(frame.data(), frame.size(), layout)) {
        const std::uint16_t crc = frameCrc(frame.data(), layout);
        frame[4] = static_cast<std::uint8_t>(crc >> 8);
        frame[5] = static_cast<std::uint8_t>(crc & 0xFF);
    }
    // The tag's own CRC covers the frame's first bytes, its CRC among them.
    if (input.lameTag) {
        const std::uint32_t crcAt = input.xingAt + fieldsSize(7 | (input.flags & 8)) + tagCrcAt;
        setBigEndian(frame.data() + crcAt, crc::crc16LsbFirst(0, frame.data(), crcAt), 2);
    }
    return frame;
}

}  // namespace mp3
