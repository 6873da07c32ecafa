#include "stream/frame_stream.h"

#include "stream/ac3/frame_reader.h"
#include "stream/adts/adts.h"
#include "stream/dts/dts.h"
#include "stream/flac/flac_format.h"
#include "stream/mp3/mp3_format.h"
#include "stream/mpeg_audio/mpeg_audio.h"
#include "stream/pcm/pcm_format.h"

namespace {

template <typename Format>
std::unique_ptr<FrameFormat> make(BitReader& reader) {
    return std::make_unique<Format>(reader);
}

// The longest sync word of any format, in bytes.
constexpr std::size_t syncBytes = 4;

}  // namespace

const std::vector<FormatRow>& knownFormats() {
    static const std::vector<FormatRow> rows = {
        {FrameReader::startsFrame, make<FrameReader>, true},           // AC-3 and E-AC-3: 0x0B77
        {AdtsFormat::startsFrame, make<AdtsFormat>, false},            // 12 set bits, layer 00
        {Mp3Format::startsFrame, make<Mp3Format>, true},               // 11 set bits, 01; ID3
        {MpegAudioFormat::startsFrame, make<MpegAudioFormat>, false},  // 11 set bits
        {DtsFormat::startsFrame, make<DtsFormat>, true},               // 0x7FFE8001, 0x64582025
        {PcmFormat::startsFrame, make<PcmFormat>, true},               // RIFF, RF64, BW64, riff
        {FlacFormat::startsFrame, make<FlacFormat>, true},             // fLaC, ID3, OggS
    };
    return rows;
}

FrameStream::FrameStream(BitReader& reader, const std::vector<FormatRow>& rows)
    : reader(reader), rows(rows), formats(rows.size()) {
    std::size_t size = syncBytes;
    const std::uint64_t at = reader.offset();
    const std::uint8_t* first = reader.recentUpTo(at, size);
    for (std::size_t row = 0; first != nullptr && row < rows.size(); ++row) {
        if (rows[row].startsFrame(first, size)) {
            current = &formatOf(row);
            known = true;
            // A tag or container that holds none of this format after all: the rows after
            // it are asked, and where none matches, as if no row had.
            if (current->readFileHeader() || current->stop() != FrameFormat::Stop::noSyncWord) {
                return;
            }
            reader.jumpTo(at);
        }
    }
    current = &formatOf(0);
    known = false;
}

FrameFormat& FrameStream::formatOf(std::size_t row) {
    if (!formats[row]) formats[row] = rows[row].make(reader);
    return *formats[row];
}

bool FrameStream::resync() {
    if (known) return current->resync();
    return searchEveryFormat();
}

bool FrameStream::searchEveryFormat() {
    std::uint64_t candidate = current->frameOffset() + 1;
    const auto anyFormat = [this](const std::uint8_t* bytes) {
        for (const FormatRow& row : rows) {
            if (row.startsFrame(bytes, syncBytes)) return true;
        }
        return false;
    };
    while (reader.seek(candidate) && !reader.atEnd()) {
        candidate = reader.firstPassing(anyFormat);
        if (!reader.seek(candidate)) return false;
        // A format whose frames cannot start with these bytes is not tried.
        std::size_t size = syncBytes;
        const std::uint8_t* first = reader.recentUpTo(candidate, size);
        for (std::size_t row = 0; row < rows.size(); ++row) {
            if (first != nullptr && !rows[row].startsFrame(first, size)) continue;
            FrameFormat& format = formatOf(row);
            const bool found = format.frameAt(candidate) &&
                               (rows[row].countsAlone || twoFramesAt(format, candidate));
            if (reader.readFailed()) return false;
            if (found) {
                reader.seek(candidate);
                current = &format;
                known = true;
                return true;
            }
        }
        ++candidate;
    }
    return false;
}

bool FrameStream::twoFramesAt(FrameFormat& format, std::uint64_t candidate) {
    return reader.seek(candidate) && format.readFrame() && format.readFrame();
}
