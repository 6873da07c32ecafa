#include "stream/mp3/mp3_format.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "stream/mp3/mp3_tags.h"

namespace {

// Samples a decoder's filter bank puts before the first it plays: gapless decoders skip
// them with the encoder's delay.
constexpr std::int64_t decoderDelay = 529;
// The largest delay and padding a LAME tag holds.
constexpr std::int64_t mostDelay = 4095;
// How far after the tags at the start the first frame is looked for.
constexpr std::uint64_t searchedForFirstFrame = 0x10000;

bool layerIII(const std::uint8_t* h) { return h[0] == 0xFF && (h[1] & 0xE6) == 0xE2; }

std::int64_t roundedDiv(std::int64_t a, std::int64_t b) {
    return a >= 0 ? (a + b / 2) / b : -((-a + b / 2 - 1) / b);
}

std::int64_t ceilDiv(std::int64_t a, std::int64_t b) {
    return a >= 0 ? (a + b - 1) / b : -(-a / b);
}

}  // namespace

bool Mp3Format::startsFrame(const std::uint8_t* bytes, std::size_t size) {
    return (size >= 2 && layerIII(bytes)) || (size >= 3 && std::memcmp(bytes, "ID3", 3) == 0);
}

bool Mp3Format::readFileHeader() {
    std::uint64_t at = reader.offset();
    std::size_t size = 10;
    const std::uint8_t* first = reader.recentUpTo(at, size);
    const std::uint64_t tag = first == nullptr ? 0 : mp3::id3v2Size(first, size);
    if (tag == 0 && (first == nullptr || !layerIII(first))) return fail(Stop::noSyncWord);
    if (tag == 0 && size >= 4 && !mpeg::Header(first).valid()) {
        fault = (first[2] >> 4) == 0 ? "free format (bit-rate index 0) is not supported"
                                     : "a reserved value in the first frame's header";
        return fail(Stop::unsupported);
    }
    for (std::uint64_t i = 0; i < tag && !reader.atEnd(); ++i) {
        head.push_back(static_cast<std::uint8_t>(reader.readByte()));
    }
    at += tag;
    readTail(at);
    if (!findFirstFrame(at)) {
        if (tag > 0) return fail(Stop::noSyncWord);
        fault = "no Layer III frame at the start that another one follows";
        return fail(Stop::unsupported);
    }
    return true;
}

// The tags after the frames, where the input's size is known: read from its end, a few KiB
// first, more where a tag is longer.
void Mp3Format::readTail(std::uint64_t audioStart) {
    audioEnd = std::numeric_limits<std::uint64_t>::max();
    bool atLeast = false;
    const std::uint64_t total = reader.bytesAfter(0, atLeast);
    if (atLeast || total <= audioStart) return;
    std::vector<std::uint8_t> end;
    bool more = true;
    std::uint64_t tags = 0;
    for (std::uint64_t count = 0x1000; more && end.size() < total - audioStart; count *= 8) {
        readEnd(total, std::min(count, total - audioStart), end);
        tags = mp3::trailingTagsSize(end.data(), end.size(), more);
    }
    tail.assign(end.end() - static_cast<std::ptrdiff_t>(tags), end.end());
    audioEnd = total - tags;
    reader.jumpTo(audioStart);
}

// The last `count` bytes of the `total` the input holds.
void Mp3Format::readEnd(std::uint64_t total, std::uint64_t count, std::vector<std::uint8_t>& end) {
    end.clear();
    reader.jumpTo(total - count);
    while (end.size() < count && !reader.atEnd()) {
        std::size_t run = 0;
        const std::uint8_t* bytes = reader.run(run);
        run = std::min<std::size_t>(run, count - end.size());
        end.insert(end.end(), bytes, bytes + run);
        reader.seek(reader.offset() + run);
    }
}

