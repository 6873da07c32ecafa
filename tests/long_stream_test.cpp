// Runs over long streams: the clock over two hours of 44.1 kHz audio, and a stream of more
// than 4 GiB fed through a FIFO, so that no position or size can wrap at 32 bits unseen.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>

#include "program_runner.h"
#include "seam_rule.h"

namespace {

// The progress times the run printed, in order.
std::vector<double> progressTimes(const std::string& out) {
    std::vector<double> times;
    for (std::size_t at = out.find("at "); at != std::string::npos; at = out.find("at ", at)) {
        at += 3;
        times.push_back(std::strtod(out.c_str() + at, nullptr));
    }
    return times;
}

// At 44.1 kHz a frame plays 1536 / 44100 s, but the clock adds up frame sizes over nominal bit
// rates, and the encoder pads some frames by one word to keep the rate. Over whole padding
// cycles the two agree, so the clock must stay within a frame of the true time for hours.
constexpr double frameTime = 1536.0 / 44100;

// Two hours of 44.1 kHz AC-3 from the corpus: its first 294 frames, two whole padding cycles
// (194 of them padded), over and over.
Bytes twoHoursAt44k1() {
    const Bytes encoded = readFile(std::string(MORVANE_CORPUS) + "/44100_032k_stereo.ac3");
    const std::vector<ac3::Frame> frames = ac3::walk(encoded);
    constexpr std::size_t pieceFrames = 294;
    EXPECT_GE(frames.size(), pieceFrames);
    const Bytes piece(encoded.begin(),
                      encoded.begin() + static_cast<long>(frames[pieceFrames].offset));
    EXPECT_EQ(piece.size(), pieceFrames * 138 + 194 * 2);
    const std::size_t repeats =
        static_cast<std::size_t>(std::ceil(7200 / (pieceFrames * frameTime)));
    Bytes stream;
    stream.reserve(piece.size() * repeats);
    for (std::size_t i = 0; i < repeats; ++i)
        stream.insert(stream.end(), piece.begin(), piece.end());
    return stream;
}

TEST(LongStreamTest, ClockFollowsTrueTimeOverTwoHoursAt44k1) {
    const Bytes stream = twoHoursAt44k1();
    TempDir dir;
    writeFile(dir / "long.ac3", stream);

    const Result run = runMorvane({"long.ac3", "7000", "7200"}, dir.path.string());
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<ac3::Frame> longFrames = ac3::walk(stream);
    std::size_t first = 0;
    while (longFrames[first].end < 7000) ++first;
    std::size_t last = first;
    while (longFrames[last].end <= 7200) ++last;
    EXPECT_EQ(run.out, progressLines(longFrames, last) + ending);
    EXPECT_EQ(readFile(dir / "morvane_long.ac3"), slice(stream, longFrames, first, last));

    // The clock as the program printed it (to the millisecond) against the true time.
    const std::vector<double> times = progressTimes(run.out);
    ASSERT_EQ(times.size(), last);
    double worst = 0;
    for (std::size_t i = 0; i < times.size(); ++i) {
        worst = std::max(worst, std::abs(times[i] - static_cast<double>(i + 1) * frameTime));
    }
    EXPECT_LT(worst, frameTime);
    // The cut's first frame is the one whose true span holds 7000 s, give or take a frame.
    const double trueStart = static_cast<double>(first) * frameTime;
    EXPECT_LT(std::abs(trueStart - 7000), 2 * frameTime);
    std::printf(
        "clock over %zu frames (%.0f s): at most %.4f s from frames x 1536 / 44100; "
        "the cut at 7000 s starts at true time %.4f s\n",
        times.size(), static_cast<double>(times.size()) * frameTime, worst, trueStart);
}

// 200 ranges at random millisecond times, joined into one file over two hours: every range
// plays within half a step of where the asked timeline puts it, and the file is within half a
// step of the sum of the ranges. The same list as 200 plain cuts put back to back drifts.
TEST(LongStreamTest, EditListHoldsTheSyncOverTwoHours) {
    const Bytes stream = twoHoursAt44k1();
    const std::vector<ac3::Frame> frames = ac3::walk(stream);
    const Steps st(frames);
    TempDir dir;
    writeFile(dir / "long.ac3", stream);
    std::mt19937 random(7200);
    std::vector<double> cuts;
    for (int i = 0; i < 400; ++i)
        cuts.push_back(std::uniform_int_distribution<int>(0, 7100000)(random) / 1000.0);
    std::sort(cuts.begin(), cuts.end());
    std::vector<Asked> asked;
    std::string list = "parts:";
    double total = 0;
    for (std::size_t r = 0; r < 200; ++r) {
        asked.push_back({cuts[2 * r], cuts[2 * r + 1], r > 0});
        total += cuts[2 * r + 1] - cuts[2 * r];
        list += (r > 0 ? ",+" : "") + exact(cuts[2 * r]) + "-" + exact(cuts[2 * r + 1]);
    }
    const Result run = runMorvane({"--quiet", "--split", list, "long.ac3"}, dir.path.string());
    ASSERT_EQ(run.status, 0) << run.err;
    const Predicted p = ranges(st, asked, frames);
    Bytes expected;
    for (const Piece& piece : p.outputs[0]) {
        expected.insert(
            expected.end(), stream.begin() + static_cast<long>(frames[piece.frame].offset),
            stream.begin() +
                static_cast<long>(frames[piece.frame].offset + frames[piece.frame].size));
    }
    const Bytes joined = readFile(dir / "morvane_long.ac3");
    ASSERT_EQ(joined, expected);
    // Where each range starts in the file against the asked timeline.
    const double half = 140.0 / 4000 / 2 + 1e-6;  // the longest step, 35 ms
    double place = 0, asks = 0, worstJoined = 0;
    std::size_t s = 0, e = 0;
    double d = 0;
    for (const Asked& a : asked) {
        s = std::max(st.nearest(a.from + d), e);
        e = std::max(st.nearest(st.B[s] + (a.to - a.from) - d), s);
        worstJoined = std::max(worstJoined, std::fabs(st.B[s] - a.from - d));
        d += (st.B[e] - st.B[s]) - (a.to - a.from);
        place += st.B[e] - st.B[s];
        asks += a.to - a.from;
    }
    EXPECT_LE(worstJoined, half);
    const double joinedLength = ac3::walk(joined).back().end;
    EXPECT_NEAR(joinedLength, place, 1e-6);
    EXPECT_LE(std::fabs(joinedLength - total), half);
    if (windowsProgram()) return;  // 200 more runs under wine prove nothing more
    // The plain cuts: each starts where the ones before it end in the joined file.
    double played = 0, worstPlain = 0;
    asks = 0;
    for (const Asked& a : asked) {
        std::filesystem::remove(dir / "morvane_long.ac3");
        const Result plain =
            runMorvane({"--quiet", "long.ac3", exact(a.from), exact(a.to)}, dir.path.string());
        ASSERT_EQ(plain.status, 0);
        const std::vector<ac3::Frame> cut = ac3::walk(readFile(dir / "morvane_long.ac3"));
        const Prediction w = predict(frames, a.from, a.to);
        const double start = frames[w.first].end - frames[w.first].duration;
        // Input time a.from is asked at `asks` and plays at played + (a.from - start).
        worstPlain = std::max(worstPlain, std::fabs(played + a.from - start - asks));
        played += cut.back().end;
        asks += a.to - a.from;
    }
    EXPECT_GT(std::fabs(played - total), std::fabs(joinedLength - total));
    std::printf(
        "200 ranges over two hours: joined, every range within %.4f s and the file "
        "%.4f s off; as 200 plain cuts, up to %.4f s and %.4f s off\n",
        worstJoined, joinedLength - total, worstPlain, played - total);
}

// 4.5 GiB of 640 kbit/s 48 kHz frames, made as they are written into a FIFO; each frame
// carries its number. The window lies past the 4 GiB mark.
TEST(LongStreamTest, StreamPast4GiBThroughAFifo) {
    constexpr int frmsizecod = 36;
    const Bytes frame = ac3::makeFrame(0, frmsizecod, 0x5A);
    const std::size_t frameCount = (std::size_t{9} << 29) / frame.size();
    constexpr std::size_t framesPerWrite = 400;
    TempDir dir;
    ASSERT_EQ(mkfifo((dir / "big.ac3").c_str(), 0600), 0);
    std::signal(SIGPIPE, SIG_IGN);  // a reader that stops early fails the test, not the process
    std::thread generator([&] {
        const int fd = open((dir / "big.ac3").c_str(), O_WRONLY);
        fcntl(fd, F_SETPIPE_SZ, 1 << 20);
        Bytes block;
        for (std::size_t i = 0; i < framesPerWrite; ++i)
            block.insert(block.end(), frame.begin(), frame.end());
        for (std::size_t done = 0; done < frameCount; done += framesPerWrite) {
            const std::size_t n = std::min(framesPerWrite, frameCount - done);
            for (std::size_t i = 0; i < n; ++i) {
                const std::uint64_t number = done + i;
                std::memcpy(&block[i * frame.size() + 8], &number, sizeof number);
            }
            const std::size_t size = n * frame.size();
            if (write(fd, block.data(), size) != static_cast<ssize_t>(size)) break;
        }
        close(fd);
    });
    const Result run = runMorvane({"big.ac3", "60000.01", "60000.5"}, dir.path.string());
    generator.join();

    // The clock, summed here as the program sums it.
    double time = 0;
    std::size_t first = 0, last = 0;
    char lastLine[64] = "";
    for (std::size_t i = 0; i < frameCount; ++i) {
        time += ac3::frameTime(frmsizecod, frame.size());
        if (time < 60000.01) first = i + 1;
        if (time > 60000.5) {
            last = i;
            break;
        }
        std::snprintf(lastLine, sizeof lastLine, "at %.3f\r", time);
    }
    ASSERT_GT(first * frame.size(), std::size_t{1} << 32);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\r'), static_cast<long>(last));
    EXPECT_EQ(run.out.substr(run.out.rfind("at ")), lastLine + ending);
    const Bytes output = readFile(dir / "morvane_big.ac3");
    ASSERT_EQ(output.size(), (last - first + 1) * frame.size());
    for (std::size_t i = first; i <= last; ++i) {
        std::uint64_t number = 0;
        std::memcpy(&number, &output[(i - first) * frame.size() + 8], sizeof number);
        EXPECT_EQ(number, i);
    }
}

}  // namespace
