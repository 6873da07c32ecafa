// Cuts of every stream of the conformance corpus (made by an independent encoder) through a
// table of windows: the output must be exactly the frames that the test's own walk predicts,
// and real decoders must decode it whole, 1536 samples per frame.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "program_runner.h"

namespace {

std::vector<std::string> corpusNames() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(MORVANE_CORPUS)) {
        if (entry.path().extension() == ".ac3") names.push_back(entry.path().stem().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct Window {
    std::string name;
    double from, to;
};

// Frames are copied from the first that ends at or after `from` through the first that ends
// after `to`; `first` == frames.size() means nothing is copied.
struct Prediction {
    std::size_t first, last, progress;
};

Prediction predict(const std::vector<ac3::Frame>& frames, const Window& w) {
    Prediction p{frames.size(), frames.size() - 1, frames.size()};
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (p.first == frames.size() && frames[i].end >= w.from) p.first = i;
        if (frames[i].end > w.to) {
            p.last = i;
            p.progress = i;
            break;
        }
    }
    return p;
}

std::vector<Window> windowsFor(const std::vector<ac3::Frame>& f) {
    const std::size_t n = f.size();
    const double half = (f[1].end - f[0].end) / 2;
    return {
        {"start", 0, f[2].end + half},
        {"middle", f[n / 3].end - half, f[2 * n / 3].end - half},
        {"end", f[n - 4].end - half, 1e6},
        {"equal limits", f[n / 2].end - half, f[n / 2].end - half},
        {"limits on frame ends", f[5].end, f[10].end},
        {"equal limits on a frame end", f[7].end, f[7].end},
        {"last frame only", f[n - 1].end, f[n - 1].end},
        {"beyond the end", f[n - 1].end + 1, f[n - 1].end + 2},
        {"everything", 0, 1e6},
    };
}

std::string exact(double seconds) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", seconds);
    return text;
}

// Runs a command through the shell; returns its exit status and standard output.
std::pair<int, std::string> shell(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return {-1, out};
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

bool haveFfmpeg() {
    static const bool found = shell("command -v ffmpeg >/dev/null 2>&1").first == 0;
    return found;
}

enum class Decoder { none, liba52, ffmpeg };

class ConformanceTest : public testing::TestWithParam<std::string> {
protected:
    // Cuts every window out of this test's stream and hands each non-empty output to `check`
    // together with the number of frames it should hold.
    void cutEveryWindow(Decoder decoder) {
        const Bytes input = readFile(std::string(MORVANE_CORPUS) + "/" + GetParam() + ".ac3");
        const std::vector<ac3::Frame> frames = ac3::walk(input);
        ASSERT_GE(frames.size(), 12U);
        ASSERT_EQ(frames.back().offset + frames.back().size, input.size())
            << "the corpus stream is whole frames";
        for (const Window& w : windowsFor(frames)) {
            SCOPED_TRACE(w.name);
            Workspace work(input);
            const Result run = runMorvane({"in.ac3", exact(w.from), exact(w.to)}, work.dir.path);
            const Prediction p = predict(frames, w);
            ASSERT_EQ(run.status, 0) << run.out << run.err;
            EXPECT_EQ(run.out, progressLines(frames, p.progress) + ending);
            if (p.first == frames.size()) {
                EXPECT_FALSE(work.hasOutput());
                continue;
            }
            ASSERT_TRUE(work.hasOutput());
            EXPECT_EQ(work.output(), slice(input, frames, p.first, p.last));
            const long copied = static_cast<long>(p.last - p.first + 1);
            const std::string output = (work.dir / "morvane_in.ac3");
            if (decoder == Decoder::liba52) {
                const auto [status, report] = shell(std::string(MORVANE_A52_CHECK) + " " + output);
                EXPECT_EQ(status, 0) << report;
                EXPECT_EQ(report, "frames " + std::to_string(copied) + " samples " +
                                      std::to_string(copied * 1536) + "\n");
            } else if (decoder == Decoder::ffmpeg) {
                // Mono 16-bit output: two bytes per sample. Any message is a decoding error,
                // printed after the byte count.
                const std::string messages = work.dir / "ffmpeg.txt";
                const auto [status, pcm] =
                    shell("ffmpeg -nostdin -v error -err_detect crccheck -f ac3 -i " + output +
                          " -f s16le -ac 1 - 2>" + messages + " | wc -c; head -c 500 " + messages);
                EXPECT_EQ(status, 0);
                EXPECT_EQ(pcm, std::to_string(copied * 1536 * 2) + "\n");
            }
        }
        if (decoder == Decoder::none) {
            Workspace work(input);
            runMorvane({"in.ac3", "0", "1e6"}, work.dir.path);
            EXPECT_EQ(work.output(), input) << "a cut of everything gives the stream back";
        }
    }
};

TEST_P(ConformanceTest, CutsAreThePredictedFrames) { cutEveryWindow(Decoder::none); }

TEST_P(ConformanceTest, CutsDecodeWithLiba52) {
#ifndef MORVANE_A52_CHECK
    GTEST_SKIP() << "liba52 was not found when the tests were configured (liba52-0.7.4-dev)";
#else
    cutEveryWindow(Decoder::liba52);
#endif
}

TEST_P(ConformanceTest, CutsDecodeWithFfmpegCrcCheck) {
    if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    cutEveryWindow(Decoder::ffmpeg);
}

INSTANTIATE_TEST_SUITE_P(Corpus, ConformanceTest, testing::ValuesIn(corpusNames()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             return "s" + info.param;
                         });

// The 44.1 kHz encoder pads some frames (odd frame size codes) and not others; the corpus
// must hold that mix, or the clock's handling of it goes untested.
TEST(ConformanceCorpusTest, Holds44k1StreamsWithPaddedAndUnpaddedFrames) {
    int mixed = 0;
    for (const std::string& name : corpusNames()) {
        if (name.rfind("44100", 0) != 0) continue;
        const std::vector<ac3::Frame> frames =
            ac3::walk(readFile(std::string(MORVANE_CORPUS) + "/" + name + ".ac3"));
        const auto sizes = std::minmax_element(
            frames.begin(), frames.end(),
            [](const ac3::Frame& a, const ac3::Frame& b) { return a.size < b.size; });
        mixed += sizes.first->size != sizes.second->size;
    }
    EXPECT_GE(mixed, 19);
}

}  // namespace
