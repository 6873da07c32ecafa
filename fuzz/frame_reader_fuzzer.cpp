// Arbitrary bytes through the real BitReader and FrameReader. Every frame handed out must be
// the next run of input bytes, begin with the sync word, have the size its header gives and
// a positive, finite playing time; the walk may never run past the input. E-AC-3 frames are
// checked against their own header: size from frmsiz, time from blocks and sample rate.
#include <cmath>
#include <cstring>

#include "fuzz_input_file.h"
#include "stream/frame_reader.h"

namespace {

void checkEac3(const std::uint8_t* header, std::size_t size, double duration) {
    if ((header[5] >> 3) < 11 || (header[5] >> 3) > 16) fuzzFailure("E-AC-3 without its bsid");
    const std::size_t frmsiz = static_cast<std::size_t>((header[2] & 7) << 8 | header[3]);
    if (size != (frmsiz + 1) * 2 || size < 8) fuzzFailure("E-AC-3 size is not its frmsiz");
    if (header[2] >> 6 == 3) fuzzFailure("E-AC-3 with a reserved strmtyp");
    const int fscod = header[4] >> 6;
    const int next = (header[4] >> 4) & 3;
    if (fscod == 3 && next == 3) fuzzFailure("E-AC-3 with a reserved fscod2");
    constexpr int rates[3] = {48000, 44100, 32000};
    constexpr int reducedRates[3] = {24000, 22050, 16000};
    constexpr int blocks[4] = {1, 2, 3, 6};
    const double expected =
        fscod == 3 ? 1536.0 / reducedRates[next] : blocks[next] * 256.0 / rates[fscod];
    if (duration != expected) fuzzFailure("E-AC-3 duration is not blocks over sample rate");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static FuzzInputFile file;
    BitReader bitReader(file.hold(data, size));
    FrameReader frameReader(bitReader);
    std::size_t offset = 0;
    while (frameReader.readFrame()) {
        const std::vector<std::int32_t> frame = frameReader.bytes();
        if (frame.size() < 5 || offset + frame.size() > size) fuzzFailure("frame past the input");
        for (std::size_t i = 0; i < frame.size(); ++i) {
            if (frame[i] != data[offset + i]) fuzzFailure("frame bytes differ from the input");
        }
        if (frameReader.syncword != 0x0B77 || frame[0] != 0x0B || frame[1] != 0x77) {
            fuzzFailure("frame without the sync word");
        }
        const double duration = frameReader.frameDuration();
        if (!(duration > 0.0 && std::isfinite(duration))) fuzzFailure("bad frame duration");
        if (frameReader.isEac3()) checkEac3(data + offset, frame.size(), duration);
        offset += frame.size();
    }
    return 0;
}
