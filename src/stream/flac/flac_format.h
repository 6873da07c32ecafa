// FLAC: "fLaC", metadata blocks and frames of compressed samples. Every seam falls on the
// sample it names: the frames between seams are copied with their numbers made anew, and a
// frame a seam cuts through is decoded and the samples it keeps written as a new frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "stream/flac/flac_decoder.h"
#include "stream/flac/flac_frame_writer.h"
#include "stream/flac/flac_frames.h"
#include "stream/flac/flac_metadata.h"
#include "stream/sample_format.h"

class FlacFormat final : public SampleFormat {
public:
    explicit FlacFormat(BitReader& reader) : SampleFormat(reader), scanner(reader) {}
    // "fLaC", and the ID3v2 tag or Ogg page that may hold one.
    static bool startsFrame(const std::uint8_t* bytes, std::size_t size);

    // False with Stop::noSyncWord where the tag or page holds no FLAC stream after all.
    bool readFileHeader() override;
    // The frames one by one, each stepping the clock.
    bool readFrame() override;
    std::string stopReason() const override;
    bool crcsHold() const override { return scanner.crcError() == 0; }
    const char* name() const override { return "FLAC"; }
    // "FLAC, 48 kHz, 24-bit, 6 channels, fixed blocks of 4096".
    std::string describe() const override;
    Frame silentFrame(const Frame&) const override { return {}; }

    std::vector<std::uint8_t> outputHeader(const OutputFacts& facts) const override;
    std::vector<std::string> headerNotes() const override;
    std::int32_t sampleRate() const override {
        return static_cast<std::int32_t>(metadata.info.rate);
    }
    std::uint64_t sampleCount(bool& known) const override;
    void beginOutput(const std::vector<SamplePiece>& pieces) override;
    std::uint64_t copySamples(std::uint64_t first, std::uint64_t count,
                              const SampleSink& out) override;
    bool writeSilence(std::uint64_t count, const ByteSink& out) override;
    bool endOutput(const ByteSink& out) override;
    void watch(const SampleChecks& how) override { checks = how; }
    std::uint64_t framesChecked() const override { return checked; }

private:
    bool readOggPage();
    bool nextFrame();
    bool readOrSkip();
    bool stopWhereTheScannerStopped();
    void checkFrame();
    bool fillGap(std::uint64_t count, const flac::FrameWriter::Sink& out);
    bool goBack();
    bool put(std::uint64_t from, std::uint64_t count, const flac::FrameWriter::Sink& out);
    const std::int32_t* decoded();
    bool staysFixed(const std::vector<SamplePiece>& pieces) const;
    void dryCopy(flac::FrameWriter& dry, std::uint64_t at, std::uint64_t end) const;
    std::uint32_t blockSize() const;

    flac::Metadata metadata;
    flac::FrameScanner scanner;
    flac::FrameHeader first;  // the first frame's header
    bool haveFirst = true;
    std::uint64_t firstOffset = 0;
    std::uint64_t base = 0;  // the first frame's first sample, by its number
    std::string fault;
    bool haveFrame = false;      // the scanner holds a frame read
    std::uint64_t walkedTo = 0;  // the input's sample after the last frame read
    flac::FrameDecoder decoder;
    std::vector<std::int32_t> samples;  // the frame last decoded
    std::uint64_t decodedAt = ~std::uint64_t{0};
    bool decodedOk = false;
    flac::FrameWriter writer;
    SampleChecks checks;
    std::uint64_t checked = 0;
    std::uint64_t checkedTo = 0;                 // the input's offset after the last frame checked
    std::uint64_t mendedAt = ~std::uint64_t{0};  // the frame last reported replaced or filled
};
