// What the walk, the plans, repair and silent frames need of a stream format: one class per
// format reads its frames from the input behind this interface; frame_stream.cpp picks it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "stream/bit_reader.h"

// What an output of a format with a file header holds, for its header: known in full when the
// output is closed, and planned when it is created.
struct OutputFacts {
    std::uint64_t samples = 0;         // sample frames in the output, silence included
    std::uint64_t firstSample = 0;     // the input's sample that the output's first copied one is
    std::uint64_t silenceInFront = 0;  // zero samples before that one
    // What was planned when the output was created, which both headers follow in their
    // layout: its sample frames, or sizeKnown false when it runs to an end not known then.
    std::uint64_t planned = 0;
    bool sizeKnown = true;
};

// One piece of an output of a format that cuts on samples: the input's samples from `from`
// on, or zero samples.
struct SamplePiece {
    static constexpr std::uint64_t toEnd = std::numeric_limits<std::uint64_t>::max();
    bool silence = false;
    std::uint64_t from = 0;
    std::uint64_t count = 0;  // toEnd: up to the end of the input
    // Of a window: a format whose seams fall on frames keeps the frames the window rule keeps.
    bool window = false;
};

// What a format that cuts on samples and carries checks meets as it reads, for --check,
// --resync and --repair. Samples are the input's, counted from its first.
class SampleEvents {
public:
    virtual ~SampleEvents() = default;
    // The frame at `offset`, which ends before sample `end`, fails its CRC.
    virtual void crcFailed(std::uint64_t offset, std::uint64_t end) = 0;
    // Its number is `number` where `due` was called for.
    virtual void misnumbered(std::uint64_t offset, std::uint64_t end, std::uint64_t number,
                             std::uint64_t due) = 0;
    // The frame at `offset` breaks a rule of its format other than its CRC, as `what` says
    // ("has main data that runs 3 bytes past its slot").
    virtual void badFrame(std::uint64_t offset, std::uint64_t end, const std::string& what) = 0;
    // With repair: that frame's samples are silence.
    virtual void replaced(std::uint64_t offset, std::uint64_t end) = 0;
    // With repair: `count` samples that the frames' numbers say are missing before the frame
    // at `offset` are silence.
    virtual void filled(std::uint64_t offset, std::uint64_t count) = 0;
    // With resync: `count` bytes at `offset` were skipped, for `reason`.
    virtual void skipped(std::uint64_t offset, std::uint64_t count, const std::string& reason) = 0;
};

// How a format that cuts on samples treats frames that fail their checks.
struct SampleChecks {
    bool check = false, resync = false, repair = false;
    SampleEvents* events = nullptr;
};

class FrameFormat {
public:
    // One element per byte (0 to 255), in stream order.
    using Frame = std::vector<std::int32_t>;
    using Frames = std::vector<Frame>;

    // Why the last readFrame() returned false.
    enum class Stop {
        none,
        endOfInput,     // nothing was left to read
        noSyncWord,     // the next bytes are not the format's sync word
        reservedValue,  // a header value that is reserved or impossible
        cutShort,       // the end of the input came inside the frame
        unsupported,    // a frame of a kind the program does not cut (see stopReason())
    };

    // The first bytes of a frame of a format (`size` of them are there, at least 2).
    using SyncTest = bool (*)(const std::uint8_t* bytes, std::size_t size);

    // `reader` is borrowed and must outlive this object. `sync`, when given, is a quick test
    // that every frame passes, so that a search need not read a frame at every byte.
    explicit FrameFormat(BitReader& reader, SyncTest sync = nullptr) : reader(reader), sync(sync) {}
    virtual ~FrameFormat() = default;
    FrameFormat(const FrameFormat&) = delete;
    FrameFormat& operator=(const FrameFormat&) = delete;

