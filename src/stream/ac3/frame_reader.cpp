#include "stream/ac3/frame_reader.h"

#include <algorithm>

#include "stream/ac3/frame_crc.h"
#include "stream/ac3/silent_frame.h"
#include "stream/frame_bits.h"

namespace {

constexpr std::int32_t syncWord = 0x0B77;
// Sync word, then the syntax's own fields, then the byte that holds bsid.
constexpr int headerBytes = 6;

// ATSC A/52 frame size code table: 16-bit words per sync frame, by frmsizecod.
// Columns: 32 kHz, 44.1 kHz, 48 kHz. At 44.1 kHz an odd code is the padded frame.
constexpr std::int32_t wordsPerSyncframe[FrameReader::frameSizeCodes][3] = {
    {96, 69, 64},       {96, 70, 64},       {120, 87, 80},      {120, 88, 80},
    {144, 104, 96},     {144, 105, 96},     {168, 121, 112},    {168, 122, 112},
    {192, 139, 128},    {192, 140, 128},    {240, 174, 160},    {240, 175, 160},
    {288, 208, 192},    {288, 209, 192},    {336, 243, 224},    {336, 244, 224},
    {384, 278, 256},    {384, 279, 256},    {480, 348, 320},    {480, 349, 320},
    {576, 417, 384},    {576, 418, 384},    {672, 487, 448},    {672, 488, 448},
    {768, 557, 512},    {768, 558, 512},    {960, 696, 640},    {960, 697, 640},
    {1152, 835, 768},   {1152, 836, 768},   {1344, 975, 896},   {1344, 976, 896},
    {1536, 1114, 1024}, {1536, 1115, 1024}, {1728, 1253, 1152}, {1728, 1254, 1152},
    {1920, 1393, 1280}, {1920, 1394, 1280},
};

// Nominal bit rate in bits per second, by frmsizecod; codes 2k and 2k + 1 share a rate.
constexpr std::int32_t bitRates[FrameReader::frameSizeCodes] = {
    32000,  32000,  40000,  40000,  48000,  48000,  56000,  56000,  64000,  64000,
    80000,  80000,  96000,  96000,  112000, 112000, 128000, 128000, 160000, 160000,
    192000, 192000, 224000, 224000, 256000, 256000, 320000, 320000, 384000, 384000,
    448000, 448000, 512000, 512000, 576000, 576000, 640000, 640000,
};

}  // namespace

FrameReader::FrameReader(BitReader& reader) : FrameFormat(reader, startsFrame) {
    for (int code = 0; code < frameSizeCodes; ++code) {
        for (int column = 0; column < 3; ++column) {
            frameSizes[code][column] = wordsPerSyncframe[code][column] * 2;
        }
    }
}

bool FrameReader::headerKnown() const {
    if (isEac3()) {
        // strmtyp 3 and fscod2 3 are reserved; a frame holds at least its 8-byte header.
        return strmtyp != 3 && !(fscod == 3 && fscod2 == 3) && frmsiz >= 3;
    }
    // fscod 3 is reserved; the table has no column for it and no row past code 37.
    return fscod >= 0 && fscod <= 2 && frmsizecod >= 0 && frmsizecod < frameSizeCodes;
}

std::int32_t FrameReader::frameSize() const {
    if (isEac3()) return (frmsiz + 1) * 2;
    return frameSizes[frmsizecod][2 - fscod];
}

std::int32_t FrameReader::sampleRate() const {
    constexpr std::int32_t rates[3] = {48000, 44100, 32000};
    constexpr std::int32_t reducedRates[3] = {24000, 22050, 16000};
    return fscod == 3 ? reducedRates[fscod2] : rates[fscod];
}

std::int32_t FrameReader::audioBlocks() const {
    constexpr std::int32_t blocks[4] = {1, 2, 3, 6};
    return blocks[numblkscod];
}

// An AC-3 frame, or an independent E-AC-3 frame of substream 0, moves the clock.
bool FrameReader::stepsFromHeader() const {
    return !isEac3() || ((strmtyp == 0 || strmtyp == 2) && substreamid == 0);
}

