#include "stream/flac/flac_format.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr std::uint64_t unknownEnd = std::numeric_limits<std::uint64_t>::max();

bool starts(const std::uint8_t* bytes, std::size_t size, const char* magic) {
    return size >= 4 && std::memcmp(bytes, magic, 4) == 0;
}

}  // namespace

bool FlacFormat::startsFrame(const std::uint8_t* bytes, std::size_t size) {
    return starts(bytes, size, "fLaC") || (size >= 3 && std::memcmp(bytes, "ID3", 3) == 0) ||
           starts(bytes, size, "OggS");
}

// An Ogg page whose packet is FLAC's "\x7F" "FLAC" mapping: not cut. Any other is no FLAC.
bool FlacFormat::readOggPage() {
    std::string page;
    while (page.size() < 64 && !reader.atEnd()) {
        page.push_back(static_cast<char>(reader.readByte()));
    }
    if (page.find(std::string(1, '\x7F') + "FLAC") == std::string::npos) {
        return fail(Stop::noSyncWord);
    }
    fault = "FLAC in Ogg is not supported: only a native FLAC file (fLaC) is";
    return fail(Stop::unsupported);
}

bool FlacFormat::readFileHeader() {
    std::size_t size = 4;
    const std::uint8_t* head = reader.recentUpTo(reader.offset(), size);
    if (head != nullptr && starts(head, size, "OggS")) return readOggPage();
    bool notFlac = false;
    fault = flac::readMetadata(reader, metadata, notFlac);
    if (notFlac) return fail(Stop::noSyncWord);
    if (!fault.empty()) return fail(Stop::unsupported);
    start = firstOffset = reader.offset();
    const flac::StreamInfo& info = metadata.info;
    if (!scanner.open(first)) {
        if (scanner.held() > 0) {
            fault = "no FLAC frame after the metadata";
            return fail(Stop::unsupported);
        }
        // No frames at all: what silence may be made codes its fields from STREAMINFO.
        first = flac::FrameHeader();
        first.blockSize = 4096;
        first.channels = info.channels;
        haveFirst = false;
    }
    if (first.channels != info.channels || (first.bits != 0 && first.bits != info.bits) ||
        (first.rate != 0 && first.rate != info.rate)) {
        fault = "the first frame's header contradicts STREAMINFO";
        return fail(Stop::unsupported);
    }
    scanner.begin(info, first);
    base = first.variable ? first.number : first.number * first.blockSize;
    return true;
}

bool FlacFormat::readFrame() {
    if (!fault.empty()) return fail(Stop::unsupported);
    // Every frame in turn, those without a place in the samples too.
    haveFrame = readOrSkip();
    if (!haveFrame) return stopWhereTheScannerStopped();
    walkedTo = scanner.endSample() - base;
    start = scanner.offset();
    frameBytes.assign(scanner.data(), scanner.data() + scanner.size());
    duration = static_cast<double>(scanner.header().blockSize) / metadata.info.rate;
    steps = true;
    return true;
}

std::string FlacFormat::stopReason() const {
    if (!fault.empty()) return fault;
    if (scanner.stop() == flac::FrameScanner::Stop::tooLong) {
        return "a FLAC frame that does not end where a frame may";
    }
    if (scanner.stop() == flac::FrameScanner::Stop::noFrame) return "no FLAC frame header";
    return commonStopReason();
}

std::string FlacFormat::describe() const {
    const flac::StreamInfo& info = metadata.info;
    std::string text = "FLAC, " + kilohertz(static_cast<std::int32_t>(info.rate)) + ", " +
                       std::to_string(info.bits) + "-bit, " + std::to_string(info.channels) +
                       (info.channels == 1 ? " channel, " : " channels, ");
    if (first.variable) return text + "variable blocks";
    return text + "fixed blocks of " + std::to_string(first.blockSize);
}

std::vector<std::string> FlacFormat::headerNotes() const {
    if (!metadata.hasCueSheet) return {};
    return {"left out the CUESHEET block: it counts the input's samples"};
}

std::uint64_t FlacFormat::sampleCount(bool& known) const {
    known = metadata.info.total != 0;
    return metadata.info.total;
}

std::vector<std::uint8_t> FlacFormat::outputHeader(const OutputFacts&) const {
    return flac::writeMetadata(metadata, writer.streamInfo(), writer.seekPoints());
}

std::uint32_t FlacFormat::blockSize() const {
    return first.variable ? std::max<std::uint32_t>(metadata.info.maxBlock, first.blockSize)
                          : first.blockSize;
}

