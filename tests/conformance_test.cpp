// Cuts of every stream of the conformance corpus (AC-3, E-AC-3, MPEG audio Layer II, AAC and
// DTS, made by independent encoders) through a table of windows: the output must be exactly the
// frames that the test's own walk predicts, and real decoders must decode it whole: 1536
// samples per AC-3 frame, 256 per E-AC-3 audio block, 1152 per Layer II frame, and so on.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

#include "decoders.h"
#include "mpeg_test_stream.h"
#include "program_runner.h"
#include "seam_rule.h"

namespace {

// The corpus files by name: AC-3 streams end in .ac3, E-AC-3 streams in .eac3, MPEG audio
// Layer II in .mp2, AAC in ADTS in .aac, DTS in .dts.
std::vector<std::string> corpusNames() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(MORVANE_CORPUS)) {
        const std::string extension = entry.path().extension().string();
        if (extension == ".ac3" || extension == ".eac3" || extension == ".mp2" ||
            extension == ".aac" || extension == ".dts") {
            names.push_back(entry.path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

enum class Decoder { none, liba52, ffmpeg };

class ConformanceTest : public testing::TestWithParam<std::string> {
protected:
    std::string extension() const { return std::filesystem::path(GetParam()).extension(); }
    bool eac3() const { return extension() == ".eac3"; }
    bool ac3() const { return extension() == ".ac3"; }
    bool mpeg() const { return extension() == ".mp2"; }
    bool aac() const { return extension() == ".aac"; }
    bool dts() const { return extension() == ".dts"; }
    // Formats whose frames' CRCs are not checked, if they have any.
    bool uncheckedCrcs() const { return mpeg() || aac() || dts(); }
    // ffmpeg's name for the format: its mp3 demuxer reads every layer.
    std::string format() const {
        return dts() ? "dts" : aac() ? "aac" : mpeg() ? "mp3" : eac3() ? "eac3" : "ac3";
    }
    // Layer II streams with CRCs are named so; AAC's are not checked; DTS cores have none.
    bool crcs() const {
        return !aac() && !dts() && (!mpeg() || GetParam().find("_crc") != std::string::npos);
    }
    // Samples of a frame after a seam or a silent frame that still carry the frames before
    // it: AC-3's overlapping first block, the 512-tap synthesis windows of Layer II and DTS,
    // the whole of an AAC frame, half of whose transform overlaps the frame before.
    std::size_t carried() const { return aac() ? 1024 : mpeg() || dts() ? 512 : 256; }

    // Cuts every window out of this test's stream and hands each non-empty output to `check`
    // together with the number of frames it should hold.
    void cutEveryWindow(Decoder decoder) {
        const Bytes input = readFile(std::string(MORVANE_CORPUS) + "/" + GetParam());
        const std::vector<ac3::Frame> frames = walkStream(input);
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
            } else if (decoder == Decoder::ffmpeg && !(mpeg() && copied == 1)) {
                // (ffmpeg's mp3 demuxer takes no file of a single frame: it seeks to the next.)
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

// The rows that decode what they cut, each stream several times, run on a few streams of each
// format that differ in rate, layout, CRCs and frame length; every stream is cut above.
class DecodedStreamTest : public ConformanceTest {};

TEST_P(ConformanceTest, CutsAreThePredictedFrames) { cutEveryWindow(Decoder::none); }

TEST_P(ConformanceTest, CutsDecodeWithLiba52) {
    if (!ac3()) GTEST_SKIP() << "liba52 decodes AC-3 alone";
    if (a52Check == nullptr) {
        GTEST_SKIP() << "liba52 was not found when the tests were configured "
                        "(install liba52-0.7.4-dev)";
    }
    cutEveryWindow(Decoder::liba52);
}

TEST_P(DecodedStreamTest, CutsDecodeWithFfmpegCrcCheck) {
    if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed (install ffmpeg)";
    cutEveryWindow(Decoder::ffmpeg);
}

// A cut moved by --delay decodes to its silent frames' worth of exact zeros, then to the very
// samples of the same cut without it; moved the other way, to the cut less its first steps.
TEST_P(DecodedStreamTest, DelayedCutsDecodeToSilenceThenTheCut) {
    if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed (install ffmpeg)";
    const Bytes input = readFile(std::string(MORVANE_CORPUS) + "/" + GetParam());
    const std::vector<ac3::Frame> frames = walkStream(input);
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
        if (ac3() && a52Check != nullptr) {
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

// The offsets of the frames ffmpeg rejects when every error is fatal, among `frames` of
// `stream`. They are handed to it back to back, without what lies between them, so that
// each is judged on its own bytes alone.
std::set<std::size_t> rejectedByFfmpeg(const Bytes& stream, const std::vector<ac3::Frame>& frames,
                                       const std::string& format, const TempDir& dir) {
    Bytes joined;
    std::map<std::size_t, std::size_t> original;  // position in `joined` -> offset in `stream`
    for (const ac3::Frame& frame : frames) {
        original[joined.size()] = frame.offset;
        joined.insert(joined.end(), stream.begin() + static_cast<long>(frame.offset),
                      stream.begin() + static_cast<long>(frame.offset + frame.size));
    }
    writeFile(dir / "frames", joined);
    std::istringstream positions(shell("ffprobe -v error -err_detect crccheck+explode -f " +
                                       format + " -show_entries frame=pkt_pos -of csv=p=0 " +
                                       (dir / "frames") + " 2>/dev/null")
                                     .second);
    for (std::string line; std::getline(positions, line);) {
        if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) {
            original.erase(std::stoul(line));
        }
    }
    std::set<std::size_t> rejected;
    for (const auto& [position, offset] : original) rejected.insert(offset);
    return rejected;
}

// The offsets that standard error names as failing their CRC check.
std::set<std::size_t> namedByCheck(const std::string& err) {
    std::set<std::size_t> named;
    const std::string mark = "the frame at byte ", failed = "fails its CRC check";
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t at = line.find(mark);
        if (at == std::string::npos || line.size() < failed.size() ||
            line.compare(line.size() - failed.size(), failed.size(), failed) != 0) {
            continue;
        }
        named.insert(std::stoul(line.substr(at + mark.size())));
    }
    return named;
}

// The bit of a frame (counted from its first) that is the top bit of dialnorm, the first
// field of the stream information that neither sizes the frame nor sets up its channels.
std::size_t dialnormBit(const Bytes& stream, const ac3::Frame& frame) {
    const std::uint8_t* h = &stream[frame.offset];
    if ((h[5] >> 3) > 10) return 16 + 2 + 3 + 11 + 2 + 2 + 3 + 1 + 5;  // E-AC-3
    const int acmod = h[6] >> 5;
    return 40 + 5 + 3 + 3 + ((acmod & 1) && acmod != 1 ? 2 : 0) + (acmod & 4 ? 2 : 0) +
           (acmod == 2 ? 2 : 0) + 1;
}

// The most by which two decodes of the same frames may differ when the decoder's dither
// generator stands elsewhere in its sequence: quantisation noise, up to 0.08 at the lowest
// bit rates, against the corpus's tones of 0.3.
constexpr float ditherNoise = 0.15f;

// Corpus streams damaged as broadcasts and discs damage them: bits flipped in the stream
// information, in block 0, in the last block and in the CRC words; a whole frame turned to
// junk; half a frame to half the next cut out. --check names exactly the frames ffmpeg
// rejects. --repair's output decodes with no error, keeps every frame's time where junk
// replaced a whole frame, plays silence where it repaired (from each silent frame's second
// block, the first carrying the end of the frame before) and the original everywhere else
// but the first block after a repair.
TEST_P(DecodedStreamTest, DamagedStreamsAreNamedAndRepaired) {
    if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed (install ffmpeg)";
    const Bytes input = readFile(std::string(MORVANE_CORPUS) + "/" + GetParam());
    const std::vector<ac3::Frame> frames = walkStream(input);
    const std::size_t n = frames.size();
    // Frame index -> the bit in it to flip. Dolby: in the stream information, block 0 and the
    // last block, and in crc1 (AC-3) or crc2, whose last byte is the frame's. Layer II with
    // CRCs: what the CRC covers (the private bit, the allocations) and the CRC itself; without
    // them no flip can be found.
    std::map<std::size_t, std::size_t> flips;
    if (!uncheckedCrcs()) {
        flips = {{n / 8, dialnormBit(input, frames[n / 8])},
                 {n / 4, 24 * 8 + 5},
                 {n / 2, (frames[n / 2].size - 40) * 8 + 5},
                 {5 * n / 8, eac3() ? frames[5 * n / 8].size * 8 - 3 : 2 * 8 + 5},
                 {3 * n / 4, frames[3 * n / 4].size * 8 - 3}};
    } else if (crcs()) {
        flips = {{n / 8, 23},
                 {n / 4, 4 * 8 + 5},
                 {n / 2, 6 * 8 + 1},
                 {5 * n / 8, 5 * 8 + 5},
                 {3 * n / 4, 7 * 8 + 3}};
    }
    const std::size_t junk = 3 * n / 8;
    // A frame whose channel layout is flipped (acmod, all three bits; the MPEG mode, both):
    // its replacement must keep the layout.
    const std::size_t layout = flips.empty() ? n : 7 * n / 16;
    Bytes damaged = input;
    for (const auto& [index, bit] : flips) {
        damaged[frames[index].offset + bit / 8] ^= static_cast<std::uint8_t>(0x80 >> bit % 8);
    }
    if (layout < n) {
        damaged[frames[layout].offset + (mpeg()   ? 3
                                         : eac3() ? 4
                                                  : 6)] ^= mpeg()   ? 0xC0
                                                           : eac3() ? 0x0E
                                                                    : 0xE0;
    }
    std::fill_n(damaged.begin() + static_cast<long>(frames[junk].offset), frames[junk].size, 0);
    // Half a frame to half the next cut out. A Layer II frame's CRC covers only its start, and
    // such a cut would leave a whole frame of two halves: there the second half of one frame
    // and the whole next are lost to junk instead; in AAC, which has no CRC checked, two whole
    // frames.
    Bytes cut = input;
    const std::size_t half = uncheckedCrcs() ? std::min(7 * n / 8, n - 3) : 7 * n / 8;
    const std::size_t from = frames[half].offset + (aac() ? 0 : frames[half].size / 2);
    if (uncheckedCrcs()) {
        std::fill(cut.begin() + static_cast<long>(from),
                  cut.begin() + static_cast<long>(frames[half + 2].offset), 0);
    } else {
        cut.erase(cut.begin() + static_cast<long>(from),
                  cut.begin() + static_cast<long>(from + frames[half + 1].size));
    }
    // A DTS frame followed by no sync word fails the check, and is replaced: the frame before
    // the junk too.
    const std::size_t beforeJunk = dts() ? junk - 1 : junk;
    const std::size_t firstMended =
        std::min({beforeJunk, layout, flips.empty() ? n : flips.begin()->first});
    for (const Bytes* stream : {&damaged, &cut}) {
        SCOPED_TRACE(stream == &cut ? "half a frame to half the next cut out" : "bits and junk");
        Workspace work(*stream);
        std::vector<ac3::Skip> skips;
        const std::vector<ac3::Frame> walked = walkStream(*stream, &skips);
        Result run =
            runMorvane({"--check", "--resync", "--quiet", "in.ac3", "0", "1e6"}, work.dir.path);
        // Layer II and AAC: junk and lost bytes are skipped, not named.
        EXPECT_EQ(run.status, (mpeg() || aac()) && (flips.empty() || stream == &cut) ? 0 : 2);
        std::set<std::size_t> named = rejectedByFfmpeg(*stream, walked, format(), work.dir);
        for (const ac3::Frame& frame : walked) {
            const std::size_t end = frame.offset + frame.size;
            if (dts() && end != stream->size() && !dts::syncAt(*stream, end)) {
                named.insert(frame.offset);
            }
        }
        EXPECT_EQ(namedByCheck(run.err), named);
        run = runMorvane({"--repair", "--quiet", "in.ac3", "0", "1e6"}, work.dir.path);
        EXPECT_EQ(run.status, 2);
        const Decoded repaired = ffmpegDecode(work.dir / "morvane_in.ac3", format());
        EXPECT_EQ(repaired.messages, "");
        if (ac3() && a52Check != nullptr) {
            const auto [status, report] =
                shell(std::string(a52Check) + " " + (work.dir / "morvane_in.ac3"));
            EXPECT_EQ(status, 0) << report;
        }
        if (stream == &cut) continue;
        // A decoder meets no change of layout anywhere.
        const std::string probe = "-v error -show_entries frame=channels -of csv=p=0 -f " +
                                  format() + " " + (work.dir / "morvane_in.ac3");
        writeFile(work.dir / "original", input);
        const std::string perFrame = shell("ffprobe " + probe).second;
        EXPECT_EQ(perFrame, shell("ffprobe " + probe.substr(0, probe.rfind(' ')) + " " +
                                  (work.dir / "original"))
                                .second);
        const Bytes output = work.output();
        const std::vector<ac3::Frame> out = walkStream(output);
        ASSERT_EQ(out.size(), n) << "every frame's time kept";
        EXPECT_NEAR(out.back().end, frames.back().end, 1e-9);
        const Decoded original = ffmpegDecode(work.dir / "original", format());
        ASSERT_EQ(repaired.samples.size(), original.samples.size());
        const std::size_t channels =
            original.samples.size() / static_cast<std::size_t>(stepsIn(frames, 0, n - 1).second);
        std::size_t at = 0;  // the first sample of frame i
        bool after = false;  // frame i follows a repaired frame
        for (std::size_t i = 0; i < n; ++i) {
            SCOPED_TRACE(testing::Message() << "frame " << i);
            const std::size_t block = carried() * channels;
            const std::size_t end = at + static_cast<std::size_t>(frames[i].samples) * channels;
            const bool mended = flips.count(i) != 0 || i == junk || i == beforeJunk || i == layout;
            const auto first = repaired.samples.begin();
            EXPECT_EQ(slice(output, out, i, i) == slice(input, frames, i, i), !mended);
            if (mended) {
                EXPECT_EQ(std::count(first + static_cast<long>(at + block),
                                     first + static_cast<long>(end), 0.0f),
                          static_cast<long>(end - at - block));
            } else {
                const std::size_t from = after ? at + block : at;
                float most = 0;
                for (std::size_t k = from; k < end; ++k) {
                    most = std::max(most, std::fabs(repaired.samples[k] - original.samples[k]));
                }
                // Before the first repair, the very samples; after it, the decoder's dither
                // generator has run on differently through the silent frames, so its noise
                // differs, and nothing else may.
                if (i < firstMended) {
                    EXPECT_EQ(most, 0.0f);
                } else {
                    EXPECT_LT(most, ditherNoise);
                }
            }
            after = mended;
            at = end;
        }
    }
}

// Edit lists on every stream: timestamps: parts put back together are the input; five ranges
// joined into one file are the frames the rule chooses, decode with no message, and play the
// input's samples at every seam (from each range's second block, the first carrying the end
// of the frame before it; the dither generator runs on differently, as with --repair); and
// the silence an --edit puts in decodes to exact zeros.
TEST_P(DecodedStreamTest, EditListsKeepTheRuleAtEverySeam) {
    const Bytes input = readFile(std::string(MORVANE_CORPUS) + "/" + GetParam());
    const std::vector<ac3::Frame> frames = walkStream(input);
    const Steps st(frames);
    const double length = st.B.back();
    Workspace work(input);
    const auto at = [length](double fraction) {
        char text[32];
        std::snprintf(text, sizeof text, "%.3f", fraction * length);
        return std::string(text);
    };
    Result run = runMorvane(
        {"--quiet", "--split", "timestamps:" + at(0.31) + "," + at(0.62), "in.ac3"}, work.dir.path);
    ASSERT_EQ(run.status, 0) << run.err;
    Bytes joined;
    for (const char* part : {"morvane_in-001.ac3", "morvane_in-002.ac3", "morvane_in-003.ac3"}) {
        ASSERT_TRUE(std::filesystem::exists(work.dir / part)) << part;
        const Bytes bytes = readFile(work.dir / part);
        joined.insert(joined.end(), bytes.begin(), bytes.end());
    }
    EXPECT_EQ(joined, input) << "the parts put back together";
    if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed (install ffmpeg)";

    std::vector<Asked> asked;
    std::string list = "parts:";
    for (int r = 0; r < 5; ++r) {
        const double from = std::stod(at(0.03 + 0.19 * r)), to = std::stod(at(0.13 + 0.19 * r));
        asked.push_back({from, to, r > 0});
        list += (r > 0 ? ",+" : "") + at(0.03 + 0.19 * r) + "-" + at(0.13 + 0.19 * r);
    }
    run = runMorvane({"--quiet", "-o", "parts.ac3", "--split", list, "in.ac3"}, work.dir.path);
    ASSERT_EQ(run.status, 0) << run.err;
    const Predicted p = ranges(st, asked, frames);
    Bytes expected;
    for (const Piece& piece : p.outputs[0]) {
        const Bytes frame = slice(input, frames, piece.frame, piece.frame);
        expected.insert(expected.end(), frame.begin(), frame.end());
    }
    const Bytes output = readFile(work.dir / "parts.ac3");
    ASSERT_EQ(output, expected) << "the frames the rule chooses";
    const Decoded decoded = ffmpegDecode(work.dir / "parts.ac3", format());
    EXPECT_EQ(decoded.status, 0);
    EXPECT_EQ(decoded.messages, "");
    if (ac3() && a52Check != nullptr) {
        const auto [status, report] = shell(std::string(a52Check) + " " + (work.dir / "parts.ac3"));
        EXPECT_EQ(status, 0) << report;
    }
    writeFile(work.dir / "original", input);
    const Decoded original = ffmpegDecode(work.dir / "original", format());
    const std::size_t channels =
        original.samples.size() /
        static_cast<std::size_t>(stepsIn(frames, 0, frames.size() - 1).second);
    // Where each step's samples start in the input's decode, and the runs of steps kept.
    std::vector<std::size_t> startOf(st.count() + 1, 0);
    for (std::size_t j = 1; j <= st.count(); ++j) {
        startOf[j] =
            startOf[j - 1] + static_cast<std::size_t>(frames[st.clock[j]].samples) * channels;
    }
    std::size_t out = 0;
    for (std::size_t i = 0; i < p.outputs[0].size();) {
        // A run of whole steps of the input, from step j on.
        std::size_t j = 1;
        while (j < st.count() && st.clock[j + 1] <= p.outputs[0][i].frame) ++j;
        std::size_t end = j;
        std::size_t next = i;
        while (next < p.outputs[0].size() &&
               p.outputs[0][next].frame == (next - i) + p.outputs[0][i].frame)
            ++next;
        while (end < st.count() && st.clock[end + 1] < p.outputs[0][i].frame + (next - i)) ++end;
        const std::size_t samples = startOf[end] - startOf[j - 1];
        const std::size_t block = carried() * channels;
        float most = 0;
        for (std::size_t k = block; k < samples && out + k < decoded.samples.size(); ++k) {
            most = std::max(
                most, std::fabs(decoded.samples[out + k] - original.samples[startOf[j - 1] + k]));
        }
        EXPECT_LT(most, ditherNoise) << "the run from step " << j;
        out += samples;
        i = next;
    }
    EXPECT_EQ(out, decoded.samples.size());

    // Silence put in after a range: from its second block, exact zeros.
    run = runMorvane({"--quiet", "-o", "edit.ac3", "--edit", at(0.5) + ",+" + at(0.25), "in.ac3"},
                     work.dir.path);
    ASSERT_EQ(run.status, 0) << run.err;
    const Predicted e =
        ranges(st,
               {{0, std::stod(at(0.5))},
                {std::stod(at(0.5)), std::stod(at(0.5)), true, false, std::stod(at(0.25))},
                {std::stod(at(0.5)), 0, true, true}},
               frames);
    std::size_t before = 0, twins = 0;
    for (const Piece& piece : e.outputs[0]) {
        if (piece.twin) {
            twins += frames[piece.frame].steps
                         ? static_cast<std::size_t>(frames[piece.frame].samples)
                         : 0;
        } else if (twins == 0) {
            before += frames[piece.frame].steps
                          ? static_cast<std::size_t>(frames[piece.frame].samples)
                          : 0;
        }
    }
    ASSERT_GT(twins, 0U);
    const Decoded edited = ffmpegDecode(work.dir / "edit.ac3", format());
    EXPECT_EQ(edited.messages, "");
    const auto first = edited.samples.begin() + static_cast<long>((before + carried()) * channels);
    const auto last = edited.samples.begin() + static_cast<long>((before + twins) * channels);
    EXPECT_EQ(std::count(first, last, 0.0f), last - first);

    // An EDL's mute: its steps decode to zeros from the second block on, and the input plays
    // as it was before it, and after it but for the dither.
    writeFile(work.dir / "mute.edl", asBytes(at(0.4) + " " + at(0.6) + " 1\n"));
    run = runMorvane({"--quiet", "-o", "muted.ac3", "--edl", "mute.edl", "in.ac3"}, work.dir.path);
    ASSERT_EQ(run.status, 0) << run.err;
    const Decoded muted = ffmpegDecode(work.dir / "muted.ac3", format());
    EXPECT_EQ(muted.messages, "");
    ASSERT_EQ(muted.samples.size(), original.samples.size());
    const std::size_t from = startOf[st.nearest(std::stod(at(0.4)))];
    const std::size_t to = startOf[st.nearest(std::stod(at(0.6)))];
    const std::size_t carry = carried() * channels;
    ASSERT_LT(from + carry, to);
    EXPECT_TRUE(std::equal(original.samples.begin(),
                           original.samples.begin() + static_cast<long>(from),
                           muted.samples.begin()));
    EXPECT_EQ(std::count(muted.samples.begin() + static_cast<long>(from + carry),
                         muted.samples.begin() + static_cast<long>(to), 0.0f),
              static_cast<long>(to - from - carry));
    float most = 0;
    for (std::size_t k = to + carry; k < muted.samples.size(); ++k) {
        most = std::max(most, std::fabs(muted.samples[k] - original.samples[k]));
    }
    EXPECT_LT(most, ditherNoise);
}

// The AC-3 core of a 7.1 stream, cut with --core, is the AC-3 stream alone: every dependent
// frame left out, 5.1 to ffprobe, decoding in ffmpeg and liba52 to the core's own samples.
TEST(ConformanceCorpusTest, CoreOfA71StreamIsItsAc3Stream) {
    const Bytes core = readFile(std::string(MORVANE_CORPUS) + "/48000_384k_5_1.ac3");
    std::vector<Bytes> pieces;
    std::size_t extensions = 0;
    for (const ac3::Frame& frame : ac3::walk(core)) {
        pieces.push_back(slice(core, {frame}, 0, 0));
        // The back pair's channels, as a 7.1 encoder writes them after each core frame.
        pieces.push_back(ac3::withCrc2(ac3::makeEac3Frame(ac3::eac3(1, 0, 512), 0x3C)));
        extensions += 512;
    }
    Workspace work(ac3::joined(pieces));
    const Result run = runMorvane({"--quiet", "--core", "in.ac3", "0", "1e6"}, work.dir.path);
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "morvane: in.ac3: kept the core: left out " +
                           counted(extensions / 512, "frame") + " (" + counted(extensions, "byte") +
                           ") of extensions\n");
    ASSERT_EQ(work.output(), core);
    if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed (install ffmpeg)";
    const std::string out = work.dir / "morvane_in.ac3";
    const Decoded decoded = ffmpegDecode(out, "ac3");
    EXPECT_EQ(decoded.messages, "");
    writeFile(work.dir / "core.ac3", core);
    EXPECT_EQ(decoded.samples, ffmpegDecode(work.dir / "core.ac3", "ac3").samples);
    EXPECT_EQ(
        shell("ffprobe -v error -show_entries stream=channels -of csv=p=0 -f ac3 " + out).second,
        "6\n");
    if (a52Check != nullptr) {
        const auto [status, report] = shell(std::string(a52Check) + " " + out);
        EXPECT_EQ(status, 0) << report;
    }
}

// A test's name for a stream: a letter for its format, then the file's stem.
std::string streamTestName(const testing::TestParamInfo<std::string>& info) {
    const std::filesystem::path file(info.param);
    const std::string extension = file.extension().string();
    return (extension == ".eac3"  ? "e"
            : extension == ".mp2" ? "m"
            : extension == ".aac" ? "a"
            : extension == ".dts" ? "d"
                                  : "s") +
           file.stem().string();
}

INSTANTIATE_TEST_SUITE_P(Corpus, ConformanceTest, testing::ValuesIn(corpusNames()), streamTestName);
INSTANTIATE_TEST_SUITE_P(
    Corpus, DecodedStreamTest,
    testing::Values(
        // AC-3: the shortest and longest frames, every rate (44.1 kHz padded or not), 5.1.
        "48000_032k_mono.ac3", "48000_384k_5_1.ac3", "44100_040k_stereo.ac3", "44100_320k_5_1.ac3",
        "32000_064k_mono.ac3", "32000_640k_5_1.ac3",
        // E-AC-3: 6 blocks a frame at each rate, and 1 block (the highest rate).
        "48000_0192k_stereo.eac3", "44100_0384k_5_1.eac3", "32000_0064k_mono.eac3",
        "48000_4096k_mono.eac3",
        // Layer II: MPEG-1 and MPEG-2 rates, with CRCs and without, joint stereo.
        "48000_256k_joint_crc.mp2", "48000_064k_mono.mp2", "44100_160k_joint_crc.mp2",
        "32000_096k_mono_crc.mp2", "24000_096k_stereo.mp2", "22050_048k_stereo_crc.mp2",
        // AAC and DTS: every rate and layout of the corpus.
        "48000_128k_stereo.aac", "48000_320k_5_1.aac", "44100_096k_stereo.aac",
        "32000_064k_mono.aac", "24000_064k_stereo.aac", "48000_1509k_5_1.dts",
        "48000_0768k_stereo.dts", "44100_1411k_stereo.dts", "44100_0768k_5_1.dts"),
    streamTestName);

// The 44.1 kHz encoder pads some frames (odd frame size codes) and not others; the corpus
// must hold that mix, or the clock's handling of it goes untested.
TEST(ConformanceCorpusTest, Holds44k1StreamsWithPaddedAndUnpaddedFrames) {
    int mixed = 0;
    for (const std::string& name : corpusNames()) {
        if (name.rfind("44100", 0) != 0 || name.find(".ac3") == std::string::npos) continue;
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
