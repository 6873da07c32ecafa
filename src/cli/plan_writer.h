// Carrying out a plan: each time step into the outputs its seams give it, silent steps where
// they go in, the steps a negative delay leaves out, and the life of each output file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/output_file.h"
#include "cli/plan.h"
#include "stream/frame_stream.h"

// Where a frame stands on the clock, and in the input.
struct FramePlace {
    bool steps;                 // it starts a time step
    double duration;            // of the step it starts
    double stepStart, stepEnd;  // of the step it plays in
    std::uint64_t offset;       // where it, or the damage it stands for, is in the input
};

// A frame on its way into the output: one the walk read, or one it made.
struct CutFrame : FramePlace {
    const std::vector<std::int32_t>& bytes;
};

// What a window's delay did.
struct DelayResult {
    double asked = 0.0;
    std::int64_t steps = 0;  // silent steps added (asked > 0) or steps left out (asked < 0)
    bool samples = false;    // the steps are samples
    double seconds = 0.0;  // how far the cut moved: the silence added, or less the time left out
    bool framePerStep = true;           // each of those steps is one frame
    bool everythingLeftOut = false;     // the cut held no more steps than were to be left out
    bool noSilentFrame = false;         // the first step's frames cannot hold a silent twin
    std::uint64_t referenceOffset = 0;  // of the frame that cannot
};

// Where the frames of the input that went into the outputs lie on the input's clock.
struct CopiedSpan {
    std::uint64_t frames = 0;  // or samples, where the format cuts on samples
    bool samples = false;
    std::uint64_t bytes = 0;
    double start = 0.0;  // the start of the first one's time step
    double end = 0.0;    // the end of the last one's time step
};

class PlanWriter {
public:
    // `name` is the output name, numbered when the plan says so; the first output keeps its
    // handle in `handle`. `input` is the input's handle, which no output may be. Silent frames
    // are made in the format of `stream`.
    PlanWriter(const Plan& plan, const std::string& name, platform::FileHandle& handle,
               platform::FileHandle input, ProgressLine& progress, const FrameStream& stream);
    PlanWriter(const PlanWriter&) = delete;
    PlanWriter& operator=(const PlanWriter&) = delete;

    // A time step starts: the one before it is whole. The seams say where this one goes, and
    // the silence due before it goes in. False when an output failed.
    bool beginStep(double start, double end, double duration) {
        // The steps before a window only move the clock, and those inside it go where the one
        // before went: the walk passes most of them.
        if (begun && !held && !keeping && previousStep.empty() &&
            (end < seams.idleBefore() || seams.steadyStep(end))) {
            previousDuration = duration;
            stepStart = start;
            stepEnd = end;
            return true;
        }
        return placeStep(start, end, duration);
    }
    // What steadyStep() did with a step.
    enum class Steady {
        no,      // nothing: the step needs beginStep() and place()
        placed,  // its frame went into the output written last, its progress line with it
        failed,  // that output failed
    };
    // Most steps begin with a frame that goes where the frame before went, far from any seam,
    // with nothing held, kept or muted: such a frame begins its step, goes in and gives the
    // step's progress line at once, as beginStep(), place() and progressLine() would have.
    // Frames that play alongside it go through place().
    Steady steadyStep(double start, double end, double duration,
                      const std::vector<std::int32_t>& frame) {
        if (!plainStep() || !(end < seams.idleBefore() || seams.steadyStep(end))) {
            return Steady::no;
        }
        previousDuration = duration;
        stepStart = start;
        stepEnd = end;
        if (!current->file->writeFrame(frame)) {
            fail(*current);
            return Steady::failed;
        }
        spanGrows(frame.size(), start, end);
        if (seams.showsProgress(end)) current->file->progressLine(end);
        return Steady::placed;
    }
    // The step just begun goes nowhere, and nothing after it will: the walk is over.
    bool done() const { return seams.done(); }
    // Nothing after the steps begun so far goes anywhere.
    bool lastStepTaken() const { return seams.lastStepGiven(); }
    // A step that ends at `end` has reached the plan (see Seams::reached).
    bool reached(double end) const { return seams.reached(end); }
    bool beforeStart(double end) const { return seams.beforeStart(end); }
    // A frame of the step goes where the step goes, as its silent twin if the step is muted;
    // not `copied`, only its place is taken. False when an output failed.
    bool place(const CutFrame& frame, bool copied) {
        if (!copied) return true;
        // Most frames are neither kept nor muted: they go where their step goes, if anywhere.
        if (begun && !keeping && !seams.muted()) return copyToAll(frame, frame.bytes);
        return placeKept(frame);
    }
    // Any frame of the step just begun goes into an output.
    bool taking() const;
    // The frames of muted steps too short to hold a silent twin, which went out unchanged.
    const std::vector<std::uint64_t>& notMuted() const { return unmuted; }
    // Silent steps that could not be made, as the step they copy is too short for a twin.
    std::uint64_t silentStepsLeftOut() const { return silenceLeftOut; }
    // Frames are held until the step they wait for is whole: notices about the stream wait too.
    bool holding() const { return held || !beforeFirstStep.empty(); }
    bool writeFailed() const { return !failed.empty() && !creationFailed; }
    // The progress line of the step just placed: shown once the frames before it are written.
    void progressLine(double time) {
        if (!seams.showsProgress(time)) return;
        // Most lines wait in the file the frames before them went to.
        if (!holding() && current != nullptr) {
            current->file->progressLine(time);
        } else {
            progressLineAside(time);
        }
    }
    void showProgressIfDue() {
        if (progress.due()) showProgressNow();
    }
    // The input ended at `end`: what is held goes out, the silences due after it go in, and
    // every output but a window's is closed.
    bool finish(double end);
    // Hands everything held to the system. False when a write failed.
    bool flush();
    void endIfStopped() {
        if (platform::stopRequested()) endAsStopped();
    }
    // Closes what is still open. False when the system reports an error.
    bool close();

