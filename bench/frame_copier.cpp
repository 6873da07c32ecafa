// The floor for a full cut: reads the input in 1 MiB blocks and writes every whole AC-3 sync
// frame with one write call, doing nothing else. morvane's full cut is measured against it.
//   frame_copier IN OUT
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t block = 1 << 20;

// Frame size in bytes from the fifth header byte (A/52 frame size code table), 0 if unknown.
std::size_t frameSize(std::uint8_t fifth) {
    static const int kbits[19] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                  192, 224, 256, 320, 384, 448, 512, 576, 640};
    static const int rates[3] = {48000, 44100, 32000};
    const int fscod = fifth >> 6, code = fifth & 0x3F;
    if (fscod == 3 || code > 37) return 0;
    const long words = kbits[code / 2] * 1000L * 1536 / (16L * rates[fscod]);
    return 2 * static_cast<std::size_t>(words + (fscod == 1 ? code % 2 : 0));
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: frame_copier IN OUT\n");
        return 2;
    }
    const int in = open(argv[1], O_RDONLY);
    const int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0) return 1;
    std::vector<std::uint8_t> buffer(2 * block);
    std::size_t have = 0;
    for (;;) {
        const ssize_t n = read(in, buffer.data() + have, block);
        if (n <= 0) break;
        have += static_cast<std::size_t>(n);
        std::size_t pos = 0;
        while (have - pos >= 5) {
            if (buffer[pos] != 0x0B || buffer[pos + 1] != 0x77) return 0;
            const std::size_t size = frameSize(buffer[pos + 4]);
            if (size == 0) return 0;
            if (have - pos < size) break;
            if (write(out, buffer.data() + pos, size) != static_cast<ssize_t>(size)) return 1;
            pos += size;
        }
        std::memmove(buffer.data(), buffer.data() + pos, have - pos);
        have -= pos;
    }
    close(out);
    close(in);
    return 0;
}