// The first of two frames in a row, within reach of `from`; then the header frame.
bool Mp3Format::findFirstFrame(std::uint64_t from) {
    std::uint64_t found = from;
    for (; found < from + searchedForFirstFrame && found < audioEnd; ++found) {
        reader.jumpTo(found);
        std::size_t size = 4;
        const std::uint8_t* h = reader.recentUpTo(found, size);
        if (h == nullptr || size < 4) return false;
        if (!layerIII(h) || !mpeg::Header(h).valid()) continue;
        walk.open(found, h, audioEnd);
        if (walk.read() && (walk.read() || walk.stop() == mp3::FrameWalk::Stop::end)) break;
    }
    if (found >= from + searchedForFirstFrame || found >= audioEnd) return false;
    if (found > from) {
        notes.push_back("left out " + std::to_string(found - from) +
                        " bytes that stand between the ID3v2 tag and the first frame");
    }
    reader.jumpTo(found);
    std::uint8_t h[4];
    std::memcpy(h, reader.recent(found, 4), 4);
    walk.open(found, h, audioEnd);
    walk.read();
    readInfo(h);
    return true;
}

// A Xing, Info or VBRI frame first plays no audio: the audio starts after it.
void Mp3Format::readInfo(const std::uint8_t* firstHeader) {
    const mp3::SeenFrame& frame = walk.frame(0);
    const std::uint8_t* bytes = walk.bytes(frame);
    std::uint64_t audio = frame.offset;
    if (bytes != nullptr &&
        mp3::readInfoFrame(bytes, frame.layout.size, frame.layout.sideSize, info)) {
        audio += frame.layout.size;
        std::vector<std::uint8_t>& made = info.frame;
        // Room for every field an output's header frame writes.
        for (int index = made[2] >> 4; made.size() < mp3::infoFrameNeeds(info) && index < 14;) {
            made[2] = static_cast<std::uint8_t>((made[2] & 0x0F) | ++index << 4);
            made.resize(mpeg::Header(made.data()).size(), 0);
        }
    }
    reader.jumpTo(audio);
    const std::uint8_t* next = reader.recent(audio, 4);
    std::memcpy(header, next != nullptr && audio < audioEnd && layerIII(next) ? next : firstHeader,
                4);
    header[2] &= 0xFD;  // silent frames leave out the padding slot
    walk.open(audio, firstHeader, audioEnd);
    start = audio;
    const mpeg::Header h(header);
    rate = h.sampleRate();
    perFrame = h.samples();
    primes = h.lowRate() ? 2 : 1;
    gapless = info.gapless();
    offset = gapless ? info.delay + decoderDelay : 0;
}

bool Mp3Format::readFrame() {
    if (!fault.empty()) return fail(Stop::unsupported);
    if (!readNext()) return false;
    const mp3::SeenFrame& frame = walk.frame(walk.next() - 1);
    const std::uint8_t* bytes = walk.bytes(frame);
    start = frame.offset;
    frameBytes.assign(bytes, bytes + frame.layout.size);
    duration = static_cast<double>(perFrame) / rate;
    steps = true;
    return true;
}

// The next frame, past junk where --resync says so; what --check and --repair are told of it.
bool Mp3Format::readNext() {
    using WalkStop = mp3::FrameWalk::Stop;
    for (;;) {
        if (walk.read()) {
            report(walk.frame(walk.next() - 1), walk.next() - 1);
            return true;
        }
        start = walk.stopOffset();
        if (walk.stop() == WalkStop::end) return fail(Stop::endOfInput);
        if (walk.stop() == WalkStop::cutShort) return fail(Stop::cutShort);
        const Stop why = walk.stop() == WalkStop::noSync ? Stop::noSyncWord : Stop::reservedValue;
        if (!checks.resync) return fail(why);
        std::uint64_t from = 0, count = 0;
        const bool found = walk.resync(from, count);
        if (checks.events != nullptr) {
            checks.events->skipped(from, count,
                                   why == Stop::noSyncWord ? "no sync word" : "another stream");
        }
        if (!found) return fail(Stop::endOfInput);
    }
}

void Mp3Format::report(const mp3::SeenFrame& frame, std::uint64_t index) {
    if (index < checkedTo) return;
    checkedTo = index + 1;
    if (frame.fault.empty() || checks.events == nullptr || !(checks.check || checks.repair)) {
        return;
    }
    const auto end = static_cast<std::uint64_t>(std::max<std::int64_t>(0, sampleAtEnd(index)));
    if (frame.crcFailed) {
        checks.events->crcFailed(frame.offset, end);
    } else {
        checks.events->badFrame(frame.offset, end, frame.fault);
    }
    if (checks.repair) checks.events->replaced(frame.offset, end);
}