    // After a failure: the file it was, and whether it could not be created at all.
    const std::string& failedName() const { return failed; }
    bool notCreated() const { return creationFailed; }
    const std::vector<PlacedRange>& placed() const { return seams.placed(); }
    const DelayResult& delay() const { return shift; }
    const CopiedSpan& copied() const { return span; }

private:
    struct Open {
        std::string name;
        platform::FileHandle own = platform::invalidHandle;
        std::unique_ptr<OutputFile> file;
    };
    using Frames = FrameFormat::Frames;

    // The step in hand goes whole into the output written last, and only there.
    bool plainStep() const {
        if (!begun || held || keeping || !previousStep.empty() || !beforeFirstStep.empty() ||
            current == nullptr || seams.muted() || seams.lastStepGiven() || seams.done() ||
            placements->size() != 1) {
            return false;
        }
        const Placement& p = placements->front();
        return p.withStep && !p.leftOut && p.output == currentOutput;
    }
    // A frame of the input went into an output: the span it lies in grows.
    void spanGrows(std::size_t bytes, double start, double end) {
        if (span.frames == 0) span.start = start;
        span.end = end;
        ++span.frames;
        span.bytes += bytes;
    }
    void progressLineAside(double time);
    void showProgressNow();
    void endAsStopped();
    bool placeKept(const CutFrame& frame);
    // `out`, the frame or its twin, into every output the step goes into.
    bool copyToAll(const CutFrame& frame, const std::vector<std::int32_t>& out);
    bool placeStep(double start, double end, double duration);
    bool endHeldStep();
    bool writeHeldStep(const Placement& p);
    bool write(std::size_t output, const std::vector<std::int32_t>& frame);
    // Makes output `output` the one written to, opening it on its first frame.
    bool switchTo(std::size_t output);
    bool copy(std::size_t output, const std::vector<std::int32_t>& frame, double start, double end);
    bool writeSilence(const Placement& p, const Frames& reference);
    bool writeFramesAtZero(const Placement& p);
    void noTwin(const Placement& p, const Frames& reference);
    void showHeldLines();
    bool closeDone(std::size_t below);
    bool fail(const Open& open);

    const Plan& plan;
    const std::string& name;
    platform::FileHandle& firstHandle;
    platform::FileHandle input;
    ProgressLine& progress;
    const FrameStream& stream;
    Seams seams;
    std::map<std::size_t, Open> open;
    // The output the last frame went to, while it is open: its file holds the progress lines.
    Open* current = nullptr;
    std::size_t currentOutput = 0;
    std::vector<Placement> zeroPlacements;     // of the frames before the first step
    const std::vector<Placement>* placements;  // of the step now walked
    Frames stepFrames, previousStep;           // kept when a silence may need their twins
    std::vector<std::uint64_t> stepOffsets;    // where the kept frames of the step start
    Frames beforeFirstStep;                    // frames at 0 s, which go with the first step
    bool zeroFramesWait = true;                // or go where the plan puts them at once
    bool begun = false;
    double stepStart = 0.0, stepEnd = 0.0;
    double previousDuration = 0.0;
    bool keeping = false, held = false;
    std::vector<double> heldLines;  // progress lines of held steps
    std::vector<std::uint64_t> unmuted;
    std::uint64_t silenceLeftOut = 0;
    DelayResult shift;
    CopiedSpan span;
    std::string failed;
    bool creationFailed = false;
};
