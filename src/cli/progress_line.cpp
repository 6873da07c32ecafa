#include "cli/progress_line.h"

#include <charconv>
#include <cstring>
#include <iostream>
#include <limits>

#include "platform/file_io.h"

namespace {

// "at ", a sign, the integer digits of the largest double, the point, 3 decimals, CR: room
// for any time, so the conversion cannot fail.
constexpr std::size_t timeTextCapacity =
    3 + 1 + std::numeric_limits<double>::max_exponent10 + 1 + 1 + 3 + 1;

// The same text as the stream's fixed format with 3 decimals gives, at a fraction of the
// cost: printing with the stream would take a good part of a whole-stream cut's time.
char* formatSeconds(char* first, char* last, double time) {
    return std::to_chars(first, last, time, std::chars_format::fixed, 3).ptr;
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
    std::cout.write(line, end - line);
}

void ProgressLine::flushNow() {
    std::cout.flush();
    lastFlush = Clock::now();
}