void FlacFormat::beginOutput(const std::vector<SamplePiece>& pieces) {
    std::uint64_t planned = 0;
    for (const SamplePiece& piece : pieces) {
        planned = piece.count == SamplePiece::toEnd ? 0 : planned + piece.count;
        if (planned == 0) break;
    }
    writer.begin(first, metadata.info, blockSize(), !staysFixed(pieces), metadata.seekPoints,
                 planned);
}

// The frames of the input that `pieces` keep whole stay whole, and every other frame of the
// output holds the input's block size, but for the last.
bool FlacFormat::staysFixed(const std::vector<SamplePiece>& pieces) const {
    if (first.variable || !haveFirst) return false;
    bool known = false;
    const std::uint64_t total = sampleCount(known);
    flac::FrameWriter dry;
    dry.dryRun(first.blockSize);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const SamplePiece& piece = pieces[i];
        if (piece.silence) {
            dry.add(nullptr, 0, piece.count, 0, {});
            continue;
        }
        const bool toEnd = piece.count == SamplePiece::toEnd;
        // The input's last frame, of a length not known, may come before more.
        if (toEnd && !known && i + 1 < pieces.size()) return false;
        std::uint64_t end = toEnd ? unknownEnd : piece.from + piece.count;
        if (known) end = std::min(end, total);
        dryCopy(dry, piece.from, end);
    }
    dry.flush({});
    return dry.fixedSoFar();
}

// The input's samples from `at` up to `end` through `dry`, frame by frame as the cut takes
// them: parts of frames held, whole ones copied.
void FlacFormat::dryCopy(flac::FrameWriter& dry, std::uint64_t at, std::uint64_t end) const {
    const std::uint64_t block = first.blockSize;
    bool known = false;
    const std::uint64_t total = sampleCount(known);
    flac::FrameHeader frame;
    while (at < end) {
        const std::uint64_t frameStart = at / block * block;
        const std::uint64_t frameEnd =
            known ? std::min(frameStart + block, total) : frameStart + block;
        if (at != frameStart || frameEnd > end) {
            dry.add(nullptr, 0, std::min(frameEnd, end) - at, 0, {});
            at = std::min(frameEnd, end);
            continue;
        }
        frame.blockSize = static_cast<std::uint32_t>(frameEnd - frameStart);
        if (dry.held() > 0 && dry.held() < flac::shortest) {
            dry.add(nullptr, 0, frame.blockSize, 0, {});
            dry.flush({});
        } else {
            dry.copy(nullptr, 0, frame, {});
        }
        // The whole frames after it are copied alike.
        at = frameEnd + (end - frameEnd) / block * block;
        if (end == unknownEnd) return;
        if (at > frameEnd) dry.copy(nullptr, 0, frame, {});
    }
}

bool FlacFormat::nextFrame() {
    bool known = false;
    const std::uint64_t total = sampleCount(known);
    // A frame numbered before the first, or after the samples STREAMINFO counts, is checked
    // but has no place.
    do {
        haveFrame = readOrSkip();
        if (haveFrame && scanner.offset() >= checkedTo) checkFrame();
    } while (haveFrame &&
             (scanner.firstSample() < base || (known && scanner.firstSample() - base >= total)));
    if (!haveFrame) return stopWhereTheScannerStopped();
    walkedTo = scanner.endSample() - base;
    return true;
}

// False, with the walk's stop where the scanner's is.
bool FlacFormat::stopWhereTheScannerStopped() {
    start = scanner.stopOffset();
    return fail(scanner.stop() == flac::FrameScanner::Stop::end ? Stop::endOfInput
                                                                : Stop::noSyncWord);
}

// The next frame; with resync, after any bytes that hold none.
bool FlacFormat::readOrSkip() {
    while (!scanner.next()) {
        if (!checks.resync || scanner.stop() == flac::FrameScanner::Stop::end) return false;
        const std::uint64_t at = scanner.stopOffset();
        const std::string why = scanner.stop() == flac::FrameScanner::Stop::tooLong
                                    ? "a FLAC frame that does not end where a frame may"
                                    : "no FLAC frame header";
        std::uint64_t count = 0;
        const bool found = scanner.skip(count);
        if (count > 0) checks.events->skipped(at, count, why);
        if (!found) return false;
    }
    return true;
}

