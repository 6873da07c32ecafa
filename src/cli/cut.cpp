#include "cli/cut.h"

#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "cli/output_file.h"
#include "cli/plan_writer.h"
#include "cli/repair.h"

namespace {

class Walk {
public:
    Walk(FrameReader& frames, BitReader& input, const CutOptions& options, OutputFile* output,
         PlanWriter* plan, CutEvents& events)
        : frames(frames),
          input(input),
          options(options),
          output(output),
          plan(plan),
          events(events) {
        if (output != nullptr) delay.emplace(options.delay, *output);
    }

    CutResult run();

private:
    std::optional<CutEnd> takeFrame();
    std::optional<CutEnd> place(const CutFrame& frame, bool copied = true);
    std::optional<CutEnd> placeInPlan(const CutFrame& frame, bool copied);
    std::optional<CutEnd> beginPlanStep(double duration);
    std::optional<CutEnd> checkedFrame(const CutFrame& frame);
    std::optional<CutEnd> afterLastFrame();
    std::optional<CutEnd> fill(std::uint64_t offset, std::uint64_t skipped);
    std::optional<CutEnd> saySkipped(std::uint64_t offset, std::uint64_t skipped);
    bool say(std::function<void()> notice);
    bool sayHeldBack();
    void modelAhead();
    void startStep(double duration) {
        time = duration + time;
        stepStart = time - duration;
    }
    CutResult finish(CutEnd end);
    CutEnd outputFailure() const {
        const bool notCreated = plan != nullptr ? plan->notCreated() : output->notCreated();
        return notCreated ? CutEnd::outputNotCreated : CutEnd::writeFailed;
    }
    bool flush() { return plan != nullptr ? plan->flush() : output->flush(); }
    bool writeFailed() const {
        return plan != nullptr ? plan->writeFailed() : output->writeFailed();
    }
    void endIfStopped() {
        if (plan != nullptr) {
            plan->endIfStopped();
        } else {
            output->endIfStopped();
        }
    }
    bool holding() const { return plan != nullptr ? plan->holding() : delay->holding(); }

