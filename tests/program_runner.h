// Runs the built morvane program for the end-to-end tests, and the expectations those tests
// share: the usage text, the closing lines, progress lines and runs of input frames.
#pragma once

#include <sys/types.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "ac3_test_stream.h"
#include "mpeg_test_stream.h"

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
inline Bytes asBytes(const std::string& text) { return {text.begin(), text.end()}; }

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

// A cut with --delay SECONDS, as worked out from the cut without it: `steps` silent twins of
// the first copied step (frames `reference` up to `referenceEnd`) before it, or `steps` steps
// of it left out; the input's frames `first` to `last` follow (none when first > last).
struct DelayedCut {
    long steps = 0;
    std::size_t first = 0, last = 0;
    std::size_t reference = 0, referenceEnd = 0;
    double moved = 0.0;  // seconds: the silence added, or less the time left out
    bool framePerStep = true;
};

inline DelayedCut predictDelay(const std::vector<ac3::Frame>& frames, const Prediction& p,
                               double seconds) {
    DelayedCut d;
    d.first = p.first;
    d.last = p.last;
    if (p.first >= frames.size() || seconds == 0) return d;
    d.reference = p.first;
    while (!frames[d.reference].steps) ++d.reference;
    d.referenceEnd = d.reference + 1;
    while (d.referenceEnd <= p.last && !frames[d.referenceEnd].steps) ++d.referenceEnd;
    const double duration = frames[d.reference].duration;
    const long k = static_cast<long>(std::floor(std::fabs(seconds) / duration + 0.5));
    if (seconds > 0) {
        d.steps = k;
        d.moved = static_cast<double>(k) * duration;
        d.framePerStep = d.referenceEnd - d.reference == 1;
        return d;
    }
    std::size_t i = p.first;
    for (; i <= p.last; ++i) {
        if (frames[i].steps) {
            if (d.steps == k) break;
            ++d.steps;
            d.moved -= frames[i].duration;
        } else if (d.steps > 0) {
            d.framePerStep = false;
        }
    }
    d.first = i;
    return d;
}

// "N things", with a singular for one.
inline std::string counted(std::size_t count, const std::string& what) {
    return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
}

// The notice of a delayed cut on standard error, or nothing when it moved nothing.
inline std::string delayNotice(const DelayedCut& d, double asked) {
    if (d.steps == 0) return "";
    char moved[64], text[64];
    std::snprintf(moved, sizeof moved, "morvane: in.ac3: delayed by %.3f s: ", d.moved);
    std::snprintf(text, sizeof text, " (%.3f s asked)\n", asked);
    const std::string unit = d.framePerStep ? "frame" : "time step";
    const auto steps = static_cast<std::size_t>(d.steps);
    if (asked > 0) return moved + counted(steps, "silent " + unit) + " before the cut" + text;
    if (d.first > d.last) {
        return moved + ("all " + counted(steps, unit)) +
               " of the cut left out, so there is no output" + text;
    }
    return moved + counted(steps, unit) + " left out at the start of the cut" + text;
}

// The --verbose line for a cut whose output holds the input's frames first to last.
inline std::string verboseLine(const std::vector<ac3::Frame>& frames, std::size_t first,
                               std::size_t last, const std::string& output) {
    if (first > last || first >= frames.size()) return "";
    std::size_t step = first;  // the frame that started the first one's time step
    while (step > 0 && !frames[step].steps) --step;
    std::size_t bytes = 0;
    for (std::size_t i = first; i <= last; ++i) bytes += frames[i].size;
    char line[200];
    std::snprintf(line, sizeof line, "morvane: in.ac3: cut %.3f s to %.3f s of the input (",
                  frames[first].end - frames[step].duration, frames[last].end);
    return line + counted(last - first + 1, "frame") + ", " + counted(bytes, "byte") + ") into " +
           output + "\n";
}

