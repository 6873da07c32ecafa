#include "stream/flac/flac_metadata.h"

#include "stream/big_endian.h"

namespace flac {

namespace {

void putBig(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(value >> 8 * i));
}

// `count` bytes, or false when the input ends first.
bool readBytes(BitReader& reader, std::vector<std::uint8_t>& out, std::size_t count) {
    out.reserve(out.size() + count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::int32_t byte = reader.readByte();
        if (reader.overran()) return false;
        out.push_back(static_cast<std::uint8_t>(byte));
    }
    return true;
}

StreamInfo streamInfo(const std::uint8_t* p) {
    StreamInfo info;
    info.minBlock = static_cast<std::uint32_t>(bigEndian(p, 2));
    info.maxBlock = static_cast<std::uint32_t>(bigEndian(p + 2, 2));
    info.minFrame = static_cast<std::uint32_t>(bigEndian(p + 4, 3));
    info.maxFrame = static_cast<std::uint32_t>(bigEndian(p + 7, 3));
    const std::uint64_t packed = bigEndian(p + 10, 8);
    info.rate = static_cast<std::uint32_t>(packed >> 44);
    info.channels = static_cast<int>(packed >> 41 & 7) + 1;
    info.bits = static_cast<int>(packed >> 36 & 31) + 1;
    info.total = packed & 0xFFFFFFFFFull;
    return info;
}

// The tag before "fLaC", whose first 4 bytes are read: 10 bytes of header with a size in 7-bit
// bytes, and a footer when flagged.
std::string readId3(BitReader& reader, std::vector<std::uint8_t>& id3) {
    if (!readBytes(reader, id3, 6)) return "the ID3v2 tag is cut short";
    std::size_t size = 0;
    for (int i = 6; i < 10; ++i) size = size << 7 | (id3[i] & 0x7F);
    if ((id3[5] & 0x10) != 0) size += 10;
    return readBytes(reader, id3, size) ? "" : "the ID3v2 tag is cut short";
}

}  // namespace

std::string readMetadata(BitReader& reader, Metadata& metadata, bool& notFlac) {
    std::vector<std::uint8_t> magic;
    notFlac = false;
    if (!readBytes(reader, magic, 4)) return "the FLAC header is cut short";
    if (magic == std::vector<std::uint8_t>{'I', 'D', '3', magic[3]}) {
        metadata.id3 = magic;
        const std::string fault = readId3(reader, metadata.id3);
        if (!fault.empty()) return fault;
        magic.clear();
        if (!readBytes(reader, magic, 4)) return "the FLAC header is cut short";
    }
    if (magic != std::vector<std::uint8_t>{'f', 'L', 'a', 'C'}) {
        notFlac = true;
        return "no FLAC stream after the ID3v2 tag";
    }
    for (bool last = false, first = true; !last; first = false) {
        std::vector<std::uint8_t> head;
        if (!readBytes(reader, head, 4)) return "the FLAC metadata is cut short";
        last = (head[0] & 0x80) != 0;
        Metadata::Block block;
        block.type = head[0] & 0x7F;
        if (!readBytes(reader, block.body, bigEndian(&head[1], 3))) {
            return "the FLAC metadata is cut short";
        }
        if (first != (block.type == streamInfoBlock) || (first && block.body.size() != 34)) {
            return "the FLAC metadata does not start with its STREAMINFO block";
        }
        if (block.type == 127) return "a FLAC metadata block of the invalid type 127";
        if (first) {
            metadata.info = streamInfo(block.body.data());
            continue;
        }
        if (block.type == seekTableBlock) metadata.seekPoints = block.body.size() / 18;
        metadata.hasCueSheet = metadata.hasCueSheet || block.type == cueSheetBlock;
        metadata.blocks.push_back(std::move(block));
    }
    if (metadata.info.rate == 0) return "STREAMINFO gives a sample rate of 0";
    return "";
}

std::vector<std::uint8_t> writeMetadata(const Metadata& metadata, const StreamInfo& info,
                                        const std::vector<SeekPoint>& points) {
    std::vector<std::uint8_t> out = metadata.id3;
    out.insert(out.end(), {'f', 'L', 'a', 'C', streamInfoBlock, 0, 0, 34});
    putBig(out, info.minBlock, 2);
    putBig(out, info.maxBlock, 2);
    putBig(out, info.minFrame, 3);
    putBig(out, info.maxFrame, 3);
    putBig(out,
           static_cast<std::uint64_t>(info.rate) << 44 |
               static_cast<std::uint64_t>(info.channels - 1) << 41 |
               static_cast<std::uint64_t>(info.bits - 1) << 36 | (info.total & 0xFFFFFFFFFull),
           8);
    out.insert(out.end(), 16, 0);  // the MD5 of the audio: unknown
    std::size_t lastHead = metadata.id3.size() + 4;
    for (const Metadata::Block& block : metadata.blocks) {
        if (block.type == cueSheetBlock) continue;  // it counts the input's samples
        lastHead = out.size();
        out.push_back(static_cast<std::uint8_t>(block.type));
        putBig(out, block.body.size(), 3);
        if (block.type != seekTableBlock) {
            out.insert(out.end(), block.body.begin(), block.body.end());
            continue;
        }
        for (std::size_t i = 0; i < block.body.size() / 18; ++i) {
            const bool used = i < points.size();
            putBig(out, used ? points[i].sample : ~std::uint64_t{0}, 8);
            putBig(out, used ? points[i].offset : 0, 8);
            putBig(out, used ? points[i].samples : 0, 2);
        }
        out.insert(out.end(), block.body.size() % 18, 0);
    }
    out[lastHead] |= 0x80;
    return out;
}

}  // namespace flac
