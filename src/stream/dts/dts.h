// DTS Coherent Acoustics (ETSI TS 102 114) in 16-bit big-endian words: core frames of 6 to 128
// blocks of 32 samples whose header gives their length, and DTS-HD's extension substream
// frames, which play alongside the core frame before them.
#pragma once

#include <cstdint>
#include <string>

#include "stream/frame_format.h"

class DtsFormat final : public FrameFormat {
public:
    explicit DtsFormat(BitReader& reader) : FrameFormat(reader, startsFrame) {}
    // The core's sync word 0x7FFE8001 and the extension substream's 0x64582025; and those of
    // 14-bit and little-endian DTS, which are read as streams the program does not cut.
    static bool startsFrame(const std::uint8_t* bytes, std::size_t size);

    // Core frames step the clock. A stream whose first frame is an extension substream frame
    // has no core, and is not cut.
    bool readFrame() override;
    // Only a core frame, so that a search goes on at a whole time step.
    bool frameAt(std::uint64_t candidate) override;
    std::string stopReason() const override;
    // A frame holds when it is followed by a sync word or ends the input; a core frame when
    // it has the first core frame's sample rate, AMODE and LFF too; an extension substream
    // frame when its header's CRC holds too.
    bool crcsHold() const override;
    bool carriesCrc() const override { return !steps; }
    std::string noCrcNotice() const override {
        return "DTS core frames carry no CRC of their audio: only their headers and lengths "
               "were checked";
    }
    // The extension substream frames of DTS-HD Master Audio vary in length.
    bool lengthsVary() const override { return extensionsSeen; }
    // Extension substream frames.
    bool hasExtensions() const override { return true; }
    const char* name() const override { return "DTS"; }
    // "DTS, 48 kHz, 5.1, 1509 kb/s"; "... + DTS-HD" when an extension substream frame follows.
    std::string describe() const override;
    // A core frame of AMODE 0 to 9 and whole subsubframes: the same header without CRCs,
    // time stamp, auxiliary data or extension audio; every channel with two subbands of bit
    // allocation 0 and no vector quantization; LFE samples of 0; zeros to its length.
    Frame silentFrame(const Frame& reference) const override;
    // Twins of the step's core frame alone: the step plays from its core.
    Frames silentStep(const Frames& frames) const override;
    std::string noTwinReason(const Frame& frame) const override;
    // Core frames; extension substream frames are of no kind.
    std::size_t kinds() const override { return 1; }
    std::size_t kindOf(const Frame& frame) const override;
    // Kept of the damaged core frame: NBLKS and FSIZE.
    Frame replacementReference(const Frame& damaged, const Frame& good) const override;

private:
    enum class Fault {
        none,
        sync,
        noCore,
        fourteenBit,
        littleEndian,
        blocks,
        size,
        sampleRate,
        header
    };
    bool headerFits(const std::uint8_t* bytes);
    bool followedBySync() const;

    Fault fault = Fault::none;
    std::int32_t blocks = 0;      // NBLKS + 1 of the core frame last read
    std::int32_t sampleRate = 0;  // of the core frame last read
    std::int32_t amode = 0;       // of the core frame last read
    std::int32_t lff = 0;         // of the core frame last read
    std::int32_t frameSize = 0;   // bytes of the frame last read, from its header
    std::int32_t headerSize = 0;  // bytes of an extension substream frame's header
    // The rate, AMODE and LFF of the first core frame checked, for --check.
    mutable std::int32_t first[3] = {};
    mutable bool haveFirst = false;
    bool coreSeen = false;
    bool extensionsSeen = false;
};
