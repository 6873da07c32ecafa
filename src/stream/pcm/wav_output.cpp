// The header and trailer of an output PCM file, made from the input's header.
#include <cstring>

#include "stream/pcm/wav_bytes.h"
#include "stream/pcm/wav_header.h"

namespace wav {

namespace {

constexpr std::uint64_t most32 = 0xFFFFFFFFu;
// The Broadcast Wave TimeReference: 64 bits at byte 338 of the bext chunk's data.
constexpr std::size_t timeReferenceAt = 338;
// ds64's fixed fields: RIFF size, data size, sample count, table length.
constexpr std::uint64_t ds64Fixed = 28;

bool isW64(const Header& h) { return h.kind == Kind::w64; }

// A chunk: id, size and body, then the pad to an even length (Wave64: to 8 bytes).
void putChunk(std::vector<std::uint8_t>& out, const Header& h, const std::vector<std::uint8_t>& id,
              const std::vector<std::uint8_t>& body) {
    out.insert(out.end(), id.begin(), id.end());
    if (isW64(h)) {
        putLe(out, body.size() + 24, 8);
        out.insert(out.end(), body.begin(), body.end());
        while (out.size() % 8 != 0) out.push_back(0);
        return;
    }
    putLe(out, body.size(), 4);
    out.insert(out.end(), body.begin(), body.end());
    if (body.size() % 2 != 0) out.push_back(0);
}

std::vector<std::uint8_t> idOf(const Header& h, const char* name) {
    std::vector<std::uint8_t> id(name, name + 4);
    if (isW64(h)) id.insert(id.end(), w64Tail, w64Tail + 12);
    return id;
}

// The chunk as the output has it: fact counts the output's samples, bext's TimeReference is
// the time of day of its first sample.
std::vector<std::uint8_t> bodyFor(const Chunk& chunk, std::uint64_t samples,
                                  std::uint64_t firstSample, std::uint64_t silenceInFront) {
    std::vector<std::uint8_t> body = chunk.body;
    if (chunk.name == "fact" && body.size() >= 4) {
        setLe(body.data(), samples > most32 ? most32 : samples, 4);
    } else if (chunk.name == "bext" && body.size() >= timeReferenceAt + 8) {
        std::uint64_t at = le64(&body[timeReferenceAt]) + firstSample;
        at = at > silenceInFront ? at - silenceInFront : 0;
        setLe(&body[timeReferenceAt], at, 8);
    }
    return body;
}

std::vector<std::uint8_t> ds64Body(const Header& h, std::uint64_t riffSize, std::uint64_t data,
                                   std::uint64_t samples) {
    std::vector<std::uint8_t> body;
    putLe(body, riffSize, 8);
    putLe(body, data, 8);
    putLe(body, samples, 8);
    putLe(body, h.ds64Table.size() / 12, 4);
    body.insert(body.end(), h.ds64Table.begin(), h.ds64Table.end());
    return body;
}

// The file's id and the room for its size; then ds64, or room for it (JUNK), after a RIFF
// header's first 12 bytes.
constexpr std::size_t riffStart = 12;

std::vector<std::uint8_t> fileStart(const Header& h, bool ds64, bool room, std::uint64_t data,
                                    std::uint64_t samples) {
    std::vector<std::uint8_t> out;
    if (isW64(h)) {
        out.assign({'r', 'i', 'f', 'f'});
        out.insert(out.end(), w64RiffTail, w64RiffTail + 12);
        putLe(out, 0, 8);
        const std::vector<std::uint8_t> wave = idOf(h, "wave");
        out.insert(out.end(), wave.begin(), wave.end());
        return out;
    }
    const char* magic = h.kind == Kind::bw64 ? "BW64" : ds64 ? "RF64" : "RIFF";
    out.assign(magic, magic + 4);
    putLe(out, 0, 4);
    out.insert(out.end(), {'W', 'A', 'V', 'E'});
    if (ds64) {
        putChunk(out, h, idOf(h, "ds64"), ds64Body(h, 0, data, samples));
    } else if (room) {
        putChunk(out, h, idOf(h, "JUNK"), std::vector<std::uint8_t>(ds64Fixed, 0));
    }
    return out;
}

}  // namespace

std::vector<std::uint8_t> outputTrailer(const Header& h, std::uint64_t samples) {
    std::vector<std::uint8_t> out;
    const std::uint64_t data = samples * h.blockAlign;
    const std::uint64_t pad = isW64(h) ? (8 - data % 8) % 8 : data % 2;
    out.assign(static_cast<std::size_t>(pad), 0);
    for (const Chunk& chunk : h.after) putChunk(out, h, chunk.id, chunk.body);
    return out;
}

bool passes4GiB(const Header& h, std::uint64_t samples) {
    // The RIFF size counts everything after its own 8 bytes; a header of some KiB and the
    // trailer are far below the margin.
    return samples * h.blockAlign > most32 - (std::uint64_t{1} << 20);
}

std::vector<std::uint8_t> outputHeader(const Header& h, std::uint64_t samples,
                                       std::uint64_t firstSample, std::uint64_t silenceInFront,
                                       bool room) {
    const std::uint64_t data = samples * h.blockAlign;
    const bool ds64 = h.kind == Kind::rf64 || h.kind == Kind::bw64 ||
                      (h.kind == Kind::riff && room && passes4GiB(h, samples));
    std::vector<std::uint8_t> out = fileStart(h, ds64, room, data, samples);
    for (const Chunk& chunk : h.before) {
        putChunk(out, h, chunk.id, bodyFor(chunk, samples, firstSample, silenceInFront));
    }
    const std::vector<std::uint8_t> dataId = idOf(h, "data");
    out.insert(out.end(), dataId.begin(), dataId.end());
    if (isW64(h)) {
        putLe(out, data + 24, 8);
    } else {
        putLe(out, ds64 ? most32 : data, 4);
    }
    // The file's size, now that the header's own is known.
    const std::uint64_t total = out.size() + data + outputTrailer(h, samples).size();
    if (isW64(h)) {
        setLe(&out[16], total, 8);
    } else if (ds64) {
        setLe(&out[4], most32, 4);
        setLe(&out[riffStart + 8], total - 8, 8);
    } else {
        setLe(&out[4], total - 8, 4);
    }
    return out;
}

}  // namespace wav
