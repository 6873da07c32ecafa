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

// Digits two at a time: "00", "01", ... "99".
constexpr char digitPairs[] =
    "0001020304050607080910111213141516171819202122232425262728293031323334353637383940414243444546"
    "4748495051525354555657585960616263646566676869707172737475767778798081828384858687888990919293"
    "949596979899";

// The integral digits of `whole`, below 10^8, at `first`; returns their end.
char* writeWhole(char* first, std::uint32_t whole) {
    std::size_t length = 1;
    for (std::uint32_t power = 10; length < 8 && whole >= power; power *= 10) ++length;
    char* const end = first + length;
    // From the right, two at a time.
    char* p = end;
    while (whole >= 100) {
        p -= 2;
        std::memcpy(p, digitPairs + 2 * (whole % 100), 2);
        whole /= 100;
    }
    if (whole >= 10) {
        std::memcpy(p - 2, digitPairs + 2 * whole, 2);
    } else {
        p[-1] = static_cast<char>('0' + whole);
    }
    return end;
}

// The same text as the stream's fixed format with 3 decimals gives, at a fraction of the
// cost: printing with the stream would take a good part of a whole-stream cut's time. Times
// of a stream are formatted in whole thousandths; the rare one within a hair of a half
// thousandth, and any odd value, goes through the exact conversion. A stream's clock passes
// a second in dozens of steps, so the digits of the last whole second are kept.
class SecondsWriter {
public:
    // Room for timeTextCapacity - 4 characters at `first`.
    char* write(char* first, char* last, double time) {
        if (!(time < fastTimes) || std::signbit(time)) return exact(first, last, time);
        const double scaled = time * 1000.0;
        // Truncation is the floor of a value that is not negative.
        const auto truncated = static_cast<std::uint64_t>(scaled);
        const double fraction = scaled - static_cast<double>(truncated);
        if (fraction - 0.5 <= tie && 0.5 - fraction <= tie) return exact(first, last, time);
        const std::uint64_t thousandths = truncated + (fraction > 0.5);
        const auto seconds = static_cast<std::uint32_t>(thousandths / 1000);
        const auto decimals = static_cast<std::uint32_t>(thousandths % 1000);
        if (seconds != whole || length == 0) {
            whole = seconds;
            length = static_cast<std::size_t>(writeWhole(digits, seconds) - digits);
        }
        std::memcpy(first, digits, sizeof digits);
        char* const end = first + length;
        end[0] = '.';
        std::memcpy(end + 1, digitPairs + 2 * (decimals / 10), 2);
        end[3] = static_cast<char>('0' + decimals % 10);
        return end + 4;
    }

private:
    static char* exact(char* first, char* last, double time) {
        return std::to_chars(first, last, time, std::chars_format::fixed, 3).ptr;
    }

    std::uint32_t whole = 0;
    char digits[8] = {};
    std::size_t length = 0;  // of the digits kept; 0 for none yet
};

}  // namespace

std::string secondsText(double time) {
    char text[timeTextCapacity];
    return std::string(text, SecondsWriter().write(text, text + sizeof text, time));
}

ProgressLine::ProgressLine(bool quiet) : quiet(quiet), onTerminal(platform::stdoutIsTerminal()) {}

void ProgressLine::show(double time) { show(&time, 1); }

void ProgressLine::show(const double* times, std::size_t count) {
    if (quiet) return;
    // The lines go to the stream in pieces small enough for its buffer to take: the stream
    // writes a larger piece at once, with a system call of its own.
    char text[1000];
    char* end = text;
    SecondsWriter seconds;
    for (std::size_t i = 0; i < count; ++i) {
        if (text + sizeof text - end < static_cast<std::ptrdiff_t>(timeTextCapacity)) {
            if (!put(text, end)) return;
            end = text;
        }
        std::memcpy(end, "at ", 3);
        end = seconds.write(end + 3, end + timeTextCapacity - 1, times[i]);
        *end++ = '\r';
    }
    put(text, end);
}

bool ProgressLine::put(const char* first, const char* last) {
    // What std::cout.write does, without the sentry it builds for every call: cout is tied to
    // no stream, so all the sentry does is to check its state.
    if (!std::cout.good()) return false;
    if (first == last) return true;
    if (std::cout.rdbuf()->sputn(first, last - first) == last - first) return true;
    std::cout.setstate(std::ios::badbit);
    return false;
}

void ProgressLine::flushNow() {
    std::cout.flush();
    lastFlush = Clock::now();
}
