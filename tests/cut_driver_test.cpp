// End-to-end runs of the built morvane program in a scratch directory: standard output byte
// for byte, the exit status, and the output file against the input frames it should hold.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <thread>

#include "program_runner.h"

namespace {

// Windows on the 48 kHz sample: 250 frames of 0.032 s. Frames are numbered from 1; first = 0
// means that no output file is made.
TEST(CutDriverTest, CopiesTheFramesOfTheWindow) {
    const struct {
        const char* from;
        const char* to;
        std::size_t first, last;  // copied frames
        std::size_t lines;        // progress lines
    } cases[] = {
        {"1", "2", 32, 63, 62},
        {"1.01", "1.01", 32, 32, 31},
        {"0.032", "0.032", 1, 2, 1},
        {"0", "1000", 1, 250, 250},
        {"-5", "0.05", 1, 2, 1},
        {"7.99", "1000", 250, 250, 250},
        {"not a number", "0.04", 1, 2, 1},
        {"9", "10", 0, 0, 250},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << " to " << c.to);
        Workspace work;
        ASSERT_EQ(work.frames.size(), 250U);
        const Result run = runMorvane({"in.ac3", c.from, c.to}, work.dir.path);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, progressLines(work.frames, c.lines) + ending);
        EXPECT_EQ(run.err, c.first != 0
                               ? ""
                               : "morvane: in.ac3: nothing to cut: the window starts after "
                                 "the end of the stream, which is 8.000 s long\n");
        ASSERT_EQ(work.hasOutput(), c.first != 0);
        if (c.first != 0) {
            EXPECT_EQ(work.output(), slice(work.input, work.frames, c.first - 1, c.last - 1));
        }
    }
}

TEST(CutDriverTest, WholeCutGivesEveryStreamBack) {
    for (const char* sample : {"sample_48k.ac3", "sample_44k1.ac3", "sample_32k.ac3"}) {
        SCOPED_TRACE(sample);
        Workspace work(sample);
        const Result run = runMorvane({"in.ac3", "0", "100000"}, work.dir.path);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, progressLines(work.frames, work.frames.size()) + ending);
        EXPECT_EQ(work.output(), work.input);
    }
}

TEST(CutDriverTest, FollowsTheFrameTimesAt44k1And32k) {
    for (const char* sample : {"sample_44k1.ac3", "sample_32k.ac3"}) {
        SCOPED_TRACE(sample);
        Workspace work(sample);
        const double from = 0.5, to = 1.2;
        std::size_t first = 0;
        while (work.frames[first].end < from) ++first;
        std::size_t last = first;
        while (work.frames[last].end <= to) ++last;
        const Result run = runMorvane({"in.ac3", "0.5", "1.2"}, work.dir.path);
        EXPECT_EQ(run.out, progressLines(work.frames, last) + ending);
        EXPECT_EQ(work.output(), slice(work.input, work.frames, first, last));
    }
}

// The output of a cut with --delay: its silent steps, each frame of the length and header of
// its reference and with valid CRCs, then the input's frames.
void expectDelayedOutput(const Bytes& output, const Bytes& input,
                         const std::vector<ac3::Frame>& frames, const DelayedCut& d, double asked) {
    std::size_t at = 0;
    for (long step = 0; asked > 0 && step < d.steps; ++step) {
        for (std::size_t i = d.reference; i < d.referenceEnd; ++i) {
            const ac3::Frame& reference = frames[i];
            ASSERT_LE(at + reference.size, output.size());
            // E-AC-3 keeps its header from byte 2 on; AC-3 has crc1 there.
            const std::size_t header = (input[reference.offset + 5] >> 3) > 10 ? 2 : 4;
            EXPECT_TRUE(std::equal(&output[at + header], &output[at + 6],
                                   &input[reference.offset + header]));
            EXPECT_TRUE(ac3::crcsHold(&output[at], reference.size)) << "silent step " << step;
            at += reference.size;
        }
    }
    const Bytes cut = d.first <= d.last ? slice(input, frames, d.first, d.last) : Bytes{};
    EXPECT_EQ(Bytes(output.begin() + static_cast<long>(std::min(at, output.size())), output.end()),
              cut);
}

