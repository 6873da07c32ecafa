// The headers made for PCM outputs: a WAV output past 4 GiB becomes RF64 in the room it kept,
// and Wave64 states exact sizes and pads its chunks to 8 bytes.
#include "stream/pcm/wav_header.h"

#include <gtest/gtest.h>

#include <cstring>

#include "stream/pcm/wav_bytes.h"

namespace {

wav::Header stereo16(wav::Kind kind) {
    wav::Header h;
    h.kind = kind;
    h.formatTag = 1, h.channels = 2, h.rate = 48000, h.blockAlign = 4, h.bits = 16;
    h.before.push_back({"fmt ", {'f', 'm', 't', ' '}, std::vector<std::uint8_t>(16, 1)});
    if (kind == wav::Kind::w64) h.before.back().id.resize(16, 0xF3);
    return h;
}

TEST(WavHeaderTest, RoomKeptForDs64IsUsedPast4GiB) {
    const wav::Header h = stereo16(wav::Kind::riff);
    const std::uint64_t small = 1000, large = std::uint64_t{1} << 30;  // 4 GiB of samples
    const std::vector<std::uint8_t> kept = wav::outputHeader(h, small, 0, 0, true);
    const std::vector<std::uint8_t> grown = wav::outputHeader(h, large, 0, 0, true);
    ASSERT_EQ(kept.size(), grown.size());
    EXPECT_EQ(std::memcmp(kept.data() + 12, "JUNK", 4), 0);
    EXPECT_EQ(wav::le32(&kept[4]), kept.size() + small * 4 - 8);
    EXPECT_EQ(std::memcmp(grown.data(), "RF64", 4), 0);
    EXPECT_EQ(std::memcmp(grown.data() + 12, "ds64", 4), 0);
    EXPECT_EQ(wav::le32(&grown[4]), 0xFFFFFFFFu);
    EXPECT_EQ(wav::le64(&grown[20]), grown.size() + large * 4 - 8);  // RIFF size
    EXPECT_EQ(wav::le64(&grown[28]), large * 4);                     // data size
    EXPECT_EQ(wav::le64(&grown[36]), large);                         // sample count
    EXPECT_EQ(wav::le32(&grown[grown.size() - 4]), 0xFFFFFFFFu);
    EXPECT_EQ(wav::outputHeader(h, small, 0, 0, false).size(), kept.size() - 36);
}

TEST(WavHeaderTest, Wave64SizesAreExactAndChunksAligned) {
    const wav::Header h = stereo16(wav::Kind::w64);
    const std::vector<std::uint8_t> header = wav::outputHeader(h, 5, 0, 0, false);
    const std::vector<std::uint8_t> trailer = wav::outputTrailer(h, 5);
    EXPECT_EQ(header.size() % 8, 0u);
    EXPECT_EQ(trailer.size(), 4u);  // 20 bytes of samples, padded to 24
    EXPECT_EQ(wav::le64(&header[16]), header.size() + 20 + trailer.size());
    EXPECT_EQ(wav::le64(&header[header.size() - 8]), 24u + 20);
}

}  // namespace
