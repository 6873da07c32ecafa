// Decodes an AC-3 elementary stream with liba52 and reports whether every byte of it forms
// whole, decodable sync frames:
//   a52_check FILE [SILENT]   prints "frames N samples M" (M per channel) and exits 0, or
//                             prints what went wrong and exits 1. With SILENT, the first
//                             SILENT frames must decode to samples that are all exactly 0.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" {
#include <a52dec/a52.h>
}

// The 256 samples of each channel of the block just decoded are all exactly 0.
bool isSilent(const sample_t* samples, int flags) {
    constexpr int channels[11] = {2, 1, 2, 3, 3, 4, 4, 5, 1, 1, 2};  // by A52_CHANNEL_MASK
    const int count = 256 * (channels[flags & A52_CHANNEL_MASK] + ((flags & A52_LFE) ? 1 : 0));
    for (int i = 0; i < count; ++i) {
        if (samples[i] != 0) return false;
    }
    return true;
}

int main(int argc, char* argv[]) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: a52_check FILE [SILENT]\n");
        return 2;
    }
    const long silent = argc == 3 ? std::atol(argv[2]) : 0;
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::printf("cannot read %s\n", argv[1]);
        return 1;
    }
    std::vector<std::uint8_t> data{std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>()};
    a52_state_t* state = a52_init(0);
    long frames = 0;
    long samples = 0;
    std::size_t offset = 0;
    int status = 0;
    while (offset < data.size()) {
        int flags = 0, sampleRate = 0, bitRate = 0;
        const int length = data.size() - offset >= 7
                               ? a52_syncinfo(&data[offset], &flags, &sampleRate, &bitRate)
                               : 0;
        if (length == 0 || offset + static_cast<std::size_t>(length) > data.size()) {
            std::printf("no whole frame at byte %zu\n", offset);
            status = 1;
            break;
        }
        sample_t level = 1;
        if (a52_frame(state, &data[offset], &flags, &level, 0) != 0) {
            std::printf("frame %ld does not decode\n", frames);
            status = 1;
            break;
        }
        for (int block = 0; block < 6; ++block) {
            if (a52_block(state) != 0) {
                std::printf("block %d of frame %ld does not decode\n", block, frames);
                status = 1;
                break;
            }
            samples += 256;
            if (frames < silent && !isSilent(a52_samples(state), flags)) {
                std::printf("block %d of frame %ld is not silent\n", block, frames);
                status = 1;
                break;
            }
        }
        if (status != 0) break;
        ++frames;
        offset += static_cast<std::size_t>(length);
    }
    a52_free(state);
    std::printf("frames %ld samples %ld\n", frames, samples);
    return status;
}
