#include "cli/cut_driver.h"

#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <limits>
#include <memory>
#include <vector>

std::string outputName;
platform::FileHandle outputHandle = platform::invalidHandle;

namespace {

constexpr int exitBadCommandLine = -1;
constexpr int exitFailure = 1;

// "at ", a sign, the integer digits of the largest double, the point, 3 decimals, CR: room
// for any time, so the conversion cannot fail.
constexpr std::size_t timeTextCapacity =
    3 + 1 + std::numeric_limits<double>::max_exponent10 + 1 + 1 + 3 + 1;

// Seconds with 3 decimals, the same text as the stream's fixed format gives, at a fraction of
// the cost: printing with the stream would take a good part of a whole-stream cut's time.
char* formatSeconds(char* first, char* last, double time) {
    return std::to_chars(first, last, time, std::chars_format::fixed, 3).ptr;
}

std::string secondsText(double time) {
    char text[timeTextCapacity];
    return std::string(text, formatSeconds(text, text + sizeof text, time));
}

// Writes the "at <time>" lines, each ending in a carriage return so that the next one
// overwrites it on a terminal. Flushing every line costs more than the copy itself, so on
// a terminal the stream is flushed only every 50 ms (see due()); redirected, the lines wait
// in the stream's buffer like any other output. Quiet, it writes nothing.
class ProgressLine {
public:
    explicit ProgressLine(bool quiet) : quiet(quiet), onTerminal(platform::stdoutIsTerminal()) {}

    void show(double time) {
        if (quiet) return;
        char line[timeTextCapacity];
        std::memcpy(line, "at ", 3);
        char* end = formatSeconds(line + 3, line + sizeof line - 1, time);
        *end++ = '\r';
        std::cout.write(line, end - line);
    }

    // The terminal is due for the lines written since it was last flushed.
    bool due() const { return onTerminal && !quiet && Clock::now() - lastFlush >= interval; }

    void flushNow() {
        std::cout.flush();
        lastFlush = Clock::now();
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds interval{50};
    bool quiet;
    bool onTerminal;
    Clock::time_point lastFlush = Clock::now() - interval;
};

// The bytes of the frames to copy, collected so that they reach the output file in a few
// large writes instead of one per frame. Nothing anyone can see changes with it: a progress
// line is held until its frame has been handed to the system, and a write that stops after
// N bytes leaves the file as one write per frame would have, and shows the progress lines of
// the frames before the one that holds byte N.
class OutputBuffer {
public:
    // At most this much is held, so that the whole program stays within a few MiB.
    static constexpr std::size_t capacity = 256 * 1024;

    // A run's buffer: empty, and releasing its progress lines to `lines`.
    void start(ProgressLine& lines) {
        progress = &lines;
        size = 0;
        held.clear();
        writeFailed = false;
    }

    // False when writing out what was held before, to make room, failed.
    bool append(const std::vector<std::int32_t>& frame) {
        if (size + frame.size() > capacity && !flush()) return false;
        if (!bytes) bytes.reset(new std::uint8_t[capacity]);
        // The frame reader hands out frames of 4096 bytes at most.
        if (frame.size() > capacity) return false;
        // Through local pointers: a store through a byte pointer could change `size`, and
        // the compiler would then narrow one byte at a time.
        const std::int32_t* in = frame.data();
        std::uint8_t* out = bytes.get() + size;
        for (std::size_t i = 0; i < frame.size(); ++i) {
            out[i] = static_cast<std::uint8_t>(in[i] & 0xFF);
        }
        size += frame.size();
        return true;
    }

    // The progress line of the frame just walked: shown now, or once the frames before it
    // are in the file.
    void progressLine(double time) {
        if (size == 0) {
            progress->show(time);
        } else {
            held.push_back({size, time});
        }
    }

