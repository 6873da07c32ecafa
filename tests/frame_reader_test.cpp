#include "stream/frame_reader.h"

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

struct TableRow {
    int fscod;
    int frmsizecod;
    std::size_t bytes;
    double seconds;
};

// The telling rows of the frame size table, and the durations that follow from size and rate.
TEST(FrameReaderTest, SizesAndDurationsFromTheHeader) {
    const TableRow rows[] = {
        {0, 0, 128, 0.032},     {0, 16, 512, 0.032},    {0, 21, 768, 0.032},
        {0, 37, 2560, 0.032},   {1, 0, 138, 0.0345},    {1, 1, 140, 0.035},
        {1, 20, 834, 0.03475},  {1, 21, 836, 0.034833}, {1, 36, 2786, 0.034825},
        {1, 37, 2788, 0.03485}, {2, 0, 192, 0.048},     {2, 37, 3840, 0.048},
    };
    for (const TableRow& row : rows) {
        SCOPED_TRACE(testing::Message()
                     << "fscod " << row.fscod << " frmsizecod " << row.frmsizecod);
        const Bytes frame = ac3::makeFrame(row.fscod, row.frmsizecod, 0x5A);
        StoredStream stored(frame);
        FrameReader& frames = stored.frames;
        ASSERT_TRUE(frames.readFrame());
        EXPECT_EQ(frames.bytes(), asElements(frame));
        EXPECT_EQ(frames.bytes().size(), row.bytes);
        EXPECT_NEAR(frames.frameDuration(), row.seconds, 5e-7);
        EXPECT_EQ(frames.syncword, 0x0B77);
        EXPECT_EQ(frames.crc1, 0xC33C);
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
