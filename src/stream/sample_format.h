// What the formats that cut on samples share: the walk of frames, repair's twins and the
// search after junk are not theirs, so these answers stand for them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stream/frame_format.h"

class SampleFormat : public FrameFormat {
public:
    using FrameFormat::FrameFormat;

    // No search for a sync word after junk: the file's header says where the samples are.
    bool resync() override { return false; }
    bool frameAt(std::uint64_t) override { return false; }
    std::size_t kinds() const override { return 1; }
    std::size_t kindOf(const Frame&) const override { return 0; }
    Frame replacementReference(const Frame&, const Frame& good) const override { return good; }
    bool cutsOnSamples() const override { return true; }
};
