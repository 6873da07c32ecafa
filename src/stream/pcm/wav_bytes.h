// Little-endian numbers in a PCM file's header, read from bytes and written into them, and
// Wave64's ids.
#pragma once

#include <cstdint>
#include <vector>

namespace wav {

// Wave64's ids are GUIDs: those of RIFF's chunks are the 4 characters ("fmt ", "data", "wave")
// and this tail; the file's own is "riff" and the other.
inline constexpr std::uint8_t w64Tail[12] = {0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1,
                                             0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
inline constexpr std::uint8_t w64RiffTail[12] = {0x2E, 0x91, 0xCF, 0x11, 0xA5, 0xD6,
                                                 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};

inline std::uint16_t le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(le16(p)) | static_cast<std::uint32_t>(le16(p + 2)) << 16;
}
inline std::uint64_t le64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(le32(p)) | static_cast<std::uint64_t>(le32(p + 4)) << 32;
}

// Appends `value`'s low `bytes` bytes, least significant first.
inline void putLe(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}
// Writes `value`'s low `bytes` bytes at `at`.
inline void setLe(std::uint8_t* at, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace wav
