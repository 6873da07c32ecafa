// The walk of a cut for a format that cuts on samples: each output of the plan, piece by
// piece, copied from the input or made silent, between the header and trailer the format
// makes for it. A seekable input is read only where something is kept.
#pragma once

#include <string>

#include "cli/cut.h"
#include "cli/plan.h"
#include "cli/progress_line.h"
#include "platform/file_io.h"
#include "stream/bit_reader.h"
#include "stream/frame_format.h"

// Where the outputs go: `name` (numbered as the plan says), the first one's handle kept in
// `firstHandle`; `input` is the input's handle, which no output may be.
struct SampleOutputs {
    const std::string& name;
    platform::FileHandle& firstHandle;
    platform::FileHandle input;
    ProgressLine& progress;
};

// `input` is the reader `format` reads from.
CutResult cutSamples(FrameFormat& format, const BitReader& input, const CutOptions& options,
                     const Plan& plan, const SampleOutputs& outputs, CutEvents& events);