bool FrameReader::startsFrame(const std::uint8_t* bytes, std::size_t size) {
    return size >= 2 && bytes[0] == (syncWord >> 8) && bytes[1] == (syncWord & 0xFF);
}

bool FrameReader::readFrame() {
    frameBytes.clear();
    start = reader.offset();
    stopped = Stop::none;
    // The previous frame took the input's last byte: nothing is left to read.
    if (reader.atEnd()) return fail(Stop::endOfInput);

    frameBytes.push_back(reader.readByte());
    frameBytes.push_back(reader.readByte());
    syncword = frameBytes[0] * 256 + frameBytes[1];
    if (syncword != syncWord) {
        // A lone 0x0B as the input's last byte may be the start of a frame.
        const bool mayBeAFrame = reader.overran() && frameBytes[0] == (syncWord >> 8);
        return fail(mayBeAFrame ? Stop::cutShort : Stop::noSyncWord);
    }

    // Which syntax bytes 2 to 4 follow is known only from bsid, in byte 5.
    reader.appendBytes(frameBytes, headerBytes - 2);
    if (reader.overran()) return fail(Stop::cutShort);
    readHeaderFields();
    if (!headerKnown()) {
        duration = 0.0;
        return fail(Stop::reservedValue);
    }
    duration = durationFromHeader();
    steps = stepsFromHeader();

    reader.appendBytes(frameBytes, frameSize() - headerBytes);
    // A frame counts only if every one of its bytes came from the input.
    if (reader.overran()) return fail(Stop::cutShort);
    return true;
}

// The fields of the six header bytes just read, by the syntax bsid names.
void FrameReader::readHeaderFields() {
    bsid = frameBytes[5] >> 3;
    fscod = frameBytes[4] >> 6;
    if (isEac3()) {
        strmtyp = frameBytes[2] >> 6;
        substreamid = (frameBytes[2] >> 3) & 0x07;
        frmsiz = (frameBytes[2] & 0x07) << 8 | frameBytes[3];
        const std::int32_t nextTwoBits = (frameBytes[4] >> 4) & 0x03;
        // A reduced sample rate comes with 6 blocks per frame and no numblkscod.
        fscod2 = fscod == 3 ? nextTwoBits : 0;
        numblkscod = fscod == 3 ? 3 : nextTwoBits;
    } else {
        crc1 = frameBytes[2] * 256 + frameBytes[3];
        frmsizecod = frameBytes[4] & 0x3F;
    }
}

bool FrameReader::syncWordNext() {
    return !reader.atEnd() && reader.readByte() == (syncWord >> 8) && !reader.atEnd() &&
           reader.readByte() == (syncWord & 0xFF);
}

bool FrameReader::frameAt(std::uint64_t candidate) {
    if (!reader.seek(candidate) || !syncWordNext()) return false;
    reader.seek(candidate);
    return readFrame() && (reader.atEnd() || syncWordNext());
}

std::string FrameReader::stopReason() const {
    if (stopped != Stop::reservedValue) return commonStopReason();
    if (isEac3()) {
        if (strmtyp == 3) return "reserved strmtyp 3";
        if (fscod == 3 && fscod2 == 3) return "reserved fscod2 3";
        return "frmsiz " + std::to_string(frmsiz) + " is shorter than a header";
    }
    if (fscod == 3) return "reserved fscod 3";
    return "undefined frmsizecod " + std::to_string(frmsizecod);
}

double FrameReader::durationFromHeader() const {
    if (isEac3()) return static_cast<double>(audioBlocks() * 256) / sampleRate();
    const double bytesPerSecond = bitRates[frmsizecod] * 0.125;
    const double framesPerSecond = bytesPerSecond / frameSize();
    return 1.0 / framesPerSecond;
}

bool FrameReader::crcsHold() const {
    // A frame is at most 4096 bytes, so the whole of the frame just read is still in the
    // reader's buffer, or in the history kept in front of it.
    const std::uint8_t* frame = reader.recent(start, frameBytes.size());
    if (frame != nullptr) return ::crcsHold(frame, frameBytes.size(), isEac3());
    const std::vector<std::uint8_t> copy(frameBytes.begin(), frameBytes.end());
    return ::crcsHold(copy.data(), copy.size(), isEac3());
}