    // Reads the next frame. True when all of its bytes came from the input; false at the end
    // of the input, at a truncated frame, at anything that is not a sync word, and at a
    // reserved or impossible header value (see stop()).
    virtual bool readFrame() = 0;
    // After a readFrame() that stopped at something other than the end of the input: moves
    // to the first later offset where frameAt() holds, so that readFrame() reads that frame
    // next. False when none follows (the reader is then at the end of the input).
    virtual bool resync();
    // The `size` bytes (4, or fewer at the end of the input) may start a frame (see sync).
    bool mayStartFrame(const std::uint8_t* bytes, std::size_t size) const {
        return sync == nullptr || sync(bytes, size);
    }
    // A valid, whole frame starts at `candidate` and is followed by a sync word or ends
    // exactly at the end of the input. Leaves the reader anywhere after `candidate`.
    virtual bool frameAt(std::uint64_t candidate) = 0;
    // What stopped the walk, in words: "no sync word", "reserved fscod 3", ...
    virtual std::string stopReason() const = 0;
    // The error checks of the frame last read hold; true for a frame that carries none.
    virtual bool crcsHold() const = 0;
    // The frame last read carries error checks; for one that does not, noCrcNotice() is
    // what --check says of the stream, once.
    virtual bool carriesCrc() const { return true; }
    virtual std::string noCrcNotice() const { return ""; }
    // Frames of one stream vary in length, so that lost bytes tell the lost time only
    // roughly (AAC's variable bit rate).
    virtual bool lengthsVary() const { return false; }
    // Frames play alongside the steps of this format, which --core can leave out.
    virtual bool hasExtensions() const { return false; }
    // The format's name: "MPEG audio".
    virtual const char* name() const = 0;
    // The stream the frame last read starts, for --verbose: "AC-3, 48 kHz, 5.1".
    virtual std::string describe() const = 0;

    // A silent twin of `reference`, a whole frame of this format: the same length and
    // header, valid error checks, audio that decodes to zeros. Empty when it cannot hold one.
    virtual Frame silentFrame(const Frame& reference) const = 0;
    // Silent twins of every frame of a time step, in order; empty when any of them has none.
    virtual Frames silentStep(const Frames& frames) const;
    // Why a damaged frame that has no silent twin is left out rather than replaced.
    virtual std::string noTwinReason(const Frame&) const {
        return "it is too short to hold a silent frame";
    }
    // Damaged frames are replaced by twins modelled on the last good frame of their kind.
    // kindOf() is below kinds(), or kinds() or more for a frame of no kind.
    virtual std::size_t kinds() const = 0;
    virtual std::size_t kindOf(const Frame& frame) const = 0;
    // The frame a twin for `damaged` is made from: the header of `good`, a frame of the same
    // kind, with the fields of `damaged` that the walk trusted (its length and its time).
    // Empty when `damaged` must keep its own header.
    virtual Frame replacementReference(const Frame& damaged, const Frame& good) const = 0;
    // The same frame at the other size a step of its length comes in (a padding slot or word),
    // and how long that one plays, given that `frame` plays `duration`. False for none.
    virtual bool otherSize(const Frame& frame, double duration, Frame& other,
                           double& otherDuration) const;

