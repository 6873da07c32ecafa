#include "cli/plan.h"

#include <cmath>
#include <utility>

namespace {

// Two distances that differ by less than this are a tie, which goes to the earlier boundary:
// 48 kHz steps are 32 ms, and people type milliseconds.
constexpr double tie = 1e-6;

// The boundary `at` is nearest(x), given the boundary after it, `next`: the distances to x
// shrink up to nearest(x) and grow after it.
bool nearestIs(double at, double next, double x) {
    return std::fabs(at - x) - std::fabs(next - x) < tie;
}

// Silences and steps near the end of a range: far more than the longest step (96 ms).
constexpr double nearness = 1.0;

}  // namespace

Seams::Seams(const Plan& plan) : plan(plan) {
    for (const std::vector<PlanItem>& items : plan.outputs) {
        Output o;
        o.items = items;
        o.silenceFrom.assign(items.size() + 1, items.size());
        for (std::size_t k = items.size(); k-- > 0;) {
            o.silenceFrom[k] = items[k].isSilence() ? k : o.silenceFrom[k + 1];
        }
        anySilence = anySilence || o.silenceFrom[0] < items.size();
        outputs.push_back(std::move(o));
    }
}

const std::vector<Placement>& Seams::step(double start, double end, double duration,
                                          double previous) {
    if (plan.kind == Plan::Kind::window) return window(end, duration);
    result.clear();
    mute(start, end);
    if (plan.kind == Plan::Kind::points) {
        points(start, end);
        return result;
    }
    for (std::size_t i = firstOpen; i < outputs.size(); ++i) {
        Placement p{i};
        p.withStep = advance(i, start, end, duration, previous, false, p);
        if (p.withStep || p.silentSteps > 0) result.push_back(p);
        const Output& o = outputs[i];
        if (i == firstOpen && o.next == o.items.size()) ++firstOpen;
        // The next output's ranges come after this one's: it cannot start before it.
        if (o.next == 0 && !o.inRange) break;
    }
    noteQuiet();
    return result;
}

void Seams::noteQuiet() {
    quietBefore = -std::numeric_limits<double>::infinity();
    for (const Placement& p : result) {
        if (!p.withStep || p.silentSteps > 0 || p.twinOfThisStep) return;
    }
    // The boundaries where anything can happen next: a range starts or ends, a muted
    // stretch starts or ends. A step that ends before one of them cannot be nearest it.
    double until = std::numeric_limits<double>::infinity();
    if (nextMute < plan.mutes.size()) {
        until = muting ? plan.mutes[nextMute].second : plan.mutes[nextMute].first;
    }
    for (std::size_t i = firstOpen; i < outputs.size(); ++i) {
        const Output& o = outputs[i];
        if (o.next == o.items.size()) continue;
        const PlanItem& item = o.items[o.next];
        if (item.isSilence()) return;
        const double at = !o.inRange     ? item.from + o.d
                          : item.openEnd ? std::numeric_limits<double>::infinity()
                                         : o.targetEnd;
        if (!(at >= until)) until = at;
    }
    quietBefore = until - nearness;
}

const std::vector<Placement>& Seams::finish(double end, double previous) {
    result.clear();
    ended = true;
    if (plan.kind != Plan::Kind::ranges) return result;
    for (std::size_t i = firstOpen; i < outputs.size(); ++i) {
        Placement p{i, false};
        advance(i, end, end, 0.0, previous, true, p);
        if (p.silentSteps > 0) result.push_back(p);
    }
    firstOpen = outputs.size();
    return result;
}

bool Seams::advance(std::size_t index, double at, double next, double duration, double previous,
                    bool last, Placement& p) {
    Output& o = outputs[index];
    while (o.next < o.items.size()) {
        const PlanItem& item = o.items[o.next];
        if (item.isSilence()) {
            ++o.next;
            // After the end of the input it does nothing.
            if (last && item.from > at) continue;
            // It goes in where the range before it ended, at `at`, as twins of the step that
            // ends there (the first step, at 0). The count keeps the input after it going on
            // from there while the offset stays within half a step.
            const double step = at > 0.0 ? previous : duration;
            const double k =
                step > 0.0 ? std::floor((item.silence - o.d + at - item.from) / step + 0.5) : 0.0;
            const std::uint64_t count = k > 0.0 ? static_cast<std::uint64_t>(k) : 0;
            o.d += static_cast<double>(count) * step - item.silence;
            o.position += static_cast<double>(count) * step;
            p.silentSteps += count;
            p.twinOfThisStep = p.twinOfThisStep || (count > 0 && at <= 0.0);
            continue;
        }
        if (!o.inRange) {
            if (!last && !nearestIs(at, next, item.from + o.d)) return false;
            o.inRange = true;
            o.start = at;
            o.targetEnd = at + (item.to - item.from) - o.d;
            o.placedIndex = ranges.size();
            ranges.push_back({index, at, at, o.position, at - item.from - o.d});
        }
        const bool ends = last || (!item.openEnd && nearestIs(at, next, o.targetEnd));
        if (!ends) return true;
        const double length = item.openEnd ? at - o.start : item.to - item.from;
        o.d += (at - o.start) - length;
        o.position += at - o.start;
        ranges[o.placedIndex].end = at;
        o.inRange = false;
        ++o.next;
    }
    return false;
}

