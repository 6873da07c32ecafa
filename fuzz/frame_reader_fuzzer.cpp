// Arbitrary bytes through the real BitReader and FrameReader. Every frame handed out must be
// the next run of input bytes, begin with the sync word, have the size its header gives and
// a positive, finite playing time; the walk may never run past the input. E-AC-3 frames are
// checked against their own header: size from frmsiz, time from blocks and sample rate. The
// same bytes are read as MPEG audio too: each frame the next run of bytes with its sync and
// the size and time of its own header, and a silent twin of the same header and length whose
// CRC holds; and as ADTS: each frame of the length and time of its header, and a twin of the
// same length and header but for its protection.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "fuzz_input_file.h"
#include "stream/adts.h"
#include "stream/frame_reader.h"
#include "stream/mpeg_audio.h"

namespace {

void checkEac3(const std::uint8_t* header, std::size_t size, double duration) {
    if ((header[5] >> 3) < 11 || (header[5] >> 3) > 16) fuzzFailure("E-AC-3 without its bsid");
    const std::size_t frmsiz = static_cast<std::size_t>((header[2] & 7) << 8 | header[3]);
    if (size != (frmsiz + 1) * 2 || size < 8) fuzzFailure("E-AC-3 size is not its frmsiz");
    if (header[2] >> 6 == 3) fuzzFailure("E-AC-3 with a reserved strmtyp");
    const int fscod = header[4] >> 6;
    const int next = (header[4] >> 4) & 3;
    if (fscod == 3 && next == 3) fuzzFailure("E-AC-3 with a reserved fscod2");
    constexpr int rates[3] = {48000, 44100, 32000};
    constexpr int reducedRates[3] = {24000, 22050, 16000};
    constexpr int blocks[4] = {1, 2, 3, 6};
    const double expected =
        fscod == 3 ? 1536.0 / reducedRates[next] : blocks[next] * 256.0 / rates[fscod];
    if (duration != expected) fuzzFailure("E-AC-3 duration is not blocks over sample rate");
}

void checkMpeg(const std::uint8_t* header, std::size_t size, double duration,
               const MpegAudioFormat& format, const std::vector<std::int32_t>& frame) {
    if (header[0] != 0xFF || (header[1] & 0xE0) != 0xE0) fuzzFailure("MPEG frame without sync");
    const int version = header[1] >> 3 & 3, layer = header[1] >> 1 & 3;
    const int index = header[2] >> 4, rateIndex = header[2] >> 2 & 3;
    if (version == 1 || layer < 2 || index == 0 || index == 15 || rateIndex == 3) {
        fuzzFailure("MPEG frame with a reserved or unsupported header");
    }
    constexpr int rates[3] = {44100, 48000, 32000};
    const int rate = rates[rateIndex] / (version == 3 ? 1 : version == 2 ? 2 : 4);
    if (duration != (layer == 3 ? 384.0 : 1152.0) / rate) fuzzFailure("MPEG duration");
    const std::size_t slot = layer == 3 ? 4 : 1;
    if (size < 4 * slot || (size % slot) != 0) fuzzFailure("MPEG size is not whole slots");
    const std::vector<std::int32_t> twin = format.silentFrame(frame);
    if (twin.empty()) return;
    std::vector<std::uint8_t> bytes(twin.begin(), twin.end());
    if (bytes.size() != size || !std::equal(bytes.begin(), bytes.begin() + 4, header)) {
        fuzzFailure("MPEG twin of another header or length");
    }
    std::uint16_t crc = 0;
    if (!mpegAudioCrc(bytes.data(), bytes.size(), crc) ||
        ((header[1] & 1) == 0 && crc != (bytes[4] << 8 | bytes[5]))) {
        fuzzFailure("MPEG twin whose CRC fails");
    }
}

void checkAdts(const std::uint8_t* header, std::size_t size, double duration,
               const AdtsFormat& format, const std::vector<std::int32_t>& frame) {
    if (header[0] != 0xFF || (header[1] & 0xF6) != 0xF0) fuzzFailure("ADTS frame without sync");
    const std::size_t length =
        static_cast<std::size_t>((header[3] & 3) << 11 | header[4] << 3 | header[5] >> 5);
    const int rateIndex = header[2] >> 2 & 0x0F;
    if (length != size || rateIndex >= 13 || size < ((header[1] & 1) ? 7U : 9U)) {
        fuzzFailure("ADTS frame not of its header's length, or of a reserved rate");
    }
    constexpr int rates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                               22050, 16000, 12000, 11025, 8000,  7350};
    if (duration != ((header[6] & 3) + 1) * 1024.0 / rates[rateIndex]) fuzzFailure("ADTS time");
    const std::vector<std::int32_t> twin = format.silentFrame(frame);
    if (twin.empty()) return;
    if (twin.size() != size || twin[0] != header[0] || twin[1] != (header[1] | 1) ||
        !std::equal(twin.begin() + 2, twin.begin() + 7, header + 2)) {
        fuzzFailure("ADTS twin of another header or length");
    }
}

// The bytes read as `Format`: every frame the next run of input bytes, then `check`ed.
template <typename Format, typename Check>
void readAs(FuzzInputFile& file, const std::uint8_t* data, std::size_t size, Check check) {
    BitReader bitReader(file.hold(data, size));
    Format format(bitReader);
    std::size_t offset = 0;
    while (format.readFrame()) {
        const std::vector<std::int32_t>& frame = format.frameData();
        if (offset + frame.size() > size) fuzzFailure("frame past the input");
        for (std::size_t i = 0; i < frame.size(); ++i) {
            if (frame[i] != data[offset + i]) fuzzFailure("frame bytes differ from the input");
        }
        format.crcsHold();
        check(data + offset, frame.size(), format.frameDuration(), format, frame);
        offset += frame.size();
    }
    format.stopReason();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static FuzzInputFile file;
    BitReader bitReader(file.hold(data, size));
    FrameReader frameReader(bitReader);
    std::size_t offset = 0;
    while (frameReader.readFrame()) {
        const std::vector<std::int32_t> frame = frameReader.bytes();
        if (frame.size() < 5 || offset + frame.size() > size) fuzzFailure("frame past the input");
        for (std::size_t i = 0; i < frame.size(); ++i) {
            if (frame[i] != data[offset + i]) fuzzFailure("frame bytes differ from the input");
        }
        if (frameReader.syncword != 0x0B77 || frame[0] != 0x0B || frame[1] != 0x77) {
            fuzzFailure("frame without the sync word");
        }
        const double duration = frameReader.frameDuration();
        if (!(duration > 0.0 && std::isfinite(duration))) fuzzFailure("bad frame duration");
        if (frameReader.isEac3()) checkEac3(data + offset, frame.size(), duration);
        offset += frame.size();
    }
    readAs<MpegAudioFormat>(file, data, size, checkMpeg);
    readAs<AdtsFormat>(file, data, size, checkAdts);
    return 0;
}
