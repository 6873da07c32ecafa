#include "stream/dts/dts.h"

#include <vector>

#include "stream/frame_bits.h"

namespace {

// Enough bytes for every field the walk reads, in a header of either kind.
constexpr std::size_t headerBytes = 11;

enum class Sync { none, core, extension, fourteenBit, littleEndian };

Sync syncOf(const std::uint8_t* bytes) {
    const std::uint32_t word = static_cast<std::uint32_t>(bytes[0]) << 24 |
                               static_cast<std::uint32_t>(bytes[1]) << 16 |
                               static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
    switch (word) {
        case 0x7FFE8001:
            return Sync::core;
        case 0x64582025:
            return Sync::extension;
        case 0x1FFFE800:  // big-endian
        case 0xFF1F00E8:  // little-endian
            return Sync::fourteenBit;
        case 0xFE7F0180:
            return Sync::littleEndian;
        default:
            return Sync::none;
    }
}

// The first bytes of a frame that the input's end cut off may be the start of a sync word.
bool startsSync(const std::vector<std::int32_t>& bytes, std::size_t count) {
    const std::uint8_t core[4] = {0x7F, 0xFE, 0x80, 0x01}, extension[4] = {0x64, 0x58, 0x20, 0x25};
    bool isCore = count < 4, isExtension = count < 4;
    for (std::size_t i = 0; i < count && i < 4; ++i) {
        isCore = isCore && bytes[i] == core[i];
        isExtension = isExtension && bytes[i] == extension[i];
    }
    return isCore || isExtension;
}

// SFREQ codes; 0 marks the invalid ones.
constexpr std::int32_t sampleRates[16] = {0,     8000, 16000, 32000, 0,     0,     11025, 22050,
                                          44100, 0,    0,     12000, 24000, 48000, 0,     0};
// Full-band channels by AMODE 0 to 15; 16 and up are user defined.
constexpr std::int32_t amodeChannels[16] = {1, 2, 2, 2, 2, 3, 3, 4, 4, 5, 6, 6, 6, 7, 8, 8};

// The fields of a core frame's header that the program reads (bits 38 to 86).
struct Core {
    std::int32_t cpf, nblks, fsize, amode, sfreq, dynf, aspf, lff;

    explicit Core(const std::uint8_t* bytes) {
        BitCursor c(bytes, headerBytes);
        c.skip(38);  // sync word, FTYPE, SHORT
        cpf = static_cast<std::int32_t>(c.read(1));
        nblks = static_cast<std::int32_t>(c.read(7));
        fsize = static_cast<std::int32_t>(c.read(14));
        amode = static_cast<std::int32_t>(c.read(6));
        sfreq = static_cast<std::int32_t>(c.read(4));
        c.skip(6);  // RATE, fixed bit
        dynf = static_cast<std::int32_t>(c.read(1));
        c.skip(7);  // TIMEF, AUXF, HDCD, EXT_AUDIO_ID, EXT_AUDIO
        aspf = static_cast<std::int32_t>(c.read(1));
        lff = static_cast<std::int32_t>(c.read(2));
    }
};

// The sizes an extension substream frame's header gives: its own, and the frame's.
struct Extension {
    std::int32_t headerSize, frameSize, leastHeader;

    explicit Extension(const std::uint8_t* bytes) {
        BitCursor c(bytes, headerBytes);
        c.skip(42);                        // sync word, user-defined bits, nExtSSIndex
        const bool wide = c.read(1) != 0;  // bHeaderSizeType
        headerSize = static_cast<std::int32_t>(c.read(wide ? 12 : 8)) + 1;
        frameSize = static_cast<std::int32_t>(c.read(wide ? 20 : 16)) + 1;
        // The fields up to here, byte aligned, and the CRC at the header's end.
        leastHeader = wide ? 12 : 11;
    }
};

// CRC-16 with the polynomial 0x1021 from 0xFFFF, most significant bit first: over a header
// with its CRC at the end, 0.
std::uint16_t crc16Ccitt(const std::int32_t* bytes, std::size_t count) {
    std::uint32_t crc = 0xFFFF;
    for (std::size_t i = 0; i < count; ++i) {
        crc ^= static_cast<std::uint32_t>(bytes[i]) << 8;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) != 0 ? crc << 1 ^ 0x1021 : crc << 1;
    }
    return static_cast<std::uint16_t>(crc);
}

