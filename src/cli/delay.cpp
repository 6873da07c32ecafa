#include "cli/delay.h"

#include <cmath>

#include "cli/output_file.h"
#include "stream/silent_frame.h"

Delay::Delay(double seconds, OutputFile& output)
    : output(output), state(seconds == 0.0 ? State::passing : State::waiting) {
    delay.asked = seconds;
}

bool Delay::copy(const CutFrame& frame) {
    if (frame.steps && !endHeldStep()) return false;
    if (state == State::passing) return write(frame.bytes, frame.stepStart, frame.stepEnd);
    if (state == State::leavingOut) {
        if (frame.steps && stepsToLeaveOut == 0) {
            state = State::passing;
            return copy(frame);
        }
        leaveOut(frame);
        return true;
    }
    // Waiting: the first step is held whole, since the silence goes in front of it.
    held.push_back({frame, frame.bytes});
    return true;
}

bool Delay::endHeldStep() {
    if (state != State::waiting) return true;
    bool stepHeld = false;
    for (const Held& before : held) stepHeld = stepHeld || before.steps;
    return !stepHeld || release();
}

void Delay::progressLine(double time) {
    if (held.empty()) {
        output.progressLine(time);
    } else {
        heldLines.push_back(time);
    }
}

bool Delay::finish() {
    if (state == State::waiting && !held.empty() && !release()) return false;
    delay.everythingLeftOut = delay.asked < 0 && delay.steps > 0 && span.frames == 0;
    return true;
}

// The first step is complete: k of its time decide how many steps to add or leave out, k
// rounded to the nearest whole number, halves up.
bool Delay::release() {
    std::size_t first = 0;  // frames before the stream's first step may come before it
    while (first < held.size() && !held[first].steps) ++first;
    const double duration = first < held.size() ? held[first].duration : 0.0;
    const int steps =
        duration > 0.0 ? static_cast<int>(std::floor(std::fabs(delay.asked) / duration + 0.5)) : 0;
    delay.referenceOffset = held.front().offset;
    state = State::passing;
    bool ok = true;
    if (delay.asked > 0) {
        ok = addSilence(first, steps);
    } else if (steps > 0) {
        stepsToLeaveOut = steps;
        for (const Held& frame : held) leaveOut(frame);
        state = State::leavingOut;
    }
    for (std::size_t i = 0; ok && state == State::passing && i < held.size(); ++i) {
        ok = write(held[i].bytes, held[i].stepStart, held[i].stepEnd);
    }
    held.clear();
    for (const double time : heldLines) output.progressLine(time);
    heldLines.clear();
    return ok;
}

// `steps` silent twins of the first step, frames `first` on, go in front of it.
bool Delay::addSilence(std::size_t first, int steps) {
    std::vector<std::vector<std::int32_t>> twins;
    for (std::size_t i = first; i < held.size(); ++i) {
        twins.push_back(silentFrame(held[i].bytes));
        if (twins.back().empty()) {
            delay.noSilentFrame = true;
            delay.referenceOffset = held[i].offset;
            return true;
        }
    }
    for (int step = 0; step < steps; ++step) {
        for (const std::vector<std::int32_t>& twin : twins) {
            if (!output.writeFrame(twin)) return false;
        }
    }
    delay.steps = steps;
    delay.seconds = steps * held[first].duration;
    delay.framePerStep = twins.size() == 1;
    return true;
}

// A frame of the input goes into the output: the span it lies in grows.
bool Delay::write(const std::vector<std::int32_t>& bytes, double stepStart, double stepEnd) {
    if (!output.writeFrame(bytes)) return false;
    if (span.frames == 0) span.start = stepStart;
    span.end = stepEnd;
    ++span.frames;
    span.bytes += bytes.size();
    return true;
}

// A frame of a step that is left out; the step that starts with it is counted.
void Delay::leaveOut(const FramePlace& frame) {
    if (frame.steps) {
        --stepsToLeaveOut;
        ++delay.steps;
        delay.seconds -= frame.duration;
    } else if (delay.steps > 0) {
        delay.framePerStep = false;
    }
}
