// The bytes the output file gets: every element of every frame, narrowed to its low byte,
// whatever the frames' lengths, in the order they came, across refills of the batch.
#include "cli/output_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

TEST(OutputFileTest, WritesEveryFrameByteForByte) {
    const std::string name = testing::TempDir() + "morvane_output_file_test.bin";
    std::vector<std::vector<std::int32_t>> frames;
    // Lengths around the copy's blocks of 16, a frame as long as the batch, and longer.
    for (const std::size_t length :
         {0, 1, 7, 15, 16, 17, 31, 32, 33, 360, 1792, 262144, 262145, 300007}) {
        std::vector<std::int32_t> frame(length);
        for (std::size_t i = 0; i < length; ++i) {
            // Elements above 255 keep their low byte only.
            frame[i] = static_cast<std::int32_t>((i * 7 + length) % 301);
        }
        frames.push_back(frame);
    }
    std::string expected;
    {
        platform::FileHandle handle = platform::invalidHandle;
        ProgressLine progress(true);
        OutputFile output(name, handle, platform::invalidHandle, progress);
        for (int round = 0; round < 3; ++round) {
            for (const std::vector<std::int32_t>& frame : frames) {
                ASSERT_TRUE(output.writeFrame(frame));
                for (const std::int32_t element : frame)
                    expected += static_cast<char>(element & 0xFF);
            }
        }
        ASSERT_TRUE(output.flush());
        ASSERT_TRUE(output.close());
    }
    std::ifstream file(name, std::ios::binary);
    const std::string written((std::istreambuf_iterator<char>(file)),
                              std::istreambuf_iterator<char>());
    std::remove(name.c_str());
    ASSERT_EQ(written.size(), expected.size());
    EXPECT_TRUE(written == expected);
}

}  // namespace
