// The two guarantees of the seam rule, checked on a plan of ranges over given time steps:
// inside every range the audio plays within half a step of where the asked timeline puts it,
// and every output is within half a step of the length asked of it.
#pragma once

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "cli/plan.h"

// Empty when both hold; otherwise what broke. Ranges must lie within the steps' span.
inline std::string brokenGuarantee(const Plan& plan, const std::vector<double>& steps) {
    Seams seams(plan);
    std::vector<double> made(plan.outputs.size(), 0.0);  // seconds each output plays
    double time = 0.0, previous = 0.0, longest = 0.0;
    const auto add = [&](const std::vector<Placement>& placements, double step, double last) {
        for (const Placement& p : placements) {
            made[p.output] += static_cast<double>(p.silentSteps) * (p.twinOfThisStep ? step : last);
            if (p.withStep) made[p.output] += step;
        }
    };
    for (const double step : steps) {
        longest = std::max(longest, step);
        if (seams.done()) break;
        add(seams.step(time, step + time, step, previous), step, previous);
        time += step;
        previous = step;
    }
    if (!seams.done()) add(seams.finish(time, previous), previous, previous);
    const double half = longest / 2 + 1e-6;
    for (const PlacedRange& range : seams.placed()) {
        if (std::fabs(range.offset) > half) {
            return "a range at " + std::to_string(range.start) + " s is off by " +
                   std::to_string(range.offset) + " s";
        }
    }
    for (std::size_t i = 0; i < plan.outputs.size(); ++i) {
        double asked = 0.0;
        for (const PlanItem& item : plan.outputs[i]) {
            asked += item.isSilence() ? item.silence : (item.openEnd ? time : item.to) - item.from;
        }
        if (std::fabs(made[i] - asked) > half) {
            return "output " + std::to_string(i) + " plays " + std::to_string(made[i]) + " s of " +
                   std::to_string(asked) + " s asked";
        }
    }
    return "";
}
