// Decodes an AC-3 elementary stream with liba52 and reports whether every byte of it forms
// whole, decodable sync frames:
//   a52_check FILE   prints "frames N samples M" (M per channel) and exits 0, or prints what
//                    went wrong and exits 1.
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" {
#include <a52dec/a52.h>
}

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: a52_check FILE\n");
        return 2;
    }
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
        }
        if (status != 0) break;
        ++frames;
        offset += static_cast<std::size_t>(length);
    }
    a52_free(state);
    std::printf("frames %ld samples %ld\n", frames, samples);
    return status;
}