    // Two abilities that a format may have; the others keep these answers.
    //
    // A file header before the first frame, which describes the whole file. Read once, when
    // the format is picked: false, with stop() and stopReason() saying why, when it is no
    // header the format can cut. Each output gets a header made from it, written when the
    // output is created and again, complete, when it is closed; the header's length is the
    // same both times. The trailer follows the output's last sample.
    virtual bool readFileHeader() { return true; }
    virtual std::vector<std::uint8_t> outputHeader(const OutputFacts&) const { return {}; }
    virtual std::vector<std::uint8_t> outputTrailer(const OutputFacts&) const { return {}; }
    // What --verbose says of the header: chunks left out, sizes that were not known.
    virtual std::vector<std::string> headerNotes() const { return {}; }
    // A notice for an output as closed (an output that outgrew its header's kind), or "".
    virtual std::string outputNote(const OutputFacts&) const { return ""; }
    //
    // Seams on samples rather than on frames: every seam falls on the sample it names, and
    // the format makes the part of its frames that a seam keeps.
    virtual bool cutsOnSamples() const { return false; }
    virtual std::int32_t sampleRate() const { return 0; }
    // The input's sample frames; `known` false when the input runs to an end not known yet.
    virtual std::uint64_t sampleCount(bool& known) const {
        known = false;
        return 0;
    }
    // An output is about to be written, with these pieces: a format that holds samples back
    // between pieces starts afresh.
    virtual void beginOutput(const std::vector<SamplePiece>& /*pieces*/) {}
    // Takes the samples it copies, as bytes, with the input's sample after the last of them;
    // false stops the copy.
    using SampleSink =
        std::function<bool(const std::uint8_t* bytes, std::size_t count, std::uint64_t nextSample)>;
    // Copies `count` samples from `first` on into `out`: the number copied, fewer at the end
    // of the input or when `out` stopped it.
    virtual std::uint64_t copySamples(std::uint64_t /*first*/, std::uint64_t /*count*/,
                                      const SampleSink& /*out*/) {
        return 0;
    }
    // Of the piece copied last: how many samples later in the output than planned its first
    // sample plays (a format whose seams fall on frames).
    virtual std::int64_t placedShift() const { return 0; }
    // `count` samples of silence, as the output holds them.
    virtual std::vector<std::uint8_t> silence(std::uint64_t /*count*/) const { return {}; }
    // Takes bytes of an output; false stops the writing.
    using ByteSink = std::function<bool(const std::uint8_t* bytes, std::size_t count)>;
    // Writes `count` samples of silence into `out`: by default in blocks of silence(), so that
    // a long silence needs no more memory. False when `out` stopped it.
    virtual bool writeSilence(std::uint64_t count, const ByteSink& out);
    // The output's last samples, which the format held back: written when it is closed.
    virtual bool endOutput(const ByteSink& /*out*/) { return true; }
    // For --check: what is wrong with the samples as a whole ("" for nothing).
    virtual std::string sampleDamage() const { return ""; }
    // For a format whose frames carry checks: what to do with those that fail, and the
    // frames read so far.
    virtual void watch(const SampleChecks& /*checks*/) {}
    virtual std::uint64_t framesChecked() const { return 0; }

    // Playing time in seconds of the frame last read.
    double frameDuration() const { return duration; }
    // The frame last read moves the clock; the frames after it, up to the next that does,
    // play alongside it.
    bool stepsClock() const { return steps; }
    // The frame last read.
    Frame bytes() const { return frameBytes; }
    std::size_t byteCount() const { return frameBytes.size(); }
    // The same elements as bytes(), without the copy.
    const Frame& frameData() const { return frameBytes; }
    // Where in the input the frame last read, or the spot that stopped the walk, begins.
    std::uint64_t frameOffset() const { return start; }
    Stop stop() const { return stopped; }

protected:
    // stopReason() for the stops that every format words alike: the end of the input, no
    // sync word, a frame cut short.
    std::string commonStopReason() const;
    // The frame just read ends the input, or the next two bytes pass `sync`: how a frame found
    // by a search must be followed.
    bool followedBy(bool (*sync)(const std::uint8_t* bytes, std::size_t size)) const {
        const std::uint8_t* next = reader.recent(reader.offset(), 2);
        return reader.atEnd() || (next != nullptr && sync(next, 2));
    }
    // The bytes at `candidate` may start a frame (see mayStartFrame).
    bool mayStartAt(std::uint64_t candidate) const {
        std::size_t size = 4;
        const std::uint8_t* bytes = reader.recentUpTo(candidate, size);
        return bytes == nullptr || mayStartFrame(bytes, size);
    }
    bool fail(Stop why) {
        stopped = why;
        return false;
    }

    BitReader& reader;
    SyncTest sync;
    std::uint64_t start = 0;
    Stop stopped = Stop::none;
    Frame frameBytes;
    double duration = 0.0;
    bool steps = false;
};

// "48 kHz", "44.1 kHz", "22.05 kHz".
std::string kilohertz(std::int32_t rate);
