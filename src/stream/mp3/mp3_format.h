// MP3: MPEG audio Layer III, whose frames take their main data from the slots of the frames
// before them (the bit reservoir). Outputs are laid out so that every frame finds its main
// data. With a LAME tag, which gapless decoders honour, every output plays exactly the
// samples it names: it gets an Info frame with its own delay and padding, priming frames and
// the frames the decoder's delay needs after it. Without one, seams fall on whole frames.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "stream/mp3/mp3_info.h"
#include "stream/mp3/mp3_reservoir.h"
#include "stream/mp3/mp3_walk.h"
#include "stream/sample_format.h"

class Mp3Format final : public SampleFormat {
public:
    explicit Mp3Format(BitReader& reader) : SampleFormat(reader), walk(reader) {}
    // A Layer III frame header, or an ID3v2 tag that may stand before one.
    static bool startsFrame(const std::uint8_t* bytes, std::size_t size);

    // The tags, the header frame and the first audio frame. False with Stop::noSyncWord
    // where an ID3v2 tag holds no Layer III frame after it.
    bool readFileHeader() override;
    bool readFrame() override;
    std::string stopReason() const override;
    bool crcsHold() const override { return walk.next() == 0 || lastFault().empty(); }
    // The reservoir's rules are checked for every frame; the CRC where there is one.
    bool carriesCrc() const override { return true; }
    std::string noCrcNotice() const override;
    const char* name() const override { return "MP3"; }
    // "MPEG-1 Layer III, 44.1 kHz, VBR, LAME3.100 tag: delay 576, padding 1236".
    std::string describe() const override;
    Frame silentFrame(const Frame& reference) const override;

    std::vector<std::uint8_t> outputHeader(const OutputFacts& facts) const override;
    std::vector<std::uint8_t> outputTrailer(const OutputFacts&) const override { return tail; }
    std::vector<std::string> headerNotes() const override { return notes; }
    std::int32_t sampleRate() const override { return rate; }
    std::uint64_t sampleCount(bool& known) const override;
    void beginOutput(const std::vector<SamplePiece>& pieces) override;
    std::uint64_t copySamples(std::uint64_t first, std::uint64_t count,
                              const SampleSink& out) override;
    std::int64_t placedShift() const override { return shifted; }
    bool writeSilence(std::uint64_t count, const ByteSink& out) override;
    bool endOutput(const ByteSink& out) override;
    void watch(const SampleChecks& how) override;
    std::uint64_t framesChecked() const override { return checkedTo; }

private:
    void readTail(std::uint64_t audioStart);
    void readEnd(std::uint64_t total, std::uint64_t count, std::vector<std::uint8_t>& end);
    bool findFirstFrame(std::uint64_t from);
    void readInfo(const std::uint8_t* firstHeader);
    const std::string& lastFault() const { return walk.frame(walk.next() - 1).fault; }
    bool readNext();
    bool reach(std::uint64_t index);
    void report(const mp3::SeenFrame& frame, std::uint64_t index);
    std::int64_t sampleAtEnd(std::uint64_t index) const;
    std::int64_t gaplessTail() const;
    std::int64_t firstFrameOf(std::uint64_t from, std::uint32_t& primed) const;
    bool startRun(std::int64_t index, const SampleSink& out);
    void carrierFor(bool fewest, std::uint8_t* carrier) const;
    std::int64_t copyRun(std::int64_t index, std::int64_t end, const SampleSink& out);
    mp3::ReservoirWriter::Sink sinkFor(const SampleSink& out, std::uint64_t index) const;
    std::uint64_t finishPiece(std::uint64_t copied, std::uint64_t planned);
    std::int64_t framesUntil(std::int64_t idealEnd, bool lastPiece) const;
    std::int64_t outputPosition() const;
    // The piece being written is a window's, whose frames the window rule picks.
    bool windowPiece() const { return piece < pieces.size() && pieces[piece].window; }

    mp3::FrameWalk walk;
    mp3::InfoFrame info;
    std::vector<std::uint8_t> head, tail;  // the tags before and after the frames
    std::vector<std::string> notes;
    std::string fault;
    std::uint64_t audioEnd = 0;   // where the tags after the frames start
    std::uint8_t header[4] = {};  // the first audio frame's, for silent frames
    std::int32_t rate = 0;
    std::int64_t perFrame = 0;  // samples
    std::uint32_t primes = 1;   // frames a decoder needs before the first it plays exactly
    std::int64_t offset = 0;    // the decoded sample that the input's sample 0 is
    bool gapless = false;
    std::vector<std::uint8_t> reservoir;
    SampleChecks checks;
    std::uint64_t checkedTo = 0;  // frames checked

    // The output being written.
    std::vector<SamplePiece> pieces;
    std::size_t piece = 0;
    mp3::ReservoirWriter writer;
    std::int64_t outOffset = 0;  // the decoded sample that its sample 0 is
    std::int64_t ideal = 0;      // where the plan puts the next piece, in its samples
    std::int64_t samples = 0;    // the samples it plays in a gapless decoder
    std::int64_t shifted = 0;    // see placedShift()
};
