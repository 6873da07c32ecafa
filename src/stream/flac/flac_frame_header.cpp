#include "stream/flac/flac_frame_header.h"

#include "stream/flac/flac_crc.h"

namespace flac {

namespace {

constexpr std::uint32_t rates[12] = {0,     88200, 176400, 192000, 8000,  16000,
                                     22050, 24000, 32000,  44100,  48000, 96000};
constexpr int sampleSizes[8] = {0, 8, 12, -1, 16, 20, 24, 32};

// The block size a code gives alone; 0 for the codes whose size follows the number.
std::uint32_t blockSizeOf(int code) {
    if (code == 1) return 192;
    if (code >= 2 && code <= 5) return 576u << (code - 2);
    if (code >= 8) return 256u << (code - 8);
    return 0;
}

// The number, coded as UTF-8 is, in up to 7 bytes; `used` says how many. False when it is
// no such code.
bool readNumber(const std::uint8_t* bytes, std::size_t size, std::uint64_t& number,
                std::size_t& used) {
    if (size == 0) return false;
    const std::uint8_t first = bytes[0];
    int more = 0;
    while (more < 7 && (first << more & 0x80) != 0) ++more;
    if (more == 1 || (more == 7 && first != 0xFE)) return false;
    used = more == 0 ? 1 : static_cast<std::size_t>(more);
    if (used > size) return false;
    number = more == 0 ? first : static_cast<std::uint64_t>(first & (0x7F >> more));
    for (std::size_t i = 1; i < used; ++i) {
        if ((bytes[i] & 0xC0) != 0x80) return false;
        number = number << 6 | (bytes[i] & 0x3F);
    }
    return true;
}

void putNumber(std::vector<std::uint8_t>& out, std::uint64_t number) {
    if (number < 0x80) {
        out.push_back(static_cast<std::uint8_t>(number));
        return;
    }
    int more = 2;
    while (more < 7 && number >> (5 * more + 1) != 0) ++more;
    out.push_back(static_cast<std::uint8_t>((0xFF00 >> more) | number >> (6 * (more - 1))));
    for (int i = more - 2; i >= 0; --i) {
        out.push_back(static_cast<std::uint8_t>(0x80 | (number >> (6 * i) & 0x3F)));
    }
}

}  // namespace

bool readHeader(const std::uint8_t* bytes, std::size_t size, FrameHeader& header) {
    if (size < 6 || bytes[0] != 0xFF || (bytes[1] & 0xFE) != 0xF8) return false;
    const int blockCode = bytes[2] >> 4, rateCode = bytes[2] & 0x0F;
    const int assignment = bytes[3] >> 4, sizeCode = bytes[3] >> 1 & 7;
    if (blockCode == 0 || rateCode == 15 || assignment > 10 || sizeCode == 3 ||
        (bytes[3] & 1) != 0) {
        return false;
    }
    std::size_t at = 4, used = 0;
    if (!readNumber(bytes + at, size - at, header.number, used)) return false;
    header.variable = (bytes[1] & 1) != 0;
    if (!header.variable && used > 6) return false;
    at += used;
    const std::size_t blockBytes = blockCode == 6 ? 1 : blockCode == 7 ? 2 : 0;
    header.rateByteCount = rateCode == 12 ? 1 : rateCode >= 13 ? 2 : 0;
    if (at + blockBytes + static_cast<std::size_t>(header.rateByteCount) >= size) return false;
    header.blockSize = blockSizeOf(blockCode);
    if (blockBytes == 1) header.blockSize = bytes[at] + 1u;
    if (blockBytes == 2) header.blockSize = (bytes[at] << 8 | bytes[at + 1]) + 1u;
    at += blockBytes;
    std::uint32_t value = 0;
    for (int i = 0; i < header.rateByteCount; ++i) {
        header.rateBytes[i] = bytes[at];
        value = value << 8 | bytes[at++];
    }
    header.rate = rateCode < 12    ? rates[rateCode]
                  : rateCode == 12 ? value * 1000
                  : rateCode == 13 ? value
                                   : value * 10;
    if (crc8(bytes, at) != bytes[at]) return false;
    header.assignment = assignment;
    header.channels = assignment < 8 ? assignment + 1 : 2;
    header.bits = sampleSizes[sizeCode];
    header.codes[0] = bytes[2];
    header.codes[1] = bytes[3];
    header.length = at + 1;
    return true;
}

void writeHeader(const FrameHeader& like, bool variable, std::uint64_t number,
                 std::uint32_t blockSize, bool copy, std::vector<std::uint8_t>& out) {
    out.assign({0xFF, static_cast<std::uint8_t>(variable ? 0xF9 : 0xF8)});
    int blockCode = blockSize <= 256 ? 6 : 7;
    for (int code = 1; code < 16 && !copy; ++code) {
        if (blockSizeOf(code) == blockSize) blockCode = code;
    }
    if (copy) blockCode = like.codes[0] >> 4;
    out.push_back(static_cast<std::uint8_t>(blockCode << 4 | (like.codes[0] & 0x0F)));
    // A frame that is made keeps its channels apart.
    const int assignment = copy ? like.assignment : like.channels - 1;
    out.push_back(static_cast<std::uint8_t>(assignment << 4 | (like.codes[1] & 0x0F)));
    putNumber(out, number);
    if (blockCode == 6) out.push_back(static_cast<std::uint8_t>(blockSize - 1));
    if (blockCode == 7) {
        out.push_back(static_cast<std::uint8_t>((blockSize - 1) >> 8));
        out.push_back(static_cast<std::uint8_t>(blockSize - 1));
    }
    out.insert(out.end(), like.rateBytes, like.rateBytes + like.rateByteCount);
    out.push_back(crc8(out.data(), out.size()));
}

}  // namespace flac
