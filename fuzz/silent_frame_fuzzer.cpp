// Silent twins of arbitrary reference frames: every frame the frame reader finds in the input
// is a reference, and every twin the builder makes of one must be read back as one whole
// frame with the reference's syntax, size, duration and stepping, with both CRCs holding.
#include "fuzz_input_file.h"
#include "stream/ac3/frame_crc.h"
#include "stream/ac3/frame_reader.h"
#include "stream/ac3/silent_frame.h"

namespace {

// The twin is whole, of the reference's length, with both CRCs holding.
void checkTwin(const FrameReader& reference, const std::vector<std::uint8_t>& bytes) {
    if (bytes.size() != reference.byteCount()) fuzzFailure("a twin of another length");
    if (!crcsHold(bytes.data(), bytes.size(), reference.isEac3())) fuzzFailure("a twin's CRCs");
}

struct Played {
    std::size_t size;
    bool eac3, steps;
    double duration;
};

}  // namespace

// The twins are read back one after another from one file, each as one whole frame that
// plays as its reference.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static FuzzInputFile file, twinFile;
    std::vector<std::uint8_t> twins;
    std::vector<Played> references;
    {
        BitReader bitReader(file.hold(data, size));
        FrameReader frameReader(bitReader);
        while (frameReader.readFrame()) {
            const std::vector<std::int32_t> twin = silentFrame(frameReader.bytes());
            if (twin.empty()) continue;
            const std::vector<std::uint8_t> bytes(twin.begin(), twin.end());
            checkTwin(frameReader, bytes);
            twins.insert(twins.end(), bytes.begin(), bytes.end());
            references.push_back({frameReader.byteCount(), frameReader.isEac3(),
                                  frameReader.stepsClock(), frameReader.frameDuration()});
        }
    }
    BitReader bitReader(twinFile.hold(twins.data(), twins.size()));
    FrameReader frameReader(bitReader);
    for (const Played& reference : references) {
        if (!frameReader.readFrame()) fuzzFailure("a twin the frame reader does not read");
        if (frameReader.byteCount() != reference.size || frameReader.isEac3() != reference.eac3 ||
            frameReader.frameDuration() != reference.duration ||
            frameReader.stepsClock() != reference.steps) {
            fuzzFailure("a twin that does not play as its reference");
        }
    }
    return 0;
}
