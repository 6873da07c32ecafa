// The "at <time>" progress lines on standard output, and the text of a time in seconds that
// every console line shares.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

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
    // The lines of `count` times, in order.
    void show(const double* times, std::size_t count);
    // The terminal is due for the lines written since it was last flushed.
    bool due() const { return onTerminal && !quiet && Clock::now() - lastFlush >= interval; }
    void flushNow();

private:
    // Hands the text to the stream; false when the stream has failed.
    static bool put(const char* first, const char* last);

    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds interval{50};
    bool quiet;
    bool onTerminal;
    Clock::time_point lastFlush = Clock::now() - interval;
};
