#include "cli/cut_driver.h"

#include <iostream>

#include "cli/command_line.h"
#include "cli/console.h"
#include "cli/cut.h"
#include "cli/plan_writer.h"
#include "cli/sample_cut.h"

std::string outputName;
platform::FileHandle outputHandle = platform::invalidHandle;

namespace {

constexpr int exitBadCommandLine = -1;
constexpr int exitFailure = 1;
constexpr int exitDamaged = 2;

}  // namespace

void printUsage() {
    std::cout << "morvane" << std::endl;
    std::cout << "usage: morvane infile from_second to_second" << std::endl;
    std::cout << "seconds may be typed in as 31.26 or 7827.65 or something like this..."
              << std::endl;
    std::cout << "v1.01" << std::endl;
}

namespace {

// The usage text, then what a person needs to find the options, after the four lines that
// scripts may read.
int badCommandLine(const std::string& why) {
    printUsage();
    std::cerr << why << optionSummary();
    return exitBadCommandLine;
}

}  // namespace

int main(int argc, char* argv[]) {
    // All output goes through std::cout; it need not stay in step with C stdio.
    std::ios::sync_with_stdio(false);
    CommandLine line;
    if (!parseCommandLine(argc, argv, line)) return badCommandLine(line.badValue);
    outputName = line.output != nullptr ? std::string(line.output)
                                        : std::string(line.input).insert(0, "morvane_");
    Console console(line.input, outputName, line.verbose, line.plan);
    // Stopped by the user or the system, the run still writes out the frames it holds.
    platform::catchStopRequests();

    BitReader bitReader(line.input);
    if (!bitReader.isOpen()) {
        console.cannotOpenInput();
        console.ending();
        return exitFailure;
    }
    FrameStream frames(bitReader);
    // Whether --core has anything to leave out is known once the format is.
    if (line.core && !frames.format().hasExtensions()) {
        return badCommandLine(std::string("morvane: bad --core: ") + line.input + " is " +
                              frames.format().name() + ", which has nothing to leave out\n");
    }
    ProgressLine progress(line.quiet);
    PlanWriter output(line.plan, outputName, outputHandle, bitReader.handle(), progress, frames);
    // Before waiting for more input, write out what is held: the output never waits on the
    // input, and a live FIFO's frames reach the file once their block is walked.
    bitReader.beforeRefill([&] { return output.flush(); });

    const CutResult result =
        frames.format().cutsOnSamples()
            ? cutSamples(frames.format(), bitReader, cutOptions(line), line.plan,
                         {outputName, outputHandle, bitReader.handle(), progress}, console)
            : cut(frames, bitReader, cutOptions(line), output, console);
    const bool outputFailed = console.reportOutputFailure(result);
    output.endIfStopped();
    bool ok = !outputFailed && console.reportEnd(result);
    if (!output.close() && !outputFailed) {
        console.writeFailed();
        ok = false;
    }
    console.ending();
    if (!ok) return exitFailure;
    // Damage found or mended: a script can tell this stream from a clean one.
    return result.failed > 0 || result.repaired ? exitDamaged : 0;
}
