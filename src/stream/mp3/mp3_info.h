// The header frame that may open an MP3 stream and plays no audio: Xing ("Xing" for VBR,
// "Info" for CBR) with LAME's tag of encoder delay and padding, or Fraunhofer's VBRI. Read
// from the input, and written anew for each output with its own counts, TOC and CRCs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mp3 {

struct InfoFrame {
    bool present = false;
    bool vbri = false;
    std::vector<std::uint8_t> frame;  // the input's, whole
    std::uint32_t xingAt = 0;         // where "Xing" or "Info" stands in it
    std::uint32_t flags = 0;
    std::uint32_t frames = 0;  // audio frames, when flags has 1
    bool lameTag = false;      // a LAME tag follows the Xing fields
    std::uint32_t lameAt = 0;
    std::string encoder;  // its 9 characters
    std::uint32_t delay = 0, padding = 0;
    // The tag's delay and padding are honoured by gapless decoders: its encoder string
    // starts with "LAME", "Lavf" or "Lavc".
    bool gapless() const;
};

// What an output's header frame says of it.
struct OutputCounts {
    std::uint32_t frames = 0;  // audio frames after the header frame
    std::uint32_t bytes = 0;   // the header frame and the audio frames
    std::uint32_t delay = 0, padding = 0;
    std::uint16_t musicCrc = 0;  // over the audio frames
    bool vbr = false;            // the audio frames differ in bit rate
    // The byte offset, from the header frame's first byte, of the audio frame at each
    // hundredth of the frames.
    std::uint32_t toc[100] = {};
};

// The Xing or VBRI frame of `size` bytes at `frame`, which `sideInfo` bytes of side
// information follow; false when it is an audio frame.
bool readInfoFrame(const std::uint8_t* frame, std::size_t size, std::uint32_t sideInfo,
                   InfoFrame& info);
// The bytes of a frame that the Xing fields an output gets, and the LAME tag, need.
std::uint32_t infoFrameNeeds(const InfoFrame& input);
// A Xing frame of the same length as `input`'s frame (a VBRI frame becomes one), describing
// an output; a LAME tag where the input had one, its ReplayGain and peak fields zeroed.
std::vector<std::uint8_t> writeInfoFrame(const InfoFrame& input, const OutputCounts& counts);

}  // namespace mp3
