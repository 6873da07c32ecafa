// Read errors injected through the file seam at chosen bytes: the frame reader hands out
// every whole frame before the error and none after it, and the bit reader says that a
// read error, not the end of the file, ended the input.
#include <gtest/gtest.h>

#include "fake_file_io.h"
#include "stream/ac3/frame_reader.h"

namespace {

TEST(SeamFaultTest, FramesBeforeAReadErrorAreWholeAndNoneFollow) {
    const Bytes piece = readSample();
    Bytes stream;
    for (int i = 0; i < 6; ++i) stream.insert(stream.end(), piece.begin(), piece.end());
    constexpr std::size_t block = BitReader::bufferSize;
    const struct {
        const char* what;
        std::size_t failAt;
        std::size_t frames;  // 768 bytes each
        bool failed;
    } cases[] = {
        {"on the first read", 0, 0, true},
        {"inside a frame of the first block", 100000, 130, true},
        {"on a frame boundary", 768 * 200, 200, true},
        {"on the refill after a full block", block, block / 768, true},
        {"inside the second block", block + 5000, (block + 5000) / 768, true},
        {"never", fake_files::never, 1500, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake_files::add("stream", stream, c.failAt);
        BitReader bitReader("stream");
        FrameReader frameReader(bitReader);
        std::size_t frames = 0;
        while (frameReader.readFrame()) {
            const std::vector<std::int32_t> frame = frameReader.bytes();
            ASSERT_EQ(frame.size(), 768U);
            const Bytes expected(stream.begin() + static_cast<long>(frames * 768),
                                 stream.begin() + static_cast<long>((frames + 1) * 768));
            ASSERT_TRUE(std::equal(frame.begin(), frame.end(), expected.begin()))
                << "frame " << frames;
            ++frames;
        }
        EXPECT_EQ(frames, c.frames);
        EXPECT_EQ(bitReader.readFailed(), c.failed);
        EXPECT_TRUE(bitReader.atEnd());
    }
}

}  // namespace
