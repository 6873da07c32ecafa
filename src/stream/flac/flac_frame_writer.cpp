#include "stream/flac/flac_frame_writer.h"

#include <algorithm>
#include <cstring>

#include "stream/flac/flac_crc.h"

namespace flac {

namespace {

// Bits into bytes, most significant first.
class BitPacker {
public:
    explicit BitPacker(std::vector<std::uint8_t>& out) : out(out) {}
    void put(std::uint32_t value, int count) {
        for (int left = count; left > 0;) {
            const int take = std::min(left, 16);
            left -= take;
            acc = acc << take | (value >> left & ((1u << take) - 1));
            bits += take;
            while (bits >= 8) {
                bits -= 8;
                out.push_back(static_cast<std::uint8_t>(acc >> bits));
            }
        }
    }
    void pad() {
        if (bits > 0) put(0, 8 - bits);
    }

private:
    std::vector<std::uint8_t>& out;
    std::uint64_t acc = 0;
    int bits = 0;
};

}  // namespace

void FrameWriter::begin(const FrameHeader& likeHeader, const StreamInfo& streamInfo,
                        std::uint32_t blockSize, bool numberSamples, std::size_t seekPoints,
                        std::uint64_t planned) {
    // The room for held samples is kept from output to output.
    std::vector<std::int32_t> room = std::move(heldSamples);
    *this = FrameWriter();
    heldSamples = std::move(room);
    like = likeHeader;
    info = streamInfo;
    block = blockSize;
    variable = numberSamples;
    capacity = 2 * static_cast<std::size_t>(block) + 2 * shortest;
    for (std::size_t i = 0; i < seekPoints && planned > 0; ++i) {
        targets.push_back(planned * i / seekPoints);
    }
}

void FrameWriter::dryRun(std::uint32_t blockSize) {
    *this = FrameWriter();
    dry = true;
    block = blockSize;
    capacity = 2 * static_cast<std::size_t>(block) + 2 * shortest;
}

bool FrameWriter::copy(const std::uint8_t* frame, std::size_t size, const FrameHeader& header,
                       const Sink& out) {
    if (heldCount > 0 && !flush(out)) return false;
    if (dry) {
        account(header.blockSize, 0);
        return true;
    }
    const std::uint64_t number = variable ? samples : frames;
    writeHeader(header, variable, number, header.blockSize, true, head);
    const std::size_t body = size - header.length - 2;
    if (head.size() == header.length && std::equal(head.begin(), head.end(), frame)) {
        head.clear();
        return emit(head, frame, size, header.blockSize, out);
    }
    // The CRC-16 is linear: the new header's part of it replaces the old one's, and a CRC
    // that was off stays off by as much.
    const std::uint16_t change =
        crc16AfterZeros(static_cast<std::uint16_t>(crc16(0, frame, header.length) ^
                                                   crc16(0, head.data(), head.size())),
                        body);
    const std::uint16_t crc =
        static_cast<std::uint16_t>((frame[size - 2] << 8 | frame[size - 1]) ^ change);
    const std::uint8_t crcBytes[2] = {static_cast<std::uint8_t>(crc >> 8),
                                      static_cast<std::uint8_t>(crc)};
    account(header.blockSize, head.size() + body + 2);
    return out(head.data(), head.size()) && out(frame + header.length, body) && out(crcBytes, 2);
}

bool FrameWriter::add(const std::int32_t* from, std::size_t stride, std::uint64_t count,
                      std::uint16_t crcError, const Sink& out) {
    heldError ^= crcError;
    // The room for held samples is made when first needed: a cut of whole frames needs none.
    const std::size_t room = capacity * static_cast<std::size_t>(info.channels);
    if (!dry && heldSamples.size() < room) heldSamples.resize(room);
    for (std::uint64_t done = 0; done < count;) {
        const std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>(count - done, capacity - heldCount));
        for (int c = 0; c < info.channels && !dry; ++c) {
            std::int32_t* to =
                heldSamples.data() + static_cast<std::size_t>(c) * capacity + heldCount;
            if (from == nullptr) {
                std::fill(to, to + take, 0);
            } else {
                std::memcpy(to, from + static_cast<std::size_t>(c) * stride + done,
                            take * sizeof(std::int32_t));
            }
        }
        heldCount += take;
        done += take;
        // Whole blocks go out as they come, so that a long silence needs no more memory.
        while (heldCount >= block + shortest) {
            if (!makeFrame(block, out)) return false;
        }
    }
    return true;
}

