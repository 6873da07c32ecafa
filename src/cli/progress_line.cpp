#include "cli/progress_line.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <limits>

#include "platform/file_io.h"

namespace {

// "at ", a sign, the integer digits of the largest double, the point, 3 decimals, CR: room
// for any time, so the conversion cannot fail.
constexpr std::size_t timeTextCapacity =
    3 + 1 + std::numeric_limits<double>::max_exponent10 + 1 + 1 + 3 + 1;

// Below this many seconds (some 92 days) a time in thousandths is off by less than 5e-7 of
// a thousandth, so that a fraction clear of the tie below rounds as the exact value does.
constexpr double fastTimes = 8e6;
constexpr double tie = 1e-6;

// The same text as the stream's fixed format with 3 decimals gives, at a fraction of the
// cost: printing with the stream would take a good part of a whole-stream cut's time. Times
// of a stream are formatted in whole thousandths; the rare one within a hair of a half
// thousandth, and any odd value, goes through the exact conversion.
char* formatSeconds(char* first, char* last, double time) {
    if (!(time < fastTimes) || std::signbit(time)) {
        return std::to_chars(first, last, time, std::chars_format::fixed, 3).ptr;
    }
    const double scaled = time * 1000.0;
    // Truncation is the floor of a value that is not negative.
    const auto whole = static_cast<std::uint64_t>(scaled);
    const double fraction = scaled - static_cast<double>(whole);
    if (fraction - 0.5 <= tie && 0.5 - fraction <= tie) {
        return std::to_chars(first, last, time, std::chars_format::fixed, 3).ptr;
    }
    const std::uint64_t thousandths = whole + (fraction > 0.5);
    char* end = std::to_chars(first, last, thousandths / 1000).ptr;
    const auto digits = static_cast<unsigned>(thousandths % 1000);
    end[0] = '.';
    end[1] = static_cast<char>('0' + digits / 100);
    end[2] = static_cast<char>('0' + digits / 10 % 10);
    end[3] = static_cast<char>('0' + digits % 10);
    return end + 4;
}

}  // namespace

std::string secondsText(double time) {
    char text[timeTextCapacity];
    return std::string(text, formatSeconds(text, text + sizeof text, time));
}

ProgressLine::ProgressLine(bool quiet) : quiet(quiet), onTerminal(platform::stdoutIsTerminal()) {}

void ProgressLine::show(double time) {
    if (quiet) return;
    char line[timeTextCapacity];
    std::memcpy(line, "at ", 3);
    char* end = formatSeconds(line + 3, line + sizeof line - 1, time);
    *end++ = '\r';
    // What std::cout.write does, without the sentry it builds for every line: cout is tied to
    // no stream, so all the sentry does is to check its state.
    if (!std::cout.good()) return;
    if (std::cout.rdbuf()->sputn(line, end - line) != end - line)
        std::cout.setstate(std::ios::badbit);
}

void ProgressLine::flushNow() {
    std::cout.flush();
    lastFlush = Clock::now();
}