// Streams the encoder does not make, built from their headers: E-AC-3 frames of every block
// count and reduced sample rate, 7.1 (a dependent frame after each AC-3 or E-AC-3 frame),
// independent substreams beside substream 0, and syntaxes mixed in one file. Each goes through
// the same windows as the corpus, against the tests' own walk.
TEST(CutDriverTest, CopiesWholeTimeStepsOfBuiltStreams) {
    const struct {
        const char* what;
        Bytes stream;
        bool twins = true;  // the frames are long enough to hold silent twins
    } cases[] = {
        {"1, 2, 3 and 6 blocks per frame",
         steps(
             40,
             [](std::size_t i) {
                 return ac3::makeEac3Frame(
                     ac3::eac3(0, 0, 100 + 50 * (i % 4), 0, static_cast<int>(i % 4)), fillFor(i));
             },
             noExtras)},
        {"24, 22.05 and 16 kHz", steps(
                                     30,
                                     [](std::size_t i) {
                                         return ac3::makeEac3Frame(
                                             ac3::eac3(0, 0, 384, 3, static_cast<int>(i % 3)),
                                             fillFor(i));
                                     },
                                     noExtras)},
        {"dependent frames after AC-3 frames", steps(30, ac3Step, dependent)},
        {"dependent frames after E-AC-3 frames", steps(30, eac3Step, dependent)},
        {"independent substreams 1 to 7",
         steps(30, eac3Step,
               [](std::size_t i) {
                   std::vector<Bytes> extras;
                   for (int sub = 1; sub <= static_cast<int>(i % 7) + 1; ++sub) {
                       extras.push_back(
                           ac3::makeEac3Frame(ac3::eac3(sub % 2 == 0 ? 2 : 0, sub), 0x11));
                   }
                   return extras;
               })},
        {"converted AC-3 frames with dependent frames",
         steps(
             30, [](std::size_t i) { return ac3::makeEac3Frame(ac3::eac3(2, 0), fillFor(i)); },
             dependent)},
        {"frames that add no time before the first step",
         ac3::joined({dependent(0)[0], ac3::makeEac3Frame(ac3::eac3(0, 3), 0x22),
                      steps(30, ac3Step, dependent)})},
        {"44.1 kHz padded and unpadded frames",
         steps(
             40,
             [](std::size_t i) {
                 return ac3::makeFrame(1, 20 + static_cast<int>(i % 2), fillFor(i));
             },
             noExtras)},
        {"E-AC-3 frames too short for a silent twin",
         steps(
             30,
             [](std::size_t i) {
                 return ac3::makeEac3Frame(ac3::eac3(0, 0, 20, 0, 0), fillFor(i));
             },
             noExtras),
         false},
        {"AC-3, then E-AC-3, then AC-3",
         ac3::joined({steps(15, ac3Step, noExtras), steps(15, eac3Step, dependent),
                      steps(15, ac3Step, noExtras)})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<ac3::Frame> frames = ac3::walk(c.stream);
        ASSERT_EQ(frames.back().offset + frames.back().size, c.stream.size());
        for (const Window& w : windowsFor(frames)) {
            SCOPED_TRACE(w.name);
            Workspace work(c.stream);
            const Result run = runMorvane({"in.ac3", exact(w.from), exact(w.to)}, work.dir.path);
            const Prediction p = predict(frames, w.from, w.to);
            EXPECT_EQ(run.status, 0);
            EXPECT_EQ(run.out, progressLines(frames, p.progress) + ending);
            ASSERT_EQ(work.hasOutput(), p.first < frames.size());
            if (p.first < frames.size()) {
                EXPECT_EQ(work.output(), slice(c.stream, frames, p.first, p.last));
            }
        }
        // Moved by --delay from the first copied step (the stream's first, and one inside):
        // silent twins of every frame of it in front, or whole steps left out.
        for (const Window& w : {windowsFor(frames)[0], windowsFor(frames)[1]}) {
            for (const double delay : {0.1, -0.05}) {
                SCOPED_TRACE(testing::Message() << w.name << " delayed by " << delay);
                Workspace work(c.stream);
                const Result run = runMorvane(
                    {"--verbose", "--delay", exact(delay), "in.ac3", exact(w.from), exact(w.to)},
                    work.dir.path);
                const Prediction p = predict(frames, w.from, w.to);
                // Without twins the cut is not delayed, and says so.
                const bool delayed = c.twins || delay < 0;
                const DelayedCut d = predictDelay(frames, p, delayed ? delay : 0);
                std::string notice = delayNotice(d, delay);
                if (!delayed) {
                    char line[160];
                    std::snprintf(line, sizeof line,
                                  "morvane: in.ac3: not delayed: the frame at byte %zu is too "
                                  "short to hold a silent frame (%.3f s asked)\n",
                                  frames[p.first].offset, delay);
                    notice = line;
                }
                EXPECT_EQ(run.out, progressLines(frames, p.progress) + ending);
                EXPECT_EQ(run.err, formatLine(c.stream, frames) + notice +
                                       verboseLine(frames, d.first, d.last, "morvane_in.ac3"));
                ASSERT_EQ(work.hasOutput(), d.first <= d.last);
                if (d.first <= d.last)
                    expectDelayedOutput(work.output(), c.stream, frames, d, delay);
            }
        }
    }
}

// What a run says on standard error when the walk ended at `frames`' end: nothing at the end
// of the data, else where, after how long and why it stopped.
std::string stopNotice(const Bytes& data, const std::vector<ac3::Frame>& frames,
                       const std::string& reason) {
    const std::size_t end = frames.empty() ? 0 : frames.back().offset + frames.back().size;
    if (end == data.size()) return "";
    if (frames.empty()) return "morvane: in.ac3: does not start with an AC-3 or E-AC-3 frame\n";
    char line[300];
    std::snprintf(line, sizeof line,
                  "morvane: in.ac3: the stream ends at byte %zu, after %.3f s: %s; %zu %s left "
                  "unread\n",
                  end, frames.back().end, reason.c_str(), data.size() - end,
                  data.size() - end == 1 ? "byte" : "bytes");
    return line;
}

// The stream ends at the first spot that is not a whole, known frame; everything before it
// is cut as usual, and standard error says where and why. With --resync the walk goes on at
// the next whole frame that another follows, and says what it skipped. `kept` is the number
// of whole frames the run should see without the option.
TEST(CutDriverTest, StreamEndsAtTheFirstFrameThatIsNotWhole) {
    const Bytes sample = readSample();
    auto withFrame = [&](std::size_t at, std::uint8_t fifthByte) {
        Bytes data = sample;
        data[at * 768 + 4] = fifthByte;
        return data;
    };
    auto repeated = [](const Bytes& piece, std::size_t times) {
        Bytes data;
        for (std::size_t i = 0; i < times; ++i) data.insert(data.end(), piece.begin(), piece.end());
        return data;
    };
    // An E-AC-3 header that ends the stream, in front of enough bytes for a whole frame.
    auto reserved = [](std::uint8_t third, std::uint8_t fifth, std::uint8_t frmsiz = 100) {
        Bytes data = ac3::makeEac3Frame(ac3::eac3(0, 0), 0x33);
        data[2] = third;
        data[3] = frmsiz;
        data[4] = fifth;
        return data;
    };
    auto cutShort = [](Bytes frame) {
        frame.pop_back();
        return frame;
    };
    const Bytes junkBetween = ac3::inserted(sample, 100 * 768, {0x0B, 0x78, 0x00});
    const Bytes junkBefore = ac3::inserted(sample, 0, {0x00, 0x0B, 0x77});
    // A header that looks whole (512 bytes at 48 kHz) but is not followed by a sync word.
    const Bytes falseSync =
        ac3::inserted(sample, 40 * 768, {0x11, 0x0B, 0x77, 0, 0, 0x10, 0x40, 0x22});
    // The frame before the junk starts 256 bytes before the end of the first 1 MiB block.
    const Bytes junkAtTheEdge = ac3::inserted(repeated(sample, 6), 1365 * 768, {1, 2, 3, 4, 5});
    // Resynchronising finds the last frame by its header alone: nothing follows it.
    const Bytes first100(sample.begin(), sample.begin() + 100 * 768);
    const Bytes lastFrameAfterJunk =
        ac3::joined({first100, Bytes{1, 2, 3}, Bytes(sample.end() - 768, sample.end())});
    Bytes cutInTheMiddle = sample;
    cutInTheMiddle.erase(cutInTheMiddle.begin() + 100 * 768 + 468,
                         cutInTheMiddle.begin() + 101 * 768);
    const struct {
        const char* what;
        Bytes stream;
        std::size_t kept;
        const char* reason;
        std::size_t skips;       // with --resync
        const char* to = "1e6";  // the end of the window
    } cases[] = {
        {"junk before the first frame", junkBefore, 0, "no sync word", 1},
        {"junk between frames", junkBetween, 100, "no sync word", 1},
        {"junk right after the window", junkBetween, 100, "no sync word", 1, "3.17"},
        {"a false sync word inside junk", falseSync, 40, "no sync word", 1},
        {"a frame cut short in the middle", cutInTheMiddle, 101, "no sync word", 1},
        {"junk at the 1 MiB buffer edge", junkAtTheEdge, 1365, "no sync word", 1},
        {"junk at the end", ac3::joined({sample, Bytes(1000, 0x0B)}), 250, "no sync word", 0},
        {"junk before a last frame that ends at the end of the file", lastFrameAfterJunk, 100,
         "no sync word", 1},
        {"a lone last byte that is not the first of a sync word",
         ac3::joined({sample, Bytes{0x42}}), 250, "no sync word", 0},
        {"a truncated last frame", Bytes(sample.begin(), sample.end() - 100), 249,
         "a frame cut short by the end of the input", 0},
        {"a reserved sample rate code", withFrame(50, 0xC0 | 20), 50, "reserved fscod 3", 1},
        {"a frame size code above 37", withFrame(50, 38), 50, "undefined frmsizecod 38", 1},
        {"frames across the 1 MiB buffer edge", repeated(sample, 6), 1500, "", 0},
        {"a frame ending on the buffer edge", repeated(ac3::makeFrame(0, 16, 0x42), 2050), 2050, "",
         0},
        {"E-AC-3 frames of 4096 bytes across the buffer edge",
         ac3::joined({eac3Step(0), repeated(ac3::makeEac3Frame(ac3::eac3(0, 0, 4096), 0x42), 300)}),
         301, "", 0},
        {"an E-AC-3 reserved strmtyp",
         ac3::joined({eac3Step(0), eac3Step(1), reserved(0xC0, 0x30)}), 2, "reserved strmtyp 3", 0},
        {"an E-AC-3 reserved fscod2", ac3::joined({eac3Step(0), reserved(0x00, 0xF0)}), 1,
         "reserved fscod2 3", 0},
        {"an E-AC-3 frame shorter than its header",
         ac3::joined({eac3Step(0), dependent(0)[0], reserved(0x00, 0x30, 2)}), 2,
         "frmsiz 2 is shorter than a header", 0},
        {"a dependent frame cut short",
         ac3::joined({eac3Step(0), eac3Step(1), cutShort(dependent(1)[0])}), 2,
         "a frame cut short by the end of the input", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Workspace work(c.stream);
        ASSERT_EQ(work.frames.size(), c.kept);
        std::vector<ac3::Skip> skips;
        const std::vector<ac3::Frame> resynced = ac3::walk(c.stream, &skips);
        ASSERT_EQ(skips.size(), c.skips);
        for (const bool resync : {false, true}) {
            SCOPED_TRACE(resync ? "with --resync" : "without --resync");
            const std::vector<ac3::Frame>& frames = resync ? resynced : work.frames;
            std::filesystem::remove(work.dir / "morvane_in.ac3");
            std::vector<std::string> args = {"in.ac3", "0", c.to};
            if (resync) args.insert(args.begin(), "--resync");
            const Result run = runMorvane(args, work.dir.path);
            // Once the window is complete, whatever comes after it goes unsaid.
            const Prediction p = predict(frames, 0, std::atof(c.to));
            const bool complete = p.progress < frames.size();
            EXPECT_EQ(run.status, 0);
            EXPECT_EQ(run.out, progressLines(frames, p.progress) + ending);
            std::string notices;
            for (const ac3::Skip& skip : resync ? skips : std::vector<ac3::Skip>{}) {
                if (complete && skip.offset >= frames[p.last].offset + frames[p.last].size) break;
                notices += "morvane: in.ac3: skipped " + std::to_string(skip.bytes) +
                           " bytes at byte " + std::to_string(skip.offset) + " (" + c.reason +
                           ")\n";
            }
            EXPECT_EQ(run.err, notices + (complete ? "" : stopNotice(c.stream, frames, c.reason)));
            ASSERT_EQ(work.hasOutput(), !frames.empty());
            Bytes copied;
            for (std::size_t i = 0; i < frames.size() && i <= p.last; ++i) {
                copied.insert(
                    copied.end(), c.stream.begin() + static_cast<long>(frames[i].offset),
                    c.stream.begin() + static_cast<long>(frames[i].offset + frames[i].size));
            }
            if (!frames.empty()) {
                EXPECT_EQ(work.output(), copied);
            }
        }
        EXPECT_EQ(readFile(work.dir / "in.ac3"), c.stream) << "the input is never changed";
    }
}

TEST(CutDriverTest, BadCommandLinesGetTheUsageText) {
    const std::vector<std::vector<std::string>> commandLines = {
        {},
        {"in.ac3"},
        {"in.ac3", "1"},
        {"in.ac3", "1", "2", "3"},
        {"in.ac3", "10", "5"},
        {"--quiet", "in.ac3", "1", "2", "3"},
        {"--quiet", "in.ac3", "2", "1"},
        {"--quiet", "--quiet", "in.ac3", "1", "2"},
        {"--resync", "in.ac3", "1", "2", "--resync"},
        {"-o", "a.ac3", "-o", "b.ac3", "in.ac3", "1", "2"},
        {"in.ac3", "1", "2", "-o"},
        {"--fast", "in.ac3", "1", "2"},
        {"--quiet", "--fast", "in.ac3", "1"},
        {"--quiet", "--", "--resync", "in.ac3", "1", "2"},
        {"--help"},
        {"--delay", "abc", "in.ac3", "1", "2"},
        {"--delay", "1e400", "in.ac3", "1", "2"},
        {"--delay", "nan", "in.ac3", "1", "2"},
        {"--delay", "90000", "in.ac3", "1", "2"},
        {"--delay", "-86400.5", "in.ac3", "1", "2"},
        {"--delay", "86400.001", "in.ac3", "1", "2"},
        {"--delay", "-86400.001", "in.ac3", "1", "2"},
        {"--delay", "1s", "in.ac3", "1", "2"},
        {"--delay", "1", "--delay", "1", "in.ac3", "1", "2"},
        {"in.ac3", "1", "2", "--delay"},
        // Three arguments, the first an option's name: read as options, here one positional.
        {"--quiet", "1", "2"},
        {"-o", "1", "2"},
    };
    for (const auto& args : commandLines) {
        SCOPED_TRACE(testing::PrintToString(args));
        Workspace work;
        const Result run = runMorvane(args, work.dir.path);
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.out, usageText);
        // Standard error lists every option, a line each, and says where to read more.
        for (const char* option :
             {"\n  -o OUTPUT ", "\n  --resync ", "\n  --quiet ", "\n  -- ", "\n  --delay SECONDS ",
              "\n  --verbose ", "\n  --check ", "\n  --repair ", "\n  --split MODE:LIST ",
              "\n  --edit T,+D|T,-D ", "\n  --edl FILE ", "\n  --chapters FILE ",
              "\n  --trims FILE ", "\n  --fps RATE ", "\n  --core "}) {
            EXPECT_NE(run.err.find(option), std::string::npos) << option;
        }
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 17);
        const std::string pointer = "\nsee man morvane for more\n";
        EXPECT_EQ(run.err.substr(run.err.size() - std::min(run.err.size(), pointer.size())),
                  pointer);
        EXPECT_FALSE(work.hasOutput());
    }
}

