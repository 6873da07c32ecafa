#include "cli/console.h"

#include <algorithm>
#include <iomanip>
#include <iostream>

namespace {

// "1 frame", "2 frames".
std::string counted(std::uint64_t count, const std::string& what) {
    return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
}

std::string frameAt(std::uint64_t offset, double end) {
    return "the frame at byte " + std::to_string(offset) + " (ending at " + secondsText(end) +
           " s)";
}

}  // namespace

Console::Console(const char* inputName, const std::string& outputName, bool verbose,
                 const Plan& plan)
    : inputName(inputName), outputName(outputName), verbose(verbose), plan(plan) {
    std::cout << std::fixed << std::setprecision(3);
}

void Console::cannotOpenInput() {
    std::cout << "could not open " << inputName << " for input" << std::endl;
}

void Console::writeFailed() { std::cout << "errors while writing to " << outputName << std::endl; }

void Console::ending() { std::cout << std::endl << "okay" << std::endl; }

// Pending progress text goes out first, so that a notice does not end up in front of it.
void Console::notice(const std::string& text) {
    std::cout.flush();
    // One write for the line: standard error is not held in a buffer.
    std::cerr << std::string("morvane: ") + inputName + ": " + text + "\n" << std::flush;
}

void Console::formatFound(const std::string& description) {
    if (verbose) notice(description);
}

void Console::skipped(std::uint64_t offset, std::uint64_t count, const std::string& reason) {
    notice("skipped " + std::to_string(count) + " bytes at byte " + std::to_string(offset) + " (" +
           reason + ")");
}

void Console::crcFailed(std::uint64_t offset, double end) {
    notice(frameAt(offset, end) + " fails its CRC check");
}

void Console::replaced(std::uint64_t offset, double end, bool withSilence, const std::string& why) {
    notice(withSilence ? "replaced " + frameAt(offset, end) + " with silence"
                       : "left out " + frameAt(offset, end) + ": " + why);
}

void Console::filled(double seconds, std::uint64_t steps, bool framePerStep, std::uint64_t count,
                     std::uint64_t offset, bool estimate) {
    notice(std::string("filled ") + (estimate ? "about " : "") + secondsText(seconds) + " s (" +
           counted(steps, framePerStep ? "silent frame" : "silent time step") + ") for " +
           counted(count, "byte") + " skipped at byte " + std::to_string(offset));
}

void Console::misnumbered(std::uint64_t offset, double end, std::uint64_t number,
                          std::uint64_t due) {
    notice(frameAt(offset, end) + " is numbered " + std::to_string(number) + " where " +
           std::to_string(due) + " comes next");
}

void Console::frameFault(std::uint64_t offset, double end, const std::string& what) {
    notice(frameAt(offset, end) + " " + what);
}

void Console::filledSamples(double seconds, std::uint64_t count, std::uint64_t offset) {
    notice("filled " + secondsText(seconds) + " s (" + counted(count, "silent sample") +
           ") that the frame numbers say are missing before byte " + std::to_string(offset));
}

bool Console::reportOutputFailure(const CutResult& result) {
    // Of a plan's outputs, the one that failed.
    if (!result.failedOutput.empty()) outputName = result.failedOutput;
    if (result.end == CutEnd::outputNotCreated) {
        std::cout << "could not open " << outputName << " for output" << std::endl;
    } else if (result.end == CutEnd::writeFailed) {
        writeFailed();
    }
    return result.outputFailed();
}

std::string Console::streamEnds(const CutResult& result) const {
    const std::string unread =
        (result.unreadAtLeast ? "at least " : "") + std::to_string(result.unread);
    return "the stream ends at byte " + std::to_string(result.badSpotOffset) + ", after " +
           secondsText(result.time) + " s: " + result.badSpotReason + "; " + unread +
           (result.unread == 1 ? " byte" : " bytes") + " left unread";
}

bool Console::reportEnd(const CutResult& result) {
    const bool readError = result.end != CutEnd::windowComplete && result.readFailed;
    if (readError) std::cout << "errors while reading from " << inputName << std::endl;
    if (result.end == CutEnd::unsupported) {
        notice(result.badSpotReason);
        return false;
    }
    if (!result.anyFrame && !result.readFailed) {
        notice("does not start with an AC-3 or E-AC-3 frame");
    } else if (result.end == CutEnd::badSpot) {
        notice(streamEnds(result));
    }
    if (result.emptyWindow) {
        notice("nothing to cut: the window holds no samples");
    } else if (result.anyFrame && !result.readFailed && !result.windowReached) {
        notice("nothing to cut: the window starts after the end of the stream, which is " +
               secondsText(result.time) + " s long");
    }
    if (result.anyFrame && !result.readFailed) afterTheEnd(result.time);
    sayWhatWasMade(result);
    return !readError;
}

