#include "stream/mpeg_audio/mpeg_audio.h"

#include <vector>

#include "stream/frame_bits.h"
#include "stream/mpeg_audio/mpeg_header.h"

namespace {

using mpeg::Header;

// Layer II's bit allocation tables (11172-3 Tables 3-B.2a to d, 13818-3 Table B.1): how many
// subbands have an allocation, and how many bits each allocation takes.
struct AllocationTable {
    int subbands;
    int fourBits, threeBits;  // subbands with 4 bits, then those with 3; the rest have 2
};

AllocationTable allocationTable(const Header& h) {
    if (h.lowRate()) return {30, 4, 7};
    const std::int32_t perChannel = h.bitRate() / 1000 / h.channels();
    const std::int32_t rate = h.sampleRate();
    if ((rate == 48000 && perChannel >= 56) || (perChannel >= 56 && perChannel <= 80)) {
        return {27, 11, 12};
    }
    if (rate != 48000 && perChannel >= 96) return {30, 11, 12};
    if (rate != 32000 && perChannel <= 48) return {8, 2, 6};
    return {12, 2, 10};
}

int allocationBits(const AllocationTable& table, int subband) {
    if (subband < table.fourBits) return 4;
    return subband < table.fourBits + table.threeBits ? 3 : 2;
}

// Feeds `bits` bits of `value`, most significant first, into an MPEG audio CRC.
void crcBits(std::uint16_t& crc, std::uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
        const bool top = (crc & 0x8000) != 0;
        crc = static_cast<std::uint16_t>(crc << 1);
        if (top != (((value >> i) & 1) != 0)) crc ^= 0x8005;
    }
}

// The bit allocation of every subband and channel, and in Layer II the scale factor
// selection information of each that has one, read from `side` into the CRC.
void sideInformation(const Header& h, BitCursor& side, std::uint16_t& crc) {
    const AllocationTable table = h.layerI() ? AllocationTable{32, 32, 0} : allocationTable(h);
    // In joint stereo the subbands from the bound on share one allocation.
    const int bound =
        h.mode == 1 ? std::min(4 * (h.modeExtension + 1), table.subbands) : table.subbands;
    std::vector<std::uint32_t> allocated;
    for (int sb = 0; sb < table.subbands; ++sb) {
        const int bits = allocationBits(table, sb);
        for (int ch = 0; ch < (sb < bound ? h.channels() : 1); ++ch) {
            allocated.push_back(side.read(bits));
            crcBits(crc, allocated.back(), bits);
            if (sb >= bound) allocated.push_back(allocated.back());
        }
    }
    if (h.layerI()) return;
    for (const std::uint32_t allocation : allocated) {
        if (allocation != 0) crcBits(crc, side.read(2), 2);
    }
}

}  // namespace

bool mpegAudioCrc(const std::uint8_t* frame, std::size_t size, std::uint16_t& crc) {
    const Header h(frame);
    crc = 0xFFFF;
    crcBits(crc, static_cast<std::uint32_t>(frame[2] << 8 | frame[3]), 16);
    // The side information starts after the header and the CRC itself.
    BitCursor side(frame + 6, size - 6);
    sideInformation(h, side, crc);
    return !side.overran();
}

bool MpegAudioFormat::startsFrame(const std::uint8_t* bytes, std::size_t size) {
    return size >= 2 && bytes[0] == 0xFF && (bytes[1] & 0xE0) == 0xE0 && (bytes[1] & 0x06) != 0;
}

bool MpegAudioFormat::readFrame() {
    frameBytes.clear();
    start = reader.offset();
    stopped = Stop::none;
    if (reader.atEnd()) return fail(Stop::endOfInput);
    // Most headers are read where they stand, and the frame is then taken whole in one go.
    const std::uint8_t* ahead = reader.recent(start, 4);
    if (ahead == nullptr || !headerFits(ahead)) {
        // What the end of the input leaves out of the header reads as zeros.
        reader.appendBytes(frameBytes, 4);
        if (frameBytes[0] != 0xFF || (frameBytes[1] & 0xE0) != 0xE0) {
            // A lone 0xFF as the input's last byte may be the start of a frame.
            const bool lone = reader.overran() && reader.offset() - start == 1;
            return fail(lone && frameBytes[0] == 0xFF ? Stop::cutShort : Stop::noSyncWord);
        }
        if (reader.overran()) return fail(Stop::cutShort);
        std::uint8_t bytes[4];
        for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(frameBytes[i]);
        if (!headerFits(bytes)) {
            return fail(fault == Fault::layerIII ? Stop::unsupported : Stop::reservedValue);
        }
    }
    const Header h(header);
    protection = h.protection;
    duration = static_cast<double>(h.samples()) / h.sampleRate();
    steps = true;
    reader.appendBytes(frameBytes, h.size() - static_cast<std::int32_t>(frameBytes.size()));
    // A frame counts only if every one of its bytes came from the input.
    if (reader.overran()) return fail(Stop::cutShort);
    return true;
}

