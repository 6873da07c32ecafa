// Every text the program writes on the console: progress lines and their flushing, the
// failure lines, the notices on standard error, and the closing "okay".
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "cli/cut.h"

// Seconds with 3 decimals, as every time on the console is written.
std::string secondsText(double time);

// Writes the "at <time>" lines, each ending in a carriage return so that the next one
// overwrites it on a terminal. Flushing every line costs more than the copy itself, so on
// a terminal the stream is flushed only every 50 ms (see due()); redirected, the lines wait
// in the stream's buffer like any other output. Quiet, it writes nothing.
class ProgressLine {
public:
    explicit ProgressLine(bool quiet);

    void show(double time);
    // The terminal is due for the lines written since it was last flushed.
    bool due() const { return onTerminal && !quiet && Clock::now() - lastFlush >= interval; }
    void flushNow();

private:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds interval{50};
    bool quiet;
    bool onTerminal;
    Clock::time_point lastFlush = Clock::now() - interval;
};

// Lines about one run. Standard output keeps the lines scripts have always read; notices
// about the stream go to standard error as "morvane: IN: ...".
class Console : public CutEvents {
public:
    // Verbose, the end of a run that copied anything says where the cut lies in the input.
    Console(const char* inputName, const std::string& outputName, bool verbose);

    void cannotOpenInput();
    void skipped(std::uint64_t offset, std::uint64_t count, const std::string& reason) override;
    void crcFailed(std::uint64_t offset, double end) override;
    void replaced(std::uint64_t offset, double end, bool withSilence) override;
    void filled(double seconds, std::uint64_t steps, bool framePerStep, std::uint64_t count,
                std::uint64_t offset) override;
    // Says why the output failed, if it did; false when it did not.
    bool reportOutputFailure(const CutResult& result);
    // Says how the walk ended when the output did not fail; false when that is a failure.
    bool reportEnd(const CutResult& result);
    void writeFailed();
    // An empty line, then "okay": the last two lines of every run past the command line.
    void ending();

private:
    void notice(const std::string& text);
    std::string streamEnds(const CutResult& result) const;
    std::string delayText(const DelayResult& delay) const;
    std::string span(const CopiedSpan& copied) const;

    const char* inputName;
    std::string outputName;
    bool verbose;
};
