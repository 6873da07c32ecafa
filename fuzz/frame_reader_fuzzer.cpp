// Arbitrary bytes through the real BitReader and FrameReader. Every frame handed out must be
// the next run of input bytes, begin with the sync word, have the size its header gives and
// a positive, finite playing time; the walk may never run past the input.
#include <cmath>
#include <cstring>

#include "fuzz_input_file.h"
#include "stream/frame_reader.h"

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
        offset += frame.size();
    }
    return 0;
}
