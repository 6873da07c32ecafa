#include "stream/pcm/wav_header.h"

#include <algorithm>
#include <cstring>

#include "stream/pcm/wav_bytes.h"

namespace wav {

namespace {

// A chunk kept in memory may be this long; `data` is never held.
constexpr std::uint64_t longestChunk = 1 << 20;
// WAVE_FORMAT_EXTENSIBLE's SubFormat GUIDs for PCM and float: the format tag in the first
// two bytes, two zero bytes, then this.
constexpr std::uint8_t subFormatTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                            0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

struct Source {
    BitReader& input;
    std::int64_t fileSize;  // -1 for a pipe
};

bool fail(std::string& why, const std::string& text) {
    why = text;
    return false;
}

std::string tagName(std::uint16_t tag) {
    struct Named {
        std::uint16_t tag;
        const char* name;
    };
    static const Named names[] = {{0x0002, "ADPCM"},     {0x0006, "A-law"}, {0x0007, "mu-law"},
                                  {0x0011, "IMA ADPCM"}, {0x0050, "MPEG"},  {0x0055, "MP3"},
                                  {0x0092, "AC-3"},      {0x00FF, "AAC"},   {0x1610, "AAC"},
                                  {0x2000, "AC-3"},      {0x2001, "DTS"},   {0xF1AC, "FLAC"}};
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%04X", tag);
    for (const Named& n : names) {
        if (n.tag == tag) return std::string(hex) + " (" + n.name + ")";
    }
    return hex;
}

bool readFmt(const std::vector<std::uint8_t>& body, Header& h, std::string& why) {
    if (body.size() < 14)
        return fail(why, "a fmt chunk of " + std::to_string(body.size()) + " bytes");
    h.formatTag = le16(&body[0]);
    h.channels = le16(&body[2]);
    h.rate = le32(&body[4]);
    h.blockAlign = le16(&body[12]);
    h.bits = body.size() >= 16
                 ? le16(&body[14])
                 : static_cast<std::uint16_t>(8 * h.blockAlign / std::max<int>(h.channels, 1));
    if (h.formatTag == 0xFFFE) {
        if (body.size() < 40 || body[25] != 0 || body[26] != 0 || body[27] != 0 ||
            std::memcmp(&body[28], subFormatTail, 12) != 0 || (body[24] != 1 && body[24] != 3)) {
            return fail(why,
                        "WAVE_FORMAT_EXTENSIBLE of a SubFormat other than PCM or float is "
                        "not supported");
        }
        h.formatTag = body[24];
    }
    if (h.formatTag != 1 && h.formatTag != 3) {
        return fail(why, "WAV format tag " + tagName(h.formatTag) +
                             " is not supported: only integer PCM and float are");
    }
    // Rates pass 768 kHz only in files that are damaged.
    if (h.rate == 0 || h.rate > 0x7FFFFFFFu) {
        return fail(why, "the fmt chunk's sample rate " + std::to_string(h.rate) + " Hz");
    }
    const std::uint32_t bytes = (h.bits + 7u) / 8u;
    if (h.channels == 0 || h.bits == 0 || h.bits > 64 || h.blockAlign != h.channels * bytes) {
        return fail(why, "the fmt chunk's block align " + std::to_string(h.blockAlign) +
                             " does not agree with " + std::to_string(h.channels) +
                             " channels of " + std::to_string(h.bits) + " bits");
    }
    return true;
}

// `count` bytes at `offset`, through the reader.
bool readBytes(Source& src, std::uint64_t offset, std::uint64_t count,
               std::vector<std::uint8_t>& out) {
    out.clear();
    if (!src.input.jumpTo(offset) && count > 0) return false;
    while (out.size() < count) {
        std::size_t n = 0;
        const std::uint8_t* run = src.input.run(n);
        if (n == 0) return false;
        n = static_cast<std::size_t>(std::min<std::uint64_t>(n, count - out.size()));
        out.insert(out.end(), run, run + n);
        src.input.seek(src.input.offset() + n);
    }
    return true;
}

// A size a writer that could not go back left: the samples then run to the end of the file.
bool unstated(std::uint64_t size, Kind kind, bool ofData) {
    if (kind == Kind::w64) return size == ~std::uint64_t{0} || size == 0;
    return size == 0 || size == 0xFFFFFFFFu || (ofData && size == 0x7FFFF000u);
}

bool samplesFrom(Source& src, std::uint64_t offset, std::uint64_t size, Header& h) {
    h.dataOffset = offset;
    const bool beyond =
        src.fileSize >= 0 && offset + size > static_cast<std::uint64_t>(src.fileSize);
    h.sizeUnstated = unstated(size, h.kind, true) || beyond;
    if (h.sizeUnstated && src.fileSize < 0) {
        h.lengthKnown = false;
        h.dataBytes = 0;
        return false;
    }
    if (h.sizeUnstated) size = static_cast<std::uint64_t>(src.fileSize) - offset;
    h.partBytes = size % h.blockAlign;
    h.dataBytes = size - h.partBytes;
    // Chunks after the data are read where the file can be gone back in.
    return !h.sizeUnstated && src.fileSize >= 0;
}

bool countsInputSamples(const Chunk& chunk) {
    if (chunk.name == "cue " || chunk.name == "smpl") return true;
    return chunk.name == "LIST" && chunk.body.size() >= 4 &&
           std::memcmp(chunk.body.data(), "adtl", 4) == 0;
}

struct ChunkHead {
    std::uint64_t offset = 0, bodyOffset = 0, size = 0, next = 0;
    std::uint64_t stated = 0;  // the size field as it stands
    Chunk chunk;
};

bool readChunkHead(Source& src, const Header& h, std::uint64_t offset, ChunkHead& c,
                   std::string& why) {
    const bool w64 = h.kind == Kind::w64;
    std::vector<std::uint8_t> raw;
    if (!readBytes(src, offset, w64 ? 24 : 8, raw)) return fail(why, "the header is cut short");
    c.offset = offset;
    c.chunk.id.assign(raw.begin(), raw.begin() + (w64 ? 16 : 4));
    c.chunk.name.assign(raw.begin(), raw.begin() + 4);
    if (w64 && std::memcmp(&raw[4], w64Tail, 12) != 0) c.chunk.name = "?";
    c.stated = w64 ? le64(&raw[16]) : le32(&raw[4]);
    c.bodyOffset = offset + raw.size();
    if (c.chunk.name == "data") {
        // Any size may stand here: one too large for the file means the samples run to its end.
        const bool counted = w64 && !unstated(c.stated, h.kind, true) && c.stated >= 24;
        c.size = counted ? c.stated - 24 : c.stated;
        return true;
    }
    if (w64 && c.stated < 24) return fail(why, "a Wave64 chunk size below 24");
    const std::uint64_t body = w64 ? c.stated - 24 : c.stated;
    if (body > (std::uint64_t{1} << 62)) return fail(why, "a chunk size that overflows");
    c.next = w64 ? offset + ((c.stated + 7) & ~std::uint64_t{7}) : c.bodyOffset + body + (body & 1);
    c.size = body;
    return true;
}

bool readDs64(const std::vector<std::uint8_t>& body, Header& h, std::uint64_t& dataSize,
              std::string& why) {
    if (body.size() < 28)
        return fail(why, "a ds64 chunk of " + std::to_string(body.size()) + " bytes");
    dataSize = le64(&body[8]);
    const std::uint32_t entries = le32(&body[24]);
    if (body.size() < 28 + std::uint64_t{entries} * 12) return fail(why, "a ds64 table cut short");
    h.ds64Table.assign(body.begin() + 28, body.end());
    return true;
}

bool readKind(Source& src, Header& h, std::uint64_t& first, std::string& why) {
    std::vector<std::uint8_t> raw;
    if (!readBytes(src, 0, 12, raw)) return fail(why, "the header is cut short");
    if (std::memcmp(raw.data(), "riff", 4) == 0) {
        if (!readBytes(src, 0, 40, raw) || std::memcmp(&raw[4], w64RiffTail, 12) != 0 ||
            std::memcmp(&raw[24], "wave", 4) != 0 || std::memcmp(&raw[28], w64Tail, 12) != 0) {
            return fail(why, "not a Wave64 file");
        }
        h.kind = Kind::w64;
        first = 40;
        return true;
    }
    if (std::memcmp(&raw[8], "WAVE", 4) != 0) return fail(why, "a RIFF file that is not WAVE");
    h.kind = std::memcmp(raw.data(), "RF64", 4) == 0   ? Kind::rf64
             : std::memcmp(raw.data(), "BW64", 4) == 0 ? Kind::bw64
                                                       : Kind::riff;
    first = 12;
    return true;
}

// What the walk through the chunks has met.
struct Scan {
    bool haveFmt = false, haveData = false;
    std::uint64_t ds64Data = 0;  // the data's size, from ds64
};

// The data chunk: where the samples are and how many. False when no chunk after it is read.
bool dataChunk(Source& src, const ChunkHead& c, const Scan& scan, Header& h,
               std::uint64_t& offset) {
    std::uint64_t size = c.size;
    if (h.kind != Kind::riff && h.kind != Kind::w64 && size == 0xFFFFFFFFu) size = scan.ds64Data;
    if (size > (std::uint64_t{1} << 62)) size = 0;  // unstated
    if (!samplesFrom(src, c.bodyOffset, size, h)) return false;
    offset = c.bodyOffset + size;
    offset += h.kind == Kind::w64 ? (8 - offset % 8) % 8 : size % 2;
    return true;
}

// A chunk other than the data, read: kept, used, or left out.
bool takeChunk(Source& src, ChunkHead& c, Scan& scan, Header& h, std::string& why) {
    if (c.size > longestChunk) {
        return fail(why, "the " + c.chunk.name + " chunk of " + std::to_string(c.size) +
                             " bytes is longer than morvane reads");
    }
    if (!readBytes(src, c.bodyOffset, c.size, c.chunk.body)) {
        return fail(why, "the header is cut short in its " + c.chunk.name + " chunk");
    }
    if (c.chunk.name == "fmt " && !scan.haveData) {
        if (scan.haveFmt) return fail(why, "two fmt chunks");
        if (!readFmt(c.chunk.body, h, why)) return false;
        scan.haveFmt = true;
        h.before.push_back(std::move(c.chunk));
    } else if (c.chunk.name == "ds64" && h.kind != Kind::riff && h.kind != Kind::w64) {
        return readDs64(c.chunk.body, h, scan.ds64Data, why);
    } else if (countsInputSamples(c.chunk)) {
        h.leftOut.push_back(c.chunk.name == "LIST" ? "LIST (adtl)" : c.chunk.name);
    } else if (c.chunk.name != "JUNK" && c.chunk.name != "junk") {
        (scan.haveData ? h.after : h.before).push_back(std::move(c.chunk));
    }
    return true;
}

}  // namespace

bool readHeader(BitReader& input, Header& h, std::string& why) {
    Source src{input, platform::fileSize(input.handle())};
    std::uint64_t offset = 0;
    if (!readKind(src, h, offset, why)) return false;
    Scan scan;
    while (!scan.haveData || src.fileSize < 0 ||
           offset < static_cast<std::uint64_t>(src.fileSize)) {
        ChunkHead c;
        if (!readChunkHead(src, h, offset, c, why)) {
            if (scan.haveData) break;  // a few stray bytes after the data
            return false;
        }
        if (c.chunk.name == "data" && !scan.haveData) {
            if (!scan.haveFmt) return fail(why, "no fmt chunk before the data");
            scan.haveData = true;
            if (!dataChunk(src, c, scan, h, offset)) break;
            continue;
        }
        // After the data, whatever does not read as a chunk ends the file's chunks.
        const bool fits = src.fileSize < 0 || c.next <= static_cast<std::uint64_t>(src.fileSize);
        if (scan.haveData && (c.size > longestChunk || !fits)) break;
        if (!takeChunk(src, c, scan, h, why)) {
            if (scan.haveData) break;
            return false;
        }
        offset = c.next;
    }
    if (!scan.haveData) return fail(why, scan.haveFmt ? "no data chunk" : "no fmt chunk");
    return input.jumpTo(h.dataOffset) || h.dataBytes == 0 || fail(why, "the data cannot be read");
}

}  // namespace wav
