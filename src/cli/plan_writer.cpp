#include "cli/plan_writer.h"

#include <utility>

#include "stream/silent_frame.h"

PlanWriter::PlanWriter(const Plan& plan, const std::string& name, platform::FileHandle input,
                       ProgressLine& progress)
    : plan(plan), name(name), input(input), progress(progress), seams(plan) {}

bool PlanWriter::place(const std::vector<std::int32_t>& frame, bool copied, std::uint64_t offset) {
    if (!copied) return true;
    std::vector<std::int32_t> twin;
    if (begun && seams.muted() && taking()) {
        twin = silentFrame(frame);
        if (twin.empty()) unmuted.push_back(offset);
    }
    const std::vector<std::int32_t>& out = twin.empty() ? frame : twin;
    if (!begun) {
        beforeFirstStep.push_back(out);
        return true;
    }
    if (keeping) stepFrames.push_back(out);
    if (held) return true;
    for (const Placement& p : placements) {
        if (p.withStep && !write(p.output, out)) return false;
    }
    return true;
}

bool PlanWriter::taking() const {
    for (const Placement& p : placements) {
        if (p.withStep) return true;
    }
    return false;
}

bool PlanWriter::beginStep(double start, double end, double duration) {
    if (!endHeldStep()) return false;
    previousStep.clear();
    if (keeping) std::swap(previousStep, stepFrames);
    placements = seams.step(start, end, duration, previousDuration);
    previousDuration = duration;
    for (const Placement& p : placements) {
        // Twins of this step, or of one that was not kept, wait until this step is whole.
        held = held || (p.silentSteps > 0 && (p.twinOfThisStep || previousStep.empty()));
    }
    keeping = held || seams.silenceNear(end);
    begun = true;
    for (const Placement& p : placements) {
        if (held) break;
        if (!writeSilence(p.output, previousStep, p.silentSteps) || !writeFramesAtZero(p)) {
            return false;
        }
    }
    if (!held) beforeFirstStep.clear();
    return closeDone(seams.outputsDone());
}

// Frames before the stream's first step play at 0 s, along with it.
bool PlanWriter::writeFramesAtZero(const Placement& p) {
    if (!p.withStep) return true;
    for (const std::vector<std::int32_t>& frame : beforeFirstStep) {
        if (!write(p.output, frame)) return false;
    }
    return true;
}

// A step held for its own twins is whole: they go in, then the step.
bool PlanWriter::endHeldStep() {
    if (!held) return true;
    held = false;
    for (const Placement& p : placements) {
        if (!writeSilence(p.output,
                          p.twinOfThisStep || previousStep.empty() ? stepFrames : previousStep,
                          p.silentSteps)) {
            return false;
        }
        if (!p.withStep) continue;
        if (!writeFramesAtZero(p)) return false;
        for (const std::vector<std::int32_t>& frame : stepFrames) {
            if (!write(p.output, frame)) return false;
        }
    }
    beforeFirstStep.clear();
    return true;
}

bool PlanWriter::writeSilence(std::size_t output, const Frames& reference, std::uint64_t steps) {
    if (steps == 0) return true;
    const Frames twins = silentStep(reference);
    // A step too short to hold silent twins gets no silence, which is said.
    if (twins.empty()) {
        silenceLeftOut += steps;
        return true;
    }
    for (std::uint64_t step = 0; step < steps; ++step) {
        for (const std::vector<std::int32_t>& twin : twins) {
            if (!write(output, twin)) return false;
        }
    }
    return true;
}

bool PlanWriter::write(std::size_t output, const std::vector<std::int32_t>& frame) {
    auto found = open.find(output);
    if (found == open.end()) {
        found = open.emplace(output,
                             Open{plan.outputName(name, output), platform::invalidHandle, nullptr})
                    .first;
        Open& o = found->second;
        o.file = std::make_unique<OutputFile>(o.name, o.handle, input, progress);
    }
    Open& o = found->second;
    if (last != o.file.get()) {
        // The lines held by the file written before go out first, in order.
        if (last != nullptr && !last->flush()) return false;
        last = o.file.get();
    }
    if (!o.file->writeFrame(frame)) return fail(o);
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
        if (last == o.file.get()) last = nullptr;
        if (!o.file->close()) return fail(o);
        open.erase(open.begin());
    }
    return true;
}

void PlanWriter::progressLine(double time) {
    if (last != nullptr) {
        last->progressLine(time);
    } else {
        progress.show(time);
    }
}

void PlanWriter::showProgressIfDue() {
    if (progress.due() && flush()) progress.flushNow();
}

bool PlanWriter::finish(double end) {
    if (!endHeldStep()) return false;
    const Frames none;
    const Frames& lastStep = keeping ? stepFrames : none;
    for (const Placement& p : seams.finish(end, previousDuration)) {
        if (!writeSilence(p.output, lastStep, p.silentSteps)) return false;
    }
    return closeDone(SIZE_MAX);
}

bool PlanWriter::flush() {
    for (auto& [index, o] : open) {
        if (!o.file->flush()) return fail(o);
    }
    return true;
}

void PlanWriter::endIfStopped() {
    if (!platform::stopRequested()) return;
    flush();
    platform::endAsStopped();
}
