// Silent twins of arbitrary reference frames: every frame the frame reader finds in the input
// is a reference, and every twin the builder makes of one must be read back as one whole
// frame with the reference's syntax, size, duration and stepping, with both CRCs holding.
#include "fuzz_input_file.h"
#include "stream/ac3/frame_crc.h"
#include "stream/ac3/frame_reader.h"
#include "stream/ac3/silent_frame.h"

namespace {

void checkTwin(const FrameReader& reference, const std::vector<std::int32_t>& twin) {
    static FuzzInputFile file;
    const std::vector<std::uint8_t> bytes(twin.begin(), twin.end());
    if (bytes.size() != reference.byteCount()) fuzzFailure("a twin of another length");
    if (!crcsHold(bytes.data(), bytes.size(), reference.isEac3())) fuzzFailure("a twin's CRCs");
    BitReader bitReader(file.hold(bytes.data(), bytes.size()));
    FrameReader frameReader(bitReader);
    if (!frameReader.readFrame()) fuzzFailure("a twin the frame reader does not read");
    if (frameReader.byteCount() != reference.byteCount() ||
        frameReader.isEac3() != reference.isEac3() ||
        frameReader.frameDuration() != reference.frameDuration() ||
        frameReader.stepsClock() != reference.stepsClock()) {
        fuzzFailure("a twin that does not play as its reference");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static FuzzInputFile file;
    BitReader bitReader(file.hold(data, size));
    FrameReader frameReader(bitReader);
    while (frameReader.readFrame()) {
        const std::vector<std::int32_t> twin = silentFrame(frameReader.bytes());
        if (!twin.empty()) checkTwin(frameReader, twin);
    }
    return 0;
}