// Keeps the header and says whether it is one of a frame this reads; `fault` says why not.
bool MpegAudioFormat::headerFits(const std::uint8_t* bytes) {
    for (int i = 0; i < 4; ++i) header[i] = bytes[i];
    const Header h(header);
    fault = header[0] != 0xFF || (header[1] & 0xE0) != 0xE0 ? Fault::sync
            : h.version == 1                                ? Fault::version
            : h.layer == 0                                  ? Fault::layer
            : h.layer == 1                                  ? Fault::layerIII
            : h.bitRateIndex == 15                          ? Fault::badBitRate
            : h.bitRateIndex == 0                           ? Fault::freeFormat
            : h.sampleRateIndex == 3                        ? Fault::sampleRate
                                                            : Fault::none;
    return fault == Fault::none;
}

bool MpegAudioFormat::frameAt(std::uint64_t candidate) {
    return reader.seek(candidate) && readFrame() && followedBy(startsFrame);
}

std::string MpegAudioFormat::stopReason() const {
    if (stopped != Stop::reservedValue && stopped != Stop::unsupported) return commonStopReason();
    switch (fault) {
        case Fault::version:
            return "reserved version 01";
        case Fault::layer:
            return "reserved layer 00";
        case Fault::layerIII:
            return "a Layer III frame in a stream of Layer I or II";
        case Fault::badBitRate:
            return "bit-rate index 15 is not allowed";
        case Fault::freeFormat:
            return "free format (bit-rate index 0) is not supported";
        case Fault::sampleRate:
        case Fault::sync:
        case Fault::none:
            break;
    }
    return "reserved sample-rate index 3";
}

bool MpegAudioFormat::crcsHold() const {
    if (!protection) return true;
    // The frame just read still stands in the reader's buffer, or in the history before it.
    const std::uint8_t* frame = reader.recent(start, frameBytes.size());
    std::vector<std::uint8_t> copy;
    if (frame == nullptr) {
        copy.assign(frameBytes.begin(), frameBytes.end());
        frame = copy.data();
    }
    std::uint16_t crc = 0;
    return mpegAudioCrc(frame, frameBytes.size(), crc) && crc == (frame[4] << 8 | frame[5]);
}

std::string MpegAudioFormat::describe() const {
    const Header h(header);
    const char* versions[4] = {"MPEG-2.5", "", "MPEG-2", "MPEG-1"};
    return std::string(versions[h.version]) + (h.layerI() ? " Layer I, " : " Layer II, ") +
           kilohertz(h.sampleRate());
}

FrameFormat::Frame MpegAudioFormat::silentFrame(const Frame& reference) const {
    if (reference.size() < 6) return {};
    std::vector<std::uint8_t> twin(reference.size(), 0);
    for (int i = 0; i < 4; ++i) twin[i] = static_cast<std::uint8_t>(reference[i]);
    const Header h(twin.data());
    if (h.version == 1 || h.layer < 2 || h.bitRateIndex == 0 || h.bitRateIndex == 15 ||
        h.sampleRateIndex == 3) {
        return {};
    }
    // Every allocation 0: the side information is zeros, and nothing follows it.
    std::uint16_t crc = 0;
    if (!mpegAudioCrc(twin.data(), twin.size(), crc)) return {};
    if (h.protection) {
        twin[4] = static_cast<std::uint8_t>(crc >> 8);
        twin[5] = static_cast<std::uint8_t>(crc & 0xFF);
    }
    return {twin.begin(), twin.end()};
}

FrameFormat::Frame MpegAudioFormat::replacementReference(const Frame& damaged,
                                                         const Frame& good) const {
    Frame reference = damaged;
    reference[1] = (damaged[1] & 0xFE) | (good[1] & 0x01);  // protection
    reference[2] = (damaged[2] & 0xFE) | (good[2] & 0x01);  // private bit
    reference[3] = good[3];  // mode, mode extension, copyright, original, emphasis
    return reference;
}

bool MpegAudioFormat::otherSize(const Frame& frame, double frameTime, Frame& other,
                                double& otherTime) const {
    std::uint8_t bytes[4];
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(frame[i]);
    const Header h(bytes);
    if (h.wholeSlots()) return false;
    other = frame;
    other[2] ^= 0x02;
    const auto slot = static_cast<std::size_t>(h.slot());
    other.resize(h.padding != 0 ? frame.size() - slot : frame.size() + slot, 0);
    otherTime = frameTime;  // a padding slot plays no longer
    return true;
}
