// The Layer III frames of an input one by one, from the first audio frame on: where each
// lies, where its main data lies in the slots before it, and whether it keeps the rules of
// the bit reservoir and its CRC. The last frames read stay at hand, for the main data the
// next frame of an output takes from them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "stream/bit_reader.h"
#include "stream/mp3/mp3_frame.h"

namespace mp3 {

struct SeenFrame {
    std::uint64_t offset = 0;
    Layout layout;
    std::uint64_t slotAt = 0;  // where its slot starts among the slots laid end to end
    std::string fault;         // what is wrong with it, or ""
    bool crcFailed = false;    // that is its CRC
};

class FrameWalk {
public:
    enum class Stop { none, end, noSync, otherStream, cutShort };

    explicit FrameWalk(BitReader& reader) : reader(reader) {}
    // The first audio frame is at `offset` and sets the stream's version, rate and channels;
    // the audio ends at `end`, where the trailing tags start.
    void open(std::uint64_t offset, const std::uint8_t* header, std::uint64_t end);
    // Reads frame next(); false at the end of the audio and at bytes that hold no frame of
    // the stream (stop() says which).
    bool read();
    // Moves on from the bytes that stopped read() to the next two frames in a row; false for
    // none. `from` and `count` say what was skipped.
    bool resync(std::uint64_t& from, std::uint64_t& count);
    // Checks the CRCs of the frames read from now on.
    void checkCrcs() { checking = true; }
    // Goes back to the first audio frame.
    void restart();
    std::uint64_t next() const { return count; }
    // One of the last frames read.
    bool holds(std::uint64_t index) const { return index < count && index + kept >= count; }
    const SeenFrame& frame(std::uint64_t index) const { return seen[index % kept]; }
    // Its bytes, from the reader's history.
    const std::uint8_t* bytes(const SeenFrame& frame) const {
        return reader.recent(frame.offset, frame.layout.size);
    }
    // The main data that frame `index` takes from the slots before its own.
    void reservoirOf(std::uint64_t index, std::vector<std::uint8_t>& out) const;
    Stop stop() const { return stopped; }
    std::uint64_t stopOffset() const { return at; }

private:
    static constexpr std::uint64_t kept = 64;
    const std::uint8_t* bytesAt(std::uint64_t offset, std::size_t size);
    bool fits(const std::uint8_t* header) const;
    bool frameFollows(std::uint64_t offset);
    // What breaks the reservoir's rules, or "".
    std::string faultOf(const Layout& layout, std::uint64_t slotAt);
    bool fail(Stop why) {
        stopped = why;
        return false;
    }

    BitReader& reader;
    std::uint8_t first[4] = {};
    std::uint64_t begin = 0, end = 0;
    std::uint64_t at = 0;  // where the next frame starts
    std::uint64_t count = 0;
    std::uint64_t slots = 0;    // the slots read so far
    std::uint64_t dataEnd = 0;  // where the main data of the frames read so far ends
    std::array<SeenFrame, kept> seen;
    Stop stopped = Stop::none;
    bool checking = false;
    std::uint32_t lastHeader = 0;  // the last frame's, which fits the stream
    std::size_t lastSize = 0;
};

}  // namespace mp3
