// The frames of one FLAC output: the input's frames copied with their numbers made anew, and
// frames made of the samples a seam keeps or of silence, held back until they are at least
// 16 samples or the output ends. It keeps the facts STREAMINFO and the seek table give.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "stream/flac/flac_frame_header.h"
#include "stream/flac/flac_metadata.h"

namespace flac {

// The fewest samples a frame but the last may hold, and the most any may.
inline constexpr std::uint32_t shortest = 16;
inline constexpr std::uint32_t largest = 65535;

class FrameWriter {
public:
    using Sink = std::function<bool(const std::uint8_t* bytes, std::size_t count)>;

    // `like` codes the sample rate and size as made frames will; `block` is the size made
    // frames take where they can; `variable` numbers frames by their first sample.
    // `seekPoints` points go in the seek table, spread over `planned` samples.
    void begin(const FrameHeader& like, const StreamInfo& info, std::uint32_t block, bool variable,
               std::size_t seekPoints, std::uint64_t planned);
    // Sizes only: no bytes are made or written (see staysFixed()).
    void dryRun(std::uint32_t block);

    // Samples held back, not yet in a frame.
    std::uint64_t held() const { return heldCount; }
    // A whole frame of the input, numbered anew; a CRC-16 that did not hold still does not,
    // by as much.
    bool copy(const std::uint8_t* frame, std::size_t size, const FrameHeader& header,
              const Sink& out);
    // `count` samples of each channel, `stride` apart in `samples` (nullptr: zeros); a frame
    // made of them carries a CRC-16 off by `crcError`.
    bool add(const std::int32_t* samples, std::size_t stride, std::uint64_t count,
             std::uint16_t crcError, const Sink& out);
    // Writes what is held as one frame.
    bool flush(const Sink& out);

    // Every frame but the last held `block` samples, and the last no more.
    bool fixedSoFar() const { return allBlock && lastBlock <= block; }
    // STREAMINFO for the frames written, and their seek points.
    StreamInfo streamInfo() const;
    const std::vector<SeekPoint>& seekPoints() const { return points; }

private:
    bool makeFrame(std::uint32_t count, const Sink& out);
    bool emit(const std::vector<std::uint8_t>& head, const std::uint8_t* rest, std::size_t size,
              std::uint32_t samples, const Sink& out);
    void account(std::uint32_t samples, std::size_t bytes);

    bool dry = false;
    FrameHeader like;
    StreamInfo info;
    std::uint32_t block = 0;
    bool variable = false;
    // Held samples, channel after channel, `capacity` apart.
    std::vector<std::int32_t> heldSamples;
    std::size_t capacity = 0;
    std::uint64_t heldCount = 0;
    std::uint16_t heldError = 0;
    std::vector<std::uint8_t> head, made;  // of the frame being written
    // What was written.
    std::uint64_t frames = 0, samples = 0, bytes = 0;
    std::uint32_t lastBlock = 0, minBlock = 0, maxBlock = 0;
    std::uint32_t minFrame = 0, maxFrame = 0;
    bool allBlock = true;
    std::vector<std::uint64_t> targets;  // samples a seek point goes to, in order
    std::size_t nextTarget = 0;
    std::vector<SeekPoint> points;
};

}  // namespace flac