bool FrameWriter::flush(const Sink& out) {
    // A frame holds at most 65535 samples: a block of that size and a few more make two.
    if (heldCount > largest &&
        !makeFrame(static_cast<std::uint32_t>(heldCount - shortest), out)) {
        return false;
    }
    return heldCount == 0 || makeFrame(static_cast<std::uint32_t>(heldCount), out);
}

// A frame of the first `count` samples held: a constant subframe for a channel whose samples
// are all one value, verbatim for any other.
bool FrameWriter::makeFrame(std::uint32_t count, const Sink& out) {
    bool ok = true;
    if (dry) {
        account(count, 0);
    } else {
        const std::uint64_t number = variable ? samples : frames;
        writeHeader(like, variable, number, count, false, head);
        made.clear();
        BitPacker bits(made);
        for (int c = 0; c < info.channels; ++c) {
            const std::int32_t* s = heldSamples.data() + static_cast<std::size_t>(c) * capacity;
            const bool constant =
                std::all_of(s, s + count, [s](std::int32_t v) { return v == s[0]; });
            bits.put(constant ? 0x00 : 0x02, 8);
            for (std::uint32_t i = 0; i < (constant ? 1 : count); ++i) {
                bits.put(static_cast<std::uint32_t>(s[i]), info.bits);
            }
        }
        bits.pad();
        const std::uint16_t crc = static_cast<std::uint16_t>(
            crc16(crc16(0, head.data(), head.size()), made.data(), made.size()) ^ heldError);
        made.push_back(static_cast<std::uint8_t>(crc >> 8));
        made.push_back(static_cast<std::uint8_t>(crc));
        ok = emit(head, made.data(), made.size(), count, out);
    }
    heldCount -= count;
    // Every frame that holds some of a damaged frame's samples fails its CRC-16.
    if (heldCount == 0) heldError = 0;
    for (int c = 0; c < info.channels && !dry; ++c) {
        std::int32_t* s = heldSamples.data() + static_cast<std::size_t>(c) * capacity;
        std::memmove(s, s + count, heldCount * sizeof(std::int32_t));
    }
    return ok;
}

bool FrameWriter::emit(const std::vector<std::uint8_t>& head, const std::uint8_t* rest,
                       std::size_t size, std::uint32_t count, const Sink& out) {
    account(count, head.size() + size);
    return (head.empty() || out(head.data(), head.size())) && out(rest, size);
}

void FrameWriter::account(std::uint32_t count, std::size_t size) {
    if (frames > 0) {
        allBlock = allBlock && lastBlock == block;
        minBlock = frames == 1 ? lastBlock : std::min(minBlock, lastBlock);
    }
    lastBlock = count;
    maxBlock = std::max(maxBlock, count);
    const auto frameBytes = static_cast<std::uint32_t>(size);
    minFrame = frames == 0 ? frameBytes : std::min(minFrame, frameBytes);
    maxFrame = std::max(maxFrame, frameBytes);
    // One point for the frame that holds a target; two may not name one frame.
    if (nextTarget < targets.size() && targets[nextTarget] < samples + count) {
        points.push_back({samples, bytes, count});
    }
    while (nextTarget < targets.size() && targets[nextTarget] < samples + count) ++nextTarget;
    ++frames;
    samples += count;
    bytes += size;
}

StreamInfo FrameWriter::streamInfo() const {
    StreamInfo out = info;
    out.total = samples;
    out.minFrame = minFrame;
    out.maxFrame = maxFrame;
    if (!variable) {
        out.minBlock = out.maxBlock = block;
    } else {
        out.minBlock = frames > 1 ? minBlock : lastBlock;
        out.maxBlock = maxBlock;
    }
    return out;
}

}  // namespace flac