FrameFormat::Frame FrameReader::silentFrame(const Frame& reference) const {
    return ::silentFrame(reference);
}

std::size_t FrameReader::kindOf(const Frame& frame) const {
    if (!eac3Frame(frame)) return 0;
    const auto type = static_cast<std::size_t>(frame[2] >> 6);
    const auto substream = static_cast<std::size_t>((frame[2] >> 3) & 0x07);
    // strmtyp 3 is reserved: a frame of no kind.
    return type < 3 ? 1 + type * 8 + substream : kinds();
}

FrameFormat::Frame FrameReader::replacementReference(const Frame& damaged,
                                                     const Frame& good) const {
    Frame reference(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(
                                                     std::min(good.size(), damaged.size())));
    reference.resize(damaged.size(), 0);
    if (!eac3Frame(damaged)) {
        reference[4] = damaged[4];  // fscod, frmsizecod
        return reference;
    }
    // How the stream information reads depends on fscod and the number of blocks: a frame
    // that differs from the good one there keeps its own header.
    if ((damaged[4] >> 4) != (good[4] >> 4)) return {};
    reference[2] = damaged[2];  // strmtyp, substreamid, frmsiz
    reference[3] = damaged[3];
    return reference;
}

bool FrameReader::otherSize(const Frame& frame, double frameTime, Frame& other,
                            double& otherTime) const {
    if (frame.size() <= 5 || eac3Frame(frame) || (frame[4] >> 6) != 1) return false;
    // Odd frame size codes have one word more than even ones; the stream information stays.
    const bool padded = (frame[4] & 1) != 0;
    other = frame;
    other[4] ^= 1;
    other.resize(frame.size() + (padded ? -2 : 2), 0);
    // An AC-3 frame's time comes from its size at a nominal bit rate.
    otherTime = frameTime * static_cast<double>(other.size()) / static_cast<double>(frame.size());
    return true;
}

namespace {

constexpr int fullBandwidthChannels[8] = {2, 1, 2, 3, 3, 4, 4, 5};  // by acmod

struct Channels {
    int full = 0;
    bool lfe = false;
};

// acmod and lfeon of a frame's first bytes, in either syntax.
Channels channelsOf(const std::uint8_t* frame, std::size_t size) {
    BitCursor bits(frame, size);
    Channels channels;
    int acmod = 0;
    if (eac3Syntax(frame[5] >> 3)) {
        bits.skip(32 + 4);  // syncword to frmsiz, fscod and numblkscod (or fscod2)
        acmod = static_cast<int>(bits.read(3));
    } else {
        bits.skip(40 + 8);  // syncword to frmsizecod, bsid and bsmod
        acmod = static_cast<int>(bits.read(3));
        if ((acmod & 1) && acmod != 1) bits.skip(2);  // cmixlev
        if (acmod & 4) bits.skip(2);                  // surmixlev
        if (acmod == 2) bits.skip(2);                 // dsurmod
    }
    channels.full = acmod == 0 ? 2 : fullBandwidthChannels[acmod];
    channels.lfe = bits.read(1) != 0;
    return channels;
}

std::string layout(int full, bool lfe) { return std::to_string(full) + (lfe ? ".1" : ".0"); }

}  // namespace

std::string FrameReader::describe() const {
    const std::vector<std::uint8_t> frame(frameBytes.begin(), frameBytes.begin() + 8);
    const Channels core = channelsOf(frame.data(), frame.size());
    std::string name = isEac3() ? "E-AC-3" : "AC-3";
    std::string channels = layout(core.full, core.lfe);
    // A 7.1 stream sends its extra channels in a dependent E-AC-3 frame after each core frame.
    const std::uint8_t* next = reader.recent(reader.offset(), 8);
    if (next != nullptr && startsFrame(next, 8) && eac3Syntax(next[5] >> 3) &&
        (next[2] >> 6) == 1) {
        const Channels extension = channelsOf(next, 8);
        name += " + E-AC-3 " + layout(core.full + extension.full, core.lfe || extension.lfe);
        channels.clear();
    }
    return name + ", " + kilohertz(sampleRate()) + (channels.empty() ? "" : ", " + channels);
}
