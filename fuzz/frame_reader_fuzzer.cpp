// Arbitrary bytes through the real BitReader and FrameReader. Every frame handed out must be
// the next run of input bytes, begin with the sync word, have the size its header gives and
// a positive, finite playing time; the walk may never run past the input. E-AC-3 frames are
// checked against their own header: size from frmsiz, time from blocks and sample rate. The
// same bytes are read as MPEG audio too: each frame the next run of bytes with its sync and
// the size and time of its own header, and a silent twin of the same header and length whose
// CRC holds; as ADTS: each frame of the length and time of its header, and a twin of the
// same length and header but for its protection; and as DTS: core frames of the length and
// time of their header, twins of the same length, sync and NBLKS to SFREQ, and extension
// substream frames of their header's length, which do not step. As PCM, after a header it
// takes: whole sample frames of the input's data, each playing its samples at the rate, and an
// output header of the same length however many samples the output ends up with. As FLAC,
// after its metadata: frames with the sync code and a header whose CRC-8 holds, each playing
// its block at the rate, which the decoder takes without reading past the frame. As MP3, after
// its tags and header frame: Layer III frames of their header's length and time, and silent
// twins of the same header and length whose CRC holds.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "fuzz_input_file.h"
#include "stream/ac3/frame_reader.h"
#include "stream/adts/adts.h"
#include "stream/dts/dts.h"
#include "stream/flac/flac_decoder.h"
#include "stream/flac/flac_format.h"
#include "stream/mp3/mp3_format.h"
#include "stream/mpeg_audio/mpeg_audio.h"
#include "stream/pcm/pcm_format.h"

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

void checkDts(const std::uint8_t* header, std::size_t size, double duration,
              const DtsFormat& format, const std::vector<std::int32_t>& frame) {
    if (size < 11) fuzzFailure("DTS frame shorter than a header");
    if (header[0] == 0x64) {
        const bool wide = (header[5] & 0x20) != 0;
        const std::size_t length =
            wide ? ((header[6] & 0x01U) << 19 | header[7] << 11 | header[8] << 3 | header[9] >> 5)
                 : ((header[6] & 0x1FU) << 11 | header[7] << 3 | header[8] >> 5);
        if (length + 1 != size || format.stepsClock() || duration != 0.0) {
            fuzzFailure("DTS extension frame not of its header's length, or stepping");
        }
        return;
    }
    if (header[0] != 0x7F || header[1] != 0xFE || header[2] != 0x80 || header[3] != 0x01) {
        fuzzFailure("DTS frame without sync");
    }
    const int blocks = ((header[4] & 1) << 6 | header[5] >> 2) + 1;
    const std::size_t length =
        static_cast<std::size_t>((header[5] & 3) << 12 | header[6] << 4 | header[7] >> 4) + 1;
    constexpr int rates[16] = {0,     8000, 16000, 32000, 0,     0,     11025, 22050,
                               44100, 0,    0,     12000, 24000, 48000, 0,     0};
    const int rate = rates[header[8] >> 2 & 0x0F];
    if (length != size || blocks < 6 || size < 96 || rate == 0 ||
        duration != blocks * 32.0 / rate) {
        fuzzFailure("DTS core frame not of its header's length and time");
    }
    const std::vector<std::int32_t> twin = format.silentFrame(frame);
    if (twin.empty()) return;
    // Bytes 4 to 8 hold FTYPE to SFREQ but for CPF (bit 38, byte 4's second lowest).
    if (twin.size() != size || !std::equal(twin.begin(), twin.begin() + 4, header) ||
        (twin[4] | 0x02) != (header[4] | 0x02) ||
        !std::equal(twin.begin() + 5, twin.begin() + 8, header + 5)) {
        fuzzFailure("DTS twin of another header or length");
    }
}

void checkPcm(const std::uint8_t*, std::size_t size, double duration, const PcmFormat& format,
              const std::vector<std::int32_t>&) {
    const std::vector<std::uint8_t> one = format.silence(1);
    if (one.empty() || size % one.size() != 0 ||
        duration != static_cast<double>(size / one.size()) / format.sampleRate()) {
        fuzzFailure("PCM frame of part of a sample frame, or of another time");
    }
    OutputFacts planned;
    planned.planned = planned.samples = size / one.size() * 3;
    OutputFacts closed = planned;
    closed.samples = 1;
    if (format.outputHeader(planned).size() != format.outputHeader(closed).size()) {
        fuzzFailure("PCM output header of another length at close");
    }
}

void checkFlac(const std::uint8_t* bytes, std::size_t size, double duration,
               const FlacFormat& format, const std::vector<std::int32_t>&) {
    flac::FrameHeader header;
    if (!flac::readHeader(bytes, size, header)) fuzzFailure("FLAC frame without a valid header");
    if (duration != static_cast<double>(header.blockSize) / format.sampleRate()) {
        fuzzFailure("FLAC frame of another time than its block");
    }
    // Only the bytes of the frame are read: a copy of them, with nothing after it.
    const std::vector<std::uint8_t> frame(bytes, bytes + size);
    static flac::FrameDecoder decoder;
    std::vector<std::int32_t> samples;
    if (decoder.decode(frame.data(), frame.size(), header, header.bits != 0 ? header.bits : 16,
                       samples) &&
        samples.size() != header.blockSize * static_cast<std::size_t>(header.channels)) {
        fuzzFailure("FLAC frame decoded to another number of samples");
    }
}

void checkMp3(const std::uint8_t* header, std::size_t size, double duration,
              const Mp3Format& format, const std::vector<std::int32_t>& frame) {
    const mpeg::Header h(header);
    if (header[0] != 0xFF || !h.layerIII() || !h.valid()) fuzzFailure("MP3 frame without sync");
    if (static_cast<std::size_t>(h.size()) != size) fuzzFailure("MP3 frame of another length");
    if (duration != static_cast<double>(h.samples()) / h.sampleRate()) fuzzFailure("MP3 duration");
    const std::vector<std::int32_t> twin = format.silentFrame(frame);
    const std::vector<std::uint8_t> bytes(twin.begin(), twin.end());
    mp3::Layout layout;
    if (bytes.size() != size || !std::equal(bytes.begin(), bytes.begin() + 4, header) ||
        !mp3::readLayout(bytes.data(), bytes.size(), layout) ||
        !mp3::crcHolds(bytes.data(), layout)) {
        fuzzFailure("MP3 twin of another header or length, or whose CRC fails");
    }
}

// The bytes read as `Format`: every frame the next run of input bytes, then `check`ed; a
// format with a file header reads it first, and its frames start where the header says.
template <typename Format, typename Check>
void readAs(const char* name, const std::uint8_t* data, std::size_t size, Check check) {
    BitReader bitReader(name);
    Format format(bitReader);
    if (!format.readFileHeader()) return;
    std::size_t offset = static_cast<std::size_t>(format.frameOffset());
    while (format.readFrame()) {
        if (format.frameOffset() != offset) fuzzFailure("frame not where the one before ended");
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
    const char* name = file.hold(data, size);
    BitReader bitReader(name);
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
    readAs<MpegAudioFormat>(name, data, size, checkMpeg);
    readAs<AdtsFormat>(name, data, size, checkAdts);
    readAs<DtsFormat>(name, data, size, checkDts);
    readAs<PcmFormat>(name, data, size, checkPcm);
    readAs<FlacFormat>(name, data, size, checkFlac);
    readAs<Mp3Format>(name, data, size, checkMp3);
    return 0;
}
