#include "stream/frame_reader.h"

#include "stream/frame_crc.h"

namespace {

constexpr std::int32_t syncWord = 0x0B77;
// Sync word, then the syntax's own fields, then the byte that holds bsid.
constexpr int headerBytes = 6;

// ATSC A/52 frame size code table: 16-bit words per sync frame, by frmsizecod.
// Columns: 32 kHz, 44.1 kHz, 48 kHz. At 44.1 kHz an odd code is the padded frame.
constexpr std::int32_t wordsPerSyncframe[FrameReader::frameSizeCodes][3] = {
    {96, 69, 64},       {96, 70, 64},       {120, 87, 80},      {120, 88, 80},
    {144, 104, 96},     {144, 105, 96},     {168, 121, 112},    {168, 122, 112},
    {192, 139, 128},    {192, 140, 128},    {240, 174, 160},    {240, 175, 160},
    {288, 208, 192},    {288, 209, 192},    {336, 243, 224},    {336, 244, 224},
    {384, 278, 256},    {384, 279, 256},    {480, 348, 320},    {480, 349, 320},
    {576, 417, 384},    {576, 418, 384},    {672, 487, 448},    {672, 488, 448},
    {768, 557, 512},    {768, 558, 512},    {960, 696, 640},    {960, 697, 640},
    {1152, 835, 768},   {1152, 836, 768},   {1344, 975, 896},   {1344, 976, 896},
    {1536, 1114, 1024}, {1536, 1115, 1024}, {1728, 1253, 1152}, {1728, 1254, 1152},
    {1920, 1393, 1280}, {1920, 1394, 1280},
};

// Nominal bit rate in bits per second, by frmsizecod; codes 2k and 2k + 1 share a rate.
constexpr std::int32_t bitRates[FrameReader::frameSizeCodes] = {
    32000,  32000,  40000,  40000,  48000,  48000,  56000,  56000,  64000,  64000,
    80000,  80000,  96000,  96000,  112000, 112000, 128000, 128000, 160000, 160000,
    192000, 192000, 224000, 224000, 256000, 256000, 320000, 320000, 384000, 384000,
    448000, 448000, 512000, 512000, 576000, 576000, 640000, 640000,
};

}  // namespace

FrameReader::FrameReader(BitReader& reader) : reader(reader) {
    for (int code = 0; code < frameSizeCodes; ++code) {
        for (int column = 0; column < 3; ++column) {
            frameSizes[code][column] = wordsPerSyncframe[code][column] * 2;
        }
    }
}

bool FrameReader::headerKnown() const {
    if (isEac3()) {
        // strmtyp 3 and fscod2 3 are reserved; a frame holds at least its 8-byte header.
        return strmtyp != 3 && !(fscod == 3 && fscod2 == 3) && frmsiz >= 3;
    }
    // fscod 3 is reserved; the table has no column for it and no row past code 37.
    return fscod >= 0 && fscod <= 2 && frmsizecod >= 0 && frmsizecod < frameSizeCodes;
}

std::int32_t FrameReader::frameSize() const {
    if (isEac3()) return (frmsiz + 1) * 2;
    return frameSizes[frmsizecod][2 - fscod];
}

std::int32_t FrameReader::sampleRate() const {
    constexpr std::int32_t rates[3] = {48000, 44100, 32000};
    constexpr std::int32_t reducedRates[3] = {24000, 22050, 16000};
    return fscod == 3 ? reducedRates[fscod2] : rates[fscod];
}

std::int32_t FrameReader::audioBlocks() const {
    constexpr std::int32_t blocks[4] = {1, 2, 3, 6};
    return blocks[numblkscod];
}

bool FrameReader::stepsClock() const {
    return !isEac3() || ((strmtyp == 0 || strmtyp == 2) && substreamid == 0);
}

bool FrameReader::fail(Stop why) {
    stopped = why;
    return false;
}