    // Hands everything held to the system and shows the progress lines it held. False when
    // the write failed (now or before): then only the lines of the frames that are wholly in
    // the file are shown.
    bool flush() {
        if (writeFailed) return false;
        if (size == 0) return true;
        std::size_t written = 0;
        writeFailed = !platform::writeAll(outputHandle, bytes.get(), size, &written);
        // A stop request cut the write short: the signal ends the run, not a write error.
        if (writeFailed && platform::stopRequested()) platform::endAsStopped();
        for (const Held& line : held) {
            if (line.end > written) break;
            progress->show(line.time);
        }
        held.clear();
        size = 0;
        return !writeFailed;
    }

    bool failed() const { return writeFailed; }

private:
    struct Held {
        std::size_t end;  // the line is due once this many bytes are written
        double time;
    };

    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t size = 0;
    std::vector<Held> held;
    ProgressLine* progress = nullptr;
    bool writeFailed = false;
};

OutputBuffer outputBuffer;

struct CommandLine {
    const char* input = nullptr;
    double from = 0.0;
    double to = 0.0;
    const char* output = nullptr;  // -o; otherwise "morvane_" + input
    bool resync = false;
    bool quiet = false;
};

// Exactly three arguments are infile, from_second and to_second, whatever they look like.
// With more, -o NAME, --resync and --quiet may stand anywhere before "--"; every other
// argument is positional (so -1.5 is a time), and three must remain.
bool parseCommandLine(int argc, char* argv[], CommandLine& line) {
    std::vector<const char*> positional;
    bool options = argc != 4;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!options) {
            positional.push_back(argv[i]);
        } else if (arg == "--") {
            options = false;
        } else if (arg == "-o") {
            if (line.output != nullptr || i + 1 == argc) return false;
            line.output = argv[++i];
        } else if (arg == "--resync" || arg == "--quiet") {
            bool& flag = arg == "--resync" ? line.resync : line.quiet;
            if (flag) return false;
            flag = true;
        } else if (arg.rfind("--", 0) == 0) {
            return false;
        } else {
            positional.push_back(argv[i]);
        }
    }
    if (positional.size() != 3) return false;
    line.input = positional[0];
    line.from = std::atof(positional[1]);
    line.to = std::atof(positional[2]);
    return !(line.from > line.to);
}

// Notices go to standard error, so that what scripts read on standard output stays as it was.
// Pending progress text goes out first, so that a notice does not end up in front of it.
void notice(const char* inputName, const std::string& text) {
    std::cout.flush();
    std::cerr << "morvane: " << inputName << ": " << text << std::endl;
}

}  // namespace

void printUsage() {
    std::cout << "morvane" << std::endl;
    std::cout << "usage: morvane infile from_second to_second" << std::endl;
    std::cout << "seconds may be typed in as 31.26 or 7827.65 or something like this..."
              << std::endl;
    std::cout << "v1.01" << std::endl;
}

bool writeFrame(const FrameReader& frameReader) { return outputBuffer.append(frameReader.bytes()); }