TEST(CutDriverTest, ExistingOutputIsReplacedOnlyWhenAFrameIsCopied) {
    Workspace work;
    const Bytes old(300000, 0xEE);
    writeFile(work.dir / "morvane_in.ac3", old);
    runMorvane({"in.ac3", "9", "10"}, work.dir.path);
    EXPECT_EQ(work.output(), old) << "a window after the end leaves it untouched";
    EXPECT_EQ(runMorvane({"in.ac3", "1", "2"}, work.dir.path).status, 0);
    EXPECT_EQ(work.output(), slice(work.input, work.frames, 31, 62));
}

TEST(CutDriverTest, InputThatCannotBeCut) {
    const struct {
        const char* what;
        std::string name;
        std::string out;
        int status;
        std::string err;
    } cases[] = {
        {"missing", "missing.ac3", "could not open missing.ac3 for input\n" + ending, 1, ""},
        {"a directory", "adir", "could not open adir for input\n" + ending, 1, ""},
        {"not AC-3", "text.ac3", ending, 0,
         "morvane: text.ac3: does not start with an AC-3 or E-AC-3 frame\n"},
        {"empty", "empty.ac3", ending, 0,
         "morvane: empty.ac3: does not start with an AC-3 or E-AC-3 frame\n"},
        {"unreadable", "/proc/self/mem", "errors while reading from /proc/self/mem\n" + ending, 1,
         ""},
        {"missing, named in other scripts", "Größe_日本.ac3",
         "could not open Größe_日本.ac3 for input\n" + ending, 1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (windowsProgram() && c.name == "/proc/self/mem") continue;  // no such file there
        Workspace work;
        std::filesystem::create_directory(work.dir / "adir");
        writeFile(work.dir / "text.ac3", Bytes(5000, 'x'));
        writeFile(work.dir / "empty.ac3", {});
        const auto before = std::distance(std::filesystem::directory_iterator(work.dir.path), {});
        const Result run = runMorvane({c.name, "0", "1000"}, work.dir.path);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(work.dir.path), {}), before)
            << "no output file";
    }
}

