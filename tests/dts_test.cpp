// DTS through the program: where a stream ends and why, the kinds of DTS it does not cut,
// what --check and --verbose say of it; and DTS-HD: --core, the extension header's CRC, and an
// extension frame that fails it left out by --repair.
#include <gtest/gtest.h>

#include "decoders.h"
#include "program_runner.h"

namespace {

// 48 kHz 5.1 at 1509 kb/s from ffmpeg's encoder.
Bytes core() { return readFile(std::string(MORVANE_CORPUS) + "/48000_1509k_5_1.dts"); }

std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

TEST(DtsTest, SaysWhatItReadsAndWhereTheStreamEnds) {
    const Bytes input = core();
    const std::vector<ac3::Frame> frames = dts::walk(input);
    ASSERT_GT(frames.size(), 20U);
    const std::size_t at = frames[10].offset;
    const auto changed = [&](std::size_t byte, std::uint8_t mask, std::uint8_t value) {
        Bytes stream = input;
        stream[at + byte] = static_cast<std::uint8_t>((stream[at + byte] & ~mask) | value);
        return stream;
    };
    const auto starting = [&](std::initializer_list<std::uint8_t> sync) {
        Bytes stream = input;
        std::copy(sync.begin(), sync.end(), stream.begin());
        return stream;
    };
    const std::string ends = "morvane: in.ac3: the stream ends at byte " + std::to_string(at) +
                             ", after " + seconds(frames[9].end) + " s: ";
    const std::string left = "; " + std::to_string(input.size() - at) + " bytes left unread\n";
    const std::string whole = "cut 0.000 s to " + seconds(frames.back().end) + " s of the input (" +
                              std::to_string(frames.size()) + " frames, " +
                              std::to_string(input.size()) + " bytes) into morvane_in.ac3\n";
    const std::string noCrc =
        "morvane: in.ac3: DTS core frames carry no CRC of their audio: only their headers and "
        "lengths were checked\n";
    const struct {
        const char* what;
        Bytes stream;
        std::vector<std::string> options;
        int status;
        std::string err;
    } rows[] = {
        {"an invalid SFREQ", changed(8, 0x3C, 4 << 2), {}, 0, ends + "invalid SFREQ" + left},
        {"NBLKS below 5", changed(5, 0xFC, 3 << 2), {}, 0, ends + "NBLKS 3 is below 5" + left},
        {"FSIZE below 95",
         changed(6, 0xFF, 0),
         {},
         0,
         ends + "FSIZE " + std::to_string((input[at + 5] & 3) << 12 | (input[at + 7] >> 4)) +
             " is below 95" + left},
        {"14-bit DTS",
         starting({0x1F, 0xFF, 0xE8, 0x00}),
         {"--resync"},
         1,
         "morvane: in.ac3: 14-bit DTS is not supported, only DTS in 16-bit words\n"},
        {"little-endian DTS",
         starting({0xFE, 0x7F, 0x01, 0x80}),
         {"--resync"},
         1,
         "morvane: in.ac3: little-endian DTS is not supported, only big-endian\n"},
        {"extension substreams without a core",
         dts::extensionFrame(200),
         {"--resync"},
         1,
         "morvane: in.ac3: DTS without a core (DTS Express, or DTS-HD without its core frames) "
         "is not supported\n"},
        {"--check and --verbose",
         input,
         {"--check", "--verbose"},
         0,
         "morvane: in.ac3: DTS, 48 kHz, 5.1, 1509 kb/s\n" + noCrc + "morvane: in.ac3: " + whole},
        {"a frame of another AMODE",
         changed(7, 0x0F, 0x00),
         {"--check"},
         2,
         "morvane: in.ac3: the frame at byte " + std::to_string(at) + " (ending at " +
             seconds(frames[10].end) + " s) fails its CRC check\n" + noCrc +
             "morvane: in.ac3: 1 of " + std::to_string(frames.size()) +
             " frames failed their CRC check\n"},
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

// A corpus core stream with an extension substream frame after each core frame: --core gives
// the core back byte for byte; every extension header's CRC holds; one whose CRC is flipped
// is named by --check as ffmpeg rejects it, and left out by --repair, whose output ffmpeg
// decodes to the core's samples.
TEST(DtsTest, DtsHdCoreCheckAndRepair) {
    const Bytes plain = core();
    const Bytes hd = dts::withExtensions(plain);
    const std::size_t steps = dts::walk(plain).size();
    Workspace work(hd);
    Result run = runMorvane({"--quiet", "--core", "in.ac3", "0", "1e6"}, work.dir.path);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "morvane: in.ac3: kept the core: left out " + counted(steps, "frame") +
                           " (" + counted(steps * 50, "byte") + ") of extensions\n");
    EXPECT_EQ(work.output(), plain);
    run = runMorvane({"--quiet", "--verbose", "--check", "-o", "all", "in.ac3", "0", "1e6"},
                     work.dir.path);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err.substr(0, run.err.find('\n')),
              "morvane: in.ac3: DTS, 48 kHz, 5.1, 1509 kb/s + DTS-HD");

    Bytes damaged = hd;
    // The tenth extension frame, after ten core frames and nine extension frames.
    const std::size_t extension = plain.size() / steps * 10 + 50 * 9;
    ASSERT_EQ(damaged[extension], 0x64);
    damaged[extension + 16] ^= 0x01;  // the CRC's high byte
    writeFile(work.dir / "in.ac3", damaged);
    run = runMorvane({"--quiet", "--check", "in.ac3", "0", "1e6"}, work.dir.path);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("the frame at byte " + std::to_string(extension) + " "),
              std::string::npos)
        << run.err;
    run = runMorvane({"--quiet", "--repair", "in.ac3", "0", "1e6"}, work.dir.path);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("an extension substream frame, and its step plays from its core"),
              std::string::npos)
        << run.err;
    Bytes expected = damaged;
    expected.erase(expected.begin() + static_cast<long>(extension),
                   expected.begin() + static_cast<long>(extension + 50));
    EXPECT_EQ(work.output(), expected);
    if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed (install ffmpeg)";
    writeFile(work.dir / "plain.dts", plain);
    writeFile(work.dir / "hd.dts", hd);
    writeFile(work.dir / "damaged.dts", damaged);
    const Decoded original = ffmpegDecode(work.dir / "plain.dts", "dts");
    EXPECT_EQ(ffmpegDecode(work.dir / "hd.dts", "dts").samples, original.samples);
    EXPECT_NE(ffmpegDecode(work.dir / "damaged.dts", "dts").messages.find("EXSS header checksum"),
              std::string::npos);
    const Decoded repaired = ffmpegDecode(work.dir / "morvane_in.ac3", "dts");
    EXPECT_EQ(repaired.messages, "");
    EXPECT_EQ(repaired.samples, original.samples);
}

// Extension frames of 300,000 bytes, longer than the output's buffer and the reader's history,
// are read and written whole, and left out by --core.
TEST(DtsTest, ExtensionFramesLongerThanTheBuffers) {
    const Bytes plain = core();
    const std::vector<ac3::Frame> frames = dts::walk(plain);
    const Bytes three = slice(plain, frames, 0, 2);
    Workspace work(dts::withExtensions(three, 300000));
    Result run = runMorvane({"--quiet", "--check", "in.ac3", "0", "1e6"}, work.dir.path);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(work.output(), work.input);
    run = runMorvane({"--quiet", "--core", "in.ac3", "0", "1e6"}, work.dir.path);
    EXPECT_EQ(work.output(), three);
}

}  // namespace