std::vector<std::uint8_t> firstBytes(const FrameFormat::Frame& frame, std::size_t count) {
    return {frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(count)};
}

// The primary audio coding header: `channels` channels of two subbands, neither coded by
// vector quantization, 5-bit bit allocations, and codebook selections that need no scale
// factor adjustment.
void silentAudioHeader(BitWriter& out, std::int32_t subframes, std::int32_t channels) {
    out.put(static_cast<std::uint32_t>(subframes - 1), 4);  // SUBFS
    out.put(static_cast<std::uint32_t>(channels - 1), 3);   // PCHS
    const std::pair<std::uint32_t, int> perChannel[6] = {
        {0, 5},  // SUBS: 2 subbands
        {1, 5},  // VQSUB: vector quantization from subband 2, of 2: none
        {0, 3},  // JOINX: no joint intensity coding
        {0, 2},  // THUFF
        {6, 3},  // SHUFF: 7-bit scale factors
        {6, 3},  // BHUFF: 5-bit bit allocations
    };
    for (const auto& [value, bits] : perChannel) {
        for (std::int32_t ch = 0; ch < channels; ++ch) out.put(value, bits);
    }
    // SEL of each quantization codebook at its group's size: no ADJ follows.
    constexpr std::uint32_t groupSize[10] = {1, 3, 3, 3, 3, 7, 7, 7, 7, 7};
    constexpr int selBits[10] = {1, 2, 2, 2, 2, 3, 3, 3, 3, 3};
    for (int n = 0; n < 10; ++n) {
        for (std::int32_t ch = 0; ch < channels; ++ch) out.put(groupSize[n], selBits[n]);
    }
}

// One subframe of `subsubframes` subsubframes that carries no audio.
void silentSubframe(BitWriter& out, const Core& h, std::int32_t channels,
                    std::int32_t subsubframes) {
    out.put(static_cast<std::uint32_t>(subsubframes - 1), 2);          // SSC
    out.put(0, 3);                                                     // PSC
    for (std::int32_t ch = 0; ch < channels; ++ch) out.put(0, 2);      // PMODE of 2 subbands
    for (std::int32_t ch = 0; ch < channels; ++ch) out.put(0, 2 * 5);  // ABITS 0: no samples
    if (h.dynf != 0) out.put(0, 8);                                    // RANGE
    if (h.lff != 0) {
        for (std::int32_t i = 0; i < 2 * h.lff * subsubframes; ++i) out.put(0, 8);  // LFE
        out.put(0, 8);  // its scale factor index
    }
    for (std::int32_t ssf = 0; ssf < subsubframes; ++ssf) {
        if (h.aspf != 0 || ssf + 1 == subsubframes) out.put(0xFFFF, 16);  // DSYNC
    }
}

}  // namespace

bool DtsFormat::startsFrame(const std::uint8_t* bytes, std::size_t size) {
    return size >= 4 && syncOf(bytes) != Sync::none;
}

bool DtsFormat::headerFits(const std::uint8_t* bytes) {
    const Sync sync = syncOf(bytes);
    steps = sync == Sync::core;
    if (sync == Sync::core) {
        const Core h(bytes);
        fault = h.nblks < 5                 ? Fault::blocks
                : h.fsize < 95              ? Fault::size
                : sampleRates[h.sfreq] == 0 ? Fault::sampleRate
                                            : Fault::none;
        blocks = h.nblks + 1;
        frameSize = h.fsize + 1;
        sampleRate = sampleRates[h.sfreq];
        amode = h.amode;
        lff = h.lff;
        return fault == Fault::none;
    }
    if (sync == Sync::extension) {
        const Extension h(bytes);
        headerSize = h.headerSize;
        frameSize = h.frameSize;
        fault = !coreSeen                                                    ? Fault::noCore
                : h.headerSize < h.leastHeader || h.headerSize > h.frameSize ? Fault::header
                                                                             : Fault::none;
        return fault == Fault::none;
    }
    fault = sync == Sync::fourteenBit    ? Fault::fourteenBit
            : sync == Sync::littleEndian ? Fault::littleEndian
                                         : Fault::sync;
    return false;
}

