// Runs the built morvane program for the end-to-end tests, and the expectations those tests
// share: the usage text, the closing lines, progress lines and runs of input frames.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "ac3_test_stream.h"

inline const std::string usageText =
    "morvane\n"
    "usage: morvane infile from_second to_second\n"
    "seconds may be typed in as 31.26 or 7827.65 or something like this...\n"
    "v1.01\n";
inline const std::string ending = "\nokay\n";

struct Result {
    int status;
    std::string out;
    std::string err;
    int signal;  // the signal that ended the program, or 0
};

// Runs morvane with `args` in `cwd`, with `extraEnv` added to the environment. Standard output
// and error are captured, or standard output goes to `terminal` when one is given (and `out`
// stays empty). `whileRunning`, when given, is called with the program's process id before
// the run is waited for. The environment can change what runs:
//   MORVANE_TEST_PROGRAM   another build of the program, such as morvane.exe
//   MORVANE_TEST_WRAPPER   a command prefix, split at spaces: valgrind, or wine
//   MORVANE_TEST_WINDOWS   the program is a Windows build: its console lines must end in CR LF
//                          (they are compared as LF), and wine's own lines on standard error
//                          are left out

Result runMorvane(const std::vector<std::string>& args, const std::string& cwd,
                  const std::vector<std::string>& extraEnv = {}, int terminal = -1,
                  const std::function<void(pid_t)>& whileRunning = {});

// True when the program under test is a Windows build (MORVANE_TEST_WINDOWS).
bool windowsProgram();

// The environment that preloads the I/O fault shim with one of its settings.
std::vector<std::string> shimmed(const std::string& setting);

inline std::string asText(const Bytes& bytes) { return {bytes.begin(), bytes.end()}; }

// The progress lines of the first `count` frames: one for each that steps the clock.
inline std::string progressLines(const std::vector<ac3::Frame>& frames, std::size_t count) {
    std::string text;
    char line[64];
    for (std::size_t i = 0; i < count; ++i) {
        if (!frames[i].steps) continue;
        std::snprintf(line, sizeof line, "at %.3f\r", frames[i].end);
        text += line;
    }
    return text;
}

struct Window {
    std::string name;
    double from, to;
};

// Frames are copied from the first whose clock is at or after `from` through the first step
// that ends after `to` and the frames that go with it. `first` == frames.size() means that
// nothing is copied; `progress` counts the frames before the crossing step.
struct Prediction {
    std::size_t first, last, progress;
};

inline Prediction predict(const std::vector<ac3::Frame>& frames, double from, double to) {
    const std::size_t n = frames.size();
    Prediction p{n, n - 1, n};
    for (std::size_t i = 0; i < n; ++i) {
        if (p.first == n && frames[i].end >= from) p.first = i;
        if (frames[i].steps && frames[i].end > to) {
            p.progress = i;
            p.last = i;
            while (p.last + 1 < n && !frames[p.last + 1].steps) ++p.last;
            break;
        }
    }
    return p;
}

// The frames that step the clock among frames first to last, and the samples per channel
// they decode to.
inline std::pair<long, long> stepsIn(const std::vector<ac3::Frame>& frames, std::size_t first,
                                     std::size_t last) {
    long steps = 0, samples = 0;
    for (std::size_t i = first; i <= last; ++i) {
        if (!frames[i].steps) continue;
        ++steps;
        samples += frames[i].samples;
    }
    return {steps, samples};
}

// Windows that start, end and lie on and between the ends of time steps, and beyond the end.
inline std::vector<Window> windowsFor(const std::vector<ac3::Frame>& frames) {
    std::vector<double> f;
    for (const ac3::Frame& frame : frames) {
        if (frame.steps) f.push_back(frame.end);
    }
    const std::size_t n = f.size();
    const double half = (f[1] - f[0]) / 2;
    return {
        {"start", 0, f[2] + half},
        {"middle", f[n / 3] - half, f[2 * n / 3] - half},
        {"end", f[n - 4] - half, 1e6},
        {"equal limits", f[n / 2] - half, f[n / 2] - half},
        {"limits on frame ends", f[5], f[10]},
        {"equal limits on a frame end", f[7], f[7]},
        {"last frame only", f[n - 1], f[n - 1]},
        {"beyond the end", f[n - 1] + 1, f[n - 1] + 2},
        {"everything", 0, 1e6},
    };
}

// A time as the command line takes it, to the last bit of the double.
inline std::string exact(double seconds) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", seconds);
    return text;
}

// Frames first to last of `data`, both included.
inline Bytes slice(const Bytes& data, const std::vector<ac3::Frame>& frames, std::size_t first,
                   std::size_t last) {
    return Bytes(data.begin() + static_cast<long>(frames[first].offset),
                 data.begin() + static_cast<long>(frames[last].offset + frames[last].size));
}

// A scratch directory holding a copy of a stream as "in.ac3".
struct Workspace {
    explicit Workspace(const std::string& sample = "sample_48k.ac3")
        : Workspace(readFile(std::string(MORVANE_SAMPLES) + "/" + sample)) {}
    explicit Workspace(Bytes stream) : input(std::move(stream)), frames(ac3::walk(input)) {
        writeFile(dir / "in.ac3", input);
    }
    bool hasOutput() const { return std::filesystem::exists(dir / "morvane_in.ac3"); }
    Bytes output() const { return readFile(dir / "morvane_in.ac3"); }

    TempDir dir;
    Bytes input;
    std::vector<ac3::Frame> frames;
};