int main(int argc, char* argv[]) {
    // All output goes through std::cout; it need not stay in step with C stdio.
    std::ios::sync_with_stdio(false);

    CommandLine line;
    if (!parseCommandLine(argc, argv, line)) {
        printUsage();
        return exitBadCommandLine;
    }
    const char* inputName = line.input;
    const double from = line.from;
    const double to = line.to;
    outputName = line.output != nullptr ? std::string(line.output)
                                        : std::string(inputName).insert(0, "morvane_");
    std::cout << std::fixed << std::setprecision(3);
    // Stopped by the user or the system, the run still writes out the frames it holds.
    platform::catchStopRequests();

    int status = 0;
    {
        BitReader bitReader(inputName);
        FrameReader frameReader(bitReader);
        ProgressLine progress(line.quiet);
        outputBuffer.start(progress);
        // Before waiting for more input, write out what is held: the output never waits on
        // the input, and a live FIFO's frames reach the file once their block is walked.
        bitReader.beforeRefill([] { return outputBuffer.flush(); });

        if (!bitReader.isOpen()) {
            std::cout << "could not open " << inputName << " for input" << std::endl;
            status = exitFailure;
        }
        // The clock moves only at frames that step it; the frames after a step (E-AC-3
        // extensions and other substreams) play alongside it and go with it, whole or not at
        // all. Frames before the first step are at time 0.
        double time = 0.0;
        bool anyFrame = false;
        bool windowComplete = false;
        bool outputFailed = false;
        const auto writeFailure = [&] {
            std::cout << "errors while writing to " << outputName << std::endl;
            outputFailed = true;
        };
        // Where and why the walk met something that is not a whole, valid frame.
        bool stoppedEarly = false;
        std::uint64_t stopOffset = 0;
        std::string stopReason;
        bool haveFrame = frameReader.readFrame();
        while (true) {
            if (platform::stopRequested()) {
                outputBuffer.flush();
                platform::endAsStopped();
            }
            // A write of frames held from before failed while the walk went on.
            if (outputBuffer.failed()) {
                writeFailure();
                break;
            }
            if (!haveFrame) {
                // Past the window's last step the walk only looked for frames that belong to
                // it, so whatever ended it there ends a complete cut.
                stoppedEarly = !windowComplete && !bitReader.readFailed() &&
                               frameReader.stop() != FrameReader::Stop::endOfInput;
                if (!stoppedEarly) break;
                stopOffset = frameReader.frameOffset();
                stopReason = frameReader.stopReason();
                if (!line.resync || !frameReader.resync()) break;
                // The frames before the skipped bytes are in the file before it is said.
                if (!outputBuffer.flush()) continue;
                notice(inputName, "skipped " + std::to_string(bitReader.offset() - stopOffset) +
                                      " bytes at byte " + std::to_string(stopOffset) + " (" +
                                      stopReason + ")");
                stoppedEarly = false;
                haveFrame = frameReader.readFrame();
                continue;
            }
            anyFrame = true;
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
                        outputFailed = true;
                        break;
                    }
                }
                if (!writeFrame(frameReader)) {
                    writeFailure();
                    break;
                }
            }
            if (step) {
                if (time > to) {
                    windowComplete = true;
                } else {
                    outputBuffer.progressLine(time);
                    // A terminal shows progress as it comes: the frames go out first.
                    if (progress.due() && outputBuffer.flush()) progress.flushNow();
                }
            }
            haveFrame = frameReader.readFrame();
        }
        // What is held goes out before anything that comes later in the stream is said.
        if (!outputFailed && !outputBuffer.flush()) writeFailure();
        if (platform::stopRequested()) platform::endAsStopped();
        if (outputFailed) status = exitFailure;

        if (!outputFailed) {
            // The frame walk stopped at the input's end: say so if a read error ended it.
            if (!haveFrame && !windowComplete && bitReader.readFailed()) {
                std::cout << "errors while reading from " << inputName << std::endl;
                status = exitFailure;
            }
            if (bitReader.isOpen() && !anyFrame && !bitReader.readFailed()) {
                notice(inputName, "does not start with an AC-3 or E-AC-3 frame");
            } else if (stoppedEarly) {
                // A regular file's size is known; any other input is known to its end only
                // when it was read to its end.
                const std::int64_t size = bitReader.atEnd()
                                              ? static_cast<std::int64_t>(bitReader.bytesReceived())
                                              : platform::fileSize(bitReader.handle());
                const std::string left =
                    size >= 0
                        ? std::to_string(static_cast<std::uint64_t>(size) - stopOffset)
                        : "at least " + std::to_string(bitReader.bytesReceived() - stopOffset);
                notice(inputName, "the stream ends at byte " + std::to_string(stopOffset) +
                                      ", after " + secondsText(time) + " s: " + stopReason + "; " +
                                      left + " bytes left unread");
            }
            if (anyFrame && !bitReader.readFailed() && outputHandle == platform::invalidHandle) {
                notice(inputName,
                       "nothing to cut: the window starts after the end of the stream, which "
                       "is " +
                           secondsText(time) + " s long");
            }
        }

        // Some file systems (NFS, or a full quota) report a failed write only when the file
        // is closed.
        if (outputHandle != platform::invalidHandle) {
            if (!platform::closeFile(outputHandle) && !outputFailed) {
                writeFailure();
                status = exitFailure;
            }
            outputHandle = platform::invalidHandle;
        }
        std::cout << std::endl << "okay" << std::endl;
    }
    return status;
}