TEST(CutDriverTest, OutputThatCannotBeWritten) {
    const std::string refused = "could not open morvane_in.ac3 for output\n" + ending;
    const struct {
        const char* what;
        void (*prepare)(const Workspace&);
        std::string out;
    } cases[] = {
        {"a symbolic link to the input",
         [](const Workspace& w) {
             std::filesystem::create_symlink("in.ac3", w.dir / "morvane_in.ac3");
         },
         refused},
        {"a hard link to the input",
         [](const Workspace& w) {
             std::filesystem::create_hard_link(w.dir / "in.ac3", w.dir / "morvane_in.ac3");
         },
         refused},
        {"a directory",
         [](const Workspace& w) { std::filesystem::create_directory(w.dir / "morvane_in.ac3"); },
         refused},
        {"a full disk",
         [](const Workspace& w) {
             std::filesystem::create_symlink("/dev/full", w.dir / "morvane_in.ac3");
         },
         "errors while writing to morvane_in.ac3\n" + ending},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (windowsProgram() && std::string(c.what) == "a full disk") continue;  // no /dev/full
        Workspace work;
        c.prepare(work);
        const Result run = runMorvane({"in.ac3", "1", "2"}, work.dir.path);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, progressLines(work.frames, 31) + c.out);
        EXPECT_EQ(readFile(work.dir / "in.ac3"), work.input) << "the input is never changed";
    }
}

