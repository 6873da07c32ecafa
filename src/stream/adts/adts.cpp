#include "stream/adts/adts.h"

#include <array>
#include <cstring>
#include <vector>

#include "stream/frame_bits.h"

namespace {

// The fields of a 7-byte ADTS header.
struct Header {
    int layer, profile, rateIndex, channelConfiguration, length, blocks;
    bool protectionAbsent;

    explicit Header(const std::uint8_t* h)
        : layer(h[1] >> 1 & 3),
          profile(h[2] >> 6),
          rateIndex(h[2] >> 2 & 0x0F),
          channelConfiguration((h[2] & 1) << 2 | h[3] >> 6),
          length((h[3] & 3) << 11 | h[4] << 3 | h[5] >> 5),
          blocks((h[6] & 3) + 1),
          protectionAbsent((h[1] & 1) != 0) {}

    int headerBytes() const { return protectionAbsent ? 7 : 9; }
};

// sampling_frequency_index 0 to 12; 13 and up are reserved.
constexpr std::int32_t sampleRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                          22050, 16000, 12000, 11025, 8000,  7350};

// How long a frame of 1 to 4 raw data blocks plays at each sampling_frequency_index.
using Durations = std::array<std::array<double, 4>, 13>;
Durations frameDurations() {
    Durations durations{};
    for (std::size_t rate = 0; rate < durations.size(); ++rate) {
        for (std::size_t blocks = 1; blocks <= 4; ++blocks) {
            durations[rate][blocks - 1] = static_cast<double>(blocks * 1024) / sampleRates[rate];
        }
    }
    return durations;
}
const Durations durations = frameDurations();

bool loasSync(const std::uint8_t* h) { return h[0] == 0x56 && (h[1] & 0xE0) == 0xE0; }

// Element ids, and the channel elements of each channel configuration.
constexpr std::uint32_t sce = 0, cpe = 1, lfe = 3, fil = 6, end = 7;
const std::vector<std::uint32_t> elementsOf[8] = {{},
                                                  {sce},
                                                  {cpe},
                                                  {sce, cpe},
                                                  {sce, cpe, sce},
                                                  {sce, cpe, cpe},
                                                  {sce, cpe, cpe, lfe},
                                                  {sce, cpe, cpe, cpe, lfe}};

// An individual channel stream that carries nothing: a long window with max_sfb 0, so no
// section, scale factor or spectral data, and no pulse, TNS or gain control data.
void silentChannel(BitWriter& out) {
    out.put(100, 8);  // global_gain
    out.put(0, 1);    // ics_reserved_bit
    out.put(0, 2);    // window_sequence: ONLY_LONG_SEQUENCE
    out.put(0, 1);    // window_shape
    out.put(0, 6);    // max_sfb
    out.put(0, 1);    // predictor_data_present
    out.put(0, 3);    // pulse, tns and gain control data present
}

void silentElements(BitWriter& out, int channelConfiguration) {
    int tags[8] = {};
    for (const std::uint32_t id : elementsOf[channelConfiguration]) {
        out.put(id, 3);
        out.put(static_cast<std::uint32_t>(tags[id]++), 4);  // element_instance_tag
        if (id == cpe) out.put(0, 1);                        // common_window
        silentChannel(out);
        if (id == cpe) silentChannel(out);
    }
}

// A fill element of `count` bytes (0 to 269), which decoders skip: 7 or 15 bits and the bytes.
void fillElement(BitWriter& out, std::size_t count) {
    out.put(fil, 3);
    if (count < 15) {
        out.put(static_cast<std::uint32_t>(count), 4);
    } else {
        out.put(15, 4);
        out.put(static_cast<std::uint32_t>(count - 14), 8);  // esc_count
    }
    for (std::size_t i = 0; i < count; ++i) out.put(0, 8);  // EXT_FILL
}

// Fill elements that take `least` to `most` bits (a range of 8); false when none can.
bool fillBits(BitWriter& out, long least, long most) {
    constexpr long longest = 15 + 8 * 269;
    for (; least > longest; least -= longest, most -= longest) fillElement(out, 269);
    if (least <= 0) return most >= 0;
    const long shortCount = std::max(0L, (least - 7 + 7) / 8);
    if (shortCount <= 14 && 7 + 8 * shortCount <= most) {
        fillElement(out, static_cast<std::size_t>(shortCount));
        return true;
    }
    const long longCount = std::max(14L, (least - 15 + 7) / 8);
    if (longCount > 269 || 15 + 8 * longCount > most) return false;
    fillElement(out, static_cast<std::size_t>(longCount));
    return true;
}

void byteAlign(BitWriter& out) {
    if (out.bitCount() % 8 != 0) out.put(0, static_cast<int>(8 - out.bitCount() % 8));
}

}  // namespace

bool AdtsFormat::startsFrame(const std::uint8_t* bytes, std::size_t size) {
    if (size < 2) return false;
    return (bytes[0] == 0xFF && (bytes[1] & 0xF6) == 0xF0) || loasSync(bytes);
}

bool AdtsFormat::headerFits(const std::uint8_t* bytes) {
    std::memcpy(header, bytes, 7);
    const Header h(header);
    // The sync word and layer 00, a sample rate, a length that holds the header.
    if (header[0] == 0xFF && (header[1] & 0xF6) == 0xF0 && h.rateIndex < 13 &&
        h.length >= h.headerBytes()) {
        fault = Fault::none;
        return true;
    }
    fault = loasSync(header)                                  ? Fault::loas
            : header[0] != 0xFF || (header[1] & 0xF0) != 0xF0 ? Fault::sync
            : h.layer != 0                                    ? Fault::layer
            : h.rateIndex >= 13                               ? Fault::sampleRate
            : h.length < h.headerBytes()                      ? Fault::length
                                                              : Fault::none;
    return fault == Fault::none;
}

