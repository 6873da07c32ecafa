#include "cli/sample_plan.h"

#include <algorithm>
#include <cmath>

SamplePlan::SamplePlan(const Plan& plan, std::int32_t rate, std::uint64_t total, bool known)
    : plan(plan), rate(rate), total(known ? total : SamplePiece::toEnd), known(known) {}

std::uint64_t SamplePlan::sampleAt(double seconds) const {
    // Halves up; a time that is not a number, or before 0, is the first sample.
    const double at = std::floor(seconds * rate + 0.5);
    if (!(at > 0.0)) return 0;
    if (at >= 1.8e19) return SamplePiece::toEnd;
    return static_cast<std::uint64_t>(at);
}

std::int64_t SamplePlan::delaySamples() const {
    const auto samples = static_cast<std::int64_t>(std::min<std::uint64_t>(
        sampleAt(std::fabs(plan.delay)), std::numeric_limits<std::int64_t>::max()));
    return plan.delay < 0.0 ? -samples : samples;
}

bool SamplePlan::windowEmpty() const {
    std::vector<SamplePiece> pieces;
    if (!window(pieces)) return true;
    for (const SamplePiece& piece : pieces) {
        if (!piece.silence) return false;
    }
    return true;
}

bool SamplePlan::output(std::size_t index, std::vector<SamplePiece>& pieces) const {
    pieces.clear();
    switch (plan.kind) {
        case Plan::Kind::window:
            return index == 0 && window(pieces);
        case Plan::Kind::points:
            return point(index, pieces);
        case Plan::Kind::ranges:
            break;
    }
    if (index >= plan.outputs.size()) return false;
    for (const PlanItem& item : plan.outputs[index]) {
        if (!item.isSilence()) {
            addRange(pieces, sampleAt(item.from),
                     item.openEnd ? SamplePiece::toEnd : sampleAt(item.to));
        } else if (sampleAt(item.from) <= total) {
            // Silence after the end of the input does nothing, as in the frame formats.
            add(pieces, {true, 0, sampleAt(item.silence)});
        }
    }
    return true;
}

bool SamplePlan::windowReached() const {
    return !known || plan.from <= 0.0 || sampleAt(plan.from) < total;
}

std::uint64_t SamplePlan::windowLength() const {
    const std::uint64_t from = sampleAt(plan.from);
    const std::uint64_t to = std::min(sampleAt(plan.to), total);
    return to > from ? to - from : 0;
}

bool SamplePlan::window(std::vector<SamplePiece>& pieces) const {
    const std::uint64_t length = windowLength();
    if (length == 0) return false;
    std::uint64_t from = sampleAt(plan.from);
    const std::uint64_t to = from + length;
    const std::int64_t delay = delaySamples();
    if (delay > 0) add(pieces, {true, 0, static_cast<std::uint64_t>(delay)});
    if (delay < 0) from += std::min(to - from, static_cast<std::uint64_t>(-delay));
    addRange(pieces, from, to);
    for (SamplePiece& piece : pieces) piece.window = !piece.silence;
    return true;
}

// Part `index` of a split runs from the point before it up to its own; the last to the end.
bool SamplePlan::point(std::size_t index, std::vector<SamplePiece>& pieces) const {
    const std::size_t points = plan.every > 0.0 ? SamplePiece::toEnd : plan.points.size();
    if (index > points) return false;
    const std::uint64_t from = index == 0 ? 0 : boundary(index - 1);
    if (known && from >= total && index > 0) return false;
    const std::uint64_t to = index == points ? SamplePiece::toEnd : boundary(index);
    addRange(pieces, from, std::max(from, to));
    return true;
}

std::uint64_t SamplePlan::boundary(std::size_t index) const {
    if (plan.every > 0.0) return sampleAt(static_cast<double>(index + 1) * plan.every);
    // Never before the point before it.
    std::uint64_t at = 0;
    for (std::size_t i = 0; i <= index; ++i) at = std::max(at, sampleAt(plan.points[i]));
    return at;
}

// The input from `from` up to `to`, within the input; the muted stretches in it are silence.
void SamplePlan::addRange(std::vector<SamplePiece>& pieces, std::uint64_t from,
                          std::uint64_t to) const {
    to = std::min(to, total);
    for (const std::pair<double, double>& mute : plan.mutes) {
        if (from >= to) return;
        const std::uint64_t start = std::max(from, sampleAt(mute.first));
        const std::uint64_t end = std::min(to, sampleAt(mute.second));
        if (start >= end) continue;
        add(pieces, {false, from, start - from});
        add(pieces, {true, 0, end - start});
        from = end;
    }
    if (from < to) add(pieces, {false, from, to == SamplePiece::toEnd ? to : to - from});
}

void SamplePlan::add(std::vector<SamplePiece>& pieces, SamplePiece piece) const {
    if (piece.count > 0) pieces.push_back(piece);
}