// With more than three arguments: -o names the output, --quiet drops the progress lines,
// --delay moves the cut in time, --verbose says where the cut lies, and "--" ends the options;
// a negative time stays a time. The input is never changed.
TEST(CutDriverTest, OptionsNameTheOutputAndQuietTheProgress) {
    const std::string nothingToCut =
        "morvane: in.ac3: nothing to cut: the window starts after the end of the stream, which "
        "is 8.000 s long\n";
    const struct {
        std::vector<std::string> args;
        const char* output;       // the file the frames go to, or none
        std::size_t first, last;  // the cut without --delay
        std::size_t lines;        // progress lines
        std::string message;
        int status;
        double delay = 0.0;
        bool verbose = false;
        std::string err = "";  // before what --delay and --verbose say
    } cases[] = {
        {{"-o", "cut.ac3", "in.ac3", "1", "2"}, "cut.ac3", 32, 63, 62, "", 0},
        {{"in.ac3", "1", "2", "--quiet"}, "morvane_in.ac3", 32, 63, 0, "", 0},
        {{"--quiet", "in.ac3", "-1.5", "0.05"}, "morvane_in.ac3", 1, 2, 0, "", 0},
        {{"-o", "x.ac3", "--", "in.ac3", "-1.5", "0.05"}, "x.ac3", 1, 2, 1, "", 0},
        {{"--resync", "in.ac3", "-o", "-o", "1", "2"}, "-o", 32, 63, 62, "", 0},
        {{"-o", "in.ac3", "in.ac3", "1", "2"},
         nullptr,
         0,
         0,
         31,
         "could not open in.ac3 for output\n",
         1},
        {{"-o", "link.ac3", "in.ac3", "1", "2"},
         nullptr,
         0,
         0,
         31,
         "could not open link.ac3 for output\n",
         1},
        {{"./--quiet", "1", "2"}, nullptr, 0, 0, 0, "could not open ./--quiet for input\n", 1},
        {{"--delay", "0.25", "in.ac3", "1", "2"}, "morvane_in.ac3", 32, 63, 62, "", 0, 0.25},
        {{"--delay", "-0.2", "in.ac3", "1", "2"}, "morvane_in.ac3", 32, 63, 62, "", 0, -0.2},
        {{"--delay", "0", "in.ac3", "1", "2"}, "morvane_in.ac3", 32, 63, 62, "", 0},
        {{"--delay", "-1.5", "in.ac3", "1", "2"}, "morvane_in.ac3", 32, 63, 62, "", 0, -1.5},
        // A whole day either way is the most a delay may be.
        {{"--delay", "-86400", "in.ac3", "1", "2"}, "morvane_in.ac3", 32, 63, 62, "", 0, -86400},
        // Half a frame is rounded up, a little less down.
        {{"--delay", "0.016", "in.ac3", "1", "2"}, "morvane_in.ac3", 32, 63, 62, "", 0, 0.016},
        {{"--delay", "-0.016", "in.ac3", "1", "2"}, "morvane_in.ac3", 32, 63, 62, "", 0, -0.016},
        {{"--delay", "0.0159", "in.ac3", "1", "2"}, "morvane_in.ac3", 32, 63, 62, "", 0, 0.0159},
        {{"--delay", "1", "in.ac3", "9", "10"}, nullptr, 0, 0, 250, "", 0, 1, false, nothingToCut},
        {{"--delay", "0.1", "-o", "cut.ac3", "--quiet", "--resync", "in.ac3", "1", "2"},
         "cut.ac3",
         32,
         63,
         0,
         "",
         0,
         0.1},
        {{"--verbose", "in.ac3", "1", "2"}, "morvane_in.ac3", 32, 63, 62, "", 0, 0, true},
        {{"--verbose", "--delay", "-0.2", "-o", "v.ac3", "in.ac3", "1", "2"},
         "v.ac3",
         32,
         63,
         62,
         "",
         0,
         -0.2,
         true},
        {{"--verbose", "--delay", "0.1", "in.ac3", "7.99", "1e6"},
         "morvane_in.ac3",
         250,
         250,
         250,
         "",
         0,
         0.1,
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        Workspace work;
        std::filesystem::create_symlink("in.ac3", work.dir / "link.ac3");
        const auto before = std::distance(std::filesystem::directory_iterator(work.dir.path), {});
        const Result run = runMorvane(c.args, work.dir.path);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, progressLines(work.frames, c.lines) + c.message + ending);
        DelayedCut d;
        if (c.output != nullptr) {
            d = predictDelay(work.frames, {c.first - 1, c.last - 1, c.lines}, c.delay);
        }
        const bool made = c.output != nullptr && d.first <= d.last;
        EXPECT_EQ(
            run.err,
            (c.verbose ? formatLine(work.input, work.frames) : "") + c.err +
                delayNotice(d, c.delay) +
                (c.verbose && made ? verboseLine(work.frames, d.first, d.last, c.output) : ""));
        if (made) {
            expectDelayedOutput(readFile(work.dir / c.output), work.input, work.frames, d, c.delay);
        } else {
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(work.dir.path), {}),
                      before);
        }
        EXPECT_EQ(readFile(work.dir / "in.ac3"), work.input) << "the input is never changed";
    }
}

// A line on standard error about frame `k` of `frames`.
std::string frameLine(const std::vector<ac3::Frame>& frames, std::size_t k, const char* what) {
    const bool replaced = std::strcmp(what, "replaced") == 0;
    const bool leftOut = std::strcmp(what, "left out") == 0;
    char line[160];
    std::snprintf(line, sizeof line,
                  "morvane: in.ac3: %sthe frame at byte %zu (ending at %.3f s)%s\n",
                  replaced  ? "replaced "
                  : leftOut ? "left out "
                            : "",
                  frames[k].offset, frames[k].end,
                  replaced  ? " with silence"
                  : leftOut ? ": it is too short to hold a silent frame"
                            : " fails its CRC check");
    return line;
}

