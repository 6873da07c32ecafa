#include "cli/repair.h"

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

std::vector<std::vector<std::int32_t>> StepModel::twins() const {
    std::vector<std::vector<std::int32_t>> made;
    for (const std::vector<std::int32_t>& frame : model().frames) {
        made.push_back(silentFrame(frame));
        if (made.back().empty()) return {};
    }
    return made;
}

std::uint64_t StepModel::stepsFor(std::uint64_t skipped) const {
    const std::uint64_t bytes = model().bytes;
    return bytes == 0 ? 0 : (2 * skipped + bytes) / (2 * bytes);
}
