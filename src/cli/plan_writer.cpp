#include "cli/plan_writer.h"

#include <utility>

PlanWriter::PlanWriter(const Plan& plan, const std::string& name, platform::FileHandle& handle,
                       platform::FileHandle input, ProgressLine& progress,
                       const FrameStream& stream)
    : plan(plan),
      name(name),
      firstHandle(handle),
      input(input),
      progress(progress),
      stream(stream),
      seams(plan) {
    shift.asked = plan.delay;
    FramesAtZero zero = seams.atZero();
    zeroPlacements = std::move(zero.placements);
    placements = &zeroPlacements;
    zeroFramesWait = zero.wait;
}

bool PlanWriter::placeKept(const CutFrame& frame) {
    // A step that goes nowhere is not even kept.
    if (begun && !keeping && placements->empty()) return true;
    std::vector<std::int32_t> twin;
    if (begun && seams.muted() && taking()) {
        twin = stream.format().silentFrame(frame.bytes);
        if (twin.empty()) unmuted.push_back(frame.offset);
    }
    const std::vector<std::int32_t>& out = twin.empty() ? frame.bytes : twin;
    if (!begun && zeroFramesWait) {
        beforeFirstStep.push_back(out);
        return true;
    }
    if (keeping) {
        stepFrames.push_back(out);
        stepOffsets.push_back(frame.offset);
    }
    if (held) return true;
    return copyToAll(frame, out);
}

bool PlanWriter::copyToAll(const CutFrame& frame, const std::vector<std::int32_t>& out) {
    for (const Placement& p : *placements) {
        if (!p.withStep) continue;
        if (p.leftOut) {
            // A step left out is one frame only if nothing plays alongside it.
            if (!frame.steps && shift.steps > 0) shift.framePerStep = false;
            continue;
        }
        if (!copy(p.output, out, stepStart, stepEnd)) return false;
    }
    return true;
}

bool PlanWriter::taking() const {
    for (const Placement& p : *placements) {
        if (p.withStep) return true;
    }
    return false;
}

bool PlanWriter::placeStep(double start, double end, double duration) {
    if (held && !endHeldStep()) return false;
    // Only kept steps hold frames; the vectors of the others stay empty.
    if (keeping) {
        previousStep.clear();
        std::swap(previousStep, stepFrames);
        stepOffsets.clear();
    } else if (!previousStep.empty()) {
        previousStep.clear();
    }
    placements = &seams.step(start, end, duration, previousDuration);
    previousDuration = duration;
    stepStart = start;
    stepEnd = end;
    bool silence = false;
    for (const Placement& p : *placements) {
        if (p.leftOut) {
            ++shift.steps;
            shift.seconds -= duration;
        }
        // Twins of this step, or of one that was not kept, wait until this step is whole.
        silence = silence || p.silentSteps > 0 || p.twinOfThisStep;
        held = held || ((p.silentSteps > 0 || p.twinOfThisStep) &&
                        (p.twinOfThisStep || previousStep.empty()));
    }
    keeping = held || seams.silenceNear(end);
    const bool first = !begun;
    begun = true;
    for (const Placement& p : *placements) {
        if (held) break;
        if ((silence && !writeSilence(p, previousStep)) || (first && !writeFramesAtZero(p))) {
            return false;
        }
    }
    if (!held && first) beforeFirstStep.clear();
    const std::size_t below = seams.outputsDone();
    return below == 0 || closeDone(below);
}

// Frames before the stream's first step play at 0 s, along with it.
bool PlanWriter::writeFramesAtZero(const Placement& p) {
    if (!p.withStep || p.leftOut) return true;
    for (const std::vector<std::int32_t>& frame : beforeFirstStep) {
        if (!copy(p.output, frame, 0.0, 0.0)) return false;
    }
    return true;
}

// A step held for its own twins is whole: they go in, then the step. Its progress lines
// follow its frames, also when a write failed.
bool PlanWriter::endHeldStep() {
    if (!held) return true;
    held = false;
    bool ok = true;
    for (std::size_t i = 0; ok && i < placements->size(); ++i) ok = writeHeldStep((*placements)[i]);
    beforeFirstStep.clear();
    showHeldLines();
    return ok;
}

bool PlanWriter::writeHeldStep(const Placement& p) {
    const Frames& reference = p.twinOfThisStep || previousStep.empty() ? stepFrames : previousStep;
    if (!writeSilence(p, reference)) return false;
    if (!p.withStep || p.leftOut) return true;
    if (!writeFramesAtZero(p)) return false;
    for (const std::vector<std::int32_t>& frame : stepFrames) {
        if (!copy(p.output, frame, stepStart, stepEnd)) return false;
    }
    return true;
}

