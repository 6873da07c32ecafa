#include "cli/cut.h"

#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "cli/held_notices.h"
#include "cli/repair.h"

namespace {

class Walk {
public:
    Walk(FrameStream& frames, BitReader& input, const CutOptions& options, PlanWriter& plan,
         CutEvents& events)
        : frames(frames), input(input), options(options), plan(plan), events(events), notices(plan) {}

    CutResult run();

private:
    const FrameFormat& format() const { return frames.format(); }
    std::optional<CutEnd> takeFrame();
    bool tookSteadily(std::optional<CutEnd>& end);
    std::optional<CutEnd> beginStep(double duration);
    std::optional<CutEnd> place(const CutFrame& frame, bool copied = true);
    std::optional<CutEnd> checkedFrame(const CutFrame& frame);
    std::optional<CutEnd> afterLastFrame();
    std::optional<CutEnd> fill(std::uint64_t offset, std::uint64_t skipped);
    std::optional<CutEnd> saySkipped(std::uint64_t offset, std::uint64_t skipped);
    bool say(std::function<void()> notice) { return notices.say(std::move(notice)); }
    CutResult finish(CutEnd end);
    CutEnd outputFailure() const {
        return plan.notCreated() ? CutEnd::outputNotCreated : CutEnd::writeFailed;
    }

