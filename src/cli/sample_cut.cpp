#include "cli/sample_cut.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "cli/output_file.h"
#include "cli/sample_plan.h"

namespace {

class SampleWalk : public SampleEvents {
public:
    SampleWalk(FrameFormat& format, const BitReader& input, const CutOptions& options,
               const Plan& plan, const SampleOutputs& outputs, CutEvents& events)
        : format(format),
          input(input),
          options(options),
          plan(plan),
          outputs(outputs),
          events(events) {}

    CutResult run();

    void crcFailed(std::uint64_t offset, std::uint64_t end) override;
    void misnumbered(std::uint64_t offset, std::uint64_t end, std::uint64_t number,
                     std::uint64_t due) override;
    void badFrame(std::uint64_t offset, std::uint64_t end, const std::string& what) override;
    void replaced(std::uint64_t offset, std::uint64_t end) override;
    void filled(std::uint64_t offset, std::uint64_t count) override;
    void skipped(std::uint64_t offset, std::uint64_t count, const std::string& reason) override;

private:
    struct Output {
        std::size_t index = 0;
        std::string name;
        platform::FileHandle own = platform::invalidHandle;
        std::unique_ptr<OutputFile> file;
        OutputFacts facts;
        bool started = false;
    };
    bool writeOutput(std::size_t index, const std::vector<SamplePiece>& pieces);
    bool start(Output& out);
    FrameFormat::ByteSink into(Output& out);
    bool writeSilence(Output& out, std::uint64_t count);
    bool copy(Output& out, const SamplePiece& piece);
    bool finishOutput(Output& out);
    bool failed(const Output& out);
    void noteWindow(const SamplePlan& samples);
    void noteCheck();
    void noteBadSpot();
    double seconds(std::uint64_t samples) const { return static_cast<double>(samples) / rate; }
    OutputFacts plannedFacts(const std::vector<SamplePiece>& pieces) const;