void Seams::points(double at, double next) {
    // Each point goes to nearest(point), never before the point before it: a new part
    // starts there, and one with no step in it makes no file.
    for (;;) {
        double x = 0.0;
        if (plan.every > 0.0) {
            x = static_cast<double>(nextPoint + 1) * plan.every;
        } else if (nextPoint < plan.points.size()) {
            x = plan.points[nextPoint];
        } else {
            break;
        }
        if (!nearestIs(at, next, x)) break;
        ++nextPoint;
        ++part;
    }
    result.push_back({part});
}

// A muted stretch starts and ends at the boundaries nearest its ends, on the input's clock.
void Seams::mute(double at, double next) {
    while (nextMute < plan.mutes.size()) {
        const std::pair<double, double>& stretch = plan.mutes[nextMute];
        if (!muting && !nearestIs(at, next, stretch.first)) return;
        muting = true;
        if (!nearestIs(at, next, stretch.second)) return;
        muting = false;
        ++nextMute;
    }
}

// The first step that ends at or after `from` begins the window; a delay is counted in its
// steps, k of its time rounded to the nearest whole number, halves up. Inside the window the
// placement stays as it was from one step to the next.
const std::vector<Placement>& Seams::window(double end, double duration) {
    windowOver = windowDone;
    // The first step that ends after `to` is the last, whether or not the window began: with
    // a start that is not a number it never does, as the rule is written.
    windowDone = windowDone || end > plan.to;
    if (windowOver || !reached(end)) {
        result.clear();
        return result;
    }
    if (windowSteady) return result;
    result.assign(1, Placement{0});
    Placement& p = result[0];
    if (!windowBegun) {
        windowBegun = true;
        const double k = duration > 0.0 ? std::floor(std::fabs(plan.delay) / duration + 0.5) : 0.0;
        const auto steps = static_cast<std::uint64_t>(k);
        // The twins are made even for no step, so that a step that cannot hold them is said.
        p.twinOfThisStep = plan.delay > 0.0;
        p.silentSteps = plan.delay > 0.0 ? steps : 0;
        stepsToLeaveOut = plan.delay < 0.0 ? steps : 0;
    }
    if (stepsToLeaveOut > 0) {
        p.leftOut = true;
        --stepsToLeaveOut;
    }
    // From the step after this one on, while none is left out, every step goes the same way.
    windowSteady = !p.leftOut && p.silentSteps == 0 && !p.twinOfThisStep;
    return result;
}

FramesAtZero Seams::atZero() const {
    if (plan.kind != Plan::Kind::window) return {};
    if (!reached(0.0)) return {{}, false};
    // Held for the silence in front of the window, or for the steps it leaves out.
    return {{Placement{0}}, plan.delay != 0.0};
}

bool Seams::silenceWithin(double end) const {
    for (std::size_t i = firstOpen; i < outputs.size(); ++i) {
        const Output& o = outputs[i];
        if (o.silenceFrom[o.next] == o.items.size()) continue;
        const double target = o.inRange ? o.targetEnd : o.items[o.next].from + o.d;
        if (target <= end + nearness) return true;
    }
    return false;
}

std::string numberedName(const std::string& name, std::size_t number) {
    const std::size_t slash = name.find_last_of("/\\");
    const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t point = name.find_last_of('.');
    const std::size_t at = point != std::string::npos && point > base ? point : name.size();
    std::string digits = std::to_string(number);
    if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
    return name.substr(0, at) + "-" + digits + name.substr(at);
}

std::string Plan::outputName(const std::string& name, std::size_t output) const {
    return numbered ? numberedName(name, output + 1) : name;
}