void FlacFormat::checkFrame() {
    checkedTo = scanner.offset() + scanner.size();
    ++checked;
    if (!checks.check) return;
    const std::uint64_t end = scanner.endSample() - base;
    if (scanner.crcError() != 0) checks.events->crcFailed(scanner.offset(), end);
    if (scanner.numberJumped()) {
        checks.events->misnumbered(scanner.offset(), end, scanner.header().number,
                                   scanner.dueNumber());
    }
}

// Back to the first frame, for a piece that starts before the frames read (plans go forward,
// so this is seldom walked).
bool FlacFormat::goBack() {
    haveFrame = false;
    walkedTo = 0;
    return scanner.goTo(firstOffset, base);
}

const std::int32_t* FlacFormat::decoded() {
    if (decodedAt != scanner.offset()) {
        decodedAt = scanner.offset();
        const flac::FrameHeader& header = scanner.header();
        decodedOk = decoder.decode(scanner.data(), scanner.size(), header,
                                   header.bits != 0 ? header.bits : metadata.info.bits, samples);
    }
    return decodedOk ? samples.data() : nullptr;
}

// `count` samples of the frame last read, from its sample `from` on.
bool FlacFormat::put(std::uint64_t from, std::uint64_t count, const flac::FrameWriter::Sink& out) {
    const flac::FrameHeader& header = scanner.header();
    const std::uint16_t error = scanner.crcError();
    const bool whole = from == 0 && count == header.blockSize;
    if (whole && (error == 0 || !checks.repair) &&
        (writer.held() == 0 || writer.held() >= flac::shortest)) {
        return writer.copy(scanner.data(), scanner.size(), header, out);
    }
    const std::int32_t* values = error != 0 && checks.repair ? nullptr : decoded();
    // With repair, a frame that fails its CRC or cannot be decoded is silence. Without, samples
    // that cannot be decoded are silence in a frame whose CRC-16 fails.
    if (values == nullptr && checks.repair && mendedAt != scanner.offset()) {
        checks.events->replaced(scanner.offset(), walkedTo);
        mendedAt = scanner.offset();
    }
    const std::uint16_t made = values == nullptr && !checks.repair && error == 0 ? 1 : error;
    if (!writer.add(values == nullptr ? nullptr : values + from, header.blockSize, count,
                    checks.repair ? 0 : made, out)) {
        return false;
    }
    return !whole || writer.flush(out);
}

std::uint64_t FlacFormat::copySamples(std::uint64_t wanted, std::uint64_t count,
                                      const SampleSink& out) {
    const std::uint64_t end = count > unknownEnd - wanted ? unknownEnd : wanted + count;
    const bool holds = haveFrame && scanner.firstSample() - base <= wanted;
    if (!holds && wanted < walkedTo && !goBack()) return 0;
    std::uint64_t reached = wanted;
    const flac::FrameWriter::Sink sink = [&](const std::uint8_t* bytes, std::size_t size) {
        return out(bytes, size, reached);
    };
    while (reached < end) {
        if (!haveFrame || scanner.endSample() - base <= reached) {
            if (!nextFrame()) break;
            continue;
        }
        const std::uint64_t frameStart = scanner.firstSample() - base;
        if (frameStart > reached) {
            // Samples the numbers say are missing: silence with repair, else none.
            const std::uint64_t upTo = std::min(frameStart, end);
            if (!fillGap(upTo - reached, sink)) break;
            reached = upTo;
            continue;
        }
        const std::uint64_t upTo = std::min(scanner.endSample() - base, end);
        const std::uint64_t from = reached - frameStart;
        reached = upTo;
        if (!put(from, upTo - frameStart - from, sink)) break;
    }
    return reached - wanted;
}

bool FlacFormat::fillGap(std::uint64_t count, const flac::FrameWriter::Sink& out) {
    if (!checks.repair) return true;
    if (mendedAt != scanner.offset()) {
        const std::uint64_t frameStart = scanner.firstSample() - base;
        const std::uint64_t lastEnd = scanner.dueNumber();
        checks.events->filled(
            scanner.offset(),
            frameStart - (first.variable ? lastEnd - base : lastEnd * first.blockSize - base));
    }
    mendedAt = scanner.offset();
    return writer.add(nullptr, 0, count, 0, out);
}

bool FlacFormat::writeSilence(std::uint64_t count, const ByteSink& out) {
    return writer.add(nullptr, 0, count, 0, out);
}

bool FlacFormat::endOutput(const ByteSink& out) { return writer.flush(out); }
