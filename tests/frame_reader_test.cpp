#include "stream/ac3/frame_reader.h"

#include <gtest/gtest.h>

#include <set>

#include "ac3_test_stream.h"

namespace {

// A stream stored in a scratch file, with both readers open on it.
struct StoredStream {
    explicit StoredStream(const Bytes& data)
        : path(store(dir, data)), bits(path.c_str()), frames(bits) {}
    static std::string store(const TempDir& dir, const Bytes& data) {
        writeFile(dir / "in", data);
        return dir / "in";
    }

    TempDir dir;
    std::string path;
    BitReader bits;
    FrameReader frames;
};

std::vector<std::int32_t> asElements(const Bytes& bytes) { return {bytes.begin(), bytes.end()}; }

Bytes withBsid(Bytes frame, int bsid) {
    frame[5] = static_cast<std::uint8_t>(bsid << 3 | (frame[5] & 0x07));
    return frame;
}

struct TableRow {
    const char* what;
    Bytes frame;
    std::size_t bytes;
    double seconds;
    bool steps;
};

// The telling rows of the AC-3 frame size table and the durations that follow from size and
// rate; E-AC-3 sizes from frmsiz and durations from blocks and sample rate.
TEST(FrameReaderTest, SizesAndDurationsFromTheHeader) {
    const TableRow rows[] = {
        {"AC-3 48 kHz code 0", ac3::makeFrame(0, 0, 0x5A), 128, 0.032, true},
        {"AC-3 48 kHz code 16", ac3::makeFrame(0, 16, 0x5A), 512, 0.032, true},
        {"AC-3 48 kHz code 21", ac3::makeFrame(0, 21, 0x5A), 768, 0.032, true},
        {"AC-3 48 kHz code 37", ac3::makeFrame(0, 37, 0x5A), 2560, 0.032, true},
        {"AC-3 44.1 kHz code 0", ac3::makeFrame(1, 0, 0x5A), 138, 0.0345, true},
        {"AC-3 44.1 kHz code 1", ac3::makeFrame(1, 1, 0x5A), 140, 0.035, true},
        {"AC-3 44.1 kHz code 20", ac3::makeFrame(1, 20, 0x5A), 834, 0.03475, true},
        {"AC-3 44.1 kHz code 21", ac3::makeFrame(1, 21, 0x5A), 836, 0.034833, true},
        {"AC-3 44.1 kHz code 36", ac3::makeFrame(1, 36, 0x5A), 2786, 0.034825, true},
        {"AC-3 44.1 kHz code 37", ac3::makeFrame(1, 37, 0x5A), 2788, 0.03485, true},
        {"AC-3 32 kHz code 0", ac3::makeFrame(2, 0, 0x5A), 192, 0.048, true},
        {"AC-3 32 kHz code 37", ac3::makeFrame(2, 37, 0x5A), 3840, 0.048, true},
        {"E-AC-3 48 kHz 1 block", ac3::makeEac3Frame(ac3::eac3(0, 0, 8, 0, 0), 0x5A), 8,
         256 / 48000.0, true},
        {"E-AC-3 48 kHz 2 blocks", ac3::makeEac3Frame(ac3::eac3(0, 0, 200, 0, 1), 0x5A), 200,
         512 / 48000.0, true},
        {"E-AC-3 48 kHz 3 blocks", ac3::makeEac3Frame(ac3::eac3(0, 0, 300, 0, 2), 0x5A), 300,
         768 / 48000.0, true},
        {"E-AC-3 48 kHz 6 blocks", ac3::makeEac3Frame(ac3::eac3(0, 0, 4096, 0, 3), 0x5A), 4096,
         0.032, true},
        {"E-AC-3 44.1 kHz 6 blocks", ac3::makeEac3Frame(ac3::eac3(0, 0, 600, 1, 3), 0x5A), 600,
         1536 / 44100.0, true},
        {"E-AC-3 32 kHz 6 blocks", ac3::makeEac3Frame(ac3::eac3(0, 0, 600, 2, 3), 0x5A), 600, 0.048,
         true},
        {"E-AC-3 24 kHz", ac3::makeEac3Frame(ac3::eac3(0, 0, 400, 3, 0), 0x5A), 400, 0.064, true},
        {"E-AC-3 22.05 kHz", ac3::makeEac3Frame(ac3::eac3(0, 0, 400, 3, 1), 0x5A), 400,
         1536 / 22050.0, true},
        {"E-AC-3 16 kHz", ac3::makeEac3Frame(ac3::eac3(0, 0, 400, 3, 2), 0x5A), 400, 0.096, true},
        {"E-AC-3 converted from AC-3", ac3::makeEac3Frame(ac3::eac3(2, 0, 512, 0, 3), 0x5A), 512,
         0.032, true},
        {"E-AC-3 dependent", ac3::makeEac3Frame(ac3::eac3(1, 0, 512, 0, 3), 0x5A), 512, 0.032,
         false},
        {"E-AC-3 substream 7", ac3::makeEac3Frame(ac3::eac3(0, 7, 512, 0, 3), 0x5A), 512, 0.032,
         false},
        {"E-AC-3 with bsid 11, the lowest",
         withBsid(ac3::makeEac3Frame(ac3::eac3(0, 0, 300), 0x5A), 11), 300, 0.032, true},
        {"AC-3 with bsid 10, the highest", withBsid(ac3::makeFrame(0, 16, 0x5A), 10), 512, 0.032,
         true},
    };
    for (const TableRow& row : rows) {
        SCOPED_TRACE(row.what);
        StoredStream stored(row.frame);
        FrameReader& frames = stored.frames;
        ASSERT_TRUE(frames.readFrame());
        EXPECT_EQ(frames.bytes(), asElements(row.frame));
        EXPECT_EQ(frames.bytes().size(), row.bytes);
        EXPECT_NEAR(frames.frameDuration(), row.seconds, 5e-7);
        EXPECT_EQ(frames.stepsClock(), row.steps);
        EXPECT_EQ(frames.syncword, 0x0B77);
        if (!frames.isEac3()) {
            EXPECT_EQ(frames.crc1, 0xC33C);
        }
    }
}

TEST(FrameReaderTest, EveryCodeAtEveryRateMatchesTheFormula) {
    Bytes stream;
    for (int fscod = 0; fscod < 3; ++fscod) {
        for (int code = 0; code < 38; ++code) {
            const Bytes frame = ac3::makeFrame(fscod, code, static_cast<std::uint8_t>(code));
            stream.insert(stream.end(), frame.begin(), frame.end());
        }
    }
    StoredStream stored(stream);
    FrameReader& frames = stored.frames;
    for (int fscod = 0; fscod < 3; ++fscod) {
        for (int code = 0; code < 38; ++code) {
            ASSERT_TRUE(frames.readFrame()) << fscod << "/" << code;
            EXPECT_EQ(static_cast<int>(frames.bytes().size()), ac3::frameBytes(fscod, code));
            EXPECT_DOUBLE_EQ(frames.frameDuration(),
                             ac3::frameBytes(fscod, code) * 8.0 / ac3::bitRate(code));
        }
    }
    EXPECT_FALSE(frames.readFrame());
}

Bytes framesThen(int count, const Bytes& tail) {
    Bytes stream;
    for (int i = 0; i < count; ++i) {
        const Bytes frame = ac3::makeFrame(0, 16, static_cast<std::uint8_t>(i + 1));
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    stream.insert(stream.end(), tail.begin(), tail.end());
    return stream;
}

// A header with the given fifth byte, then a few body bytes.
Bytes header(std::uint8_t fifth) { return {0x0B, 0x77, 0, 0, fifth, 0, 0, 0}; }

// An E-AC-3 header (bsid 16) with the given third to fifth bytes, then body bytes.
Bytes eac3Header(std::uint8_t third, std::uint8_t fourth, std::uint8_t fifth) {
    Bytes data(64, 0);
    data[0] = 0x0B;
    data[1] = 0x77;
    data[2] = third;
    data[3] = fourth;
    data[4] = fifth;
    data[5] = 16 << 3;
    return data;
}

// How many frames come out of a stream of 512-byte frames followed by various endings.
TEST(FrameReaderTest, StopsAtTheFirstFrameThatIsNotWhole) {
    const struct {
        const char* what;
        Bytes stream;
        int frames;
    } cases[] = {
        {"two frames and nothing else", framesThen(2, {}), 2},
        {"three frames", framesThen(3, {}), 3},
        {"a truncated last frame", framesThen(2, {0x0B, 0x77, 0, 0, 0x10, 1, 2}), 2},
        {"a lone first sync byte", framesThen(1, {0x0B}), 1},
        {"garbage between frames", framesThen(1, {0xFF, 0x0B, 0x77}), 1},
        {"reserved sample rate", framesThen(1, header(0xC0 | 16)), 1},
        {"frame size code 38", framesThen(1, header(38)), 1},
        {"frame size code 63", framesThen(1, header(63)), 1},
        {"a header cut short before bsid", framesThen(2, {0x0B, 0x77, 0, 0, 0x10}), 2},
        {"E-AC-3 reserved strmtyp", framesThen(1, eac3Header(0xC0, 15, 0x30)), 1},
        {"E-AC-3 reserved fscod2", framesThen(1, eac3Header(0x00, 15, 0xF0)), 1},
        {"E-AC-3 frame shorter than its header", framesThen(1, eac3Header(0x00, 2, 0x30)), 1},
        {"E-AC-3 frame cut short", framesThen(1, eac3Header(0x00, 40, 0x30)), 1},
        {"not AC-3 at all", Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0}, 0},
        {"empty", {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StoredStream stored(c.stream);
        FrameReader& frames = stored.frames;
        for (int i = 0; i < c.frames; ++i) {
            ASSERT_TRUE(frames.readFrame()) << "frame " << i;
            const std::vector<std::int32_t> got = frames.bytes();
            ASSERT_EQ(got.size(), 512U);
            EXPECT_EQ(got.back(), i + 1);
        }
        EXPECT_FALSE(frames.readFrame());
        EXPECT_FALSE(frames.readFrame()) << "stays at the end";
    }
}

// The encoder's 44.1 kHz output mixes padded and unpadded frames; all of them are walked.
TEST(FrameReaderTest, WalksTheSampleStreamsToTheirLastByte) {
    for (const char* name : {"sample_48k.ac3", "sample_44k1.ac3", "sample_32k.ac3"}) {
        SCOPED_TRACE(name);
        const std::string path = std::string(MORVANE_SAMPLES) + "/" + name;
        const std::vector<ac3::Frame> expected = ac3::walk(readFile(path));
        BitReader bits(path.c_str());
        FrameReader frames(bits);
        std::set<int> codes;
        double time = 0.0;
        std::size_t count = 0;
        while (frames.readFrame()) {
            ASSERT_LT(count, expected.size());
            EXPECT_EQ(frames.bytes().size(), expected[count].size);
            time += frames.frameDuration();
            codes.insert(frames.frmsizecod);
            ++count;
        }
        EXPECT_EQ(count, expected.size());
        EXPECT_NEAR(time, expected.back().end, 1e-9);
        if (std::string(name) == "sample_44k1.ac3") {
            EXPECT_EQ(codes.size(), 2U) << "padded and unpadded frames";
        }
    }
}

}  // namespace
