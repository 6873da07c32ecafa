// Lays out an output's Layer III frames so that every one finds its main data: frames are
// copied with their slots as they stand, and before the first frame of each run of the input
// the main data it needs from the frames before it is laid at the end of the slots so far,
// in a slot grown for it or in silent carrier frames. Frames are held until no later frame
// can reach into their slots, then written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "stream/mp3/mp3_frame.h"

namespace mp3 {

// What the frames written so far add up to, for the header frame.
struct Written {
    std::uint64_t frames = 0, bytes = 0;
    std::uint16_t musicCrc = 0;  // LAME's CRC over them
    int bitRateIndex = -1;       // theirs, while they share one
    bool vbr = false;
    // The offset of every `stride`-th frame from the first frame's first byte.
    std::vector<std::uint32_t> offsets;
    std::uint64_t stride = 1;
};

class ReservoirWriter {
public:
    using Sink = std::function<bool(const std::uint8_t* bytes, std::size_t count)>;

    void begin(std::uint32_t reach);
    // A frame of the input, its slot as it stands; with `silent`, a silent frame that keeps
    // the slot, so that the frames after it find their main data (repair).
    void add(const std::uint8_t* frame, const Layout& layout, bool silent);
    // A silent frame of this header; false when it has no room for main data.
    bool addSilent(const std::uint8_t* header);
    // Lays the `count` bytes of main data that the next frame takes from the slots before
    // it at the end of those slots. Where they hold too little room, it first raises the
    // bit rate of the last frame (with `mayGrow`), then adds silent carrier frames of the
    // header `carrier`; says how many.
    std::uint32_t lay(const std::uint8_t* bytes, std::uint32_t count, const std::uint8_t* carrier,
                      bool mayGrow);
    // Writes the frames that no later frame can reach into, or all of them; `batched`, only
    // once they make a run of some KiB.
    bool flush(const Sink& out, bool all, bool batched = true);
    // Frames added so far.
    std::uint64_t frames() const { return done.frames + pending.size(); }
    const Written& written() const { return done; }

private:
    struct Pending {
        std::size_t at;  // in `held`
        Layout layout;
        std::uint64_t slotAt;  // where its slot starts in the output's slots laid end to end
    };
    std::uint8_t* append(const std::uint8_t* frame, const Layout& layout);
    bool grow(std::uint32_t need);
    // The bytes at the end of the slots that no frame's main data holds.
    std::uint64_t room() const { return slots > dataEnd ? slots - dataEnd : 0; }
    // A frame about to be written, for the TOC and the bit rates.
    void note(const std::uint8_t* frame);

    std::uint32_t reach = 511;
    std::vector<std::uint8_t> held;
    std::size_t heldFrom = 0;  // the first byte of `held` not written yet
    std::deque<Pending> pending;
    std::size_t ready = 0;      // the pending frames no later frame can reach
    std::uint64_t slots = 0;    // the slots' bytes so far
    std::uint64_t dataEnd = 0;  // the end of the main data of the frames so far
    Written done;
};

}  // namespace mp3
