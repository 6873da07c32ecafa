#include "cli/cut.h"

#include <optional>

#include "cli/output_file.h"

namespace {

class Walk {
public:
    Walk(FrameReader& frames, BitReader& input, const CutOptions& options, OutputFile& output,
         CutEvents& events)
        : frames(frames),
          input(input),
          options(options),
          output(output),
          events(events),
          delay(options.delay, output) {}

    CutResult run();

private:
    std::optional<CutEnd> takeFrame();
    std::optional<CutEnd> afterLastFrame();
    CutResult finish(CutEnd end);
    CutEnd outputFailure() const {
        return output.notCreated() ? CutEnd::outputNotCreated : CutEnd::writeFailed;
    }

    FrameReader& frames;
    BitReader& input;
    const CutOptions& options;
    OutputFile& output;
    CutEvents& events;
    Delay delay;
    // The clock moves only at frames that step it; the frames after a step (E-AC-3 extensions
    // and other substreams) play alongside it and go with it, whole or not at all. Frames
    // before the first step are at time 0.
    double time = 0.0;
    double stepStart = 0.0;  // of the step the frame just read plays in
    bool windowComplete = false;
    CutResult result;
};

CutResult Walk::run() {
    bool haveFrame = frames.readFrame();
    while (true) {
        output.endIfStopped();
        // A write of frames held from before failed while the walk went on.
        if (output.writeFailed()) return finish(CutEnd::writeFailed);
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
    if (step) {
        const double duration = frames.frameDuration();
        time = duration + time;
        stepStart = time - duration;
    }
    if (time >= options.from) {
        result.windowReached = true;
        if (!delay.copy(frames, stepStart, time)) return outputFailure();
    }
    if (!step) return std::nullopt;
    if (time > options.to) {
        windowComplete = true;
    } else {
        delay.progressLine(time);
        output.showProgressIfDue();
    }
    return std::nullopt;
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
    // The frames before the skipped bytes are in the file before it is said.
    if (!output.flush()) return CutEnd::writeFailed;
    events.skipped(result.badSpotOffset, input.offset() - result.badSpotOffset,
                   result.badSpotReason);
    return std::nullopt;
}

CutResult Walk::finish(CutEnd end) {
    // What is held goes out before anything that comes later in the stream is said.
    const bool outputFailed = end == CutEnd::outputNotCreated || end == CutEnd::writeFailed;
    if (!outputFailed && !delay.finish()) end = outputFailure();
    if (end != CutEnd::outputNotCreated && !output.flush()) end = CutEnd::writeFailed;
    result.end = end;
    result.time = time;
    result.readFailed = input.readFailed();
    result.delay = delay.result();
    result.copied = delay.copied();
    if (end == CutEnd::badSpot) {
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
    return Walk(frames, input, options, output, events).run();
}
