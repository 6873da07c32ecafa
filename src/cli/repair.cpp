#include "cli/repair.h"

#include <algorithm>
#include <cstdint>

#include "stream/frame_reader.h"
#include "stream/silent_frame.h"

void StepModel::add(const std::vector<std::int32_t>& bytes, bool steps, double duration) {
    if (steps) {
        std::swap(current, last);
        current.frames.clear();
        current.duration = duration;
        current.bytes = 0;
    }
    current.frames.push_back(bytes);
    current.bytes += bytes.size();
}

const StepModel::Step& StepModel::model() const {
    return last.frames.size() > current.frames.size() && last.duration > 0.0 ? last : current;
}

namespace {

// The same AC-3 frame at the other size of its rate at 44.1 kHz: odd frame size codes have
// one word more than even ones. Its stream information stays as it was.
std::vector<std::int32_t> otherPadding(std::vector<std::int32_t> frame) {
    const bool padded = (frame[4] & 1) != 0;
    frame[4] ^= 1;
    frame.resize(frame.size() + (padded ? -2 : 2), 0);
    return frame;
}

bool ac3At44k1(const std::vector<std::int32_t>& frame) {
    return frame.size() > 5 && !eac3Frame(frame) && (frame[4] >> 6) == 1;
}

}  // namespace

std::vector<StepModel::SilentStep> StepModel::fill(std::uint64_t skipped) const {
    const Step& step = model();
    if (step.bytes == 0) return {};
    const std::uint64_t count = (2 * skipped + step.bytes) / (2 * step.bytes);
    const SilentStep twin{silentStep(step.frames), step.duration};
    if (twin.frames.empty()) return {};
    std::vector<SilentStep> steps(count, twin);
    if (step.frames.size() != 1 || !ac3At44k1(step.frames[0])) return steps;
    // Of `count` frames, how many at the other size make up exactly `skipped` bytes.
    const std::vector<std::int32_t> other = otherPadding(step.frames[0]);
    const auto difference =
        static_cast<std::int64_t>(skipped) - static_cast<std::int64_t>(count * step.bytes);
    const std::int64_t change =
        static_cast<std::int64_t>(other.size()) - static_cast<std::int64_t>(step.bytes);
    if (difference % change != 0 || difference / change < 0 ||
        difference / change > static_cast<std::int64_t>(count)) {
        return steps;
    }
    const SilentStep otherTwin{
        {silentFrame(other)},
        step.duration * static_cast<double>(other.size()) / static_cast<double>(step.bytes)};
    for (std::int64_t i = 0; i < difference / change; ++i)
        steps[static_cast<std::size_t>(i)] = otherTwin;
    return steps;
}

namespace {

// Which of the kinds a whole frame is; SIZE_MAX for one of none (E-AC-3 strmtyp 3).
std::size_t kindOf(const std::vector<std::int32_t>& frame) {
    if (!eac3Frame(frame)) return 0;
    const auto strmtyp = static_cast<std::size_t>(frame[2] >> 6);
    const auto substreamid = static_cast<std::size_t>((frame[2] >> 3) & 0x07);
    return strmtyp < 3 ? 1 + strmtyp * 8 + substreamid : SIZE_MAX;
}

}  // namespace

void Replacements::remember(const std::vector<std::int32_t>& frame) {
    const std::size_t kind = kindOf(frame);
    if (kind >= kinds) return;
    last[kind].assign(frame.begin(),
                      frame.begin() + static_cast<std::ptrdiff_t>(std::min(frame.size(), kept)));
}

std::vector<std::int32_t> Replacements::silentFor(const std::vector<std::int32_t>& damaged) const {
    const std::size_t kind = kindOf(damaged);
    if (kind >= kinds || last[kind].empty()) return silentFrame(damaged);
    const std::vector<std::int32_t>& good = last[kind];
    std::vector<std::int32_t> reference(
        good.begin(),
        good.begin() + static_cast<std::ptrdiff_t>(std::min(good.size(), damaged.size())));
    reference.resize(damaged.size(), 0);
    if (kind == 0) {
        reference[4] = damaged[4];  // fscod, frmsizecod
    } else {
        // How the stream information reads depends on fscod and the number of blocks: a frame
        // that differs from the good one there keeps its own header.
        if ((damaged[4] >> 4) != (good[4] >> 4)) return silentFrame(damaged);
        reference[2] = damaged[2];  // strmtyp, substreamid, frmsiz
        reference[3] = damaged[3];
    }
    std::vector<std::int32_t> twin = silentFrame(reference);
    return twin.empty() ? silentFrame(damaged) : twin;
}
