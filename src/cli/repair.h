// Keeping the timeline and the layout of a damaged stream: silent frames for frames that fail
// their CRCs, and silent steps, modelled on the last whole time step, where bytes were lost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "stream/frame_stream.h"

class StepModel {
public:
    // The frame just walked; one that moves the clock starts a new step.
    void add(const std::vector<std::int32_t>& bytes, bool steps, double duration);
    bool empty() const { return current.frames.empty() || current.duration <= 0.0; }
    // Lost bytes before the first step are filled like the first step after them: it is read
    // ahead, and the reader steps back to it.
    void readAhead(FrameStream& frames, BitReader& input);
    // One silent step: twins of the model step's frames, and how long it plays.
    struct SilentStep {
        std::vector<std::vector<std::int32_t>> frames;
        double duration;
    };
    // The silent steps that `skipped` bytes stand for: as many steps of the model as fit, to
    // the nearest whole number, made of twins of its frames in `format`. Where a step of one
    // frame comes in two sizes (AC-3 at 44.1 kHz), the steps take whichever mix of the two
    // fills the gap exactly, as the lost frames did. Where lengths vary (AAC), the count is
    // the bytes over the mean length of the last whole steps. Empty when a twin cannot be
    // made.
    std::vector<SilentStep> fill(std::uint64_t skipped, const FrameFormat& format) const;
    bool framePerStep() const { return model().frames.size() == 1; }

private:
    struct Step {
        std::vector<std::vector<std::int32_t>> frames;
        double duration = 0.0;
        std::size_t bytes = 0;
    };
    // The last whole step: the current one may have lost its last frames to the gap.
    const Step& model() const;

    std::size_t count(std::uint64_t skipped, const FrameFormat& format) const;

    Step current, last;
    // The lengths of the last whole steps, for a mean, oldest overwritten first.
    static constexpr std::size_t lengthsKept = 16;
    std::size_t lengths[lengthsKept] = {};
    std::size_t lengthsSeen = 0;
};

// A frame that fails its CRCs may have a damaged header, and a twin of it would take the
// damage with it: a 5.1 stream could play one frame of mono silence. A replacement keeps of
// the damaged frame only what the walk has trusted, the fields that set its length and time,
// and takes the rest of its header from the last frame of the same kind that passed its
// CRCs (see FrameFormat::replacementReference).
class Replacements {
public:
    // A frame that passed its CRCs.
    void remember(const std::vector<std::int32_t>& frame, const FrameFormat& format);
    // A silent frame to stand for `damaged`, from its own header when no frame of its kind
    // passed before it. Empty when the header it is made from holds no silent frame.
    std::vector<std::int32_t> silentFor(const std::vector<std::int32_t>& damaged,
                                        const FrameFormat& format) const;

private:
    // Of each kind, the first bytes of the last good frame: its whole header and stream
    // information, which end well inside them.
    static constexpr std::size_t kept = 256;
    std::vector<std::vector<std::int32_t>> last;
};
