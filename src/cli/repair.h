// Keeping the timeline of a damaged stream: the last whole time step, on which silent steps
// are modelled where bytes were lost, and how many such steps a gap stands for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class StepModel {
public:
    // The frame just walked; one that moves the clock starts a new step.
    void add(const std::vector<std::int32_t>& bytes, bool steps, double duration);
    bool empty() const { return current.frames.empty() || current.duration <= 0.0; }
    // One silent step: twins of the model step's frames, and how long it plays.
    struct SilentStep {
        std::vector<std::vector<std::int32_t>> frames;
        double duration;
    };
    // The silent steps that `skipped` bytes stand for: as many steps of the model as fit, to
    // the nearest whole number, made of twins of its frames. At 44.1 kHz an AC-3 frame comes
    // padded by a word or not; the steps take whichever mix of the two fills the gap exactly,
    // as the lost frames did. Empty when a twin cannot be made.
    std::vector<SilentStep> fill(std::uint64_t skipped) const;
    bool framePerStep() const { return model().frames.size() == 1; }

private:
    struct Step {
        std::vector<std::vector<std::int32_t>> frames;
        double duration = 0.0;
        std::size_t bytes = 0;
    };
    // The last whole step: the current one may have lost its last frames to the gap.
    const Step& model() const;

    Step current, last;
};
