// The tags an MP3 file may hold around its frames, which are not audio: ID3v2 at the start,
// and APEv2, Lyrics3 and ID3v1 at the end. Each output gets them as they stand.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mp3 {

// The length of the ID3v2 tag whose first `size` bytes (10 at least) are at `bytes`: its
// header, its body and the v2.4 footer. 0 for none.
std::uint64_t id3v2Size(const std::uint8_t* bytes, std::size_t size);
// How many of the `size` bytes that end a file, at `tail`, are tags that follow the frames:
// ID3v1, Lyrics3 v2 and APEv2, in whatever order they were appended. `more` where a tag
// starts before the bytes given.
std::uint64_t trailingTagsSize(const std::uint8_t* tail, std::size_t size, bool& more);

}  // namespace mp3