    FrameStream& frames;
    BitReader& input;
    const CutOptions& options;
    PlanWriter& plan;
    CutEvents& events;
    StepModel model;            // with repair: what lost bytes are filled with
    Replacements replacements;  // with repair: what damaged frames are replaced with
    // The clock moves only at frames that step it; the frames after a step play alongside it
    // and go with it, whole or not at all. Frames before the first step are at time 0.
    double time = 0.0;
    double stepStart = 0.0;  // of the step the frame just read plays in
    HeldNotices notices;
    CutResult result;
};

CutResult Walk::run() {
    bool haveFrame = frames.readFrame();
    while (true) {
        plan.endIfStopped();
        // A write of frames held from before failed while the walk went on.
        if (plan.writeFailed()) return finish(CutEnd::writeFailed);
        const std::optional<CutEnd> end = haveFrame ? takeFrame() : afterLastFrame();
        if (end) return finish(*end);
        haveFrame = frames.readFrame();
    }
}

// The clock and the plan for the frame just read.
std::optional<CutEnd> Walk::takeFrame() {
    if (!result.anyFrame) events.formatFound(format().describe());
    result.anyFrame = true;
    const bool step = format().stepsClock();
    if (std::optional<CutEnd> end; step && tookSteadily(end)) return end;
    const double duration = step ? format().frameDuration() : 0.0;
    if (step) {
        if (const std::optional<CutEnd> end = beginStep(duration)) return end;
    }
    const CutFrame frame{{step, duration, stepStart, time, format().frameOffset()},
                         format().frameData()};
    return options.check ? checkedFrame(frame) : place(frame);
}

// Most steps go where the one before went with nothing to say or check: the plan takes them
// whole. False, with nothing done, for any other step.
bool Walk::tookSteadily(std::optional<CutEnd>& end) {
    if (options.check || notices.waiting()) return false;
    const double duration = format().frameDuration();
    const PlanWriter::Steady taken =
        plan.steadyStep(time, duration + time, duration, format().frameData());
    if (taken == PlanWriter::Steady::no) return false;
    time = duration + time;
    stepStart = time - duration;
    if (plan.reached(time)) result.windowReached = true;
    if (taken == PlanWriter::Steady::failed) {
        end = outputFailure();
    } else {
        plan.showProgressIfDue();
    }
    return true;
}

// A step begins at the clock's time: the plan says where it goes, or that its last step has
// been taken, which ends the walk before this one is.
std::optional<CutEnd> Walk::beginStep(double duration) {
    if (plan.lastStepTaken()) return CutEnd::windowComplete;
    if (!plan.beginStep(time, duration + time, duration)) return outputFailure();
    if (plan.done()) return CutEnd::windowComplete;
    time = duration + time;
    stepStart = time - duration;
    return std::nullopt;
}

// A frame whose step is on the clock goes where the plan puts its step.
std::optional<CutEnd> Walk::place(const CutFrame& frame, bool copied) {
    if (options.core && !frame.steps && copied) {
        // An extension of a step that is copied is left out, and counted.
        const bool taken = plan.taking();
        result.coreFrames += taken;
        result.coreBytes += taken ? frame.bytes.size() : 0;
        copied = false;
    }
    if (plan.reached(time)) result.windowReached = true;
    if (!notices.release()) return CutEnd::writeFailed;
    if (!plan.place(frame, copied)) return outputFailure();
    if (frame.steps) {
        plan.progressLine(time);
        plan.showProgressIfDue();
    }
    return std::nullopt;
}

// With check: a frame that fails is said; with repair, one that is not before the plan's
// start is replaced by a silent twin, or left out if it cannot hold one, so that its time stays.
std::optional<CutEnd> Walk::checkedFrame(const CutFrame& frame) {
    ++result.checked;
    if (!format().carriesCrc()) result.unchecked = format().noCrcNotice();
    const bool good = format().crcsHold();
    if (good && options.repair) replacements.remember(frame.bytes, format());
    const std::vector<std::int32_t> twin = good || !options.repair
                                               ? std::vector<std::int32_t>{}
                                               : replacements.silentFor(frame.bytes, format());
    // Lost bytes are filled after good frames and twins only: a damaged frame is no model.
    if (options.repair && (good || !twin.empty())) {
        model.add(good ? frame.bytes : twin, frame.steps, frame.duration);
    }
    if (good) return place(frame);
    ++result.failed;
    const double end = time;
    const std::uint64_t offset = frame.offset;
    if (!say([this, offset, end] { events.crcFailed(offset, end); })) {
        return CutEnd::writeFailed;
    }
    // An extension that --core leaves out is not replaced either.
    if (!options.repair || plan.beforeStart(time) || (options.core && !frame.steps)) {
        return place(frame);
    }
    result.repaired = true;
    const bool withSilence = !twin.empty();
    const std::string why = withSilence ? "" : format().noTwinReason(frame.bytes);
    if (!say([this, offset, end, withSilence, why] {
            events.replaced(offset, end, withSilence, why);
        })) {
        return CutEnd::writeFailed;
    }
    return place({frame, twin}, withSilence);
}

// The walk met no whole, valid frame: it ends, or with resync goes on at the next frame.
std::optional<CutEnd> Walk::afterLastFrame() {
    // Past the plan's last step the walk only looked for frames that belong to it, so
    // whatever ended it there ends a complete cut.
    if (plan.lastStepTaken()) return CutEnd::windowComplete;
    if (input.readFailed() || format().stop() == FrameFormat::Stop::endOfInput) {
        return CutEnd::endOfInput;
    }
    result.badSpotOffset = format().frameOffset();
    result.badSpotReason = format().stopReason();
    // A stream of a kind the program does not cut ends at its first frame, with no output.
    if (!result.anyFrame && format().stop() == FrameFormat::Stop::unsupported) {
        return CutEnd::unsupported;
    }
    if (!options.resync || !frames.resync()) return CutEnd::badSpot;
    const std::uint64_t skipped = input.offset() - result.badSpotOffset;
    if (options.repair) return fill(result.badSpotOffset, skipped);
    return saySkipped(result.badSpotOffset, skipped);
}

// With repair: the skipped bytes stand for lost time, filled with silent steps modelled on
// the last whole step before them, which move the clock as the lost ones would have.
std::optional<CutEnd> Walk::fill(std::uint64_t offset, std::uint64_t skipped) {
    if (model.empty()) model.readAhead(frames, input);
    const std::vector<StepModel::SilentStep> steps =
        model.empty() ? std::vector<StepModel::SilentStep>{} : model.fill(skipped, format());
    if (steps.empty()) return saySkipped(offset, skipped);
    result.repaired = true;
    double seconds = 0.0;
    for (const StepModel::SilentStep& step : steps) seconds += step.duration;
    const std::size_t count = steps.size();
    const bool framePerStep = model.framePerStep();
    const bool estimate = format().lengthsVary();
    if (!say([this, seconds, count, framePerStep, skipped, offset, estimate] {
            events.filled(seconds, count, framePerStep, skipped, offset, estimate);
        })) {
        return CutEnd::writeFailed;
    }
    for (const StepModel::SilentStep& step : steps) {
        if (const std::optional<CutEnd> end = beginStep(step.duration)) return end;
        for (std::size_t i = 0; i < step.frames.size(); ++i) {
            const CutFrame frame{{i == 0, i == 0 ? step.duration : 0.0, stepStart, time, offset},
                                 step.frames[i]};
            if (const std::optional<CutEnd> end = place(frame)) return end;
        }
    }
    return std::nullopt;
}

std::optional<CutEnd> Walk::saySkipped(std::uint64_t offset, std::uint64_t skipped) {
    const std::string reason = result.badSpotReason;
    if (!say([this, offset, skipped, reason] { events.skipped(offset, skipped, reason); })) {
        return CutEnd::writeFailed;
    }
    return std::nullopt;
}

CutResult Walk::finish(CutEnd end) {
    // What is held goes out before anything that comes later in the stream is said.
    result.end = end;
    if (!result.outputFailed() && !plan.finish(time)) result.end = outputFailure();
    if (result.end != CutEnd::outputNotCreated && !plan.flush()) result.end = CutEnd::writeFailed;
    if (!result.outputFailed()) notices.release();
    result.time = time;
    result.readFailed = input.readFailed();
    result.core = options.core;
    result.delay = plan.delay();
    result.copied = plan.copied();
    result.failedOutput = plan.failedName();
    result.placed = plan.placed();
    result.notMuted = plan.notMuted();
    result.silenceLeftOut = plan.silentStepsLeftOut();
    if (result.end == CutEnd::badSpot) {
        result.unread = input.bytesAfter(result.badSpotOffset, result.unreadAtLeast);
    }
    return result;
}

}  // namespace

CutResult cut(FrameStream& frames, BitReader& input, const CutOptions& options, PlanWriter& plan,
              CutEvents& events) {
    return Walk(frames, input, options, plan, events).run();
}