// --check names the frames that fail their CRCs, up to the window's end, and says how many,
// changing nothing else but the exit status. --repair puts silence in their place in the cut,
// and silent steps where bytes were lost, so that the timeline stays the input's. The damage
// here keeps every byte's place, so the progress lines are those of the undamaged stream.
TEST(CutDriverTest, CheckAndRepairKeepTheTimeline) {
    const Bytes sample = readSample();
    const std::vector<ac3::Frame> clean = ac3::walk(sample);
    const Bytes six = ac3::joined({sample, sample, sample, sample, sample, sample});
    const auto flipped = [](Bytes stream, std::size_t at) {
        stream[at] ^= 0x10;
        return stream;
    };
    const auto junk = [&](std::size_t first, std::size_t count) {
        Bytes stream = sample;
        std::fill_n(stream.begin() + static_cast<long>(first * 768), count * 768, 0);
        return stream;
    };
    const std::string oneOf63 = "morvane: in.ac3: 1 of 63 frames failed their CRC check\n";
    // 7.1: E-AC-3 cores of 512 bytes with dependent frames of 256, every CRC holding.
    std::vector<Bytes> steps71;
    for (std::size_t i = 0; i < 30; ++i) {
        steps71.push_back(ac3::withCrc2(ac3::makeEac3Frame(ac3::eac3(0, 0), fillFor(i))));
        steps71.push_back(ac3::withCrc2(ac3::makeEac3Frame(ac3::eac3(1, 0, 256), fillFor(i + 1))));
    }
    const Bytes sevenOne = ac3::joined(steps71);
    const std::vector<ac3::Frame> sevenOneFrames = ac3::walk(sevenOne);
    // E-AC-3 mono frames of one block and 20 bytes: too short for a silent twin.
    std::vector<Bytes> tinyFrames;
    for (std::size_t i = 0; i < 30; ++i)
        tinyFrames.push_back(
            ac3::withCrc2(ac3::makeEac3Frame(ac3::eac3(0, 0, 20, 0, 0), fillFor(i))));
    const Bytes tiny = ac3::joined(tinyFrames);
    // 44.1 kHz AC-3 with bsid 17, every third frame padded by a word, and a gap where a padded
    // frame and two unpadded ones were.
    std::vector<Bytes> frames44k1;
    for (std::size_t i = 0; i < 40; ++i) {
        Bytes frame = ac3::makeFrame(1, i % 3 == 0 ? 17 : 16, fillFor(i));
        frame[5] = 17 << 3;
        frames44k1.push_back(ac3::withCrcs(frame));
        EXPECT_TRUE(ac3::crcsHold(frames44k1.back().data(), frame.size()));
    }
    const Bytes bsid17 = ac3::joined(frames44k1);
    const std::vector<ac3::Frame> bsid17Frames = ac3::walk(bsid17);
    Bytes bsid17Gap = bsid17;
    std::fill(bsid17Gap.begin() + static_cast<long>(bsid17Frames[30].offset),
              bsid17Gap.begin() + static_cast<long>(bsid17Frames[33].offset), 0);
    const struct {
        const char* what;
        Bytes stream;
        std::vector<std::string> args;
        std::size_t first, last, progress;  // frames of the undamaged stream: cut, lines
        std::set<std::size_t> silent;       // frames of the cut that must be silent
        std::string err;
        int status;
        long delayed = 0;                  // silent steps in front
        const Bytes* undamaged = nullptr;  // the stream before the damage, if not the sample
        std::size_t leftOut = SIZE_MAX;    // a frame of the cut that is not in the output
    } cases[] = {
        {"--check, clean", sample, {"--check", "in.ac3", "1", "2"}, 31, 62, 62, {}, "", 0},
        {"--check, a bad frame before the window",
         flipped(sample, 9 * 768 + 100),
         {"--check", "in.ac3", "1", "2"},
         31,
         62,
         62,
         {},
         frameLine(clean, 9, "fails") + oneOf63,
         2},
        {"--check, a bad frame in the window",
         flipped(sample, 40 * 768 + 100),
         {"--check", "in.ac3", "1", "2"},
         31,
         62,
         62,
         {},
         frameLine(clean, 40, "fails") + oneOf63,
         2},
        {"--check, a bad frame after the window",
         flipped(sample, 100 * 768 + 100),
         {"--check", "in.ac3", "1", "2"},
         31,
         62,
         62,
         {},
         "",
         0},
        {"--check, a bad frame across the 1 MiB buffer edge",
         flipped(six, 1365 * 768 + 400),
         {"--check", "--quiet", "in.ac3", "0", "1e6"},
         0,
         1499,
         0,
         {},
         frameLine(ac3::walk(six), 1365, "fails") +
             "morvane: in.ac3: 1 of 1500 frames failed their CRC check\n",
         2,
         0,
         &six},
        {"--repair, a bad frame in the window, with -o, --quiet and --delay",
         flipped(sample, 40 * 768 + 100),
         {"--repair", "-o", "morvane_in.ac3", "--quiet", "--delay", "0.1", "in.ac3", "1", "2"},
         31,
         62,
         0,
         {40},
         frameLine(clean, 40, "fails") + frameLine(clean, 40, "replaced") + oneOf63 +
             "morvane: in.ac3: delayed by 0.096 s: 3 silent frames before the cut (0.100 s "
             "asked)\n",
         2,
         3},
        {"--repair, a bad frame that ends exactly where the window starts",
         flipped(sample, 100),
         {"--repair", "in.ac3", "0.032", "1"},
         0,
         31,
         31,
         {0},
         frameLine(clean, 0, "fails") + frameLine(clean, 0, "replaced") +
             "morvane: in.ac3: 1 of 32 frames failed their CRC check\n",
         2},
        {"--check, a clean 7.1 stream",
         sevenOne,
         {"--check", "in.ac3", "0", "1e6"},
         0,
         59,
         60,
         {},
         "",
         0,
         0,
         &sevenOne},
        {"--repair, a bad dependent frame of a 7.1 stream",
         flipped(sevenOne, sevenOneFrames[21].offset + 100),
         {"--repair", "in.ac3", "0", "1e6"},
         0,
         59,
         60,
         {21},
         frameLine(sevenOneFrames, 21, "fails") + frameLine(sevenOneFrames, 21, "replaced") +
             "morvane: in.ac3: 1 of 60 frames failed their CRC check\n",
         2,
         0,
         &sevenOne},
        {"--repair, a bad frame too short to hold a silent frame",
         flipped(tiny, 10 * 20 + 12),
         {"--repair", "in.ac3", "0", "1e6"},
         0,
         29,
         30,
         {},
         frameLine(ac3::walk(tiny), 10, "fails") + frameLine(ac3::walk(tiny), 10, "left out") +
             "morvane: in.ac3: 1 of 30 frames failed their CRC check\n",
         2,
         0,
         &tiny,
         10},
        {"--repair, a gap in 44.1 kHz frames of bsid 17, which is AC-3",
         bsid17Gap,
         {"--repair", "in.ac3", "0", "1e6"},
         0,
         39,
         40,
         {30, 31, 32},
         "morvane: in.ac3: filled 0.104 s (3 silent frames) for 1670 bytes skipped at byte "
         "16700\n",
         2,
         0,
         &bsid17},
        {"--repair, a gap at the very start",
         junk(0, 1),
         {"--repair", "in.ac3", "0", "1"},
         0,
         31,
         31,
         {0},
         "morvane: in.ac3: filled 0.032 s (1 silent frame) for 768 bytes skipped at byte 0\n",
         2},
        {"--repair, a gap longer than the window",
         junk(50, 10),
         {"--repair", "in.ac3", "1.7", "1.8"},
         53,
         56,
         56,
         {53, 54, 55, 56},
         "morvane: in.ac3: filled 0.320 s (10 silent frames) for 7680 bytes skipped at byte "
         "38400\n",
         2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Workspace work(c.stream);
        const Result run = runMorvane(c.args, work.dir.path);
        const Bytes& whole = c.undamaged != nullptr ? *c.undamaged : sample;
        const std::vector<ac3::Frame> frames = ac3::walk(whole);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, progressLines(frames, c.progress) + ending);
        EXPECT_EQ(run.err, c.err);
        const Bytes output = work.output();
        const std::vector<ac3::Frame> out = ac3::walk(output);
        // The frame of the input that each output frame stands for.
        std::vector<std::size_t> source(static_cast<std::size_t>(c.delayed), c.first);
        for (std::size_t k = c.first; k <= c.last; ++k)
            if (k != c.leftOut) source.push_back(k);
        ASSERT_EQ(out.size(), source.size());
        for (std::size_t i = 0; i < out.size(); ++i) {
            const std::size_t k = source[i];
            const Bytes frame = slice(output, out, i, i);
            const bool silent = i < static_cast<std::size_t>(c.delayed) || c.silent.count(k) != 0;
            // A silent frame has its reference's length, header and valid CRCs; any other is
            // the input's own.
            EXPECT_EQ(frame.size(), frames[k].size) << "frame " << i;
            if (silent) {
                EXPECT_TRUE(ac3::crcsHold(frame.data(), frame.size())) << "frame " << i;
                EXPECT_NE(frame, slice(whole, frames, k, k)) << "frame " << i;
            } else {
                EXPECT_EQ(frame, slice(c.stream, frames, k, k)) << "frame " << i;
            }
        }
    }
}

