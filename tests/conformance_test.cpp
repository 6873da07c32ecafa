// Cuts of every stream of the conformance corpus (AC-3 and E-AC-3, made by an independent
// encoder) through a table of windows: the output must be exactly the frames that the test's
// own walk predicts, and real decoders must decode it whole: 1536 samples per AC-3 frame, 256 per
// E-AC-3 audio block.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>

#include "decoders.h"
#include "program_runner.h"

namespace {

// The corpus files by name: AC-3 streams end in .ac3, E-AC-3 streams in .eac3.
std::vector<std::string> corpusNames() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(MORVANE_CORPUS)) {
        const std::string extension = entry.path().extension().string();
        if (extension == ".ac3" || extension == ".eac3") {
            names.push_back(entry.path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

enum class Decoder { none, liba52, ffmpeg };

class ConformanceTest : public testing::TestWithParam<std::string> {
protected:
    bool eac3() const { return std::filesystem::path(GetParam()).extension() == ".eac3"; }
    std::string format() const { return eac3() ? "eac3" : "ac3"; }

    // Cuts every window out of this test's stream and hands each non-empty output to `check`
    // together with the number of frames it should hold.
    void cutEveryWindow(Decoder decoder) {
        const Bytes input = readFile(std::string(MORVANE_CORPUS) + "/" + GetParam());
        const std::vector<ac3::Frame> frames = ac3::walk(input);
        ASSERT_GE(frames.size(), 12U);
        ASSERT_EQ(frames.back().offset + frames.back().size, input.size())
            << "the corpus stream is whole frames";
        for (const Window& w : windowsFor(frames)) {
            SCOPED_TRACE(w.name);
            Workspace work(input);
            const Result run = runMorvane({"in.ac3", exact(w.from), exact(w.to)}, work.dir.path);
            const Prediction p = predict(frames, w.from, w.to);
            ASSERT_EQ(run.status, 0) << run.out << run.err;
            EXPECT_EQ(run.out, progressLines(frames, p.progress) + ending);
            char notice[200] = "";
            if (p.first == frames.size()) {
                std::snprintf(notice, sizeof notice,
                              "morvane: in.ac3: nothing to cut: the window starts after the end "
                              "of the stream, which is %.3f s long\n",
                              frames.back().end);
            }
            EXPECT_EQ(run.err, notice);
            if (p.first == frames.size()) {
                EXPECT_FALSE(work.hasOutput());
                continue;
            }
            ASSERT_TRUE(work.hasOutput());
            EXPECT_EQ(work.output(), slice(input, frames, p.first, p.last));
            const auto [copied, samples] = stepsIn(frames, p.first, p.last);
            const std::string output = (work.dir / "morvane_in.ac3");
            if (decoder == Decoder::liba52) {
                const auto [status, report] = shell(std::string(a52Check) + " " + output);
                EXPECT_EQ(status, 0) << report;
                EXPECT_EQ(report, "frames " + std::to_string(copied) + " samples " +
                                      std::to_string(samples) + "\n");
            } else if (decoder == Decoder::ffmpeg) {
                // Mono 16-bit output: two bytes per sample. Any message is a decoding error,
                // printed after the byte count.
                const std::string messages = work.dir / "ffmpeg.txt";
                const auto [status, pcm] =
                    shell("ffmpeg -nostdin -v error -err_detect crccheck -f " + format() + " -i " +
                          output + " -f s16le -ac 1 - 2>" + messages + " | wc -c; head -c 500 " +
                          messages);
                EXPECT_EQ(status, 0);
                EXPECT_EQ(pcm, std::to_string(samples * 2) + "\n");
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
    if (eac3()) GTEST_SKIP() << "liba52 does not decode E-AC-3";
    if (a52Check == nullptr) {
        GTEST_SKIP() << "liba52 was not found when the tests were configured "
                        "(install liba52-0.7.4-dev)";
    }
    cutEveryWindow(Decoder::liba52);
}

TEST_P(ConformanceTest, CutsDecodeWithFfmpegCrcCheck) {
    if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed (install ffmpeg)";
    cutEveryWindow(Decoder::ffmpeg);
}

// A cut moved by --delay decodes to its silent frames' worth of exact zeros, then to the very
// samples of the same cut without it; moved the other way, to the cut less its first steps.
TEST_P(ConformanceTest, DelayedCutsDecodeToSilenceThenTheCut) {
    if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed (install ffmpeg)";
    const Bytes input = readFile(std::string(MORVANE_CORPUS) + "/" + GetParam());
    const std::vector<ac3::Frame> frames = ac3::walk(input);
    const Window w = windowsFor(frames)[1];
    const Prediction p = predict(frames, w.from, w.to);
    Workspace work(input);
    std::map<double, Decoded> decoded;
    for (const double delay : {0.0, 0.25, -0.1}) {
        const std::string name = "delayed" + std::to_string(delay);
        const Result run =
            runMorvane({"--delay", exact(delay), "-o", name, "in.ac3", exact(w.from), exact(w.to)},
                       work.dir.path);
        ASSERT_EQ(run.status, 0) << run.err;
        const DelayedCut d = predictDelay(frames, p, delay);
        ASSERT_EQ(std::filesystem::exists(work.dir / name), d.first <= d.last);
        if (d.first > d.last) continue;  // every step of a short cut left out
        decoded[delay] = ffmpegDecode(work.dir / name, format());
        EXPECT_EQ(decoded[delay].status, 0);
        EXPECT_EQ(decoded[delay].messages, "") << delay;
        if (!eac3() && a52Check != nullptr) {
            const long steps = stepsIn(frames, d.first, d.last).first + (delay > 0 ? d.steps : 0);
            const auto [status, report] = shell(std::string(a52Check) + " " + (work.dir / name) +
                                                " " + std::to_string(delay > 0 ? d.steps : 0));
            EXPECT_EQ(status, 0) << report;
            EXPECT_EQ(report.substr(0, report.find(' ', 7)), "frames " + std::to_string(steps));
        }
    }
    const std::vector<float>& plain = decoded[0.0].samples;
    const long perChannel = stepsIn(frames, p.first, p.last).second;
    ASSERT_GT(perChannel, 0);
    const std::size_t channels = plain.size() / static_cast<std::size_t>(perChannel);
    const DelayedCut later = predictDelay(frames, p, 0.25);
    const std::size_t silence = static_cast<std::size_t>(later.steps) *
                                static_cast<std::size_t>(frames[later.reference].samples) *
                                channels;
    const std::vector<float>& moved = decoded[0.25].samples;
    ASSERT_EQ(moved.size(), silence + plain.size());
    EXPECT_EQ(std::count(moved.begin(), moved.begin() + static_cast<long>(silence), 0.0f),
              static_cast<long>(silence));
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), moved.begin() + static_cast<long>(silence)));
    const DelayedCut earlier = predictDelay(frames, p, -0.1);
    EXPECT_EQ(
        decoded[-0.1].samples.size(),
        static_cast<std::size_t>(stepsIn(frames, earlier.first, earlier.last).second) * channels);
}

INSTANTIATE_TEST_SUITE_P(Corpus, ConformanceTest, testing::ValuesIn(corpusNames()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             const std::filesystem::path file(info.param);
                             return (file.extension() == ".eac3" ? "e" : "s") +
                                    file.stem().string();
                         });

// The 44.1 kHz encoder pads some frames (odd frame size codes) and not others; the corpus
// must hold that mix, or the clock's handling of it goes untested.
TEST(ConformanceCorpusTest, Holds44k1StreamsWithPaddedAndUnpaddedFrames) {
    int mixed = 0;
    for (const std::string& name : corpusNames()) {
        if (name.rfind("44100", 0) != 0 || name.find(".eac3") != std::string::npos) continue;
        const std::vector<ac3::Frame> frames =
            ac3::walk(readFile(std::string(MORVANE_CORPUS) + "/" + name));
        const auto sizes = std::minmax_element(
            frames.begin(), frames.end(),
            [](const ac3::Frame& a, const ac3::Frame& b) { return a.size < b.size; });
        mixed += sizes.first->size != sizes.second->size;
    }
    EXPECT_GE(mixed, 19);
}

}  // namespace
