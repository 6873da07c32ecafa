// The seams of a plan on samples, for formats that cut inside a frame: every time x of the
// plan falls on sample round(x × rate), halves up, so that no seam is off by any time at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cli/plan.h"
#include "stream/frame_format.h"

class SamplePlan {
public:
    // `total` samples in the input, or an input of unknown length (`known` false).
    SamplePlan(const Plan& plan, std::int32_t rate, std::uint64_t total, bool known);

    // The sample a time of the input's clock falls on.
    std::uint64_t sampleAt(double seconds) const;
    // Output `index`'s pieces, in order, none of them empty. False past the last output.
    bool output(std::size_t index, std::vector<SamplePiece>& pieces) const;
    // The samples a window's delay puts in front (> 0) or leaves out (< 0).
    std::int64_t delaySamples() const;
    // The window holds no sample: it is empty, lies after the end, or the delay took it all.
    bool windowEmpty() const;
    // The window starts before the end of the input (or at 0).
    bool windowReached() const;
    // The window's samples, as far as the input has them, before a delay leaves any out.
    std::uint64_t windowLength() const;

private:
    void add(std::vector<SamplePiece>& pieces, SamplePiece piece) const;
    void addRange(std::vector<SamplePiece>& pieces, std::uint64_t from, std::uint64_t to) const;
    bool window(std::vector<SamplePiece>& pieces) const;
    bool point(std::size_t index, std::vector<SamplePiece>& pieces) const;
    std::uint64_t boundary(std::size_t index) const;

    const Plan& plan;
    double rate;
    std::uint64_t total;
    bool known;
};
