#include "stream/pcm/pcm_format.h"

#include <algorithm>
#include <cstring>

namespace {

// Samples in a frame that readFrame() reads.
constexpr std::uint64_t frameSamples = 4096;

// IEC 61937's data types (Pc's low 5 bits), as the bursts' content is named.
std::string burstType(unsigned type) {
    switch (type) {
        case 1:
            return "AC-3";
        case 4:
        case 5:
        case 6:
        case 8:
        case 9:
        case 10:
            return "MPEG audio";
        case 7:
        case 19:
        case 20:
            return "AAC";
        case 11:
        case 12:
        case 13:
        case 17:
            return "DTS";
        case 21:
            return "E-AC-3";
        case 22:
            return "Dolby TrueHD";
        default:
            return "data type " + std::to_string(type);
    }
}

// A compressed stream's mark in 16-bit samples, either byte order: IEC 61937's preamble
// words 0xF872 0x4E1F, or 14-bit DTS's sync words 0x1FFF 0xE800 0x07Fx.
std::string markIn(const std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i + 6 <= n; ++i) {
        if (p[i] == 0x72 && p[i + 1] == 0xF8 && p[i + 2] == 0x1F && p[i + 3] == 0x4E) {
            return "S/PDIF bursts (IEC 61937) of " + burstType(p[i + 4] & 0x1F);
        }
        if (p[i] == 0xF8 && p[i + 1] == 0x72 && p[i + 2] == 0x4E && p[i + 3] == 0x1F) {
            return "S/PDIF bursts (IEC 61937) of " + burstType(p[i + 5] & 0x1F);
        }
        if ((p[i] == 0xFF && p[i + 1] == 0x1F && p[i + 2] == 0x00 && p[i + 3] == 0xE8 &&
             (p[i + 4] & 0xF0) == 0xF0 && p[i + 5] == 0x07) ||
            (p[i] == 0x1F && p[i + 1] == 0xFF && p[i + 2] == 0xE8 && p[i + 3] == 0x00 &&
             p[i + 4] == 0x07 && (p[i + 5] & 0xF0) == 0xF0)) {
            return "14-bit DTS";
        }
    }
    return "";
}

}  // namespace

bool PcmFormat::startsFrame(const std::uint8_t* bytes, std::size_t size) {
    if (size < 4) return false;
    return std::memcmp(bytes, "RIFF", 4) == 0 || std::memcmp(bytes, "RF64", 4) == 0 ||
           std::memcmp(bytes, "BW64", 4) == 0 || std::memcmp(bytes, "riff", 4) == 0;
}

bool PcmFormat::readFileHeader() {
    start = 0;
    if (!wav::readHeader(reader, header, fault)) return fail(Stop::unsupported);
    const std::string held = compressedData();
    if (!held.empty()) {
        fault = "the samples hold " + held + ", which is not cut as PCM";
        return fail(Stop::unsupported);
    }
    start = header.dataOffset;
    return reader.jumpTo(header.dataOffset) || header.dataBytes == 0;
}

std::string PcmFormat::compressedData() {
    if (header.bits != 16 || header.formatTag != 1) return "";
    // Real captures may start with silence: the first second is looked through.
    std::uint64_t left = std::uint64_t{header.rate} * header.blockAlign;
    if (header.lengthKnown) left = std::min(left, header.dataBytes);
    if (!reader.jumpTo(header.dataOffset)) return "";
    // A pipe cannot be gone back in: only what the reader has at hand is looked through.
    if (platform::fileSize(reader.handle()) < 0) {
        left = std::min<std::uint64_t>(left, reader.bytesReceived() - header.dataOffset);
    }
    std::uint8_t seam[12] = {};
    std::size_t kept = 0;  // the last bytes of the run before, in seam
    while (left > 0) {
        std::size_t n = 0;
        const std::uint8_t* run = reader.run(n);
        if (n == 0) break;
        n = static_cast<std::size_t>(std::min<std::uint64_t>(n, left));
        const std::size_t head = std::min<std::size_t>(n, 6);
        std::memcpy(seam + kept, run, head);
        std::string found = markIn(seam, kept + head);
        if (found.empty()) found = markIn(run, n);
        if (!found.empty()) return found;
        kept = std::min<std::size_t>(n, 6);
        std::memcpy(seam, run + n - kept, kept);
        left -= n;
        reader.seek(reader.offset() + n);
    }
    return "";
}