// The prefix goes before the whole argument, so the output lands in morvane_sub/.
TEST(CutDriverTest, OutputNameKeepsTheDirectoryPart) {
    Workspace work;
    std::filesystem::create_directory(work.dir / "sub");
    writeFile(work.dir / "sub/in.ac3", work.input);
    Result run = runMorvane({"sub/in.ac3", "0", "1"}, work.dir.path);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "could not open morvane_sub/in.ac3 for output\n" + ending);

    std::filesystem::create_directory(work.dir / "morvane_sub");
    run = runMorvane({"sub/in.ac3", "1", "2"}, work.dir.path);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(readFile(work.dir / "morvane_sub/in.ac3"), slice(work.input, work.frames, 31, 62));
}

// Names are bytes on POSIX, and UTF-8 on Windows, where the program's manifest sets the code
// page: the output is named after the input whatever the script.
TEST(CutDriverTest, NamesOutsideAscii) {
    const struct {
        const char* what;
        std::string name;
        bool onWindows;
    } cases[] = {
        {"letters of other scripts", "Größe_日本.ac3", true},
        {"bytes that are not UTF-8", "bad\xFF\xFE name.ac3", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (windowsProgram() && !c.onWindows) continue;  // not a name Windows can hold
        Workspace work;
        writeFile(work.dir / c.name, work.input);
        const Result run = runMorvane({c.name, "1", "2"}, work.dir.path);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, progressLines(work.frames, 62) + ending);
        EXPECT_EQ(readFile(work.dir / ("morvane_" + c.name)),
                  slice(work.input, work.frames, 31, 62));
    }
}