std::int64_t Mp3Format::sampleAtEnd(std::uint64_t index) const {
    return static_cast<std::int64_t>(index + 1) * perFrame - offset;
}

void Mp3Format::watch(const SampleChecks& how) {
    checks = how;
    if (how.check || how.repair) walk.checkCrcs();
}

std::string Mp3Format::stopReason() const {
    if (!fault.empty()) return fault;
    if (stopped == Stop::reservedValue) {
        return "a frame that is not Layer III of the stream's version, sample rate and channels";
    }
    return commonStopReason();
}

std::string Mp3Format::noCrcNotice() const {
    const bool crc = mpeg::Header(header).protection;
    return crc ? "checked each frame's CRC and where its main data lies"
               : "the frames carry no CRC: where each one's main data lies was checked";
}

std::string Mp3Format::describe() const {
    const mpeg::Header h(header);
    const char* versions[4] = {"MPEG-2.5", "", "MPEG-2", "MPEG-1"};
    std::string text = std::string(versions[h.version]) + " Layer III, " + kilohertz(rate) + ", ";
    if (!info.present) {
        text += std::to_string(h.bitRate() / 1000) + " kb/s";
    } else {
        const bool cbr = !info.vbri && std::memcmp(info.frame.data() + info.xingAt, "Info", 4) == 0;
        text += cbr ? "CBR" : "VBR";
    }
    if (!info.lameTag) return text;
    std::string encoder = info.encoder;
    while (!encoder.empty() && (encoder.back() < 0x21 || encoder.back() > 0x7E)) encoder.pop_back();
    return text + ", " + encoder + " tag: delay " + std::to_string(info.delay) + ", padding " +
           std::to_string(info.padding) + (gapless ? "" : " (not one gapless decoders honour)");
}

FrameFormat::Frame Mp3Format::silentFrame(const Frame& reference) const {
    if (reference.size() < 4) return {};
    std::uint8_t h[4];
    for (int i = 0; i < 4; ++i) h[i] = static_cast<std::uint8_t>(reference[i]);
    if (!layerIII(h) || !mpeg::Header(h).valid()) return {};
    const std::vector<std::uint8_t> frame = mp3::silentFrame(h);
    return {frame.begin(), frame.end()};
}

// The header frame's count may be stale, as a cut that did not make it anew leaves it: the
// frames themselves say where the input ends.
std::uint64_t Mp3Format::sampleCount(bool& known) const {
    known = false;
    return 0;
}

void Mp3Format::beginOutput(const std::vector<SamplePiece>& planned) {
    pieces = planned;
    piece = 0;
    writer.begin(mp3::maxBack(mpeg::Header(header)));
    outOffset = gapless ? decoderDelay : 0;
    ideal = samples = 0;
}

// The output's sample at the end of its frames so far.
std::int64_t Mp3Format::outputPosition() const {
    return static_cast<std::int64_t>(writer.frames()) * perFrame - outOffset;
}

// Frames to add for the output's frames to end nearest `idealEnd`, or, at the end of a
// gapless output, to hold all of it.
std::int64_t Mp3Format::framesUntil(std::int64_t idealEnd, bool lastPiece) const {
    const std::int64_t ahead = idealEnd - outputPosition();
    return std::max<std::int64_t>(
        0, lastPiece && gapless ? ceilDiv(ahead, perFrame) : roundedDiv(ahead, perFrame));
}

// The input's frame that a piece from sample `from` starts with, and the priming frames
// before it that a decoder needs to play that one exactly.
std::int64_t Mp3Format::firstFrameOf(std::uint64_t from, std::uint32_t& primed) const {
    const auto at = static_cast<std::int64_t>(from);
    std::int64_t first = 0;
    std::int64_t priming = 0;
    if (piece == 0 && gapless) {
        first = (at + offset) / perFrame;
        priming = primes;
    } else if (piece == 0 && windowPiece()) {
        // The window rule: from the frame that ends at or after `from`.
        first = at == 0 ? 0 : ceilDiv(at, perFrame) - 1;
    } else if (piece == 0) {
        first = roundedDiv(at, perFrame);
    } else {
        priming = piece <= pieces.size() && pieces[piece - 1].silence ? primes : 0;
        const std::int64_t plays = outputPosition() + priming * perFrame;
        first = std::max<std::int64_t>(0, roundedDiv(at + offset + plays - ideal, perFrame));
    }
    primed = static_cast<std::uint32_t>(std::min(priming, first));
    return first;
}