bool DtsFormat::readFrame() {
    frameBytes.clear();
    start = reader.offset();
    stopped = Stop::none;
    if (reader.atEnd()) return fail(Stop::endOfInput);
    // Most headers are read where they stand, and the frame is then taken whole in one go.
    const std::uint8_t* ahead = reader.recent(start, headerBytes);
    if (ahead == nullptr || !headerFits(ahead)) {
        // What the end of the input leaves out of the header reads as zeros.
        reader.appendBytes(frameBytes, headerBytes);
        const std::vector<std::uint8_t> bytes = firstBytes(frameBytes, headerBytes);
        const bool fits = headerFits(bytes.data());
        const auto received = static_cast<std::size_t>(reader.offset() - start);
        if (fault == Fault::sync) {
            return fail(reader.overran() && startsSync(frameBytes, received) ? Stop::cutShort
                                                                             : Stop::noSyncWord);
        }
        if (fault == Fault::noCore || fault == Fault::fourteenBit || fault == Fault::littleEndian) {
            return fail(Stop::unsupported);
        }
        if (reader.overran()) return fail(Stop::cutShort);
        if (!fits) return fail(Stop::reservedValue);
    }
    duration = steps ? static_cast<double>(blocks * 32) / sampleRate : 0.0;
    reader.appendBytes(frameBytes, frameSize - static_cast<std::int32_t>(frameBytes.size()));
    // A frame counts only if every one of its bytes came from the input.
    if (reader.overran()) return fail(Stop::cutShort);
    coreSeen = coreSeen || steps;
    extensionsSeen = extensionsSeen || !steps;
    return true;
}

bool DtsFormat::followedBySync() const {
    const std::uint8_t* next = reader.recent(reader.offset(), 4);
    if (next == nullptr) return reader.atEnd();
    const Sync sync = syncOf(next);
    return sync == Sync::core || sync == Sync::extension;
}

bool DtsFormat::frameAt(std::uint64_t candidate) {
    // An extension substream frame, which may be longer than the reader can step back over,
    // is not read.
    if (!reader.seek(candidate)) return false;
    const std::uint8_t* sync = reader.recent(candidate, 4);
    if (sync != nullptr && syncOf(sync) == Sync::extension) return false;
    return readFrame() && steps && followedBySync();
}

std::string DtsFormat::stopReason() const {
    switch (stopped == Stop::reservedValue || stopped == Stop::unsupported ? fault : Fault::sync) {
        case Fault::noCore:
            return "DTS without a core (DTS Express, or DTS-HD without its core frames) is not "
                   "supported";
        case Fault::fourteenBit:
            return "14-bit DTS is not supported, only DTS in 16-bit words";
        case Fault::littleEndian:
            return "little-endian DTS is not supported, only big-endian";
        case Fault::blocks:
            return "NBLKS " + std::to_string(blocks - 1) + " is below 5";
        case Fault::size:
            return "FSIZE " + std::to_string(frameSize - 1) + " is below 95";
        case Fault::sampleRate:
            return "invalid SFREQ";
        case Fault::header:
            return "an extension substream header of " + std::to_string(headerSize) +
                   " bytes in a frame of " + std::to_string(frameSize);
        case Fault::sync:
        case Fault::none:
            break;
    }
    return commonStopReason();
}

bool DtsFormat::crcsHold() const {
    if (!followedBySync()) return false;
    // The first core frame checked is the walk's first: a search may have read frames before
    // it that were not.
    if (steps && !haveFirst) {
        first[0] = sampleRate;
        first[1] = amode;
        first[2] = lff;
        haveFirst = true;
    }
    if (steps) return sampleRate == first[0] && amode == first[1] && lff == first[2];
    return crc16Ccitt(frameBytes.data() + 5, static_cast<std::size_t>(headerSize) - 5) == 0;
}