bool PcmFormat::readFrame() {
    if (!fault.empty()) return fail(Stop::unsupported);
    bool known = false;
    const std::uint64_t total = sampleCount(known);
    start = header.dataOffset + nextSample * header.blockAlign;
    std::uint64_t count = frameSamples;
    if (known) count = std::min(count, total - std::min(total, nextSample));
    if (count == 0 || !reader.jumpTo(start)) return fail(Stop::endOfInput);
    frameBytes.clear();
    reader.appendBytes(frameBytes, static_cast<std::int32_t>(count * header.blockAlign));
    if (reader.overran()) return fail(Stop::cutShort);
    nextSample += count;
    duration = static_cast<double>(count) / header.rate;
    steps = true;
    return true;
}

std::string PcmFormat::stopReason() const {
    if (stopped == Stop::unsupported) return fault;
    return commonStopReason();
}

std::string PcmFormat::describe() const {
    static const char* kinds[] = {"WAV", "RF64", "BW64", "Wave64"};
    return std::string("PCM in ") + kinds[static_cast<int>(header.kind)] + ", " +
           kilohertz(static_cast<std::int32_t>(header.rate)) + ", " +
           std::to_string(header.channels) + (header.channels == 1 ? " channel, " : " channels, ") +
           std::to_string(header.bits) + (header.formatTag == 3 ? "-bit float" : "-bit integer");
}

FrameFormat::Frame PcmFormat::silentFrame(const Frame& reference) const {
    return Frame(reference.size(), silentByte());
}

bool PcmFormat::roomFor(const OutputFacts& facts) const {
    return !facts.sizeKnown || wav::passes4GiB(header, facts.planned);
}

std::vector<std::uint8_t> PcmFormat::outputHeader(const OutputFacts& facts) const {
    return wav::outputHeader(header, facts.samples, facts.firstSample, facts.silenceInFront,
                             roomFor(facts));
}

std::vector<std::uint8_t> PcmFormat::outputTrailer(const OutputFacts& facts) const {
    return wav::outputTrailer(header, facts.samples);
}

std::vector<std::string> PcmFormat::headerNotes() const {
    std::vector<std::string> notes;
    for (const std::string& chunk : header.leftOut) {
        notes.push_back("left out the " + chunk + " chunk: it counts the input's samples");
    }
    if (header.sizeUnstated) {
        notes.push_back(
            std::string("the data's size is not stated: its samples run to the end of ") +
            (header.lengthKnown ? "the file" : "the input"));
    }
    return notes;
}

std::string PcmFormat::outputNote(const OutputFacts& facts) const {
    if (header.kind != wav::Kind::riff || !wav::passes4GiB(header, facts.samples)) return "";
    return "it passes 4 GiB: written as RF64";
}

std::uint64_t PcmFormat::sampleCount(bool& known) const {
    known = header.lengthKnown;
    return header.dataBytes / header.blockAlign;
}

std::uint64_t PcmFormat::copySamples(std::uint64_t first, std::uint64_t count,
                                     const SampleSink& out) {
    bool known = false;
    const std::uint64_t total = sampleCount(known);
    if (known) count = std::min(count, total - std::min(total, first));
    if (count == 0 || !reader.jumpTo(header.dataOffset + first * header.blockAlign)) return 0;
    const std::size_t align = header.blockAlign;
    std::vector<std::uint8_t> part(align);  // a sample frame split between two runs
    std::size_t partSize = 0;
    std::uint64_t done = 0;
    bool going = true;
    while (going && done < count) {
        std::size_t n = 0;
        const std::uint8_t* run = reader.run(n);
        if (n == 0) break;
        n = static_cast<std::size_t>(std::min<std::uint64_t>(n, (count - done) * align - partSize));
        const std::size_t used = std::min(n, partSize > 0 ? align - partSize : 0);
        std::memcpy(part.data() + partSize, run, used);
        partSize += used;
        if (partSize == align) {
            partSize = 0;
            ++done;
            going = out(part.data(), align, first + done);
        }
        const std::size_t whole = partSize > 0 ? 0 : (n - used) / align;
        if (going && whole > 0) {
            done += whole;
            going = out(run + used, whole * align, first + done);
        }
        const std::size_t rest = n - used - whole * align;
        std::memcpy(part.data() + partSize, run + used + whole * align, rest);
        partSize += rest;
        // Only now: the next run may take the place of this one in the reader's buffer.
        reader.seek(reader.offset() + n);
    }
    if (!known && done < count) header.partBytes = partSize;
    return done;
}

std::vector<std::uint8_t> PcmFormat::silence(std::uint64_t count) const {
    return std::vector<std::uint8_t>(static_cast<std::size_t>(count * header.blockAlign),
                                     silentByte());
}

std::string PcmFormat::sampleDamage() const {
    if (header.partBytes == 0) return "";
    return "the data ends with " + std::to_string(header.partBytes) +
           " bytes of a sample frame of " + std::to_string(header.blockAlign);
}