std::uint64_t Mp3Format::copySamples(std::uint64_t from, std::uint64_t count,
                                     const SampleSink& out) {
    const bool last = piece + 1 == pieces.size();
    const bool toEnd = count == SamplePiece::toEnd;
    std::uint32_t primed = 0;
    const std::int64_t first = firstFrameOf(from, primed);
    if (!startRun(first - primed, out)) return finishPiece(0, toEnd ? 0 : count);
    const std::int64_t firstAt = static_cast<std::int64_t>(writer.frames()) + primed;
    if (piece == 0 && gapless) {
        outOffset =
            firstAt * perFrame + static_cast<std::int64_t>(from) + offset - first * perFrame;
    }
    const std::int64_t endSample =
        toEnd ? std::numeric_limits<std::int64_t>::max() : static_cast<std::int64_t>(from + count);
    std::int64_t end = std::numeric_limits<std::int64_t>::max();
    if (!toEnd && last && gapless) {
        end = ceilDiv(endSample + offset, perFrame);
    } else if (!toEnd && last && windowPiece()) {
        end = endSample / perFrame + 1;  // through the frame that ends after the window
    } else if (!toEnd) {
        const std::int64_t plays = firstAt * perFrame - outOffset;
        end =
            first + std::max<std::int64_t>(
                        0, roundedDiv(ideal + static_cast<std::int64_t>(count) - plays, perFrame));
    }
    const std::int64_t reached = copyRun(first - primed, end, out);
    // Where the input ended before the piece did, the samples it had.
    std::int64_t had = endSample;
    if (reached < end) had = std::min(had, reached * perFrame - offset + gaplessTail());
    const std::int64_t shift = (firstAt - first) * perFrame + offset - outOffset;
    if (gapless) samples = had + shift;
    shifted = static_cast<std::int64_t>(from) + shift - ideal;
    const std::int64_t copied = std::max<std::int64_t>(0, had - static_cast<std::int64_t>(from));
    return finishPiece(static_cast<std::uint64_t>(copied), toEnd ? copied : count);
}

// The samples after the input's last that its padding leaves out, in a gapless decoder.
std::int64_t Mp3Format::gaplessTail() const {
    return gapless ? decoderDelay - static_cast<std::int64_t>(info.padding) : 0;
}

std::uint64_t Mp3Format::finishPiece(std::uint64_t copied, std::uint64_t planned) {
    ideal += static_cast<std::int64_t>(planned);
    ++piece;
    return copied;
}

// Reads on to frame `index`, and lays the main data it takes from the frames before it at
// the end of the output's slots: in the slot of the frame before, grown, or in carriers.
bool Mp3Format::startRun(std::int64_t index, const SampleSink& out) {
    const auto first = static_cast<std::uint64_t>(std::max<std::int64_t>(0, index));
    if (!reach(first)) return false;
    walk.reservoirOf(first, reservoir);
    const bool atStart = writer.frames() == 0;
    std::uint8_t carrier[4];
    carrierFor(atStart && gapless, carrier);
    writer.lay(reservoir.data(), static_cast<std::uint32_t>(reservoir.size()), carrier, !atStart);
    return writer.flush(sinkFor(out, first), false);
}

// Silent frames that carry main data are the stream's own, but where their delay must fit a
// LAME tag: then few enough of them, at a higher bit rate where need be, carry it.
void Mp3Format::carrierFor(bool fewest, std::uint8_t* carrier) const {
    std::memcpy(carrier, header, 4);
    if (!fewest) return;
    const std::int64_t most = (mostDelay + decoderDelay) / perFrame - primes - 1;
    const mpeg::Header h(carrier);
    const std::uint32_t side = mp3::sideInfoSize(h) + (h.protection ? 6 : 4);
    const auto need = static_cast<std::int64_t>(reservoir.size());
    for (int index = carrier[2] >> 4; index < 14;) {
        if (static_cast<std::int64_t>(mp3::sizeAtBitRate(carrier, index) - side) * most >= need) {
            break;
        }
        carrier[2] = static_cast<std::uint8_t>((carrier[2] & 0x0F) | ++index << 4);
    }
}

