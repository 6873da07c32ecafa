// Moving a cut in time: silent time steps before its first frame, or time steps left out at
// its start. It stands between the walk and the output file for the frames the walk copies,
// and keeps count of what of the input went into the output.
#pragma once

#include <cstdint>
#include <vector>

class OutputFile;

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

struct DelayResult {
    double asked = 0.0;
    int steps = 0;         // silent steps added (asked > 0) or steps left out (asked < 0)
    double seconds = 0.0;  // how far the cut moved: the silence added, or less the time left out
    bool framePerStep = true;           // each of those steps is one frame
    bool everythingLeftOut = false;     // the cut held no more steps than were to be left out
    bool noSilentFrame = false;         // the first step's frames cannot hold a silent twin
    std::uint64_t referenceOffset = 0;  // where the first copied frame starts in the input
};

// Where the frames of the input that went into the output lie on the input's clock.
struct CopiedSpan {
    std::uint64_t frames = 0;
    std::uint64_t bytes = 0;
    double start = 0.0;  // the start of the first one's time step
    double end = 0.0;    // the end of the last one's time step
};

class Delay {
public:
    Delay(double seconds, OutputFile& output);

    // Copies the frame, or holds it, or leaves it out. False when the output failed.
    bool copy(const CutFrame& frame);
    // Before a frame that starts a step: the first step, if it is held, is whole, and goes
    // out (or is left out). False when the output failed.
    bool endHeldStep();
    // Frames of the cut are held back for the silence that goes in front of them.
    bool holding() const { return !held.empty(); }
    // The progress line of a step: held with the frames it follows, if they are held.
    void progressLine(double time);
    // The walk is over: what is held goes out. False when the output failed.
    bool finish();

    const DelayResult& result() const { return delay; }
    const CopiedSpan& copied() const { return span; }

private:
    struct Held : FramePlace {
        std::vector<std::int32_t> bytes;
    };
    enum class State { waiting, passing, leavingOut };

    bool release();
    bool addSilence(std::size_t firstStep, int steps);
    bool write(const std::vector<std::int32_t>& bytes, double stepStart, double stepEnd);
    void leaveOut(const FramePlace& frame);

    OutputFile& output;
    State state;
    std::vector<Held> held;  // the cut's first step, and any frames before it
    std::vector<double> heldLines;
    int stepsToLeaveOut = 0;
    DelayResult delay;
    CopiedSpan span;
};