    FrameFormat& format;
    const BitReader& input;
    const CutOptions& options;
    const Plan& plan;
    const SampleOutputs& outputs;
    CutEvents& events;
    double rate = 0.0;
    std::uint64_t walked = 0;  // the input's sample after the last one copied
    bool inputEnded = false;
    CutResult result;
};

CutResult SampleWalk::run() {
    if (format.stop() == FrameFormat::Stop::unsupported) {
        result.end = CutEnd::unsupported;
        result.badSpotReason = format.stopReason();
        return result;
    }
    result.anyFrame = true;
    events.formatFound(format.describe());
    result.headerNotes = format.headerNotes();
    rate = format.sampleRate();
    format.watch({options.check, options.resync, options.repair, this});
    bool known = false;
    const std::uint64_t total = format.sampleCount(known);
    const SamplePlan samples(plan, static_cast<std::int32_t>(rate), total, known);
    result.end = CutEnd::windowComplete;
    std::vector<SamplePiece> pieces;
    for (std::size_t index = 0; !inputEnded && samples.output(index, pieces); ++index) {
        if (!writeOutput(index, pieces)) break;
    }
    result.time = static_cast<double>(known ? total : walked) / rate;
    result.windowReached = true;
    // Samples short of what the header or the plan promised: the input ended or failed.
    result.readFailed = input.readFailed();
    if (inputEnded && result.end == CutEnd::windowComplete) result.end = CutEnd::endOfInput;
    noteBadSpot();
    if (plan.isWindow()) noteWindow(samples);
    noteCheck();
    return result;
}

void SampleWalk::noteWindow(const SamplePlan& samples) {
    result.windowReached = samples.windowReached();
    result.emptyWindow = result.windowReached && samples.windowEmpty();
    result.delay.asked = plan.delay;
    result.delay.samples = true;
    const std::int64_t delay = samples.delaySamples();
    if (delay == 0 || !result.windowReached) return;
    const std::uint64_t window = samples.windowLength();
    const std::uint64_t moved = delay > 0 ? static_cast<std::uint64_t>(delay)
                                          : std::min(window, static_cast<std::uint64_t>(-delay));
    result.delay.steps = static_cast<std::int64_t>(moved);
    result.delay.seconds = static_cast<double>(moved) / rate * (delay > 0 ? 1.0 : -1.0);
    result.delay.everythingLeftOut = delay < 0 && window > 0 && moved == window;
    if (result.delay.everythingLeftOut) result.emptyWindow = false;
}

void SampleWalk::noteBadSpot() {
    const FrameFormat::Stop stop = format.stop();
    if (!inputEnded || stop == FrameFormat::Stop::none || stop == FrameFormat::Stop::endOfInput) {
        return;
    }
    result.end = CutEnd::badSpot;
    result.badSpotOffset = format.frameOffset();
    result.badSpotReason = format.stopReason();
    result.unread = input.bytesAfter(result.badSpotOffset, result.unreadAtLeast);
}

void SampleWalk::crcFailed(std::uint64_t offset, std::uint64_t end) {
    ++result.failed;
    events.crcFailed(offset, seconds(end));
}

void SampleWalk::misnumbered(std::uint64_t offset, std::uint64_t end, std::uint64_t number,
                             std::uint64_t due) {
    ++result.failed;
    ++result.misnumbered;
    events.misnumbered(offset, seconds(end), number, due);
}

void SampleWalk::badFrame(std::uint64_t offset, std::uint64_t end, const std::string& what) {
    ++result.failed;
    ++result.misplaced;
    events.frameFault(offset, seconds(end), what);
}

void SampleWalk::replaced(std::uint64_t offset, std::uint64_t end) {
    result.repaired = true;
    events.replaced(offset, seconds(end), true, "");
}

void SampleWalk::filled(std::uint64_t offset, std::uint64_t count) {
    result.repaired = true;
    events.filledSamples(seconds(count), count, offset);
}

void SampleWalk::skipped(std::uint64_t offset, std::uint64_t count, const std::string& reason) {
    events.skipped(offset, count, reason);
}

void SampleWalk::noteCheck() {
    if (!options.check || result.outputFailed()) return;
    if (format.carriesCrc()) {
        result.checked = format.framesChecked();
        result.unchecked = format.noCrcNotice();
        return;
    }
    result.damage = format.sampleDamage();
    if (options.repair) {
        result.unchecked = format.noCrcNotice() + ", so there is nothing to mend";
        return;
    }
    result.unchecked = format.noCrcNotice();
    result.failed = result.damage.empty() ? 0 : 1;
}

OutputFacts SampleWalk::plannedFacts(const std::vector<SamplePiece>& pieces) const {
    OutputFacts facts;
    bool copied = false;
    for (const SamplePiece& piece : pieces) {
        if (piece.count == SamplePiece::toEnd) {
            facts.sizeKnown = false;
        } else {
            facts.planned += piece.count;
        }
        if (!piece.silence && !copied) facts.firstSample = piece.from;
        if (piece.silence && !copied) facts.silenceInFront += piece.count;
        copied = copied || !piece.silence;
    }
    return facts;
}

bool SampleWalk::writeOutput(std::size_t index, const std::vector<SamplePiece>& pieces) {
    Output out;
    out.index = index;
    out.name = plan.outputName(outputs.name, index);
    out.file = std::make_unique<OutputFile>(out.name, index == 0 ? outputs.firstHandle : out.own,
                                            outputs.input, outputs.progress);
    out.facts = plannedFacts(pieces);
    format.beginOutput(pieces);
    for (const SamplePiece& piece : pieces) {
        const bool ok = piece.silence ? writeSilence(out, piece.count) : copy(out, piece);
        if (!ok) return failed(out);
        if (inputEnded || platform::stopRequested()) break;
    }
    if (platform::stopRequested()) {
        finishOutput(out);
        platform::endAsStopped();
    }
    return finishOutput(out) || failed(out);
}

// The header goes in before the first sample, so that an output with none makes no file.
bool SampleWalk::start(Output& out) {
    if (out.started) return true;
    out.started = true;
    OutputFacts facts = out.facts;
    facts.samples = facts.planned;
    const std::vector<std::uint8_t> header = format.outputHeader(facts);
    return header.empty() || out.file->writeBytes(header.data(), header.size());
}

// Bytes the format makes for `out`, after its header.
FrameFormat::ByteSink SampleWalk::into(Output& out) {
    return [this, &out](const std::uint8_t* data, std::size_t size) {
        return start(out) && out.file->writeBytes(data, size);
    };
}

bool SampleWalk::writeSilence(Output& out, std::uint64_t count) {
    const bool ok = format.writeSilence(count, into(out));
    out.facts.samples += count;
    return ok;
}

bool SampleWalk::copy(Output& out, const SamplePiece& piece) {
    bool ok = true;
    std::uint64_t bytes = 0;
    std::uint64_t shown = ~std::uint64_t{0};  // a frame may come in parts: one line for it
    const std::uint64_t copied =
        format.copySamples(piece.from, piece.count,
                           [&](const std::uint8_t* data, std::size_t count, std::uint64_t next) {
                               ok = start(out) && out.file->writeBytes(data, count);
                               if (!ok) return false;
                               bytes += count;
                               if (next != shown) {
                                   out.file->progressLine(static_cast<double>(next) / rate);
                                   shown = next;
                               }
                               out.file->showProgressIfDue();
                               return !platform::stopRequested();
                           });
    if (!ok) return false;
    out.facts.samples += copied;
    CopiedSpan& span = result.copied;
    if (copied > 0) {
        if (span.frames == 0) span.start = static_cast<double>(piece.from) / rate;
        span.end = static_cast<double>(piece.from + copied) / rate;
        walked = std::max(walked, piece.from + copied);
    }
    span.samples = true;
    span.frames += copied;
    span.bytes += bytes;
    if (plan.kind == Plan::Kind::ranges && copied > 0) {
        const double at = static_cast<double>(out.facts.samples - copied) / rate;
        // Where the seam fell: the input's time that plays at the planned point.
        const double late = static_cast<double>(format.placedShift()) / rate;
        result.placed.push_back({out.index, span.end - static_cast<double>(copied) / rate - late,
                                 span.end, at, 0.0 - late});
    }
    inputEnded = copied < piece.count && !platform::stopRequested();
    return true;
}

bool SampleWalk::finishOutput(Output& out) {
    const bool held = format.endOutput(into(out));
    if (!held) return false;
    if (!out.started) return true;
    out.started = false;
    const std::vector<std::uint8_t> trailer = format.outputTrailer(out.facts);
    if (!out.file->writeBytes(trailer.data(), trailer.size())) return false;
    if (!out.file->rewriteStart(format.outputHeader(out.facts))) return false;
    const std::string note = format.outputNote(out.facts);
    if (!note.empty()) result.outputNotes.push_back(out.name + ": " + note);
    return out.file->close();
}

bool SampleWalk::failed(const Output& out) {
    result.end = out.file->notCreated() ? CutEnd::outputNotCreated : CutEnd::writeFailed;
    result.failedOutput = out.name;
    return false;
}

}  // namespace

CutResult cutSamples(FrameFormat& format, const BitReader& input, const CutOptions& options,
                     const Plan& plan, const SampleOutputs& outputs, CutEvents& events) {
    return SampleWalk(format, input, options, plan, outputs, events).run();
}
