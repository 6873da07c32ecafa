// The head of a FLAC file: an ID3v2 tag perhaps, "fLaC" and the metadata blocks. Read from
// the input once, and written for each output with STREAMINFO and SEEKTABLE made anew.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "stream/bit_reader.h"

namespace flac {

struct StreamInfo {
    std::uint32_t minBlock = 0, maxBlock = 0;  // samples per channel
    std::uint32_t minFrame = 0, maxFrame = 0;  // bytes; 0 for unknown
    std::uint32_t rate = 0;
    int channels = 0, bits = 0;
    std::uint64_t total = 0;  // samples per channel; 0 for unknown
};

struct SeekPoint {
    std::uint64_t sample = 0, offset = 0;  // offset: from the first frame's first byte
    std::uint32_t samples = 0;
};

enum BlockType { streamInfoBlock = 0, seekTableBlock = 3, cueSheetBlock = 5 };

struct Metadata {
    std::vector<std::uint8_t> id3;  // a tag before "fLaC", as it was
    StreamInfo info;
    struct Block {
        int type = 0;
        std::vector<std::uint8_t> body;
    };
    std::vector<Block> blocks;  // every block after STREAMINFO, in order
    std::size_t seekPoints = 0;
    bool hasCueSheet = false;
};

// Why the head is not one to cut, or "" when it is. `notFlac` is set when there is no
// "fLaC" where it belongs: the input is no FLAC file at all.
std::string readMetadata(BitReader& reader, Metadata& metadata, bool& notFlac);

// The head of an output whose frames `info` describes, with `points` in its seek table, as
// many as the input's.
std::vector<std::uint8_t> writeMetadata(const Metadata& metadata, const StreamInfo& info,
                                        const std::vector<SeekPoint>& points);

}  // namespace flac
