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
    // Silent twins of the model step's frames, in order; empty when one cannot be made.
    std::vector<std::vector<std::int32_t>> twins() const;
    double duration() const { return model().duration; }
    // How many steps of the model `skipped` bytes stand for, to the nearest whole number.
    std::uint64_t stepsFor(std::uint64_t skipped) const;

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