bool PlanWriter::writeSilence(const Placement& p, const Frames& reference) {
    if (p.silentSteps == 0 && !p.twinOfThisStep) return true;
    const Frames twins = stream.format().silentStep(reference);
    if (twins.empty()) {
        noTwin(p, reference);
        return true;
    }
    if (plan.delay > 0.0) {
        shift.steps = static_cast<std::int64_t>(p.silentSteps);
        shift.seconds = static_cast<double>(p.silentSteps) * previousDuration;
        shift.framePerStep = twins.size() == 1;
    }
    for (std::uint64_t step = 0; step < p.silentSteps; ++step) {
        for (const std::vector<std::int32_t>& twin : twins) {
            if (!write(p.output, twin)) return false;
        }
    }
    return true;
}

// A step too short to hold silent twins gets no silence, which is said: a delay names the
// frame that cannot hold one.
void PlanWriter::noTwin(const Placement& p, const Frames& reference) {
    if (plan.delay <= 0.0) {
        silenceLeftOut += p.silentSteps;
        return;
    }
    shift.noSilentFrame = true;
    for (std::size_t i = 0; i < reference.size() && i < stepOffsets.size(); ++i) {
        if (stream.format().silentFrame(reference[i]).empty()) {
            shift.referenceOffset = stepOffsets[i];
            return;
        }
    }
}

// A frame of the input goes into an output: the span it lies in grows.
bool PlanWriter::copy(std::size_t output, const std::vector<std::int32_t>& frame, double start,
                      double end) {
    if (!write(output, frame)) return false;
    spanGrows(frame.size(), start, end);
    return true;
}

bool PlanWriter::write(std::size_t output, const std::vector<std::int32_t>& frame) {
    // Most frames go where the one before went.
    if ((current == nullptr || output != currentOutput) && !switchTo(output)) return false;
    if (!current->file->writeFrame(frame)) return fail(*current);
    return true;
}

bool PlanWriter::switchTo(std::size_t output) {
    auto found = open.find(output);
    if (found == open.end()) {
        found = open.emplace(output,
                             Open{plan.outputName(name, output), platform::invalidHandle, nullptr})
                    .first;
        Open& o = found->second;
        // The one output of a plan that numbers none is the program's output file.
        platform::FileHandle& handle = output == 0 && !plan.numbered ? firstHandle : o.own;
        o.file = std::make_unique<OutputFile>(o.name, handle, input, progress);
    }
    Open& o = found->second;
    // The lines held by the file written before go out first, in order.
    if (current != nullptr && current != &o && !current->file->flush()) return false;
    current = &o;
    currentOutput = output;
    return true;
}

bool PlanWriter::fail(const Open& o) {
    failed = o.name;
    creationFailed = o.file->notCreated();
    return false;
}

// The outputs below `below` get nothing more: they are written out and closed.
bool PlanWriter::closeDone(std::size_t below) {
    while (!open.empty() && open.begin()->first < below) {
        Open& o = open.begin()->second;
        if (!o.file->flush()) return fail(o);
        if (current == &o) current = nullptr;
        if (!o.file->close()) return fail(o);
        open.erase(open.begin());
    }
    return true;
}

// A line that waits for held frames, or one with no frame in a file before it.
void PlanWriter::progressLineAside(double time) {
    if (holding()) {
        heldLines.push_back(time);
    } else {
        progress.show(time);
    }
}

void PlanWriter::showHeldLines() {
    const std::vector<double> lines = std::move(heldLines);
    heldLines.clear();
    for (const double time : lines) progressLine(time);
}

void PlanWriter::showProgressNow() {
    if (flush()) progress.flushNow();
}

bool PlanWriter::finish(double end) {
    if (!endHeldStep()) return false;
    // Frames at 0 s with no step after them go where the first step would have.
    for (std::size_t i = 0; !begun && i < zeroPlacements.size(); ++i) {
        if (!writeFramesAtZero(zeroPlacements[i])) return false;
    }
    beforeFirstStep.clear();
    const Frames none;
    const Frames& lastStep = keeping ? stepFrames : none;
    for (const Placement& p : seams.finish(end, previousDuration)) {
        if (!writeSilence(p, lastStep)) return false;
    }
    shift.everythingLeftOut = shift.asked < 0 && shift.steps > 0 && span.frames == 0;
    return closeDone(seams.outputsDone());
}

bool PlanWriter::flush() {
    for (auto& [index, o] : open) {
        if (!o.file->flush()) return fail(o);
    }
    return true;
}

void PlanWriter::endAsStopped() {
    flush();
    platform::endAsStopped();
}

bool PlanWriter::close() {
    bool closed = true;
    for (auto& [index, o] : open) closed = o.file->close() && closed;
    open.clear();
    current = nullptr;
    return closed;
}
