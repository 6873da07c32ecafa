#include "stream/mp3/mp3_tags.h"

#include <cstring>

namespace mp3 {

namespace {

std::uint32_t littleEndian(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[3]) << 24 | p[2] << 16 | p[1] << 8 | p[0];
}

// The tag that ends the `size` bytes at `tail`, or 0; `more` where it starts before them.
std::uint64_t lastTag(const std::uint8_t* tail, std::size_t size, bool& more) {
    if (size >= 128 && std::memcmp(tail + size - 128, "TAG", 3) == 0) return 128;
    // APEv2: a 32-byte footer whose size counts the items and the footer, not the header.
    if (size >= 32 && std::memcmp(tail + size - 32, "APETAGEX", 8) == 0) {
        const std::uint8_t* footer = tail + size - 32;
        const std::uint64_t items = littleEndian(footer + 12);
        const bool header = (footer[23] & 0x80) != 0;
        const std::uint64_t whole = items + (header ? 32 : 0);
        more = whole > size;
        return whole <= size && items >= 32 ? whole : 0;
    }
    // Lyrics3 v2: "LYRICSBEGIN", the fields, six digits of their size, "LYRICS200".
    if (size >= 15 && std::memcmp(tail + size - 9, "LYRICS200", 9) == 0) {
        std::uint64_t fields = 0;
        for (std::size_t i = size - 15; i < size - 9; ++i) {
            if (tail[i] < '0' || tail[i] > '9') return 0;
            fields = fields * 10 + (tail[i] - '0');
        }
        const std::uint64_t whole = fields + 15;
        more = whole > size;
        if (whole > size || std::memcmp(tail + size - whole, "LYRICSBEGIN", 11) != 0) return 0;
        return whole;
    }
    return 0;
}

}  // namespace

std::uint64_t id3v2Size(const std::uint8_t* bytes, std::size_t size) {
    if (size < 10 || std::memcmp(bytes, "ID3", 3) != 0) return 0;
    std::uint64_t body = 0;
    for (int i = 6; i < 10; ++i) {
        if ((bytes[i] & 0x80) != 0) return 0;
        body = body << 7 | bytes[i];
    }
    const bool footer = bytes[3] == 4 && (bytes[5] & 0x10) != 0;
    return 10 + body + (footer ? 10 : 0);
}

std::uint64_t trailingTagsSize(const std::uint8_t* tail, std::size_t size, bool& more) {
    std::uint64_t total = 0;
    more = false;
    for (std::uint64_t tag = 0; (tag = lastTag(tail, size - total, more)) != 0;) total += tag;
    return total;
}

}  // namespace mp3
