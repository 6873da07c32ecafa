// Splits a Dolby Digital elementary stream into sync frames and tells how long each one plays.
// Two syntaxes share the sync word 0x0B77 and keep bsid in the top 5 bits of the sixth byte:
// E-AC-3 (bsid 11 to 16) and AC-3 (any other bsid). Only the first six header bytes are read.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "stream/frame_format.h"

// A frame whose sixth byte holds this bsid follows the E-AC-3 syntax; any other is AC-3.
inline bool eac3Syntax(int bsid) { return bsid >= 11 && bsid <= 16; }
// The same decision for a frame held in memory, one element per byte, at least six of them.
template <typename Frame>
bool eac3Frame(const Frame& frame) {
    return eac3Syntax(static_cast<int>(frame[5]) >> 3);
}

class FrameReader final : public FrameFormat {
public:
    static constexpr int frameSizeCodes = 38;

    // `reader` is borrowed and must outlive this object.
    explicit FrameReader(BitReader& reader);
    // The first bytes of an AC-3 or E-AC-3 frame: the sync word 0x0B77.
    static bool startsFrame(const std::uint8_t* bytes, std::size_t size);

    // Reads the next sync frame. Its playing time: AC-3, from its size and nominal bit rate;
    // E-AC-3, its audio blocks of 256 samples over the sample rate. It steps the clock when it
    // is an AC-3 frame or an independent E-AC-3 frame of substream 0: dependent frames (the
    // extra channels of 7.1) and independent substreams 1 to 7 play alongside the frame that
    // stepped before them.
    bool readFrame() override;
    bool frameAt(std::uint64_t candidate) override;
    std::string stopReason() const override;
    // Both error checks of the frame last read hold: crc2 over the whole frame after the sync
    // word, and for AC-3 crc1 over its first 5/8.
    bool crcsHold() const override;
    // Dependent frames and substreams 1 to 7.
    bool hasExtensions() const override { return true; }
    const char* name() const override { return "Dolby Digital"; }
    // "AC-3, 48 kHz, 5.1"; "AC-3 + E-AC-3 7.1, 48 kHz" when a dependent frame follows.
    std::string describe() const override;
    Frame silentFrame(const Frame& reference) const override;
    // AC-3, then E-AC-3 by stream type (0 to 2) and substream (0 to 7).
    std::size_t kinds() const override { return 1 + 3 * 8; }
    std::size_t kindOf(const Frame& frame) const override;
    // Kept of the damaged frame: AC-3 fscod and frmsizecod; E-AC-3 strmtyp, substreamid,
    // frmsiz, fscod and numblkscod or fscod2.
    Frame replacementReference(const Frame& damaged, const Frame& good) const override;
    // At 44.1 kHz an AC-3 frame comes padded by a word or not.
    bool otherSize(const Frame& frame, double duration, Frame& other,
                   double& otherDuration) const override;
    // The frame last read is in the E-AC-3 syntax.
    bool isEac3() const { return eac3Syntax(bsid); }

    std::int32_t syncword = 0;
    std::int32_t bsid = 0;  // top 5 bits of the sixth byte, in both syntaxes
    // 0 = 48 kHz, 1 = 44.1 kHz, 2 = 32 kHz; 3 is reserved in AC-3 and says "see fscod2" in E-AC-3.
    std::int32_t fscod = 0;
    // AC-3 only.
    std::int32_t crc1 = 0;
    std::int32_t frmsizecod = 0;  // 0 to 37 defined
    // E-AC-3 only.
    std::int32_t strmtyp = 0;  // 0 independent, 1 dependent, 2 independent from AC-3, 3 reserved
    std::int32_t substreamid = 0;
    std::int32_t frmsiz = 0;      // 16-bit words in the frame, less one
    std::int32_t numblkscod = 0;  // 0 to 3: 1, 2, 3 or 6 audio blocks; with fscod 3 always 6
    std::int32_t fscod2 = 0;      // with fscod 3: 0 = 24 kHz, 1 = 22.05 kHz, 2 = 16 kHz, 3 reserved

private:
    void readHeaderFields();
    bool headerKnown() const;
    std::int32_t frameSize() const;  // bytes, from the current header
    std::int32_t sampleRate() const override;
    std::int32_t audioBlocks() const;
    double durationFromHeader() const;
    bool stepsFromHeader() const;
    // Reads two bytes, if there are two, and tells whether they are the sync word.
    bool syncWordNext();

    // Bytes per AC-3 sync frame by frmsizecod; columns 32 kHz, 44.1 kHz, 48 kHz.
    std::array<std::array<std::int32_t, 3>, frameSizeCodes> frameSizes{};
};
