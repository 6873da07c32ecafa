// The frames of the input, read in the format that its first frame's sync word names, and
// the search for frames of every known format after junk at its start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "stream/frame_format.h"

// One format the program reads.
struct FormatRow {
    // The first bytes of a frame of this format (`size` of them are there, at least 2).
    bool (*startsFrame)(const std::uint8_t* bytes, std::size_t size);
    std::unique_ptr<FrameFormat> (*make)(BitReader& reader);
    // In a search, one whole frame followed by a sync word counts; otherwise only two whole
    // frames in a row do, for sync patterns that junk holds far more often than 0x0B77.
    bool countsAlone;
};

// Every format, in the order a search tries them; the first is also the one an input that
// starts with no known sync word is read as.
const std::vector<FormatRow>& knownFormats();

class FrameStream {
public:
    // Picks the format of the frame at the reader's position.
    explicit FrameStream(BitReader& reader, const std::vector<FormatRow>& rows = knownFormats());

    FrameFormat& format() { return *current; }
    const FrameFormat& format() const { return *current; }
    bool readFrame() { return current->readFrame(); }
    // As FrameFormat::resync(). Before the format is known, frames of every format are
    // looked for, and the first found decides it.
    bool resync();

private:
    FrameFormat& formatOf(std::size_t row);
    bool searchEveryFormat();
    bool twoFramesAt(FrameFormat& format, std::uint64_t candidate);

    BitReader& reader;
    const std::vector<FormatRow>& rows;
    std::vector<std::unique_ptr<FrameFormat>> formats;  // made as they are needed
    FrameFormat* current = nullptr;
    bool known = false;
};
