// The text of a time: whatever the value, exactly what the stream's fixed format with three
// decimals (std::to_chars) writes.
#include "cli/progress_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iostream>
#include <limits>
#include <random>
#include <sstream>

namespace {

std::string exactText(double time) {
    char text[400];
    return std::string(
        text, std::to_chars(text, text + sizeof text, time, std::chars_format::fixed, 3).ptr);
}

std::vector<double> testTimes() {
    std::vector<double> times = {0.0,
                                 -0.0,
                                 0.0005,
                                 1.0005,
                                 2.9995,
                                 999.9995,
                                 0.032,
                                 0.0345,
                                 8e6,
                                 7.99e6,
                                 8e6 - 1e-3,
                                 1e300,
                                 -1.5,
                                 1e-300,
                                 std::numeric_limits<double>::quiet_NaN(),
                                 std::numeric_limits<double>::infinity()};
    // Clocks as the walk adds them up: 44.1 kHz AC-3, Layer II and E-AC-3 steps, long streams.
    for (const double step : {558 / 16000.0, 1152 / 44100.0, 256 / 48000.0, 0.024, 0.032}) {
        double time = 0;
        for (int i = 0; i < 200000; ++i) times.push_back(time += step);
    }
    std::mt19937_64 random(7);
    for (const double most : {1e7, 1e13, 1e25}) {
        std::uniform_real_distribution<double> anywhere(0, most);
        for (int i = 0; i < 100000; ++i) times.push_back(anywhere(random));
    }
    // Values a hair from a half thousandth, either side.
    for (int k = 0; k < 2000; ++k) {
        const double tie = (k * 7919 % 100000000) / 1000.0 + 0.0005;
        for (const double t : {std::nextafter(tie, 0.0), tie, std::nextafter(tie, 1e9)}) {
            times.push_back(t);
        }
    }
    return times;
}

TEST(ProgressLineTest, TimesReadAsTheExactConversion) {
    for (const double time : testTimes()) ASSERT_EQ(secondsText(time), exactText(time)) << time;
}

// Lines shown together, as an output file shows those it held, read as lines shown one by one.
TEST(ProgressLineTest, LinesShownTogetherReadAsTheTimes) {
    const std::vector<double> times = testTimes();
    std::ostringstream shown;
    std::streambuf* const standardOutput = std::cout.rdbuf(shown.rdbuf());
    ProgressLine progress(false);
    std::mt19937 random(3);
    for (std::size_t first = 0; first < times.size();) {
        const std::size_t count = std::min<std::size_t>(random() % 700, times.size() - first);
        progress.show(times.data() + first, count);
        first += count;
    }
    std::cout.rdbuf(standardOutput);
    std::string expected;
    for (const double time : times) expected += "at " + exactText(time) + "\r";
    ASSERT_EQ(shown.str().size(), expected.size());
    EXPECT_TRUE(shown.str() == expected);
}

}  // namespace
