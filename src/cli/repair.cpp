#include "cli/repair.h"

#include <algorithm>
#include <cstdint>

void StepModel::add(const std::vector<std::int32_t>& bytes, bool steps, double duration) {
    if (steps) {
        if (!current.frames.empty()) lengths[lengthsSeen++ % lengthsKept] = current.bytes;
        std::swap(current, last);
        current.frames.clear();
        current.duration = duration;
        current.bytes = 0;
    }
    current.frames.push_back(bytes);
    current.bytes += bytes.size();
}

// Frames are read until more than 4 KiB are: with one frame more, of 8 KiB at most, that is
// well inside the reader's history.
void StepModel::readAhead(FrameStream& frames, BitReader& input) {
    const std::uint64_t at = input.offset();
    while (frames.readFrame()) {
        const bool step = frames.format().stepsClock();
        if (!empty() && step) break;
        add(frames.format().frameData(), step, step ? frames.format().frameDuration() : 0.0);
        if (input.offset() - at > 4096) break;
    }
    input.seek(at);
}

std::size_t StepModel::count(std::uint64_t skipped, const FrameFormat& format) const {
    const std::size_t n = std::min(lengthsSeen, lengthsKept);
    if (!format.lengthsVary() || n == 0) {
        const std::size_t bytes = model().bytes;
        return (2 * skipped + bytes) / (2 * bytes);
    }
    std::size_t sum = 0;
    for (std::size_t i = 0; i < n; ++i) sum += lengths[i];
    return (2 * skipped * n + sum) / (2 * sum);
}

const StepModel::Step& StepModel::model() const {
    return last.frames.size() > current.frames.size() && last.duration > 0.0 ? last : current;
}

std::vector<StepModel::SilentStep> StepModel::fill(std::uint64_t skipped,
                                                   const FrameFormat& format) const {
    const Step& step = model();
    if (step.bytes == 0) return {};
    const std::uint64_t count = this->count(skipped, format);
    const SilentStep twin{format.silentStep(step.frames), step.duration};
    if (twin.frames.empty()) return {};
    std::vector<SilentStep> steps(count, twin);
    std::vector<std::int32_t> other;
    double otherDuration = 0.0;
    if (step.frames.size() != 1 ||
        !format.otherSize(step.frames[0], step.duration, other, otherDuration)) {
        return steps;
    }
    // Of `count` frames, how many at the other size make up exactly `skipped` bytes.
    const auto difference =
        static_cast<std::int64_t>(skipped) - static_cast<std::int64_t>(count * step.bytes);
    const std::int64_t change =
        static_cast<std::int64_t>(other.size()) - static_cast<std::int64_t>(step.bytes);
    if (change == 0 || difference % change != 0 || difference / change < 0 ||
        difference / change > static_cast<std::int64_t>(count)) {
        return steps;
    }
    const SilentStep otherTwin{{format.silentFrame(other)}, otherDuration};
    for (std::int64_t i = 0; i < difference / change; ++i)
        steps[static_cast<std::size_t>(i)] = otherTwin;
    return steps;
}

void Replacements::remember(const std::vector<std::int32_t>& frame, const FrameFormat& format) {
    const std::size_t kind = format.kindOf(frame);
    if (kind >= format.kinds()) return;
    if (last.size() < format.kinds()) last.resize(format.kinds());
    last[kind].assign(frame.begin(),
                      frame.begin() + static_cast<std::ptrdiff_t>(std::min(frame.size(), kept)));
}

std::vector<std::int32_t> Replacements::silentFor(const std::vector<std::int32_t>& damaged,
                                                  const FrameFormat& format) const {
    const std::size_t kind = format.kindOf(damaged);
    if (kind >= last.size() || last[kind].empty()) return format.silentFrame(damaged);
    const std::vector<std::int32_t> reference = format.replacementReference(damaged, last[kind]);
    if (reference.empty()) return format.silentFrame(damaged);
    // A twin of the damaged frame's own header would carry the damage into the stream.
    return format.silentFrame(reference);
}