bool FrameReader::readFrame() {
    frameBytes.clear();
    start = reader.offset();
    stopped = Stop::none;
    // The previous frame took the input's last byte: nothing is left to read.
    if (reader.atEnd()) return fail(Stop::endOfInput);

    frameBytes.push_back(reader.readByte());
    frameBytes.push_back(reader.readByte());
    syncword = frameBytes[0] * 256 + frameBytes[1];
    if (syncword != syncWord) {
        // A lone 0x0B as the input's last byte may be the start of a frame.
        const bool mayBeAFrame = reader.overran() && frameBytes[0] == (syncWord >> 8);
        return fail(mayBeAFrame ? Stop::cutShort : Stop::noSyncWord);
    }

    // Which syntax bytes 2 to 4 follow is known only from bsid, in byte 5.
    reader.appendBytes(frameBytes, headerBytes - 2);
    if (reader.overran()) return fail(Stop::cutShort);
    bsid = frameBytes[5] >> 3;
    fscod = frameBytes[4] >> 6;
    if (isEac3()) {
        strmtyp = frameBytes[2] >> 6;
        substreamid = (frameBytes[2] >> 3) & 0x07;
        frmsiz = (frameBytes[2] & 0x07) << 8 | frameBytes[3];
        const std::int32_t nextTwoBits = (frameBytes[4] >> 4) & 0x03;
        // A reduced sample rate comes with 6 blocks per frame and no numblkscod.
        fscod2 = fscod == 3 ? nextTwoBits : 0;
        numblkscod = fscod == 3 ? 3 : nextTwoBits;
    } else {
        crc1 = frameBytes[2] * 256 + frameBytes[3];
        frmsizecod = frameBytes[4] & 0x3F;
    }
    if (!headerKnown()) return fail(Stop::reservedValue);

    reader.appendBytes(frameBytes, frameSize() - headerBytes);
    // A frame counts only if every one of its bytes came from the input.
    if (reader.overran()) return fail(Stop::cutShort);
    return true;
}

bool FrameReader::syncWordNext() {
    return !reader.atEnd() && reader.readByte() == (syncWord >> 8) && !reader.atEnd() &&
           reader.readByte() == (syncWord & 0xFF);
}

bool FrameReader::resync() {
    // Every later byte is a candidate start; only one that begins with the sync word is read
    // as a frame. Reading a candidate frame and the sync word after it goes at most one
    // frame and two bytes ahead, which the reader can always step back over.
    std::uint64_t candidate = start + 1;
    while (reader.seek(candidate) && !reader.atEnd()) {
        if (!syncWordNext()) {
            ++candidate;
            continue;
        }
        reader.seek(candidate);
        const bool followed = readFrame() && (reader.atEnd() || syncWordNext());
        if (reader.readFailed()) return false;
        if (followed) {
            reader.seek(candidate);
            return true;
        }
        ++candidate;
    }
    return false;
}

std::string FrameReader::stopReason() const {
    switch (stopped) {
        case Stop::none:
        case Stop::endOfInput:
            return "the end of the input";
        case Stop::noSyncWord:
            return "no sync word";
        case Stop::cutShort:
            return "a frame cut short by the end of the input";
        case Stop::reservedValue:
            break;
    }
    if (isEac3()) {
        if (strmtyp == 3) return "reserved strmtyp 3";
        if (fscod == 3 && fscod2 == 3) return "reserved fscod2 3";
        return "frmsiz " + std::to_string(frmsiz) + " is shorter than a header";
    }
    if (fscod == 3) return "reserved fscod 3";
    return "undefined frmsizecod " + std::to_string(frmsizecod);
}

double FrameReader::frameDuration() const {
    if (!headerKnown()) return 0.0;
    if (isEac3()) return static_cast<double>(audioBlocks() * 256) / sampleRate();
    const double bytesPerSecond = bitRates[frmsizecod] * 0.125;
    const double framesPerSecond = bytesPerSecond / frameSize();
    return 1.0 / framesPerSecond;
}

bool FrameReader::crcsHold() const {
    // A frame is at most 4096 bytes, so the whole of the frame just read is still in the
    // reader's buffer, or in the history kept in front of it.
    const std::uint8_t* frame = reader.recent(start, frameBytes.size());
    if (frame != nullptr) return ::crcsHold(frame, frameBytes.size(), isEac3());
    const std::vector<std::uint8_t> copy(frameBytes.begin(), frameBytes.end());
    return ::crcsHold(copy.data(), copy.size(), isEac3());
}
