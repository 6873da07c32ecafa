// Carrying out a plan of ranges or points: each time step into the outputs its seams give it,
// silent steps where they go in, and the life of each (numbered) output file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/output_file.h"
#include "cli/plan.h"

class PlanWriter {
public:
    // `name` is the output name, numbered when the plan says so; `input` the input's handle,
    // which no output may be.
    PlanWriter(const Plan& plan, const std::string& name, platform::FileHandle input,
               ProgressLine& progress);
    PlanWriter(const PlanWriter&) = delete;
    PlanWriter& operator=(const PlanWriter&) = delete;

    // A time step starts: the one before it is whole. The seams say where this one goes, and
    // the silence due before it goes in. False when an output failed.
    bool beginStep(double start, double end, double duration);
    // Every range has ended: the step just begun goes nowhere, and the walk is over.
    bool done() const { return seams.done(); }
    // A frame of the step, which starts at `offset` in the input, goes where the step goes,
    // as its silent twin if the step is muted; not `copied`, only its place is taken. False
    // when an output failed.
    bool place(const std::vector<std::int32_t>& frame, bool copied, std::uint64_t offset);
    // Any frame of the step just begun goes into an output.
    bool taking() const;
    // The frames of muted steps too short to hold a silent twin, which went out unchanged.
    const std::vector<std::uint64_t>& notMuted() const { return unmuted; }
    // Silent steps that could not be made, as the step they copy is too short for a twin.
    std::uint64_t silentStepsLeftOut() const { return silenceLeftOut; }
    // A step is held until it is whole, for twins of it that go in front of it.
    bool holding() const { return held; }
    bool writeFailed() const { return !failed.empty() && !creationFailed; }
    // The progress line of the step just placed: shown once the frames before it are written.
    void progressLine(double time);
    void showProgressIfDue();
    // The input ended at `end`: the silences due after it go in, and every output is closed.
    bool finish(double end);
    // Hands everything held to the system. False when a write failed.
    bool flush();
    void endIfStopped();

    // After a failure: the file it was, and whether it could not be created at all.
    const std::string& failedName() const { return failed; }
    bool notCreated() const { return creationFailed; }
    const std::vector<PlacedRange>& placed() const { return seams.placed(); }

private:
    struct Open {
        std::string name;
        platform::FileHandle handle = platform::invalidHandle;
        std::unique_ptr<OutputFile> file;
    };
    using Frames = std::vector<std::vector<std::int32_t>>;

    bool endHeldStep();
    bool write(std::size_t output, const std::vector<std::int32_t>& frame);
    bool writeSilence(std::size_t output, const Frames& reference, std::uint64_t steps);
    bool writeFramesAtZero(const Placement& p);
    bool closeDone(std::size_t below);
    bool fail(const Open& open);

    const Plan& plan;
    const std::string& name;
    platform::FileHandle input;
    ProgressLine& progress;
    Seams seams;
    std::map<std::size_t, Open> open;
    OutputFile* last = nullptr;  // the file the last frame went to: it holds the progress lines
    std::vector<Placement> placements;  // of the step now walked
    Frames stepFrames, previousStep;    // kept when a silence may need their twins
    Frames beforeFirstStep;             // frames at 0 s, which go with the first step
    bool begun = false;
    double previousDuration = 0.0;
    bool keeping = false, held = false;
    std::vector<std::uint64_t> unmuted;
    std::uint64_t silenceLeftOut = 0;
    std::string failed;
    bool creationFailed = false;
};
