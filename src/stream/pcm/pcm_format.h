// PCM in WAV, RF64, BW64 and Wave64 files: integer or float samples after a header of chunks.
// Every seam falls on the sample it names, and an output is the same kind of file as its input.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "stream/sample_format.h"
#include "stream/pcm/wav_header.h"

class PcmFormat final : public SampleFormat {
public:
    explicit PcmFormat(BitReader& reader) : SampleFormat(reader) {}
    // RIFF, RF64, BW64 or Wave64's "riff".
    static bool startsFrame(const std::uint8_t* bytes, std::size_t size);

    // Also refuses data that holds a compressed stream (S/PDIF bursts, 14-bit DTS).
    bool readFileHeader() override;
    // A frame is a block of up to 4096 sample frames; each steps the clock.
    bool readFrame() override;
    std::string stopReason() const override;
    bool crcsHold() const override { return true; }
    bool carriesCrc() const override { return false; }
    std::string noCrcNotice() const override {
        return "PCM carries no check of its samples: only its header and the length of its data "
               "were checked";
    }
    const char* name() const override { return "PCM"; }
    // "PCM in WAV, 48 kHz, 6 channels, 24-bit integer".
    std::string describe() const override;
    Frame silentFrame(const Frame& reference) const override;

    std::vector<std::uint8_t> outputHeader(const OutputFacts& facts) const override;
    std::vector<std::uint8_t> outputTrailer(const OutputFacts& facts) const override;
    std::vector<std::string> headerNotes() const override;
    std::string outputNote(const OutputFacts& facts) const override;
    std::int32_t sampleRate() const override { return static_cast<std::int32_t>(header.rate); }
    std::uint64_t sampleCount(bool& known) const override;
    std::uint64_t copySamples(std::uint64_t first, std::uint64_t count,
                              const SampleSink& out) override;
    std::vector<std::uint8_t> silence(std::uint64_t count) const override;
    std::string sampleDamage() const override;

private:
    // The first second of the data holds a compressed stream: what it is, or "".
    std::string compressedData();
    std::uint8_t silentByte() const { return header.bits <= 8 ? 0x80 : 0x00; }
    bool roomFor(const OutputFacts& facts) const;

    wav::Header header;
    std::string fault;             // why the header is not one to cut
    std::uint64_t nextSample = 0;  // of readFrame()
};
