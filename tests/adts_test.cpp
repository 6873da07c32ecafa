// AAC in ADTS through the program: where a stream ends and why, LOAS, what --check and
// --verbose say of it, a changed header named, and lost bytes filled by an estimate.
#include <gtest/gtest.h>

#include "decoders.h"
#include "program_runner.h"

namespace {

// 48 kHz stereo AAC LC from ffmpeg's encoder.
Bytes stereo() { return readFile(std::string(MORVANE_CORPUS) + "/48000_128k_stereo.aac"); }

TEST(AdtsTest, SaysWhatItReadsAndWhereTheStreamEnds) {
    const Bytes input = stereo();
    const std::vector<ac3::Frame> frames = adts::walk(input);
    ASSERT_GT(frames.size(), 20U);
    const std::size_t at = frames[10].offset;
    const auto changed = [&](std::size_t byte, std::uint8_t mask, std::uint8_t value) {
        Bytes stream = input;
        stream[at + byte] = static_cast<std::uint8_t>((stream[at + byte] & ~mask) | value);
        return stream;
    };
    char ends[160];
    std::snprintf(ends, sizeof ends,
                  "morvane: in.ac3: the stream ends at byte %zu, after %.3f s: ", at,
                  frames[9].end);
    char ending10[32], lengthText[32];
    std::snprintf(ending10, sizeof ending10, "%.3f", frames[10].end);
    std::snprintf(lengthText, sizeof lengthText, "%.3f", frames.back().end);
    const std::string left = "; " + std::to_string(input.size() - at) + " bytes left unread\n";
    Bytes loas = input;
    loas[0] = 0x56;
    loas[1] = 0xE0;
    Bytes loasWithLength = loas;  // the 13 length bits after the sync word are not 0
    loasWithLength[1] = 0xE3;
    const struct {
        const char* what;
        Bytes stream;
        std::vector<std::string> options;
        int status;
        std::string err;
    } rows[] = {
        {"a reserved sample rate",
         changed(2, 0x3C, 13 << 2),
         {},
         0,
         ends + std::string("reserved sampling_frequency_index 13") + left},
        {"a frame shorter than its header",
         changed(4, 0xFF, 0),
         {},
         0,
         ends +
             ("aac_frame_length " + std::to_string((input[at + 3] & 3) << 11 | input[at + 5] >> 5) +
              " is shorter than its header") +
             left},
        {"a layer other than 00",
         changed(1, 0x06, 0x02),
         {},
         0,
         ends + std::string("layer 1 is not ADTS's 0") + left},
        {"LOAS",
         loas,
         {"--resync"},
         1,
         "morvane: in.ac3: AAC in LOAS/LATM is not supported, only AAC in ADTS\n"},
        {"LOAS with a length",
         loasWithLength,
         {},
         1,
         "morvane: in.ac3: AAC in LOAS/LATM is not supported, only AAC in ADTS\n"},
        {"--check and --verbose",
         input,
         {"--check", "--verbose"},
         0,
         "morvane: in.ac3: AAC LC, ADTS, 48 kHz, 2 channels\nmorvane: in.ac3: AAC frames are "
         "checked by their headers and lengths only; their CRCs are not checked\nmorvane: "
         "in.ac3: cut 0.000 s to " +
             std::string(lengthText) + " s of the input (" + std::to_string(frames.size()) +
             " frames, " + std::to_string(input.size()) + " bytes) into morvane_in.ac3\n"},
        {"a frame of another channel configuration",
         changed(3, 0xC0, 0x40),
         {"--check"},
         2,
         "morvane: in.ac3: the frame at byte " + std::to_string(at) + " (ending at " + ending10 +
             " s) fails its CRC check\nmorvane: in.ac3: AAC frames are checked by their headers "
             "and lengths only; their CRCs are not checked\nmorvane: in.ac3: 1 of " +
             std::to_string(frames.size()) + " frames failed their CRC check\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Workspace work(row.stream);
        const Result run = runWholeStream(work, row.options);
        EXPECT_EQ(run.status, row.status);
        EXPECT_EQ(run.err, row.err);
        EXPECT_EQ(work.hasOutput(), row.status != 1);
    }
}

// Lost bytes are filled with as many silent frames as they hold at the mean frame length,
// which is an estimate, and said so; the output decodes.
TEST(AdtsTest, RepairFillsAnEstimate) {
    const Bytes input = stereo();
    const std::vector<ac3::Frame> frames = adts::walk(input);
    Bytes damaged = input;
    const std::size_t from = frames[12].offset, to = frames[15].offset;
    std::fill(damaged.begin() + static_cast<long>(from), damaged.begin() + static_cast<long>(to),
              0);
    Workspace work(damaged);
    const Result run = runMorvane({"--repair", "--quiet", "in.ac3", "0", "1e6"}, work.dir.path);
    EXPECT_EQ(run.status, 2);
    const std::string said = "morvane: in.ac3: filled about ";
    ASSERT_EQ(run.err.substr(0, said.size()), said) << run.err;
    EXPECT_NE(run.err.find("3 silent frames) for " + std::to_string(to - from) +
                           " bytes skipped at byte " + std::to_string(from)),
              std::string::npos)
        << run.err;
    EXPECT_EQ(adts::walk(work.output()).size(), frames.size()) << "the time of the lost frames";
    if (!haveFfmpeg()) return;
    EXPECT_EQ(ffmpegDecode(work.dir / "morvane_in.ac3", "aac").messages, "");
}

// The estimate takes the mean of the last 16 frames, not the last frame alone: twenty frames
// are lost after one whose length alone would give another count.
TEST(AdtsTest, RepairEstimatesFromTheMeanOfTheLastFrames) {
    const Bytes one = stereo();
    const std::vector<ac3::Frame> frames1 = adts::walk(one);
    Bytes input;  // the stream's inner frames, five times over
    for (int i = 0; i < 5; ++i) {
        input.insert(input.end(), &one[frames1[1].offset], &one[frames1[frames1.size() - 2].offset]);
    }
    const std::vector<ac3::Frame> frames = adts::walk(input);
    const auto count = [&](std::size_t bytes, std::size_t first, std::size_t n) {
        std::size_t sum = 0;
        for (std::size_t i = first; i < first + n; ++i) sum += frames[i].size;
        return (2 * bytes * n + sum) / (2 * sum);
    };
    for (std::size_t k = 18; k + 20 < frames.size(); ++k) {
        const std::size_t lost = frames[k + 20].offset - frames[k].offset;
        const std::size_t mean = count(lost, k - 16, 16);
        if (mean != count(lost, k - 17, 16) || mean == count(lost, k - 1, 1)) continue;
        Bytes damaged = input;
        std::fill(&damaged[frames[k].offset], &damaged[frames[k + 20].offset], 0);
        Workspace work(damaged);
        const Result run = runMorvane({"--repair", "--quiet", "in.ac3", "0", "1e6"}, work.dir.path);
        EXPECT_NE(run.err.find(" (" + std::to_string(mean) + " silent frames) for " +
                               std::to_string(lost) + " bytes"),
                  std::string::npos)
            << run.err;
        return;
    }
    FAIL() << "no frame long or short enough for the test";
}

// Junk in front of frames of 6000 bytes: a search reads two of them before it steps back,
// here from 9000 bytes before the end of the reader's first 1 MiB block into the next.
TEST(AdtsTest, LongFramesAreFoundAfterJunk) {
    Bytes frame(6000, 0x5A);
    // 48 kHz 5.1, one block, no CRC: the length, 6000, in 13 bits from bit 30.
    const std::uint8_t header[7] = {
        0xFF, 0xF1, 0x4D, 0x80 | 6000 >> 11, 6000 >> 3 & 0xFF, (6000 & 7) << 5 | 0x1F,
        0xFC};  // 48 kHz 5.1, one block
    std::copy(header, header + 7, frame.begin());
    Bytes stream(1048576 - 9000, 'x');
    for (int i = 0; i < 5; ++i) stream.insert(stream.end(), frame.begin(), frame.end());
    Workspace work(stream);
    const Result run = runMorvane({"--resync", "--quiet", "in.ac3", "0", "1e6"}, work.dir.path);
    EXPECT_EQ(run.err, "morvane: in.ac3: skipped 1039576 bytes at byte 0 (no sync word)\n");
    EXPECT_EQ(work.output(), Bytes(stream.begin() + 1039576, stream.end()));
}

TEST(AdtsTest, CoreIsABadCommandLine) {
    Workspace work(stereo());
    const Result run = runMorvane({"--core", "in.ac3", "0", "1"}, work.dir.path);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.err.substr(0, run.err.find('\n')),
              "morvane: bad --core: in.ac3 is AAC, which has nothing to leave out");
}

}  // namespace