// The first line --verbose writes: the stream its first frame starts, read here from the
// header bits as A/52 lays them out, and a dependent E-AC-3 frame after it for 7.1.
inline std::string formatLine(const Bytes& stream, const std::vector<ac3::Frame>& frames) {
    const auto eac3At = [&stream](std::size_t at) {
        return (stream[at + 5] >> 3) >= 11 && (stream[at + 5] >> 3) <= 16;
    };
    const auto channels = [&stream, &eac3At](std::size_t at, int& full, bool& lfe) {
        const std::uint8_t* h = &stream[at];
        int acmod = 0;
        int lfeBit = 0;  // counted from the start of byte 6
        if (eac3At(at)) {
            acmod = (h[4] >> 1) & 7;
            lfe = (h[4] & 1) != 0;
        } else {
            acmod = h[6] >> 5;
            lfeBit = 3 + ((acmod & 1) && acmod != 1 ? 2 : 0) + (acmod & 4 ? 2 : 0) +
                     (acmod == 2 ? 2 : 0);
            lfe = ((h[6 + lfeBit / 8] >> (7 - lfeBit % 8)) & 1) != 0;
        }
        full = acmod == 0 ? 2 : std::vector<int>{2, 1, 2, 3, 3, 4, 4, 5}[acmod];
    };
    const std::uint8_t* h = stream.data();
    const bool eac3 = eac3At(0);
    const int fscod = h[4] >> 6;
    const char* rates[] = {"48 kHz", "44.1 kHz", "32 kHz"};
    const char* reduced[] = {"24 kHz", "22.05 kHz", "16 kHz"};
    const std::string rate = fscod == 3 ? reduced[(h[4] >> 4) & 3] : rates[fscod];
    int full = 0, extra = 0;
    bool lfe = false, extraLfe = false;
    channels(0, full, lfe);
    std::string text = eac3 ? "E-AC-3" : "AC-3";
    if (frames.size() > 1 && eac3At(frames[1].offset) && (stream[frames[1].offset + 2] >> 6) == 1) {
        channels(frames[1].offset, extra, extraLfe);
        text += " + E-AC-3 " + std::to_string(full + extra) + (lfe || extraLfe ? ".1" : ".0") +
                ", " + rate;
    } else {
        text += ", " + rate + ", " + std::to_string(full) + (lfe ? ".1" : ".0");
    }
    return "morvane: in.ac3: " + text + "\n";
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

// `count` time steps, each made by `step(i)` followed by the frames of `extras(i)`.
inline Bytes steps(std::size_t count, Bytes (*step)(std::size_t),
                   std::vector<Bytes> (*extras)(std::size_t)) {
    std::vector<Bytes> pieces;
    for (std::size_t i = 0; i < count; ++i) {
        pieces.push_back(step(i));
        for (Bytes& extra : extras(i)) pieces.push_back(std::move(extra));
    }
    return ac3::joined(pieces);
}

inline std::uint8_t fillFor(std::size_t i) { return static_cast<std::uint8_t>(i % 251); }
inline Bytes ac3Step(std::size_t i) { return ac3::makeFrame(0, 16, fillFor(i)); }
inline Bytes eac3Step(std::size_t i) { return ac3::makeEac3Frame(ac3::eac3(0, 0), fillFor(i)); }
inline std::vector<Bytes> noExtras(std::size_t) { return {}; }
inline std::vector<Bytes> dependent(std::size_t i) {
    return {ac3::makeEac3Frame(ac3::eac3(1, 0, 256), fillFor(i + 100))};
}

// A scratch directory holding a copy of a stream as "in.ac3".
struct Workspace {
    explicit Workspace(const std::string& sample = "sample_48k.ac3")
        : Workspace(readSample(sample)) {}
    explicit Workspace(Bytes stream) : input(std::move(stream)), frames(walkStream(input)) {
        writeFile(dir / "in.ac3", input);
    }
    bool hasOutput() const { return std::filesystem::exists(dir / "morvane_in.ac3"); }
    Bytes output() const { return readFile(dir / "morvane_in.ac3"); }

    TempDir dir;
    Bytes input;
    std::vector<ac3::Frame> frames;
};

// The program run quietly on the whole of the workspace's input, `options` first.
inline Result runWholeStream(const Workspace& work, std::vector<std::string> options) {
    for (const char* arg : {"--quiet", "in.ac3", "0", "1e6"}) options.push_back(arg);
    return runMorvane(options, work.dir.path);
}