bool AdtsFormat::readFrame() {
    frameBytes.clear();
    start = reader.offset();
    stopped = Stop::none;
    if (reader.atEnd()) return fail(Stop::endOfInput);
    // Most headers are read where they stand, and the frame is then taken whole in one go.
    const std::uint8_t* ahead = reader.recent(start, 7);
    if (ahead == nullptr || !headerFits(ahead)) {
        // What the end of the input leaves out of the header reads as zeros.
        reader.appendBytes(frameBytes, 7);
        std::uint8_t bytes[7];
        for (int i = 0; i < 7; ++i) bytes[i] = static_cast<std::uint8_t>(frameBytes[i]);
        const bool fits = headerFits(bytes);
        if (fault == Fault::sync) {
            // A lone 0xFF as the input's last byte may be the start of a frame.
            const bool lone = reader.overran() && reader.offset() - start == 1;
            return fail(lone && bytes[0] == 0xFF ? Stop::cutShort : Stop::noSyncWord);
        }
        if (fault == Fault::loas) return fail(Stop::unsupported);
        if (reader.overran()) return fail(Stop::cutShort);
        if (!fits) return fail(Stop::reservedValue);
    }
    const Header h(header);
    duration =
        durations[static_cast<std::size_t>(h.rateIndex)][static_cast<std::size_t>(h.blocks - 1)];
    steps = true;
    reader.appendBytes(frameBytes, h.length - static_cast<std::int32_t>(frameBytes.size()));
    // A frame counts only if every one of its bytes came from the input.
    if (reader.overran()) return fail(Stop::cutShort);
    return true;
}

bool AdtsFormat::frameAt(std::uint64_t candidate) {
    // Only an ADTS sync word follows: LOAS's does not count.
    return reader.seek(candidate) && readFrame() &&
           followedBy([](const std::uint8_t* next, std::size_t) {
               return next[0] == 0xFF && (next[1] & 0xF6) == 0xF0;
           });
}

std::string AdtsFormat::stopReason() const {
    if (stopped == Stop::unsupported) {
        return "AAC in LOAS/LATM is not supported, only AAC in ADTS";
    }
    if (stopped != Stop::reservedValue) return commonStopReason();
    const Header h(header);
    if (fault == Fault::layer) return "layer " + std::to_string(h.layer) + " is not ADTS's 0";
    if (fault == Fault::sampleRate) {
        return "reserved sampling_frequency_index " + std::to_string(h.rateIndex);
    }
    return "aac_frame_length " + std::to_string(h.length) + " is shorter than its header";
}

bool AdtsFormat::crcsHold() const {
    // The first frame checked is the walk's first: a search may have read frames before it
    // that were not.
    if (!haveFirst) std::copy(header, header + 7, first);
    haveFirst = true;
    // Profile, sample rate and the top bit of the channel configuration; then its low bits.
    return (header[2] & 0xFD) == (first[2] & 0xFD) && (header[3] & 0xC0) == (first[3] & 0xC0);
}

std::string AdtsFormat::describe() const {
    const Header h(header);
    const char* profiles[4] = {"AAC Main", "AAC LC", "AAC SSR", "AAC LTP"};
    const int channels = h.channelConfiguration == 7 ? 8 : h.channelConfiguration;
    const std::string layout = channels == 0   ? "channels in a program config element"
                               : channels == 1 ? "1 channel"
                                               : std::to_string(channels) + " channels";
    return std::string(profiles[h.profile]) + ", ADTS, " + kilohertz(sampleRates[h.rateIndex]) +
           ", " + layout;
}

FrameFormat::Frame AdtsFormat::silentFrame(const Frame& reference) const {
    if (reference.size() < 7) return {};
    std::uint8_t bytes[7];
    for (int i = 0; i < 7; ++i) bytes[i] = static_cast<std::uint8_t>(reference[i]);
    const Header h(bytes);
    // AAC LC only, with its channel elements named by the header (0: a program config
    // element, which this does not read), and a whole frame.
    if (h.profile != 1 || h.channelConfiguration == 0 || h.rateIndex >= 13 ||
        static_cast<std::size_t>(h.length) != reference.size()) {
        return {};
    }
    BitWriter out;
    out.copy(bytes, 0, 56);
    const long total = 8L * h.length;
    for (int block = 0; block < h.blocks; ++block) {
        silentElements(out, h.channelConfiguration);
        const long used = static_cast<long>(out.bitCount()) + 3;  // and ID_END
        // The last block fills the frame to its length: its end, aligned, is the frame's.
        if (block + 1 == h.blocks && !fillBits(out, total - 7 - used, total - used)) return {};
        out.put(end, 3);
        byteAlign(out);
    }
    std::vector<std::uint8_t> twin = out.bytes();
    if (twin.size() != reference.size()) return {};
    twin[1] |= 1;  // protection_absent: the twin has no CRC
    return {twin.begin(), twin.end()};
}

FrameFormat::Frame AdtsFormat::replacementReference(const Frame& damaged, const Frame& good) const {
    // The length and the number of blocks are trusted. A sample rate that is not the good
    // frame's is damage, as --check has it, and the twin plays at the stream's rate.
    Frame reference = damaged;
    reference[1] = good[1];
    reference[2] = good[2];
    reference[3] = (good[3] & 0xFC) | (damaged[3] & 0x03);
    return reference;
}
