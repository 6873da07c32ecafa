#include "cli/cut_driver.h"

#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <limits>
#include <vector>

std::string outputName;
platform::FileHandle outputHandle = platform::invalidHandle;

namespace {

constexpr int exitBadCommandLine = -1;
constexpr int exitFailure = 1;

// Writes the "at <time>" lines, each ending in a carriage return so that the next one
// overwrites it on a terminal. Flushing every line costs more than the copy itself, so on
// a terminal the stream is flushed only every 50 ms; redirected, the lines wait in the
// stream's buffer like any other output.
class ProgressLine {
public:
    ProgressLine() : onTerminal(platform::stdoutIsTerminal()) {}

    void show(double time) {
        // The same text as the stream's fixed format with 3 decimals gives, at a fraction of
        // the cost: printing it would take a good part of a whole-stream cut's time.
        char line[lineCapacity];
        std::memcpy(line, "at ", 3);
        char* end =
            std::to_chars(line + 3, line + sizeof line - 1, time, std::chars_format::fixed, 3).ptr;
        *end++ = '\r';
        std::cout.write(line, end - line);
        if (!onTerminal) return;
        const auto now = Clock::now();
        if (now - lastFlush < interval) return;
        std::cout.flush();
        lastFlush = now;
    }

private:
    // "at ", a sign, the integer digits of the largest double, the point, 3 decimals, CR:
    // room for any time, so the conversion cannot fail.
    static constexpr std::size_t lineCapacity =
        3 + 1 + std::numeric_limits<double>::max_exponent10 + 1 + 1 + 3 + 1;
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds interval{50};
    bool onTerminal;
    Clock::time_point lastFlush = Clock::now() - interval;
};

}  // namespace

void printUsage() {
    std::cout << "morvane" << std::endl;
    std::cout << "usage: morvane infile from_second to_second" << std::endl;
    std::cout << "seconds may be typed in as 31.26 or 7827.65 or something like this..."
              << std::endl;
    std::cout << "v1.01" << std::endl;
}

bool writeFrame(const FrameReader& frameReader) {
    const std::vector<std::int32_t> elements = frameReader.bytes();
    std::vector<std::uint8_t> frame(elements.size());
    for (std::size_t i = 0; i < elements.size(); ++i) {
        frame[i] = static_cast<std::uint8_t>(elements[i] & 0xFF);
    }
    return platform::writeAll(outputHandle, frame.data(), frame.size());
}

int main(int argc, char* argv[]) {
    // All output goes through std::cout; it need not stay in step with C stdio.
    std::ios::sync_with_stdio(false);

    if (argc != 4) {
        printUsage();
        return exitBadCommandLine;
    }
    const char* inputName = argv[1];
    const double from = std::atof(argv[2]);
    const double to = std::atof(argv[3]);
    if (from > to) {
        printUsage();
        return exitBadCommandLine;
    }
    outputName = std::string(inputName).insert(0, "morvane_");
    std::cout << std::fixed << std::setprecision(3);

    int status = 0;
    {
        BitReader bitReader(inputName);
        FrameReader frameReader(bitReader);
        ProgressLine progress;

        if (!bitReader.isOpen()) {
            std::cout << "could not open " << inputName << " for input" << std::endl;
            status = exitFailure;
        }
        // The clock moves only at frames that step it; the frames after a step (E-AC-3
        // extensions and other substreams) play alongside it and go with it, whole or not at
        // all. Frames before the first step are at time 0.
        double time = 0.0;
        bool windowComplete = false;
        bool haveFrame = frameReader.readFrame();
        while (haveFrame) {
            const bool step = frameReader.stepsClock();
            // The step that crossed `to` has been copied with everything that belongs to it.
            if (step && windowComplete) break;
            if (step) time = frameReader.frameDuration() + time;
            if (time >= from) {
                if (outputHandle == platform::invalidHandle) {
                    outputHandle =
                        platform::createForWriting(outputName.c_str(), bitReader.handle());
                    if (outputHandle == platform::invalidHandle) {
                        std::cout << "could not open " << outputName << " for output" << std::endl;
                        status = exitFailure;
                        break;
                    }
                }
                if (!writeFrame(frameReader)) {
                    std::cout << "errors while writing to " << outputName << std::endl;
                    status = exitFailure;
                    break;
                }
            }
            if (step) {
                if (time > to) {
                    windowComplete = true;
                } else {
                    progress.show(time);
                }
            }
            haveFrame = frameReader.readFrame();
        }
        // The frame walk stopped at the input's end: say so if a read error ended it. Past the
        // window's last step the walk only looked for frames that belong to it, so whatever
        // ended it there ends a complete cut.
        if (!haveFrame && !windowComplete && bitReader.readFailed()) {
            std::cout << "errors while reading from " << inputName << std::endl;
            status = exitFailure;
        }

        std::cout << std::endl << "okay" << std::endl;
        if (outputHandle != platform::invalidHandle) platform::closeFile(outputHandle);
    }
    return status;
}