// A pipe cannot be measured: where junk stops the walk, the notice counts what had arrived.
TEST(CutDriverTest, ReadsAFifoWhole) {
    const Bytes sample = readSample();
    const Bytes junkInside = ac3::inserted(sample, 100 * 768, {0x0B, 0x78, 0x00});
    const struct {
        const char* what;
        Bytes stream;
        std::size_t kept;  // whole frames before the junk
        std::string err;
    } cases[] = {
        {"whole frames", sample, 250, ""},
        {"junk inside", junkInside, 100,
         "morvane: pipe.ac3: the stream ends at byte 76800, after 3.200 s: no sync word; at least "
         "115203 bytes left unread\n"},
    };
    std::signal(SIGPIPE, SIG_IGN);  // a reader that stops early fails the test, not the process
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Workspace work(c.stream);
        ASSERT_EQ(mkfifo((work.dir / "pipe.ac3").c_str(), 0600), 0);
        std::thread writer([&] {
            const int fd = open((work.dir / "pipe.ac3").c_str(), O_WRONLY);
            // Small pieces with pauses, so that the reader sees many short reads.
            for (std::size_t at = 0; at < work.input.size(); at += 7000) {
                const std::size_t n = std::min<std::size_t>(7000, work.input.size() - at);
                EXPECT_EQ(write(fd, work.input.data() + at, n), static_cast<ssize_t>(n));
                if (at % 70000 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            close(fd);
        });
        const Result run = runMorvane({"pipe.ac3", "0", "1000"}, work.dir.path);
        writer.join();
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(readFile(work.dir / "morvane_pipe.ac3"),
                  slice(work.input, work.frames, 0, c.kept - 1));
    }
}

TEST(CutDriverTest, InterruptedAndShortCallsLoseNothing) {
    if (windowsProgram()) GTEST_SKIP() << "the fault shim is preloaded into POSIX programs only";
    Workspace work;
    const Result run =
        runMorvane({"in.ac3", "0", "1000"}, work.dir.path, shimmed("IO_FAULT_CHOPPY=1"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, progressLines(work.frames, 250) + ending);
    EXPECT_EQ(work.output(), work.input);
}

// Faults below the program, from the preloaded shim: a read error after 100000 bytes (130
// whole frames of 768 bytes), and a write error that the system reports only when the file is
// closed (NFS, quotas). The frames before the fault stay in the file.
TEST(CutDriverTest, ReadAndCloseErrorsKeepTheFramesBeforeThem) {
    if (windowsProgram()) GTEST_SKIP() << "the fault shim is preloaded into POSIX programs only";
    const struct {
        const char* setting;
        const char* from;
        const char* to;
        std::size_t lines, first, last;  // progress lines; frames in the file, from 0
        std::string message;
        bool file = true;  // an output file is made
    } cases[] = {
        {"IO_FAULT_READ_LIMIT=100000", "0", "1000", 130, 0, 129,
         "errors while reading from in.ac3\n"},
        // The error, not the window, ends the run: there is no "nothing to cut" to say.
        {"IO_FAULT_READ_LIMIT=100000", "5", "6", 130, 0, 0, "errors while reading from in.ac3\n",
         false},
        {"IO_FAULT_CLOSE_FAILS=1", "1", "2", 62, 31, 62,
         "errors while writing to morvane_in.ac3\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.setting << " " << c.from << " to " << c.to);
        Workspace work;
        const Result run = runMorvane({"in.ac3", c.from, c.to}, work.dir.path, shimmed(c.setting));
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, progressLines(work.frames, c.lines) + c.message + ending);
        EXPECT_EQ(run.err, "");
        ASSERT_EQ(work.hasOutput(), c.file);
        if (c.file) {
            EXPECT_EQ(work.output(), slice(work.input, work.frames, c.first, c.last));
        }
    }
}

// A disk that fills up after N bytes of output: the file and the console are what one write
// per frame gives, whatever batches the program writes in, as worked out here from the frames.
TEST(CutDriverTest, FullDiskLeavesWhatOneWritePerFrameWould) {
    if (windowsProgram()) GTEST_SKIP() << "the fault shim is preloaded into POSIX programs only";
    const Bytes sample = readSample();
    const Bytes stream = ac3::joined({sample, sample, sample});
    constexpr std::size_t frame = 768;
    // What the program's 256 KiB output buffer holds of whole frames.
    constexpr std::size_t batch = 256 * 1024 / frame * frame;
    const struct {
        const char* what;
        std::size_t limit;
    } cases[] = {
        {"no room at all", 0},
        {"inside the first frame", 100},
        {"on a frame boundary", 10 * frame},
        {"inside a frame in the middle of a batch", 150 * frame + 300},
        {"on a batch boundary", batch},
        {"inside the last frame", stream.size() - 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Workspace work(stream);
        const Result run = runMorvane({"in.ac3", "0", "1e6"}, work.dir.path,
                                      shimmed("IO_FAULT_WRITE_LIMIT=" + std::to_string(c.limit)));
        // The frame that holds the first byte that could not be written.
        std::size_t failing = 0;
        while (work.frames[failing].offset + work.frames[failing].size <= c.limit) ++failing;
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, progressLines(work.frames, failing) +
                               "errors while writing to morvane_in.ac3\n" + ending);
        EXPECT_EQ(work.output(),
                  Bytes(stream.begin(), stream.begin() + static_cast<long>(c.limit)));
    }
}

// Waits for `pid` to end, killing it after a while so that a program that hangs fails the test
// instead of holding it up.
void endsWithin(pid_t pid, std::chrono::seconds limit) {
    const std::string stat = "/proc/" + std::to_string(pid) + "/stat";
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        const std::string line = asText(readFile(stat));
        // The state follows the command name in parentheses; Z is ended, not yet waited for.
        if (line.substr(line.rfind(')') + 2, 1) == "Z") return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ADD_FAILURE() << "still running after " << limit.count() << " s";
    kill(pid, SIGKILL);
}

// A live FIFO: the frames of the first 1 MiB block the writer feeds are in the file before it
// feeds more. A stop signal while the program waits for the rest ends it as the signal does,
// with those frames in the file; a signal the run was started with ignored changes nothing.
// A stop signal also ends a run whose write waits on an output pipe that nobody reads.
TEST(CutDriverTest, FifoFramesReachTheFileBlockByBlock) {
    if (windowsProgram()) GTEST_SKIP() << "POSIX FIFOs and signals";
    const Bytes sample = readSample();
    const Bytes stream = ac3::joined({sample, sample, sample, sample, sample, sample});
    constexpr std::size_t block = 1 << 20;
    const std::size_t walked = block / 768 * 768;  // the whole frames of the first block
    std::signal(SIGPIPE, SIG_IGN);  // a reader that stops early fails the test, not the process
    const struct {
        const char* what;
        int signal;                   // sent once the first block's frames are in the file, or 0
        bool hupIgnored;              // the run starts with SIGHUP ignored, as under nohup
        bool stops;                   // the signal ends the run
        bool fullOutputPipe = false;  // the output is a FIFO that is never read
    } cases[] = {
        {"fed to the end", 0, false, false},
        {"stopped by SIGTERM", SIGTERM, false, true},
        {"SIGHUP under nohup", SIGHUP, true, false},
        {"SIGTERM while writing to a full pipe", SIGTERM, false, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Workspace work(stream);
        if (c.fullOutputPipe) {
            ASSERT_EQ(mkfifo((work.dir / "out.fifo").c_str(), 0600), 0);
            // Held open, so that the program's open does not wait, but never read.
            const int unread = open((work.dir / "out.fifo").c_str(), O_RDONLY | O_NONBLOCK);
            const Result run = runMorvane(
                {"-o", "out.fifo", "in.ac3", "0", "1e6"}, work.dir.path, {}, -1, [&](pid_t pid) {
                    const int capacity = fcntl(unread, F_GETPIPE_SZ);
                    int queued = 0;
                    const auto deadline =
                        std::chrono::steady_clock::now() + std::chrono::seconds(30);
                    while ((ioctl(unread, FIONREAD, &queued) != 0 || queued < capacity) &&
                           std::chrono::steady_clock::now() < deadline) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(2));
                    }
                    EXPECT_EQ(queued, capacity) << "the pipe fills up";
                    kill(pid, c.signal);
                    endsWithin(pid, std::chrono::seconds(10));
                });
            close(unread);
            EXPECT_EQ(run.signal, c.signal);
            continue;
        }
        const std::string pipe = work.dir / "pipe.ac3";
        const std::string output = work.dir / "morvane_pipe.ac3";
        ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
        const auto feed = [&](std::size_t from, std::size_t to, int fd) {
            for (std::size_t at = from; at < to;) {
                const ssize_t n = write(fd, stream.data() + at, to - at);
                if (n <= 0) return;
                at += static_cast<std::size_t>(n);
            }
        };
        // The program inherits an ignored signal across exec.
        if (c.hupIgnored) std::signal(SIGHUP, SIG_IGN);
        const Result run =
            runMorvane({"pipe.ac3", "0", "1e6"}, work.dir.path, {}, -1, [&](pid_t pid) {
                const int fd = open(pipe.c_str(), O_WRONLY);
                feed(0, block, fd);
                std::error_code noFile;
                const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
                while (std::filesystem::file_size(output, noFile) != walked &&
                       std::chrono::steady_clock::now() < deadline) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
                EXPECT_EQ(std::filesystem::file_size(output, noFile), walked)
                    << "the first block's frames before the rest is fed";
                if (c.signal != 0) kill(pid, c.signal);
                if (!c.stops) feed(block, stream.size(), fd);
                close(fd);
            });
        std::signal(SIGHUP, SIG_DFL);
        if (c.stops) {
            EXPECT_EQ(run.signal, c.signal);
            EXPECT_EQ(readFile(output),
                      Bytes(stream.begin(), stream.begin() + static_cast<long>(walked)));
        } else {
            EXPECT_EQ(run.signal, 0);
            EXPECT_EQ(run.status, 0);
            EXPECT_EQ(readFile(output), stream);
        }
    }
}

// On a terminal the progress lines are flushed as the cut runs; the bytes are the same.
TEST(CutDriverTest, TerminalGetsTheSameBytes) {
    if (windowsProgram()) GTEST_SKIP() << "a Windows console is not a pseudo-terminal";
    Workspace work;
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    std::string shown;
    std::thread reader([&] {
        char chunk[4096];
        ssize_t n;
        while ((n = read(master, chunk, sizeof chunk)) > 0)
            shown.append(chunk, static_cast<std::size_t>(n));
    });
    const Result run = runMorvane({"in.ac3", "0", "1000"}, work.dir.path, {}, slave);
    close(slave);  // the reader sees the end once the last holder of the terminal is gone
    reader.join();
    close(master);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(shown, progressLines(work.frames, 250) + ending);
}

}  // namespace
