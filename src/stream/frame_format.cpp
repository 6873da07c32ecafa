#include "stream/frame_format.h"

#include <algorithm>

bool FrameFormat::resync() {
    // Every later byte is a candidate start. Trying one goes at most a frame and a sync word
    // ahead, which the reader can always step back over.
    std::uint64_t candidate = start + 1;
    while (reader.seek(candidate) && !reader.atEnd()) {
        // No frame starts where the sync test fails.
        candidate = reader.firstPassing(
            [this](const std::uint8_t* bytes) { return mayStartFrame(bytes, 4); });
        if (!reader.seek(candidate)) return false;
        if (mayStartAt(candidate) && frameAt(candidate)) {
            reader.seek(candidate);
            return true;
        }
        if (reader.readFailed()) return false;
        ++candidate;
    }
    return false;
}

FrameFormat::Frames FrameFormat::silentStep(const Frames& frames) const {
    Frames twins;
    for (const Frame& frame : frames) {
        twins.push_back(silentFrame(frame));
        if (twins.back().empty()) return {};
    }
    return twins;
}

std::string FrameFormat::commonStopReason() const {
    switch (stopped) {
        case Stop::noSyncWord:
            return "no sync word";
        case Stop::cutShort:
            return "a frame cut short by the end of the input";
        default:
            return "the end of the input";
    }
}

bool FrameFormat::writeSilence(std::uint64_t count, const ByteSink& out) {
    const std::uint64_t blockAlign = std::max<std::uint64_t>(silence(1).size(), 1);
    // In blocks of 16 KiB or one sample frame.
    const std::uint64_t most = std::max<std::uint64_t>(16384 / blockAlign, 1);
    const std::vector<std::uint8_t> block = silence(std::min(count, most));
    for (std::uint64_t left = count; left > 0;) {
        const std::uint64_t n = std::min(left, most);
        if (!out(block.data(), static_cast<std::size_t>(n * blockAlign))) return false;
        left -= n;
    }
    return true;
}

bool FrameFormat::otherSize(const Frame&, double, Frame&, double&) const { return false; }

std::string kilohertz(std::int32_t rate) {
    std::string text = std::to_string(rate / 1000);
    std::string fraction = std::to_string(rate % 1000 + 1000).substr(1);
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    if (!fraction.empty()) text += "." + fraction;
    return text + " kHz";
}
