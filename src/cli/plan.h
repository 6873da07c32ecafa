// What a cut is to make, as plain values (a plan), and where its seams fall among the input's
// time steps, decided step by step as the walk reads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

// One item of an output: a range of the input's timeline, or seconds of silence.
struct PlanItem {
    double from = 0.0;  // seconds of the input; for silence, where it goes in
    double to = 0.0;
    bool openEnd = false;   // the range runs to the end of the input
    double silence = -1.0;  // seconds of silence, or less than 0 for a range
    bool isSilence() const { return silence >= 0.0; }
};

struct Plan {
    enum class Kind {
        window,  // the window rule of a plain cut: from, to
        ranges,  // outputs of ranges and silences, seams by the nearest boundary
        points,  // the whole input, split at points (or every `every` seconds)
    };
    Kind kind = Kind::window;
    double from = 0.0, to = 0.0;
    // The window moved: silent steps before it (> 0), or steps left out at its start (< 0).
    double delay = 0.0;
    std::vector<std::vector<PlanItem>> outputs;
    std::vector<double> points;  // ascending
    double every = 0.0;          // > 0: the points are every, 2 every, 3 every, ...
    bool numbered = false;       // the outputs are numbered files
    std::vector<double> edits;   // with --edit, where each edit is, in order
    // Stretches of the input's own clock, ascending, whose steps play as silence: every step
    // from nearest(first) to nearest(second) is its own silent twin.
    std::vector<std::pair<double, double>> mutes;

    // A plain cut: the window from `from` to `to`, moved by `delay` seconds.
    static Plan window(double from, double to, double delay = 0.0) {
        Plan plan;
        plan.from = from;
        plan.to = to;
        plan.delay = delay;
        return plan;
    }
    bool isWindow() const { return kind == Kind::window; }
    // The file of output `output` (from 0): `name` itself, or numbered (see numberedName).
    std::string outputName(const std::string& name, std::size_t output) const;
};

// `name` with the part's number, -001, -002, ..., before its extension: the part after the
// last point that follows the last / or \, where that point is not the name's first
// character. With no extension the number goes at the end.
std::string numberedName(const std::string& name, std::size_t number);

// Where one time step goes: into output `output`, after `silentSteps` silent twins of the
// step before it (or, with `twinOfThisStep`, of itself).
struct Placement {
    std::size_t output;
    bool withStep = true;  // the step itself goes in too
    std::uint64_t silentSteps = 0;
    bool twinOfThisStep = false;
    bool leftOut = false;  // the step is one of those a negative delay leaves out
};

// Where the frames before the input's first step go, which play at 0 s.
struct FramesAtZero {
    std::vector<Placement> placements;  // where they go, if that is known before the first step
    bool wait = true;                   // they go with the first step, once it begins
};

// Where a range went, for --verbose: the input from `start` to `end`, at `at` seconds of its
// output, `offset` seconds later than the asked timeline puts it.
struct PlacedRange {
    std::size_t output;
    double start, end, at, offset;
};

// The seams of a plan. A window starts at the first step that ends at or after `from` and
// ends with the first step that ends after `to`. Ranges and points fall at nearest(x) is the step
// boundary closest to x, the earlier of two whose distances differ by less than 1 us. It is known
// once the boundary after it is, so the steps are given one at a time with their ends.
class Seams {
public:
    explicit Seams(const Plan& plan);

