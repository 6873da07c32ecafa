// Splits a Dolby Digital elementary stream into sync frames and tells how long each one plays.
// Two syntaxes share the sync word 0x0B77 and keep bsid in the top 5 bits of the sixth byte:
// E-AC-3 (bsid 11 to 16) and AC-3 (any other bsid). Only the first six header bytes are read.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "stream/bit_reader.h"

// A frame whose sixth byte holds this bsid follows the E-AC-3 syntax; any other is AC-3.
inline bool eac3Syntax(int bsid) { return bsid >= 11 && bsid <= 16; }
// The same decision for a frame held in memory, one element per byte, at least six of them.
template <typename Frame>
bool eac3Frame(const Frame& frame) {
    return eac3Syntax(static_cast<int>(frame[5]) >> 3);
}

class FrameReader {
public:
    static constexpr int frameSizeCodes = 38;

    // `reader` is borrowed and must outlive this object.
    explicit FrameReader(BitReader& reader);
    virtual ~FrameReader() = default;
    FrameReader(const FrameReader&) = delete;
    FrameReader& operator=(const FrameReader&) = delete;

    // Why the last readFrame() returned false.
    enum class Stop {
        none,
        endOfInput,     // nothing was left to read
        noSyncWord,     // the next bytes are not 0x0B77
        reservedValue,  // a header value that is reserved or impossible
        cutShort,       // the end of the input came inside the frame
    };

    // Reads the next sync frame. True when all of its bytes came from the input; false at
    // the end of the input, at a truncated frame, at anything that is not a sync word, and
    // at a reserved or impossible header value (see stop()).
    bool readFrame();
    // After a readFrame() that stopped at something other than the end of the input: moves
    // to the first later offset where a valid, whole frame starts that is followed by a sync
    // word or ends exactly at the end of the input, so that readFrame() reads it next. False
    // when no such frame follows (the reader is then at the end of the input).
    bool resync();
    // Playing time in seconds of the frame last read. AC-3: from its size and nominal bit
    // rate. E-AC-3: its audio blocks of 256 samples over the sample rate.
    double frameDuration() const;
    // True when the frame last read moves the clock: an AC-3 frame, or an independent E-AC-3
    // frame of substream 0. Dependent frames (the extra channels of 7.1) and independent
    // substreams 1 to 7 play alongside the frame that stepped before them.
    bool stepsClock() const;
    // The frame last read is in the E-AC-3 syntax.
    bool isEac3() const { return eac3Syntax(bsid); }
    // The frame last read, one element per byte (0 to 255), in stream order.
    std::vector<std::int32_t> bytes() const { return frameBytes; }
    std::size_t byteCount() const { return frameBytes.size(); }
    // The same elements as bytes(), without the copy.
    const std::vector<std::int32_t>& frameData() const { return frameBytes; }
    // Both error checks of the frame last read hold: crc2 over the whole frame after the sync
    // word, and for AC-3 crc1 over its first 5/8.
    bool crcsHold() const;
    // Where in the input the frame last read, or the spot that stopped the walk, begins.
    std::uint64_t frameOffset() const { return start; }
    Stop stop() const { return stopped; }
    // What stopped the walk, in words: "no sync word", "reserved fscod 3", ...
    std::string stopReason() const;

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
    bool headerKnown() const;
    std::int32_t frameSize() const;  // bytes, from the current header
    std::int32_t sampleRate() const;
    std::int32_t audioBlocks() const;
    bool fail(Stop why);
    // Reads two bytes, if there are two, and tells whether they are the sync word.
    bool syncWordNext();

    BitReader& reader;
    std::uint64_t start = 0;
    Stop stopped = Stop::none;
    std::vector<std::int32_t> frameBytes;
    // Bytes per AC-3 sync frame by frmsizecod; columns 32 kHz, 44.1 kHz, 48 kHz.
    std::array<std::array<std::int32_t, 3>, frameSizeCodes> frameSizes{};
};
