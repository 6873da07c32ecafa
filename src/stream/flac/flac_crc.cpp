#include "stream/flac/flac_crc.h"

#include <array>

namespace flac {

std::uint8_t crc8(const std::uint8_t* data, std::size_t size) {
    static const std::array<std::uint8_t, 256> table = [] {
        std::array<std::uint8_t, 256> bytes{};
        for (std::uint32_t byte = 0; byte < 256; ++byte) {
            std::uint32_t crc = byte;
            for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80) != 0 ? crc << 1 ^ 0x07 : crc << 1;
            bytes[byte] = static_cast<std::uint8_t>(crc);
        }
        return bytes;
    }();
    std::uint8_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) crc = table[crc ^ data[i]];
    return crc;
}

}  // namespace flac
