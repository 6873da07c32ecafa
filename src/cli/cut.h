// The walk of one cut: the clock, the steps handed to the plan, checks and repair,
// resynchronising, and how the walk ended. It knows no stream format and prints nothing: it
// returns what happened, and says what it has to say on the way through CutEvents.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/plan_writer.h"
#include "stream/bit_reader.h"
#include "stream/frame_stream.h"

struct CutOptions {
    bool resync = false;  // go on after a spot that is not a whole, valid frame
    bool check = false;   // check every frame walked against its CRCs
    bool repair = false;  // with check and resync: silence for damaged frames and lost bytes
    bool core = false;    // copy only the frames that step the clock
};

enum class CutEnd {
    windowComplete,    // the plan's last step was taken with the frames that go with it
    endOfInput,        // the input ended (cleanly or not: see CutResult::readFailed)
    badSpot,           // something that is not a whole, valid frame, before the window's end
    outputNotCreated,  // the output file could not be created
    writeFailed,       // a write to the output file failed
    unsupported,       // the first frame is of a kind the program does not cut
};

struct CutResult {
    CutEnd end = CutEnd::endOfInput;
    bool anyFrame = false;       // the walk met at least one whole frame
    bool readFailed = false;     // the input ended through a read error
    bool windowReached = false;  // the clock reached the window's start
    double time = 0.0;           // the clock when the walk stopped
    // CutEnd::badSpot: where the spot starts, why it is no frame, and how much input followed.
    std::uint64_t badSpotOffset = 0;
    std::string badSpotReason;
    std::uint64_t unread = 0;
    bool unreadAtLeast = false;  // an input of unknown size (a pipe): more may follow
    DelayResult delay;
    CopiedSpan copied;
    std::uint64_t checked = 0;      // frames checked against their CRCs
    std::uint64_t failed = 0;       // of them, frames that failed
    std::uint64_t misnumbered = 0;  // of those, frames numbered out of turn
    std::uint64_t misplaced = 0;    // of those, frames whose main data is not where it may be
    std::string unchecked;          // said once when frames checked carried no CRC
    bool repaired = false;          // a frame was replaced, or lost bytes were filled
    bool core = false;              // only the core was kept:
    std::uint64_t coreFrames = 0, coreBytes = 0;  // the extensions left out
    std::vector<std::uint64_t> notMuted;  // muted frames too short for a twin, kept as they were
    std::uint64_t silenceLeftOut = 0;     // a plan's silent steps that could not be made
    std::string failedOutput;             // of a plan's outputs, the one that failed
    std::vector<PlacedRange> placed;      // where a plan's ranges went
    // Of a format that cuts on samples: a window that holds none, what is wrong with the
    // samples as a whole, what --verbose says of the file's header, and notices about outputs.
    bool emptyWindow = false;
    std::string damage;
    std::vector<std::string> headerNotes, outputNotes;

    bool outputFailed() const {
        return end == CutEnd::outputNotCreated || end == CutEnd::writeFailed;
    }
};

// What the walk has to say while it goes, in stream order.
class CutEvents {
public:
    virtual ~CutEvents() = default;
    // The first frame was read: what stream it starts, in words.
    virtual void formatFound(const std::string& /*description*/) {}
    // With resync: `count` bytes at `offset` were skipped; the frames before them are written.
    virtual void skipped(std::uint64_t offset, std::uint64_t count, const std::string& reason) = 0;
    // The frame at `offset`, whose step ends at `end` seconds, fails its CRC check.
    virtual void crcFailed(std::uint64_t offset, double end) = 0;
    // With repair: that frame was replaced by a silent one, or left out when none could be
    // made, for the reason `why`.
    virtual void replaced(std::uint64_t offset, double end, bool withSilence,
                          const std::string& why) = 0;
    // With repair: `steps` silent steps of `seconds` in all stand for `count` bytes skipped at
    // `offset`; `framePerStep`: each step is one frame; `estimate`: the steps are as many as
    // the bytes hold at the stream's mean frame length.
    virtual void filled(double seconds, std::uint64_t steps, bool framePerStep, std::uint64_t count,
                        std::uint64_t offset, bool estimate) = 0;
    // Of a format numbered frame by frame: the frame at `offset` carries `number` where `due`
    // came next.
    virtual void misnumbered(std::uint64_t /*offset*/, double /*end*/, std::uint64_t /*number*/,
                             std::uint64_t /*due*/) {}
    // The frame at `offset` breaks a rule of its format other than its CRC, as `what` says.
    virtual void frameFault(std::uint64_t /*offset*/, double /*end*/, const std::string& /*what*/) {
    }
    // With repair: `count` samples, `seconds` long, that the numbers say are missing before
    // the frame at `offset` were filled with silence.
    virtual void filledSamples(double /*seconds*/, std::uint64_t /*count*/,
                               std::uint64_t /*offset*/) {}
};

// Walks the frames from the reader's position and hands every time step to `plan`, which
// puts it where it goes and shows its progress line, up to the plan's last step.
CutResult cut(FrameStream& frames, BitReader& input, const CutOptions& options, PlanWriter& plan,
              CutEvents& events);
