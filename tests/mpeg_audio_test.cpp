// MPEG audio through the program: where a stream of Layer II or Layer I frames ends and why,
// what is not cut (Layer III, --core), what --check and --verbose say of it, and Layer I
// frames, which no encoder here writes, built and cut.
#include <gtest/gtest.h>

#include "decoders.h"
#include "program_runner.h"

namespace {

// A frame with this header: all-zero bit allocations, which play as silence, then ancillary
// bytes to its end.
Bytes mpegFrame(std::uint8_t second, std::uint8_t third, std::uint8_t fourth = 0x04) {
    Bytes frame(4096, 0x5A);
    std::fill(frame.begin() + 4, frame.begin() + 40, 0);
    frame[0] = 0xFF;
    frame[1] = second;
    frame[2] = third;
    frame[3] = fourth;
    double time = 0;
    frame.resize(mpeg::frameAt(frame, 0, time).size);
    return frame;
}

// MPEG-1 Layer II, 48 kHz, 128 kbit/s, stereo, no CRC: 384 bytes, 24 ms.
Bytes layerII() { return mpegFrame(0xFD, 0x84); }

Bytes frames(const Bytes& frame, std::size_t count) {
    Bytes stream;
    for (std::size_t i = 0; i < count; ++i) stream.insert(stream.end(), frame.begin(), frame.end());
    return stream;
}

// Frame 10 of 20 Layer II frames with bytes 1 and 2 of its header as given.
Bytes withBadFrame(std::uint8_t second, std::uint8_t third) {
    Bytes stream = frames(layerII(), 20);
    stream[10 * 384 + 1] = second;
    stream[10 * 384 + 2] = third;
    return stream;
}

std::string endsAtFrame10(const std::string& reason) {
    return "morvane: in.ac3: the stream ends at byte 3840, after 0.240 s: " + reason +
           "; 3840 bytes left unread\n";
}

TEST(MpegAudioTest, SaysWhatItReadsAndWhereTheStreamEnds) {
    const Bytes layerIII = frames({0xFF, 0xFB, 0x94, 0x64}, 1);  // a header alone will do
    const Bytes frame = layerII();
    const struct {
        const char* what;
        Bytes stream;
        std::vector<std::string> options;
        int status;
        std::string err;
        std::size_t kept;  // frames in the output
    } rows[] = {
        {"reserved version",
         withBadFrame(0xED, 0x84),
         {},
         0,
         endsAtFrame10("reserved version 01"),
         10},
        {"reserved layer", withBadFrame(0xF9, 0x84), {}, 0, endsAtFrame10("reserved layer 00"), 10},
        {"bit-rate index 15",
         withBadFrame(0xFD, 0xF4),
         {},
         0,
         endsAtFrame10("bit-rate index 15 is not allowed"),
         10},
        {"free format",
         withBadFrame(0xFD, 0x04),
         {},
         0,
         endsAtFrame10("free format (bit-rate index 0) is not supported"),
         10},
        {"reserved sample rate",
         withBadFrame(0xFD, 0x8C),
         {},
         0,
         endsAtFrame10("reserved sample-rate index 3"),
         10},
        {"a Layer III frame among them",
         withBadFrame(0xFB, 0x94),
         {},
         0,
         endsAtFrame10("a Layer III frame in a stream of Layer I or II"),
         10},
        {"a Layer III stream",
         ac3::joined({layerIII, frames(layerII(), 5)}),
         {"--resync"},
         1,
         "morvane: in.ac3: no Layer III frame at the start that another one follows\n",
         0},
        {"--check without CRCs, --verbose",
         frames(layerII(), 20),
         {"--check", "--verbose"},
         0,
         "morvane: in.ac3: MPEG-1 Layer II, 48 kHz\nmorvane: in.ac3: the frames carry no CRC: "
         "only their headers and lengths were checked\nmorvane: in.ac3: cut 0.000 s to 0.480 s "
         "of the input (20 frames, 7680 bytes) into morvane_in.ac3\n",
         20},
        // Junk that holds a sync pattern: one frame of it is not enough to end the search.
        {"junk first, then frames found by --resync",
         ac3::joined(
             {Bytes{1, 2}, Bytes(frame.begin(), frame.begin() + 100), frames(layerII(), 20)}),
         {"--resync", "--verbose"},
         0,
         "morvane: in.ac3: skipped 102 bytes at byte 0 (no sync word)\nmorvane: in.ac3: MPEG-1 "
         "Layer II, 48 kHz\nmorvane: in.ac3: cut 0.000 s to 0.480 s of the input (20 frames, "
         "7680 bytes) into morvane_in.ac3\n",
         20},
        {"MPEG-2 Layer I at 24 kHz",
         frames(mpegFrame(0xF7, 0x44), 30),
         {"--verbose"},
         0,
         "morvane: in.ac3: MPEG-2 Layer I, 24 kHz\nmorvane: in.ac3: cut 0.000 s to 0.480 s "
         "of the input (30 frames, 3840 bytes) into morvane_in.ac3\n",
         30},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Workspace work(row.stream);
        const Result run = runWholeStream(work, row.options);
        EXPECT_EQ(run.status, row.status);
        EXPECT_EQ(run.err, row.err);
        ASSERT_EQ(work.hasOutput(), row.kept > 0);
        if (row.kept == 0) continue;
        const std::vector<ac3::Frame> out = mpeg::walk(work.output());
        EXPECT_EQ(out.size(), row.kept);
        if (!haveFfmpeg()) continue;
        const Decoded decoded = ffmpegDecode(work.dir / "morvane_in.ac3", "mp3");
        EXPECT_EQ(decoded.messages, "");
        EXPECT_EQ(decoded.samples.size(), row.kept * static_cast<std::size_t>(out[0].samples) * 2);
    }
}

// --core has nothing to leave out of MPEG audio: a bad command line.
TEST(MpegAudioTest, CoreIsABadCommandLine) {
    Workspace work(frames(layerII(), 5));
    const Result run = runMorvane({"--core", "in.ac3", "0", "1"}, work.dir.path);
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.out, usageText);
    EXPECT_EQ(run.err.substr(0, run.err.find('\n')),
              "morvane: bad --core: in.ac3 is MPEG audio, which has nothing to leave out");
    EXPECT_FALSE(work.hasOutput());
}

}  // namespace
