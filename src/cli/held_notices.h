// Notices about the stream that wait while the plan holds the frames before them, so that
// what is said follows the frames it speaks of into the file.
#pragma once

#include <functional>
#include <vector>

#include "cli/plan_writer.h"

class HeldNotices {
public:
    explicit HeldNotices(PlanWriter& plan) : plan(plan) {}

    // Says `notice` once the frames before it are in the file: at once, or, while the plan
    // holds frames for the silence in front of them, once they have gone out. False when a
    // write failed; then it is not said.
    bool say(std::function<void()> notice);
    // Says what waits, if the plan holds nothing. False when a write failed.
    bool release();
    bool waiting() const { return !held.empty(); }

private:
    PlanWriter& plan;
    std::vector<std::function<void()>> held;
};