std::string DtsFormat::describe() const {
    const std::string channels =
        amode < 16 ? std::to_string(amodeChannels[amode]) + (lff != 0 ? ".1" : ".0")
                   : "user-defined AMODE " + std::to_string(amode);
    const long long bitRate =
        static_cast<long long>(frameBytes.size()) * 8 * sampleRate / (32LL * blocks) / 1000;
    std::string text = "DTS, " + kilohertz(sampleRate) + ", " + channels + ", " +
                       std::to_string(bitRate) + " kb/s";
    const std::uint8_t* next = reader.recent(reader.offset(), 4);
    if (next != nullptr && syncOf(next) == Sync::extension) text += " + DTS-HD";
    return text;
}

FrameFormat::Frame DtsFormat::silentFrame(const Frame& reference) const {
    constexpr std::size_t kept = 16;  // the header, with its CRC when it has one
    if (reference.size() < kept) return {};
    const std::vector<std::uint8_t> ref = firstBytes(reference, kept);
    const Core h(ref.data());
    if (syncOf(ref.data()) != Sync::core || sampleRates[h.sfreq] == 0 || h.amode > 9 ||
        h.lff == 3 || (h.nblks + 1) % 8 != 0 ||
        static_cast<std::size_t>(h.fsize) + 1 != reference.size()) {
        return {};
    }
    BitWriter out;
    out.copy(ref.data(), 0, 38);   // sync word, FTYPE, SHORT
    out.put(0, 1);                 // CPF: no CRCs
    out.copy(ref.data(), 39, 38);  // NBLKS, FSIZE, AMODE, SFREQ, RATE, fixed bit, DYNF
    out.put(0, 2);                 // TIMEF, AUXF: no time stamp, no auxiliary data
    out.copy(ref.data(), 79, 1);   // HDCD
    out.put(0, 4);                 // EXT_AUDIO_ID, EXT_AUDIO: no extension audio
    out.copy(ref.data(), 84, 4);   // ASPF, LFF, HFLAG
    out.copy(ref.data(), h.cpf != 0 ? 104 : 88, 16);  // FILTS to DIALNORM, after any HCRC
    // Subsubframes of 256 samples, up to four to a subframe.
    const std::int32_t subsubframes = (h.nblks + 1) / 8;
    const std::int32_t subframes = (subsubframes + 3) / 4;
    silentAudioHeader(out, subframes, amodeChannels[h.amode]);
    for (std::int32_t sf = 0; sf < subframes; ++sf) {
        const std::int32_t count = sf + 1 < subframes ? 4 : subsubframes - 4 * sf;
        silentSubframe(out, h, amodeChannels[h.amode], count);
    }
    if (out.bitCount() > 8 * reference.size()) return {};
    std::vector<std::uint8_t> twin = out.bytes();
    twin.resize(reference.size(), 0);
    return {twin.begin(), twin.end()};
}

FrameFormat::Frames DtsFormat::silentStep(const Frames& frames) const {
    Frames cores;
    for (const Frame& frame : frames) {
        if (kindOf(frame) == 0) cores.push_back(frame);
    }
    return FrameFormat::silentStep(cores);
}

std::string DtsFormat::noTwinReason(const Frame& frame) const {
    if (kindOf(frame) != 0) return "an extension substream frame, and its step plays from its core";
    return "no silent core frame of its layout can be made";
}

std::size_t DtsFormat::kindOf(const Frame& frame) const {
    if (frame.size() < 4) return 1;
    const std::uint8_t sync[4] = {
        static_cast<std::uint8_t>(frame[0]), static_cast<std::uint8_t>(frame[1]),
        static_cast<std::uint8_t>(frame[2]), static_cast<std::uint8_t>(frame[3])};
    return syncOf(sync) == Sync::core ? 0 : 1;
}

FrameFormat::Frame DtsFormat::replacementReference(const Frame& damaged, const Frame& good) const {
    constexpr std::size_t kept = 16;
    if (damaged.size() < kept || good.size() < kept) return {};
    const std::vector<std::uint8_t> d = firstBytes(damaged, kept), g = firstBytes(good, kept);
    BitWriter out;
    out.copy(g.data(), 0, 39);
    out.copy(d.data(), 39, 21);  // NBLKS and FSIZE
    out.copy(g.data(), 60, 8 * kept - 60);
    Frame reference = damaged;
    for (std::size_t i = 0; i < kept; ++i) reference[i] = out.bytes()[i];
    return reference;
}