    FrameReader& frames;
    BitReader& input;
    const CutOptions& options;
    OutputFile* output;  // a plain cut's, or
    PlanWriter* plan;    // the outputs of a plan
    CutEvents& events;
    std::optional<Delay> delay;  // of a plain cut
    StepModel model;             // with repair: what lost bytes are filled with
    Replacements replacements;   // with repair: what damaged frames are replaced with
    // The clock moves only at frames that step it; the frames after a step (E-AC-3 extensions
    // and other substreams) play alongside it and go with it, whole or not at all. Frames
    // before the first step are at time 0.
    double time = 0.0;
    double stepStart = 0.0;  // of the step the frame just read plays in
    bool windowComplete = false;
    // Notices about the stream wait while the delay holds the frames before them.
    std::vector<std::function<void()>> heldBack;
    CutResult result;
};

CutResult Walk::run() {
    bool haveFrame = frames.readFrame();
    while (true) {
        endIfStopped();
        // A write of frames held from before failed while the walk went on.
        if (writeFailed()) return finish(CutEnd::writeFailed);
        const std::optional<CutEnd> end = haveFrame ? takeFrame() : afterLastFrame();
        if (end) return finish(*end);
        haveFrame = frames.readFrame();
    }
}

// The clock, the window rule and the copy for the frame just read.
std::optional<CutEnd> Walk::takeFrame() {
    result.anyFrame = true;
    const bool step = frames.stepsClock();
    // The step that crossed `to` has been copied with everything that belongs to it.
    if (step && windowComplete) return CutEnd::windowComplete;
    const double duration = step ? frames.frameDuration() : 0.0;
    if (step && plan != nullptr) {
        if (const std::optional<CutEnd> end = beginPlanStep(duration)) return end;
    }
    if (step) startStep(duration);
    const CutFrame frame{{step, duration, stepStart, time, frames.frameOffset()},
                         frames.frameData()};
    return options.check ? checkedFrame(frame) : place(frame);
}

// A frame whose step is on the clock: copied if it lies in the window, and its step's
// progress line shown up to the window's end.
std::optional<CutEnd> Walk::place(const CutFrame& frame, bool copied) {
    if (options.core && !frame.steps && copied) {
        // An extension of a step that is copied is left out, and counted.
        const bool copiedOtherwise = plan != nullptr ? plan->taking() : time >= options.from;
        result.coreFrames += copiedOtherwise;
        result.coreBytes += copiedOtherwise ? frame.bytes.size() : 0;
        copied = false;
    }
    if (plan != nullptr) return placeInPlan(frame, copied);
    if (time >= options.from) {
        result.windowReached = true;
        if (copied && frame.steps && !delay->endHeldStep()) return outputFailure();
        if (!sayHeldBack()) return CutEnd::writeFailed;
        if (copied && !delay->copy(frame)) return outputFailure();
    }
    if (!frame.steps) return std::nullopt;
    if (time > options.to) {
        windowComplete = true;
    } else {
        delay->progressLine(time);
        output->showProgressIfDue();
    }
    return std::nullopt;
}

// A plan decides where each step goes when it begins (see beginPlanStep); its frames follow.
std::optional<CutEnd> Walk::placeInPlan(const CutFrame& frame, bool copied) {
    // A plan has no window: ranges that start after the end of the input are said apart.
    result.windowReached = true;
    if (!sayHeldBack()) return CutEnd::writeFailed;
    if (!plan->place(frame.bytes, copied, frame.offset)) return outputFailure();
    if (frame.steps) {
        plan->progressLine(time);
        plan->showProgressIfDue();
    }
    return std::nullopt;
}

// A step begins at the clock's time: the plan says where it goes, or that the last range
// has ended before it, which ends the walk before the step is taken.
std::optional<CutEnd> Walk::beginPlanStep(double duration) {
    if (!plan->beginStep(time, duration + time, duration)) return outputFailure();
    if (plan->done()) return CutEnd::windowComplete;
    return std::nullopt;
}

// With check: a frame that fails is said; with repair, one in the window is replaced by a
// silent twin, or left out if it cannot hold one, so that its time stays.
std::optional<CutEnd> Walk::checkedFrame(const CutFrame& frame) {
    ++result.checked;
    const bool good = frames.crcsHold();
    if (good && options.repair) replacements.remember(frame.bytes);
    const std::vector<std::int32_t> twin =
        good || !options.repair ? std::vector<std::int32_t>{} : replacements.silentFor(frame.bytes);
    if (options.repair) model.add(twin.empty() ? frame.bytes : twin, frame.steps, frame.duration);
    if (good) return place(frame);
    ++result.failed;
    const double end = time;
    const std::uint64_t offset = frame.offset;
    if (!say([this, offset, end] { events.crcFailed(offset, end); })) {
        return CutEnd::writeFailed;
    }
    // An extension that --core leaves out is not replaced either.
    if (!options.repair || time < options.from || (options.core && !frame.steps)) {
        return place(frame);
    }
    result.repaired = true;
    const bool withSilence = !twin.empty();
    if (!say([this, offset, end, withSilence] { events.replaced(offset, end, withSilence); })) {
        return CutEnd::writeFailed;
    }
    return place({frame, twin}, withSilence);
}

// The walk met no whole, valid frame: it ends, or with resync goes on at the next frame.
std::optional<CutEnd> Walk::afterLastFrame() {
    // Past the window's last step the walk only looked for frames that belong to it, so
    // whatever ended it there ends a complete cut.
    if (windowComplete) return CutEnd::windowComplete;
    if (input.readFailed() || frames.stop() == FrameReader::Stop::endOfInput) {
        return CutEnd::endOfInput;
    }
    result.badSpotOffset = frames.frameOffset();
    result.badSpotReason = frames.stopReason();
    if (!options.resync || !frames.resync()) return CutEnd::badSpot;
    const std::uint64_t skipped = input.offset() - result.badSpotOffset;
    if (options.repair) return fill(result.badSpotOffset, skipped);
    return saySkipped(result.badSpotOffset, skipped);
}

// With repair: the skipped bytes stand for lost time, filled with silent steps modelled on
// the last whole step before them, which move the clock as the lost ones would have.
std::optional<CutEnd> Walk::fill(std::uint64_t offset, std::uint64_t skipped) {
    if (model.empty()) modelAhead();
    const std::vector<StepModel::SilentStep> steps =
        model.empty() ? std::vector<StepModel::SilentStep>{} : model.fill(skipped);
    if (steps.empty()) return saySkipped(offset, skipped);
    result.repaired = true;
    double seconds = 0.0;
    for (const StepModel::SilentStep& step : steps) seconds += step.duration;
    const std::size_t count = steps.size();
    const bool framePerStep = model.framePerStep();
    if (!say([this, seconds, count, framePerStep, skipped, offset] {
            events.filled(seconds, count, framePerStep, skipped, offset);
        })) {
        return CutEnd::writeFailed;
    }
    for (const StepModel::SilentStep& step : steps) {
        if (windowComplete) return CutEnd::windowComplete;
        if (plan != nullptr) {
            if (const std::optional<CutEnd> end = beginPlanStep(step.duration)) return end;
        }
        startStep(step.duration);
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

// Something is said about the stream once the frames before it are in the file: at once, or,
// while the delay holds the cut's first step, once that step has gone out. False when a write
// failed; then it is not said.
bool Walk::say(std::function<void()> notice) {
    heldBack.push_back(std::move(notice));
    return sayHeldBack();
}

bool Walk::sayHeldBack() {
    if (heldBack.empty() || holding()) return true;
    if (!flush()) return false;
    for (const std::function<void()>& notice : heldBack) notice();
    heldBack.clear();
    return true;
}

// Lost bytes before the first step are filled like the first step after them: it is read
// ahead, and the reader steps back to it. The reader's history holds at least 8 KiB.
void Walk::modelAhead() {
    const std::uint64_t at = input.offset();
    while (frames.readFrame()) {
        if (!model.empty() && frames.stepsClock()) break;
        const bool step = frames.stepsClock();
        model.add(frames.frameData(), step, step ? frames.frameDuration() : 0.0);
        if (input.offset() - at + 4096 > BitReader::historySize) break;
    }
    input.seek(at);
}

CutResult Walk::finish(CutEnd end) {
    // What is held goes out before anything that comes later in the stream is said.
    result.end = end;
    if (!result.outputFailed() && !(plan != nullptr ? plan->finish(time) : delay->finish())) {
        result.end = outputFailure();
    }
    if (result.end != CutEnd::outputNotCreated && !flush()) result.end = CutEnd::writeFailed;
    if (!result.outputFailed()) sayHeldBack();
    result.time = time;
    result.readFailed = input.readFailed();
    result.core = options.core;
    if (delay) {
        result.delay = delay->result();
        result.copied = delay->copied();
    } else {
        result.failedOutput = plan->failedName();
        result.placed = plan->placed();
        result.notMuted = plan->notMuted();
        result.silenceLeftOut = plan->silentStepsLeftOut();
    }
    if (result.end == CutEnd::badSpot) {
        // A regular file's size is known; any other input is known to its end only when it
        // was read to its end.
        const std::int64_t size = input.atEnd() ? static_cast<std::int64_t>(input.bytesReceived())
                                                : platform::fileSize(input.handle());
        result.unreadAtLeast = size < 0;
        result.unread =
            (result.unreadAtLeast ? input.bytesReceived() : static_cast<std::uint64_t>(size)) -
            result.badSpotOffset;
    }
    return result;
}

}  // namespace

CutResult cut(FrameReader& frames, BitReader& input, const CutOptions& options, OutputFile& output,
              CutEvents& events) {
    return Walk(frames, input, options, &output, nullptr, events).run();
}

CutResult cut(FrameReader& frames, BitReader& input, const CutOptions& options, PlanWriter& plan,
              CutEvents& events) {
    return Walk(frames, input, options, nullptr, &plan, events).run();
}