// What the run left out, checked and moved, and with --verbose where the cut lies.
void Console::sayWhatWasMade(const CutResult& result) {
    for (const std::uint64_t offset : result.notMuted) {
        notice("not muted: the frame at byte " + std::to_string(offset) +
               " is too short to hold a silent frame");
    }
    if (result.silenceLeftOut > 0) {
        notice("left out " + counted(result.silenceLeftOut, "silent step") +
               ": the steps they copy are too short to hold silent frames");
    }
    for (std::size_t i = 0; verbose && i < result.headerNotes.size(); ++i) {
        notice(result.headerNotes[i]);
    }
    for (const std::string& note : result.outputNotes) notice(note);
    if (!result.unchecked.empty()) notice(result.unchecked);
    if (!result.damage.empty()) {
        notice(result.damage);
    } else if (result.failed > 0) {
        notice(std::to_string(result.failed) + " of " + counted(result.checked, "frame") +
               (result.misnumbered > 0 ? " failed their CRC or number check"
                : result.misplaced > 0 ? " failed their CRC or main data check"
                                       : " failed their CRC check"));
    }
    if (result.core) {
        notice("kept the core: left out " + counted(result.coreFrames, "frame") + " (" +
               counted(result.coreBytes, "byte") + ") of extensions");
    }
    const std::string delayed = delayText(result.delay);
    if (!delayed.empty()) notice(delayed);
    if (verbose && plan.isWindow() && result.copied.frames > 0) notice(span(result.copied));
    for (std::size_t i = 0; verbose && i < result.placed.size(); ++i) {
        notice(placedText(i + 1, result.placed[i]));
    }
}

// The edits, or the ranges, of a plan that lie after the end of a stream `length` long.
void Console::afterTheEnd(double length) {
    const std::string stream =
        " after the end of the stream, which is " + secondsText(length) + " s long: it ";
    if (!plan.edits.empty()) {
        for (const double at : plan.edits) {
            if (at > length)
                notice("the edit at " + secondsText(at) + " s is" + stream + "does nothing");
        }
        return;
    }
    if (plan.kind != Plan::Kind::ranges) return;
    for (const std::vector<PlanItem>& output : plan.outputs) {
        for (const PlanItem& range : output) {
            if (range.from > length) {
                notice("the range from " + secondsText(range.from) + " s starts" + stream +
                       "adds nothing");
            }
        }
    }
}

std::string Console::placedText(std::size_t part, const PlacedRange& range) const {
    // Signed, and no "-0.000" for a hair's breadth early.
    const bool late = range.offset > -0.0005;
    const std::string offset =
        (late ? "+" : "-") + secondsText(late ? std::max(range.offset, 0.0) : -range.offset);
    return "part " + std::to_string(part) + ": " + secondsText(range.start) + " s to " +
           secondsText(range.end) + " s of the input at " + secondsText(range.at) + " s of " +
           plan.outputName(outputName, range.output) + " (offset " + offset + " s)";
}

std::string Console::delayText(const DelayResult& delay) const {
    const std::string asked = " (" + secondsText(delay.asked) + " s asked)";
    if (delay.noSilentFrame) {
        return "not delayed: the frame at byte " + std::to_string(delay.referenceOffset) +
               " is too short to hold a silent frame" + asked;
    }
    if (delay.steps == 0) return "";
    const std::string unit = delay.samples ? "sample" : delay.framePerStep ? "frame" : "time step";
    const auto steps = static_cast<std::uint64_t>(delay.steps);
    const std::string moved = "delayed by " + secondsText(delay.seconds) + " s: ";
    if (delay.asked > 0)
        return moved + counted(steps, "silent " + unit) + " before the cut" + asked;
    if (delay.everythingLeftOut) {
        return moved + "all " + counted(steps, unit) +
               " of the cut left out, so there is no output" + asked;
    }
    return moved + counted(steps, unit) + " left out at the start of the cut" + asked;
}

std::string Console::span(const CopiedSpan& copied) const {
    return "cut " + secondsText(copied.start) + " s to " + secondsText(copied.end) +
           " s of the input (" + counted(copied.frames, copied.samples ? "sample" : "frame") +
           ", " + counted(copied.bytes, "byte") + ") into " + outputName;
}
