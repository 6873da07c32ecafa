// Cuts of every stream of the conformance corpus (AC-3 and E-AC-3, made by an independent
// encoder) through a table of windows: the output must be exactly the frames that the test's
// own walk predicts, and real decoders must decode it whole: 1536 samples per AC-3 frame, 256 per
// E-AC-3 audio block.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

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