    // The time step from `start` to `end` (seconds on the input's clock), `duration` long,
    // and the one before it `previous` long (0 for the first): the outputs it goes into, in
    // ascending order. Empty when it goes nowhere.
    const std::vector<Placement>& step(double start, double end, double duration, double previous);
    // The input ended at `end` after a last step `previous` long: the silences that follow it.
    const std::vector<Placement>& finish(double end, double previous);
    // Every range has ended, or the window has: the step last given goes nowhere, and nothing
    // after it does.
    bool done() const {
        if (plan.kind == Plan::Kind::window) return windowOver;
        return plan.kind == Plan::Kind::ranges && firstOpen == outputs.size();
    }
    // Nothing after the steps given so far goes anywhere: done(), or the window's last step
    // has been given.
    bool lastStepGiven() const { return plan.kind == Plan::Kind::window ? windowDone : done(); }
    // A step that ends at `end` has reached the plan: the window's start, or any step.
    bool reached(double end) const { return plan.kind != Plan::Kind::window || end >= plan.from; }
    // A step that ends at `end` lies before the window's start. Not the same as not having
    // reached it: a start that is not a number is neither reached nor ahead.
    bool beforeStart(double end) const {
        return plan.kind == Plan::Kind::window && end < plan.from;
    }
    // A step that ends before this goes nowhere and changes nothing: one before the window.
    double idleBefore() const {
        return plan.kind == Plan::Kind::window ? plan.from
                                               : -std::numeric_limits<double>::infinity();
    }
    // Inside the window, past its first step and any it leaves out, a step goes where the one
    // before it went: true, and nothing else needs doing, unless it is the window's last.
    // Ranges: every step that ends well before the next seam, silence or muted stretch goes
    // where the last went.
    bool steadyStep(double end) {
        if (plan.kind == Plan::Kind::ranges) return end < quietBefore;
        if (!windowSteady || windowDone) return false;
        windowDone = end > plan.to;
        return true;
    }
    // A step that ends at `end` shows a progress line: in a window, up to its last step.
    bool showsProgress(double end) const {
        return plan.kind != Plan::Kind::window || !(end > plan.to);
    }
    FramesAtZero atZero() const;
    // The step last given to step() plays as silence (see Plan::mutes).
    bool muted() const { return muting; }
    // A range that a silence follows may end within the next steps: the walk keeps the step.
    bool silenceNear(double end) const { return anySilence && silenceWithin(end); }
    // The outputs that are finished for good: every output below this number. The window's
    // one output is closed by the caller, who says so if that fails.
    std::size_t outputsDone() const {
        if (plan.kind == Plan::Kind::window) return 0;
        if (plan.kind == Plan::Kind::points) return ended ? part + 1 : part;
        return ended ? outputs.size() : firstOpen;
    }
    const std::vector<PlacedRange>& placed() const { return ranges; }

private:
    struct Output {
        std::vector<PlanItem> items;
        std::size_t next = 0;  // the item now in hand
        double d = 0.0;        // how far the output runs ahead of the asked timeline
        bool inRange = false;
        double start = 0.0, targetEnd = 0.0, position = 0.0;
        std::size_t placedIndex = 0;
        // From each item on, the first silence (items.size() for none).
        std::vector<std::size_t> silenceFrom;
    };
    // Takes output `index` to the boundary `at`, the next one `next` (none when `last`): true
    // when the step from `at` goes into it; the silences that go in at `at` are added to `p`.
    bool advance(std::size_t index, double at, double next, double duration, double previous,
                 bool last, Placement& p);
    bool silenceWithin(double end) const;
    // After a step of ranges: how long the steps after it may go where it went.
    void noteQuiet();
    void points(double at, double next);
    void mute(double at, double next);
    const std::vector<Placement>& window(double end, double duration);

    const Plan& plan;
    std::vector<Output> outputs;
    std::size_t firstOpen = 0;  // outputs before it have no item left
    bool ended = false;
    bool anySilence = false;
    std::size_t nextMute = 0;
    bool muting = false;
    // Points: the part now being written, and the next point.
    std::size_t part = 0;
    std::size_t nextPoint = 0;
    // The window: it has begun, steps of it still to leave out, its last step given.
    bool windowBegun = false;
    std::uint64_t stepsToLeaveOut = 0;
    bool windowDone = false, windowOver = false;
    bool windowSteady = false;  // the placement in hand is the window's plain one
    std::vector<Placement> result;
    std::vector<PlacedRange> ranges;
    // Ranges: a step that ends before this goes where the step before it went.
    double quietBefore = -std::numeric_limits<double>::infinity();
};
