// The header of a PCM file: RIFF/WAVE, RF64 and BW64 (EBU Tech 3306, ITU-R BS.2088), Wave64.
// Its chunks are read into plain values, and a header like it is made for every output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "stream/bit_reader.h"

namespace wav {

enum class Kind { riff, rf64, bw64, w64 };

struct Chunk {
    std::string name;                // the 4-character id ("bext"); of Wave64, the GUID's first 4
    std::vector<std::uint8_t> id;    // as it stands in the file: 4 bytes, or 16 in Wave64
    std::vector<std::uint8_t> body;  // without the id, the size and any pad
};

struct Header {
    Kind kind = Kind::riff;
    std::uint16_t formatTag = 0;  // 1 integer PCM, 3 float (an extensible one's SubFormat)
    std::uint16_t channels = 0;
    std::uint32_t rate = 0;
    std::uint16_t blockAlign = 0;  // bytes of one sample frame
    std::uint16_t bits = 0;        // of a sample's container
    // Every chunk but `data` and `ds64`, in their order, before and after the data.
    std::vector<Chunk> before, after;
    std::vector<std::uint8_t> ds64Table;  // the table after ds64's fixed fields
    std::uint64_t dataOffset = 0;         // of the first sample
    std::uint64_t dataBytes = 0;          // whole sample frames only
    std::uint64_t partBytes = 0;          // bytes of a last, partial sample frame
    bool lengthKnown = true;              // false: the samples run to the end of a pipe
    bool sizeUnstated = false;            // the data's size was not written: it runs to the end
    std::vector<std::string> leftOut;     // chunks that count the input's samples
};

// Reads the header at the start of the input. False, with `why` in words, for anything that
// is not a PCM file the program can cut.
bool readHeader(BitReader& input, Header& header, std::string& why);

// The header of an output of `samples` sample frames, whose first copied sample is the
// input's `firstSample`, after `silenceInFront` zero samples. `room`: a RIFF output leaves
// room for ds64, which it becomes once it passes 4 GiB.
std::vector<std::uint8_t> outputHeader(const Header& header, std::uint64_t samples,
                                       std::uint64_t firstSample, std::uint64_t silenceInFront,
                                       bool room);
// What follows the samples: a pad byte or alignment, and the chunks after `data`.
std::vector<std::uint8_t> outputTrailer(const Header& header, std::uint64_t samples);
// The output of `samples` sample frames is too long for a RIFF header.
bool passes4GiB(const Header& header, std::uint64_t samples);

}  // namespace wav
