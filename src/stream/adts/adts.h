// AAC in ADTS (ISO/IEC 13818-7 and 14496-3): frames of 1 to 4 raw data blocks of 1024
// samples, each frame with a 7-byte header (9 with a CRC) that gives its length.
#pragma once

#include <cstdint>
#include <string>

#include "stream/frame_format.h"

class AdtsFormat final : public FrameFormat {
public:
    explicit AdtsFormat(BitReader& reader) : FrameFormat(reader, startsFrame) {}
    // Twelve set bits and layer 00; or the LOAS sync word 0x2B7, which is read as a stream
    // the program does not cut.
    static bool startsFrame(const std::uint8_t* bytes, std::size_t size);

    // Every frame steps the clock.
    bool readFrame() override;
    bool frameAt(std::uint64_t candidate) override;
    std::string stopReason() const override;
    // The CRCs are not checked (where each channel element starts takes a full parse): a
    // frame holds when its sample rate, channel configuration and profile are the first
    // frame's.
    bool crcsHold() const override;
    bool carriesCrc() const override { return false; }
    std::string noCrcNotice() const override {
        return "AAC frames are checked by their headers and lengths only; their CRCs are not "
               "checked";
    }
    bool lengthsVary() const override { return true; }
    const char* name() const override { return "AAC"; }
    // "AAC LC, ADTS, 48 kHz, 2 channels".
    std::string describe() const override;
    // AAC LC of channel configuration 1 to 7: per raw data block an element for each channel
    // element with max_sfb 0 and every tool off, then ID_END; fill elements make up the
    // frame's length. Without a CRC: the twin of a frame with one says protection_absent.
    Frame silentFrame(const Frame& reference) const override;
    std::string noTwinReason(const Frame&) const override {
        return "silent frames are made only for AAC LC of channel configurations 1 to 7";
    }
    std::size_t kinds() const override { return 1; }
    std::size_t kindOf(const Frame&) const override { return 0; }
    // Kept of the damaged frame: its length and number of blocks.
    Frame replacementReference(const Frame& damaged, const Frame& good) const override;

private:
    enum class Fault { none, sync, loas, layer, sampleRate, length };
    bool headerFits(const std::uint8_t* bytes);

    Fault fault = Fault::none;
    std::uint8_t header[7] = {};
    // The header of the first frame checked, for --check.
    mutable std::uint8_t first[7] = {};
    mutable bool haveFirst = false;
};