mp3::ReservoirWriter::Sink Mp3Format::sinkFor(const SampleSink& out, std::uint64_t index) const {
    const auto next = static_cast<std::uint64_t>(std::max<std::int64_t>(0, sampleAtEnd(index)));
    return [&out, next](const std::uint8_t* bytes, std::size_t count) {
        return out(bytes, count, next);
    };
}

// Copies frames `index` up to `end`, or to the end of the input: where it stopped.
std::int64_t Mp3Format::copyRun(std::int64_t index, std::int64_t end, const SampleSink& out) {
    auto i = static_cast<std::uint64_t>(std::max<std::int64_t>(0, index));
    // What is written goes out with the input's sample after the frame last added.
    std::uint64_t last = i > 0 ? i - 1 : 0;
    const mp3::ReservoirWriter::Sink sink = [&](const std::uint8_t* bytes, std::size_t count) {
        return out(bytes, count,
                   static_cast<std::uint64_t>(std::max<std::int64_t>(0, sampleAtEnd(last))));
    };
    for (; static_cast<std::int64_t>(i) < end && reach(i); ++i) {
        const mp3::SeenFrame& frame = walk.frame(i);
        writer.add(walk.bytes(frame), frame.layout, checks.repair && !frame.fault.empty());
        last = i;
        if (!writer.flush(sink, false)) return static_cast<std::int64_t>(i) + 1;
    }
    // What the run copied goes out now, but for what the next piece may still reach into.
    if (i > 0) writer.flush(sink, false, false);
    return static_cast<std::int64_t>(i);
}

// Frame `index` read and its bytes at hand: read on to it, or from the first frame again.
bool Mp3Format::reach(std::uint64_t index) {
    if (index < walk.next() && (!walk.holds(index) || walk.bytes(walk.frame(index)) == nullptr)) {
        walk.restart();
    }
    while (walk.next() <= index) {
        if (!readNext()) return false;
    }
    return walk.bytes(walk.frame(index)) != nullptr;
}

bool Mp3Format::writeSilence(std::uint64_t count, const ByteSink& out) {
    const bool last = piece + 1 == pieces.size();
    const bool rangeNext = piece + 1 < pieces.size() && !pieces[piece + 1].silence;
    const std::int64_t idealEnd = ideal + static_cast<std::int64_t>(count);
    const std::int64_t frames =
        std::max<std::int64_t>(0, framesUntil(idealEnd, last) - (rangeNext ? primes : 0));
    bool ok = true;
    for (std::int64_t i = 0; i < frames && ok; ++i) {
        writer.addSilent(header);
        ok = writer.flush(out, false);
    }
    if (gapless) samples = idealEnd;
    finishPiece(count, count);
    return ok;
}

bool Mp3Format::endOutput(const ByteSink& out) { return writer.flush(out, true); }

std::vector<std::uint8_t> Mp3Format::outputHeader(const OutputFacts&) const {
    std::vector<std::uint8_t> bytes = head;
    if (!info.present) return bytes;
    const mp3::Written& done = writer.written();
    mp3::OutputCounts counts;
    counts.frames = static_cast<std::uint32_t>(done.frames);
    const auto infoSize = static_cast<std::uint32_t>(info.frame.size());
    counts.bytes = static_cast<std::uint32_t>(infoSize + done.bytes);
    // A tag that decoders do not honour says the output's frames play whole.
    const std::int64_t delay =
        gapless ? std::clamp<std::int64_t>(outOffset - decoderDelay, 0, mostDelay) : 0;
    counts.delay = static_cast<std::uint32_t>(delay);
    const std::int64_t padding =
        static_cast<std::int64_t>(done.frames) * perFrame - delay - samples;
    counts.padding =
        gapless ? static_cast<std::uint32_t>(std::clamp<std::int64_t>(padding, 0, mostDelay)) : 0;
    counts.musicCrc = done.musicCrc;
    counts.vbr = done.vbr;
    for (std::uint64_t i = 0; i < 100 && !done.offsets.empty(); ++i) {
        const std::uint64_t frame = i * done.frames / 100 / done.stride;
        counts.toc[i] = infoSize + done.offsets[std::min(frame, done.offsets.size() - 1)];
    }
    const std::vector<std::uint8_t> frame = mp3::writeInfoFrame(info, counts);
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    return bytes;
}
