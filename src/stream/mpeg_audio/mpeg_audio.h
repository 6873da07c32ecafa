// MPEG audio Layer I and II (ISO/IEC 11172-3, and the lower sample rates of 13818-3 and
// MPEG-2.5): frames of 384 or 1152 samples, each with its own 4-byte header and, optionally,
// a CRC-16 over the header's second half and the side information.
#pragma once

#include <cstdint>
#include <string>

#include "stream/frame_format.h"

class MpegAudioFormat final : public FrameFormat {
public:
    explicit MpegAudioFormat(BitReader& reader) : FrameFormat(reader, startsFrame) {}
    // Eleven set bits and a layer other than 00 (which is ADTS's): Layer I, II or III.
    static bool startsFrame(const std::uint8_t* bytes, std::size_t size);

    // Every frame steps the clock. A Layer III frame ends the stream: MP3 is a format of
    // its own.
    bool readFrame() override;
    bool frameAt(std::uint64_t candidate) override;
    std::string stopReason() const override;
    // A frame without a CRC (protection bit 1) passes.
    bool crcsHold() const override;
    bool carriesCrc() const override { return protection; }
    std::string noCrcNotice() const override {
        return "the frames carry no CRC: only their headers and lengths were checked";
    }
    const char* name() const override { return "MPEG audio"; }
    // "MPEG-1 Layer II, 48 kHz".
    std::string describe() const override;
    // The same header and length, every bit allocation 0 (no scale factors, no samples), and
    // ancillary bytes of 0 to the end; the CRC made anew where the reference has one.
    Frame silentFrame(const Frame& reference) const override;
    std::size_t kinds() const override { return 1; }
    std::size_t kindOf(const Frame&) const override { return 0; }
    // Kept of the damaged frame: version, layer, bit rate, sample rate and padding.
    Frame replacementReference(const Frame& damaged, const Frame& good) const override;
    // Where a frame's length is no whole number of slots (44.1 kHz and its halves), the
    // padding bit adds a slot: 1 byte in Layer II, 4 in Layer I.
    bool otherSize(const Frame& frame, double duration, Frame& other,
                   double& otherDuration) const override;

private:
    enum class Fault { none, sync, version, layer, layerIII, freeFormat, badBitRate, sampleRate };
    bool headerFits(const std::uint8_t* bytes);
    Fault fault = Fault::none;
    bool protection = false;  // the frame last read carries a CRC
    std::uint8_t header[4] = {};
};

// The CRC-16 of an MPEG audio frame held in memory (polynomial 0x8005, starting from 0xFFFF):
// over bits 16 to 31 of the header, then the bit allocation and, in Layer II, the scale
// factor selection information. False when the frame is too short for its side information.
bool mpegAudioCrc(const std::uint8_t* frame, std::size_t size, std::uint16_t& crc);
