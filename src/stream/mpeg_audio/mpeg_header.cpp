#include "stream/mpeg_audio/mpeg_header.h"

namespace mpeg {

namespace {

// ISO/IEC 11172-3 Table 3-B.1 and 13818-3 Table B.1: kbit/s by bit-rate index 1 to 14.
constexpr std::int32_t kbitRates[2][3][15] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
};

}  // namespace

std::int32_t Header::bitRate() const {
    return kbitRates[lowRate() ? 1 : 0][3 - layer][bitRateIndex] * 1000;
}

std::int32_t Header::sampleRate() const {
    constexpr std::int32_t mpeg1[3] = {44100, 48000, 32000};
    // MPEG-2 halves them, MPEG-2.5 quarters them.
    return mpeg1[sampleRateIndex] / (version == 3 ? 1 : version == 2 ? 2 : 4);
}

}  // namespace mpeg
