// Silent frames against real decoders: streams of silent twins of every kind of reference
// must decode with no message to samples that are all exactly 0, with the reference's sample
// rate, channels and frame length; and the frame reader must read each back as its reference.
#include "stream/ac3/silent_frame.h"

#include <gtest/gtest.h>

#include <sstream>

#include "ac3_test_stream.h"
#include "decoders.h"
#include "mpeg_test_stream.h"
#include "stream/adts/adts.h"
#include "stream/dts/dts.h"
#include "stream/frame_bits.h"
#include "stream/ac3/frame_crc.h"
#include "stream/ac3/frame_reader.h"
#include "stream/mpeg_audio/mpeg_audio.h"

namespace {

// Fields written most significant bit first, for reference headers.
struct Packer {
    void put(unsigned value, int bits) {
        for (int i = bits - 1; i >= 0; --i, ++count) {
            if (count % 8 == 0) bytes.push_back(0);
            bytes.back() |= static_cast<std::uint8_t>(((value >> i) & 1U) << (7 - count % 8));
        }
    }
    Bytes frame(std::size_t size) {
        bytes.resize(size, 0x5A);  // the audio of a reference does not matter
        return bytes;
    }
    Bytes bytes;
    int count = 0;
};

constexpr int channelsOf[8] = {2, 1, 2, 3, 3, 4, 4, 5};  // by acmod

struct Reference {
    Bytes frame;
    int sampleRate;
    int channels;  // what a decoder gives for it
};

// The optional fields of AC-3 stream information, each sent or not; for acmod 0 (1+1) the
// second program's fields go with the first's.
struct Ac3Optional {
    bool compr = false;
    bool langcod = false;
    bool audprod = false;  // mixlevel and roomtyp
    bool copyright = false, original = false;
    bool timecod1 = false, timecod2 = false;
    int addbsil = -1;  // addbsi bytes less one; -1 for none
};

Reference ac3Reference(int fscod, int frmsizecod, int acmod, bool lfe,
                       const Ac3Optional& optional = {}) {
    Packer p;
    p.put(0x0B77, 16);
    p.put(0, 16);
    p.put(static_cast<unsigned>(fscod << 6 | frmsizecod), 8);
    p.put(8, 5);  // bsid
    p.put(1, 3);  // bsmod
    p.put(static_cast<unsigned>(acmod), 3);
    if ((acmod & 1) && acmod != 1) p.put(1, 2);  // cmixlev
    if (acmod & 4) p.put(1, 2);                  // surmixlev
    if (acmod == 2) p.put(2, 2);                 // dsurmod
    p.put(lfe, 1);
    for (int program = 0; program < (acmod == 0 ? 2 : 1); ++program) {
        p.put(27 - program, 5);  // dialnorm
        p.put(optional.compr, 1);
        if (optional.compr) p.put(0x5A + program, 8);
        p.put(optional.langcod, 1);
        if (optional.langcod) p.put(0x09 + program, 8);
        p.put(optional.audprod, 1);
        if (optional.audprod) p.put((20 + program) << 2 | 1, 5 + 2);  // mixlevel, roomtyp
    }
    p.put(optional.copyright, 1);
    p.put(optional.original, 1);
    p.put(optional.timecod1, 1);
    if (optional.timecod1) p.put(0x2A5A, 14);
    p.put(optional.timecod2, 1);
    if (optional.timecod2) p.put(0x15A5, 14);
    p.put(optional.addbsil >= 0, 1);
    if (optional.addbsil >= 0) {
        p.put(static_cast<unsigned>(optional.addbsil), 6);
        for (int i = 0; i <= optional.addbsil; ++i) p.put(static_cast<unsigned>(0xC3 ^ i), 8);
    }
    return {p.frame(static_cast<std::size_t>(ac3::frameBytes(fscod, frmsizecod))),
            ac3::sampleRates[fscod], channelsOf[acmod] + lfe};
}

// An E-AC-3 reference; `chanmap` (non-zero) makes it a dependent frame with that channel map.
Reference eac3Reference(int fscod, int blocksOrFscod2, int acmod, bool lfe, std::size_t size,
                        unsigned chanmap = 0) {
    constexpr int reducedRates[3] = {24000, 22050, 16000};
    const int numblkscod = fscod == 3 ? 3 : blocksOrFscod2;
    Packer p;
    p.put(0x0B77, 16);
    p.put(chanmap != 0 ? 1 : 0, 2);  // strmtyp
    p.put(0, 3);
    p.put(static_cast<unsigned>(size / 2 - 1), 11);
    p.put(static_cast<unsigned>(fscod << 2 | blocksOrFscod2), 4);
    p.put(static_cast<unsigned>(acmod << 1 | lfe), 4);
    p.put(16, 5);  // bsid
    for (int program = 0; program < (acmod == 0 ? 2 : 1); ++program) p.put(27 << 1, 6);
    if (chanmap != 0) p.put(1U << 16 | chanmap, 17);
    p.put(0, 1);  // mixmdate
    p.put(1, 1);  // infomdate
    p.put(1, 5);  // bsmod 0, copyrightb 0, origbs 1
    if (acmod == 2) p.put(0, 4);
    if (acmod >= 6) p.put(0, 2);
    p.put(0, acmod == 0 ? 2 : 1);                      // audprodie
    if (fscod < 3) p.put(0, 1);                        // sourcefscod
    if (chanmap == 0 && numblkscod != 3) p.put(0, 1);  // convsync
    p.put(0, 1);                                       // addbsie
    return {p.frame(size), fscod == 3 ? reducedRates[blocksOrFscod2] : ac3::sampleRates[fscod],
            channelsOf[acmod] + lfe};
}

// The twin has the reference's syntax, length, header, time and stepping, and valid CRCs.
void expectTwin(const Reference& reference, const Bytes& twin) {
    ASSERT_EQ(twin.size(), reference.frame.size());
    EXPECT_TRUE(std::equal(twin.begin() + 4, twin.begin() + 6, reference.frame.begin() + 4));
    EXPECT_TRUE(ac3::crcsHold(twin.data(), twin.size()));
    double time = 0, twinTime = 0;
    const ac3::Frame read = ac3::frameAt(reference.frame, 0, time);
    const ac3::Frame readTwin = ac3::frameAt(twin, 0, twinTime);
    EXPECT_EQ(readTwin.size, read.size);
    EXPECT_EQ(twinTime, time);
    EXPECT_EQ(readTwin.steps, read.steps);
}

// The smallest E-AC-3 frame that holds a silent twin of this layout, up from the header.
std::size_t smallestTwin(int fscod, int blocksOrFscod2, int acmod, bool lfe, unsigned chanmap) {
    for (std::size_t size = 8; size <= 4096; size += 2) {
        const Reference r = eac3Reference(fscod, blocksOrFscod2, acmod, lfe, size, chanmap);
        if (!silentFrame({r.frame.begin(), r.frame.end()}).empty()) return size;
    }
    return 0;
}

// Every layout (acmod 0 to 7, with and without LFE) in E-AC-3 frames from the smallest that
// holds a silent twin up to 4096 bytes. Frames one word shorter have no twin.
std::vector<Reference> eac3Layouts(int fscod, int blocksOrFscod2, unsigned chanmap = 0) {
    std::vector<Reference> references;
    for (int acmod = 0; acmod < 8; ++acmod) {
        for (const bool lfe : {false, true}) {
            const std::size_t smallest = smallestTwin(fscod, blocksOrFscod2, acmod, lfe, chanmap);
            EXPECT_GT(smallest, 8U);
            EXPECT_LE(smallest, 100U) << "acmod " << acmod << " lfe " << lfe;
            for (const std::size_t size :
                 {smallest, smallest + 2, std::size_t{1000}, std::size_t{4096}}) {
                references.push_back(
                    eac3Reference(fscod, blocksOrFscod2, acmod, lfe, size, chanmap));
            }
        }
    }
    return references;
}

std::vector<Reference> ac3Layouts(int fscod) {
    std::vector<Reference> references;
    for (int acmod = 0; acmod < 8; ++acmod) {
        for (const bool lfe : {false, true}) {
            for (int code = 0; code < 38; ++code) {  // every frame size code
                references.push_back(ac3Reference(fscod, code, acmod, lfe));
            }
        }
    }
    return references;
}

// Every layout with each optional field of the stream information on alone, then all of
// them, in the smallest and the largest frame at the rate. The smallest holds 8 bytes of
// addbsi, the largest 64, the most there can be.
std::vector<Reference> ac3OptionalFields(int fscod) {
    std::vector<Ac3Optional> sets(8);
    sets[0].compr = true;
    sets[1].langcod = true;
    sets[2].audprod = true;
    sets[3].copyright = true;
    sets[4].original = true;
    sets[5].timecod1 = true;
    sets[6].timecod2 = true;
    sets[7].addbsil = 7;
    Ac3Optional all{true, true, true, true, true, true, true, 7};
    sets.push_back(all);
    std::vector<Reference> references;
    for (int acmod = 0; acmod < 8; ++acmod) {
        for (const bool lfe : {false, true}) {
            for (const Ac3Optional& set : sets) {
                references.push_back(ac3Reference(fscod, 0, acmod, lfe, set));
            }
            all.addbsil = 63;
            references.push_back(ac3Reference(fscod, 37, acmod, lfe, all));
            all.addbsil = 7;
        }
    }
    return references;
}

// 7.1: a 5.1 core (AC-3 or E-AC-3) with a dependent frame for the back pair (Lrs/Rrs).
std::vector<Reference> sevenOne(bool ac3Core) {
    std::vector<Reference> references;
    for (int i = 0; i < 8; ++i) {
        references.push_back(ac3Core ? ac3Reference(0, 30 + i % 8, 7, true)
                                     : eac3Reference(0, 3, 7, true, 1536 + 2 * i));
        references.push_back(eac3Reference(0, 3, 2, false, 512 + 2 * i, 0x0200));
    }
    return references;
}

// An MPEG audio reference frame: its header and bytes that stand for the rest (a CRC word
// where it has one, side information, audio and ancillary data).
Reference mpegReference(int version, int layer, int rateIndex, int bitRateIndex, int mode,
                        int modeExtension, bool crc) {
    Packer p;
    p.put(0x7FF, 11);
    p.put(static_cast<unsigned>(version), 2);
    p.put(static_cast<unsigned>(layer), 2);
    p.put(!crc, 1);
    p.put(static_cast<unsigned>(bitRateIndex), 4);
    p.put(static_cast<unsigned>(rateIndex), 2);
    p.put(0, 2);  // padding, private
    p.put(static_cast<unsigned>(mode), 2);
    p.put(static_cast<unsigned>(modeExtension), 2);
    p.put(1, 4);  // copyright 0, original 1, emphasis none
    const int rate = std::vector<int>{44100, 48000, 32000}[static_cast<std::size_t>(rateIndex)] /
                     (version == 3   ? 1
                      : version == 2 ? 2
                                     : 4);
    const long bits =
        mpeg::kbitRates[(version == 3 ? 0 : 2) + (layer == 3 ? 0 : 1)][bitRateIndex] * 1000L;
    const long size = layer == 3 ? 12 * bits / rate * 4 : 144 * bits / rate;
    return {p.frame(static_cast<std::size_t>(size)), rate, mode == 3 ? 1 : 2};
}

// Every mode of one version and layer (version 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5; layer 3 I,
// 2 II), the stereo ones or mono, each joint stereo bound, with and without a CRC, at bit
// rates that pick each of Layer II's allocation tables (a bound above a table's subbands
// only at the rates whose tables have more). Layer I's joint stereo frames with a CRC come
// alone, with `jointCrcs`.
std::vector<Reference> mpegLayouts(int version, int layer, int rateIndex, bool mono,
                                   bool jointCrcs = false) {
    std::vector<Reference> references;
    const std::vector<int> modes = mono ? std::vector<int>{3} : std::vector<int>{0, 1, 2};
    for (const int mode : modes) {
        for (int extension = 0; extension < (mode == 1 ? 4 : 1); ++extension) {
            for (const bool crc : {false, true}) {
                for (const int index :
                     mono ? std::vector<int>{1, 4, 8, 10} : std::vector<int>{4, 6, 8, 12, 14}) {
                    if (layer == 2 && extension >= 2 && index < 8) continue;
                    if (layer == 3 && (mode == 1 && crc) != jointCrcs) continue;
                    references.push_back(
                        mpegReference(version, layer, rateIndex, index, mode, extension, crc));
                }
            }
        }
    }
    return references;
}

// An ADTS reference frame of AAC LC, `size` bytes: its header (and a CRC word) and bytes that
// stand for its raw data blocks.
Reference adtsReference(int rateIndex, int configuration, int blocks, bool crc, std::size_t size) {
    Packer p;
    p.put(0xFFF, 12);
    p.put(0, 3);  // ID (MPEG-4), layer
    p.put(!crc, 1);
    p.put(1, 2);  // AAC LC
    p.put(static_cast<unsigned>(rateIndex), 4);
    p.put(0, 1);
    p.put(static_cast<unsigned>(configuration), 3);
    p.put(0, 4);
    p.put(static_cast<unsigned>(size), 13);
    p.put(0x7FF, 11);  // a variable bit rate
    p.put(static_cast<unsigned>(blocks - 1), 2);
    const int rates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                           22050, 16000, 12000, 11025, 8000,  7350};
    return {p.frame(size), rates[rateIndex], configuration == 7 ? 8 : configuration};
}

// One channel configuration in frames of `blocks` raw data blocks, with and without a CRC,
// from a short frame to the longest the decoder's buffer takes (6144 bits a channel a block).
std::vector<Reference> adtsLayouts(int rateIndex, int configuration, int blocks) {
    std::vector<Reference> references;
    const auto b = static_cast<std::size_t>(blocks);
    const std::size_t channels = configuration == 7 ? 8 : static_cast<std::size_t>(configuration);
    for (const bool crc : {false, true}) {
        for (const std::size_t size :
             {40 * b + 20, 150 * b + 1, std::min<std::size_t>(768 * channels * b, 8191)}) {
            references.push_back(adtsReference(rateIndex, configuration, blocks, crc, size));
        }
    }
    return references;
}

// An ADTS twin has the reference's header and length, and no CRC.
void expectAdtsTwin(const Reference& reference, const Bytes& twin) {
    ASSERT_EQ(twin.size(), reference.frame.size());
    Bytes header(reference.frame.begin(), reference.frame.begin() + 7);
    header[1] |= 1;  // protection_absent
    EXPECT_TRUE(std::equal(header.begin(), header.end(), twin.begin()));
}

// The twin has the reference's header and length, and a CRC that holds where it has one.
void expectMpegTwin(const Reference& reference, const Bytes& twin) {
    ASSERT_EQ(twin.size(), reference.frame.size());
    EXPECT_TRUE(std::equal(twin.begin(), twin.begin() + 4, reference.frame.begin()));
    std::uint16_t crc = 0;
    EXPECT_TRUE(mpegAudioCrc(twin.data(), twin.size(), crc));
    if ((twin[1] & 1) == 0) {
        EXPECT_EQ(crc, twin[4] << 8 | twin[5]);
    }
}

// A DTS core reference frame of `size` bytes and `blocks` blocks of 32 samples: its header,
// with a CRC, DYNF and ASPF set by `flags` (bits 0, 1, 2), and a time stamp.
Reference dtsReference(int sfreq, int amode, int lff, int blocks, std::size_t size, int flags) {
    Packer p;
    p.put(0x7FFE8001, 32);
    p.put(1, 1);   // FTYPE: a normal frame
    p.put(31, 5);  // SHORT
    p.put(flags & 1, 1);
    p.put(static_cast<unsigned>(blocks - 1), 7);
    p.put(static_cast<unsigned>(size - 1), 14);
    p.put(static_cast<unsigned>(amode), 6);
    p.put(static_cast<unsigned>(sfreq), 4);
    p.put(24, 5);  // RATE
    p.put(0, 1);
    p.put(flags >> 1 & 1, 1);  // DYNF
    p.put(1, 1);               // TIMEF
    p.put(0, 6);               // AUXF, HDCD, EXT_AUDIO_ID, EXT_AUDIO
    p.put(flags >> 2 & 1, 1);  // ASPF
    p.put(static_cast<unsigned>(lff), 2);
    p.put(1, 1);                              // HFLAG
    if ((flags & 1) != 0) p.put(0x1234, 16);  // HCRC
    p.put(0x7, 5);                            // FILTS, VERNUM 7
    p.put(0, 11);                             // CHIST, PCMR, SUMF, SUMS, DIALNORM
    const int rates[16] = {0,     8000,  16000, 32000, 0,     0,     11025,
                           22050, 44100, 0,     0,     12000, 24000, 48000};
    const int channels[10] = {1, 2, 2, 2, 2, 3, 3, 4, 4, 5};
    return {p.frame(size), rates[sfreq], channels[amode] + (lff != 0 ? 1 : 0)};
}

// One channel arrangement at 512 samples in the frame lengths of ffmpeg's encoder (1413 kb/s
// at 48 kHz, 1411 at 44.1), the shortest and the longest, with each flag; then 256, 1024 and
// 4096 samples.
std::vector<Reference> dtsLayouts(int sfreq, int amode, int lff) {
    std::vector<Reference> references;
    const std::size_t encoders = sfreq == 13 ? 1884 : 2048;
    for (const std::size_t size : {encoders, std::size_t{96}, std::size_t{16384}}) {
        for (int flags = 0; flags < 8; ++flags) {
            references.push_back(dtsReference(sfreq, amode, lff, 16, size, flags));
        }
    }
    for (const int blocks : {8, 32, 128}) {
        references.push_back(dtsReference(sfreq, amode, lff, blocks, encoders, 6));
    }
    return references;
}

// A DTS twin has the reference's length, sync word, NBLKS, FSIZE, AMODE, SFREQ, RATE and LFF.
void expectDtsTwin(const Reference& reference, const Bytes& twin) {
    ASSERT_EQ(twin.size(), reference.frame.size());
    const auto fields = [](const Bytes& frame) {
        BitCursor bits(frame.data(), frame.size());
        const std::uint32_t sync = bits.read(32);
        bits.skip(7);
        const std::uint32_t header = bits.read(36);  // NBLKS to RATE
        bits.skip(10);
        return std::tuple(sync, header, bits.read(2));
    };
    EXPECT_EQ(fields(twin), fields(reference.frame));
}

// What ffprobe says of each decoded frame (the bytes it came from and its channels), then of
// the stream's sample rate.
std::string probeFrames(const std::string& path, const std::string& format) {
    return shell("ffprobe -v error " + strictChecks + " -f " + format +
                 " -show_entries stream=sample_rate:frame=pkt_size,channels -of compact " + path +
                 " | grep -o -E "
                 "'^(stream\\|sample_rate=[0-9]+|frame\\|pkt_size=[0-9]+\\|channels=[0-9]+)'")
        .second;
}

TEST(SilentFrameTest, DecodesToZerosAsItsReference) {
    const struct {
        const char* what;
        std::vector<Reference> references;
        bool ffmpegDecodes = true;
        int framesPerPacket = 1;   // ffmpeg hands out a core and its dependent frame as one
        bool dcadecWrites = true;  // a DTS layout whose samples dcadec writes as they are
    } rows[] = {
        {"AC-3 48 kHz", ac3Layouts(0)},
        {"AC-3 44.1 kHz", ac3Layouts(1)},
        {"AC-3 32 kHz", ac3Layouts(2)},
        {"AC-3 48 kHz, optional fields", ac3OptionalFields(0)},
        {"AC-3 44.1 kHz, optional fields", ac3OptionalFields(1)},
        {"E-AC-3 48 kHz 1 block", eac3Layouts(0, 0)},
        {"E-AC-3 48 kHz 2 blocks", eac3Layouts(0, 1)},
        {"E-AC-3 48 kHz 3 blocks", eac3Layouts(0, 2)},
        {"E-AC-3 48 kHz 6 blocks", eac3Layouts(0, 3)},
        {"E-AC-3 44.1 kHz 1 block", eac3Layouts(1, 0)},
        {"E-AC-3 44.1 kHz 6 blocks", eac3Layouts(1, 3)},
        {"E-AC-3 32 kHz 2 blocks", eac3Layouts(2, 1)},
        {"E-AC-3 32 kHz 6 blocks", eac3Layouts(2, 3)},
        // ffmpeg does not decode the reduced sample rates ("Not yet implemented"): these are
        // checked by their headers, lengths, times and CRCs alone.
        {"E-AC-3 24 kHz", eac3Layouts(3, 0), false},
        {"E-AC-3 22.05 kHz", eac3Layouts(3, 1), false},
        {"E-AC-3 16 kHz", eac3Layouts(3, 2), false},
        {"E-AC-3 dependent frames", eac3Layouts(0, 3, 0x0200), false},
        {"7.1 with an E-AC-3 core", sevenOne(false), true, 2},
        {"7.1 with an AC-3 core", sevenOne(true), true, 2},
        {"MPEG-1 Layer II 48 kHz stereo", mpegLayouts(3, 2, 1, false)},
        {"MPEG-1 Layer II 44.1 kHz stereo", mpegLayouts(3, 2, 0, false)},
        {"MPEG-1 Layer II 32 kHz mono", mpegLayouts(3, 2, 2, true)},
        {"MPEG-2 Layer II 24 kHz stereo", mpegLayouts(2, 2, 1, false)},
        {"MPEG-2 Layer II 22.05 kHz mono", mpegLayouts(2, 2, 0, true)},
        {"MPEG-2.5 Layer II 8 kHz stereo", mpegLayouts(0, 2, 2, false)},
        {"MPEG-1 Layer I 48 kHz stereo", mpegLayouts(3, 3, 1, false)},
        // ffmpeg's CRC of a Layer I frame always covers 256 bits after the header in stereo,
        // where the standard's covers the allocations alone, which are fewer in joint stereo:
        // it turns these frames down.
        {"MPEG-1 Layer I joint stereo with CRCs", mpegLayouts(3, 3, 1, false, true), false},
        {"MPEG-1 Layer I 44.1 kHz mono", mpegLayouts(3, 3, 0, true)},
        {"MPEG-2 Layer I 16 kHz stereo", mpegLayouts(2, 3, 2, false)},
        {"MPEG-2.5 Layer I 11.025 kHz mono", mpegLayouts(0, 3, 0, true)},
        {"AAC 48 kHz mono, 1 block", adtsLayouts(3, 1, 1)},
        {"AAC 44.1 kHz stereo, 1 block", adtsLayouts(4, 2, 1)},
        {"AAC 32 kHz 5.1, 1 block", adtsLayouts(5, 6, 1)},
        {"AAC 48 kHz stereo, 4 blocks", adtsLayouts(3, 2, 4)},
        {"AAC 44.1 kHz 5.1, 4 blocks", adtsLayouts(4, 6, 4)},
        {"AAC 32 kHz mono, 4 blocks", adtsLayouts(5, 1, 4)},
        {"AAC 48 kHz, 3 channels", adtsLayouts(3, 3, 1)},
        {"AAC 48 kHz, 4 channels", adtsLayouts(3, 4, 1)},
        {"AAC 48 kHz, 5 channels", adtsLayouts(3, 5, 1)},
        {"AAC 48 kHz, 7.1", adtsLayouts(3, 7, 1)},
        {"DTS 48 kHz stereo", dtsLayouts(13, 2, 0)},
        {"DTS 48 kHz 5.1", dtsLayouts(13, 9, 2)},
        {"DTS 44.1 kHz stereo", dtsLayouts(8, 2, 0)},
        {"DTS 44.1 kHz 5.1, LFE at 128 times", dtsLayouts(8, 9, 1)},
        {"DTS 48 kHz 5.0", dtsLayouts(13, 9, 0)},
        // dcadec writes mono with LFE in both its outputs with its samples' bias left in.
        {"DTS 48 kHz mono with LFE", dtsLayouts(13, 0, 2), true, 1, false},
    };
    static BitReader noInput("");
    static const MpegAudioFormat mpegAudio(noInput);
    static const AdtsFormat adts(noInput);
    static const DtsFormat dts(noInput);
    // A layout in a program config element, which a twin does not read: none is made.
    const Reference pce = adtsReference(3, 0, 1, false, 300);
    EXPECT_TRUE(adts.silentFrame({pce.frame.begin(), pce.frame.end()}).empty());
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Bytes stream;
        std::string expected;
        for (std::size_t i = 0; i < row.references.size(); ++i) {
            const Reference& reference = row.references[i];
            const bool aac = reference.frame[0] == 0xFF && (reference.frame[1] & 0xF6) == 0xF0;
            const bool mpeg = reference.frame[0] == 0xFF && !aac;
            const bool isDts = reference.frame[0] == 0x7F;
            const std::vector<std::int32_t> frame(reference.frame.begin(), reference.frame.end());
            const std::vector<std::int32_t> made = aac     ? adts.silentFrame(frame)
                                                   : mpeg  ? mpegAudio.silentFrame(frame)
                                                   : isDts ? dts.silentFrame(frame)
                                                           : silentFrame(frame);
            const Bytes twin(made.begin(), made.end());
            if (isDts) {
                expectDtsTwin(reference, twin);
            } else if (aac) {
                expectAdtsTwin(reference, twin);
            } else if (mpeg) {
                expectMpegTwin(reference, twin);
            } else {
                expectTwin(reference, twin);
            }
            stream.insert(stream.end(), twin.begin(), twin.end());
            if (i % row.framesPerPacket != 0) continue;
            // A core's packet holds its dependent frame's channels and bytes too.
            const Reference& last = row.references[i + row.framesPerPacket - 1];
            const int channels =
                reference.channels + (row.framesPerPacket == 2 ? last.channels : 0);
            const std::size_t bytes =
                reference.frame.size() + (row.framesPerPacket == 2 ? last.frame.size() : 0);
            expected += "frame|pkt_size=" + std::to_string(bytes) +
                        "|channels=" + std::to_string(channels) + "\n";
        }
        TempDir dir;
        const bool aac = stream[0] == 0xFF && (stream[1] & 0xF6) == 0xF0;
        const bool mpeg = stream[0] == 0xFF && !aac;
        const bool isDts = stream[0] == 0x7F;
        const bool eac3 = !mpeg && !aac && !isDts && (stream[5] >> 3) > 10;
        const std::string format = isDts  ? "dts"
                                   : aac  ? "aac"
                                   : mpeg ? "mp3"
                                   : eac3 ? "eac3"
                                          : "ac3";
        const std::string path = dir / "silence";
        writeFile(path, stream);
        if (mpeg && haveMpg123()) {
            std::size_t samples = 0;
            for (const Reference& reference : row.references) {
                samples += ((reference.frame[1] >> 1 & 3) == 3 ? 384U : 1152U) *
                           static_cast<std::size_t>(reference.channels);
            }
            const Decoded second = mpg123Decode(path);
            EXPECT_EQ(second.status, 0);
            EXPECT_EQ(second.messages, "");
            EXPECT_EQ(second.samples.size(), samples);
            EXPECT_EQ(std::count(second.samples.begin(), second.samples.end(), 0.0f),
                      static_cast<long>(second.samples.size()));
        }
        if (isDts && row.dcadecWrites && haveDcadec()) {
            // Blocks of 32 samples in every channel.
            const int channels = row.references[0].channels;
            std::size_t samples = 0;
            for (const Reference& reference : row.references) {
                samples += 32 * ((reference.frame[4] & 1U) << 6 | reference.frame[5] >> 2U) + 32;
            }
            const Decoded second = dcadecDecode(path, channels);
            EXPECT_EQ(second.status, 0);
            EXPECT_EQ(second.messages, "");
            EXPECT_EQ(second.samples.size(), samples * static_cast<std::size_t>(channels));
            EXPECT_EQ(std::count(second.samples.begin(), second.samples.end(), 0.0f),
                      static_cast<long>(second.samples.size()));
        }
        if (aac && haveFaad()) {
            // faad plays mono as stereo (it may carry parametric stereo) and gives nothing for
            // the first frame, whose samples wait for the overlap; of a frame of more than one
            // raw data block it plays less than all.
            const Reference& reference = row.references[0];
            const std::size_t samples = (row.references.size() - 1) * 1024 *
                                        static_cast<std::size_t>(std::max(reference.channels, 2));
            const Decoded second = faadDecode(path);
            EXPECT_EQ(second.status, 0);
            EXPECT_EQ(second.messages, "");
            // Channel configuration 7 it plays its own way, as fewer channels.
            if ((stream[6] & 3) == 0 && reference.channels <= 6) {
                EXPECT_EQ(second.samples.size(), samples);
            }
            EXPECT_GT(second.samples.size(), 0U);
            EXPECT_EQ(std::count(second.samples.begin(), second.samples.end(), 0.0f),
                      static_cast<long>(second.samples.size()));
        }
        if (!row.ffmpegDecodes || !haveFfmpeg()) continue;
        Decoded decoded = ffmpegDecode(path, format);
        // ffmpeg hands out the blocks of an AAC frame as frames of the one packet, with one
        // time stamp, and its muxer says so: that is no decoding error.
        const bool blocks = aac && (stream[6] & 3) != 0;
        for (std::size_t at;
             blocks && (at = decoded.messages.find("[f32le")) != std::string::npos;) {
            decoded.messages.erase(at, decoded.messages.find('\n', at) + 1 - at);
        }
        EXPECT_EQ(decoded.status, 0);
        EXPECT_EQ(decoded.messages, "");
        EXPECT_EQ(std::count(decoded.samples.begin(), decoded.samples.end(), 0.0f),
                  static_cast<long>(decoded.samples.size()))
            << "every sample exactly 0";
        if (!blocks) {
            EXPECT_EQ(probeFrames(path, format), expected + "stream|sample_rate=" +
                                                     std::to_string(row.references[0].sampleRate) +
                                                     "\n");
        }
        // liba52 decodes AC-3 alone, without E-AC-3 dependent frames.
        if (!mpeg && !aac && !isDts && !eac3 && row.framesPerPacket == 1 && a52Check != nullptr) {
            const auto [status, report] = shell(std::string(a52Check) + " " + path + " " +
                                                std::to_string(row.references.size()));
            EXPECT_EQ(status, 0) << report;
        }
    }
}

// The program's CRC, folded many bytes at a time, against the bit-by-bit definition: every
// length around its 16- and 64-byte steps, from any register value, which works as if it
// were XORed into the first two bytes.
TEST(SilentFrameTest, CrcMatchesTheBitByBitDefinition) {
    Bytes data(5000);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 131 + (i >> 7));
    }
    for (std::size_t size = 2; size <= 300; ++size) {
        for (const unsigned start : {0x0000U, 0x8005U, 0xFFFFU, 0x1234U}) {
            Bytes message(data.begin() + 7, data.begin() + 7 + static_cast<long>(size));
            message[0] ^= static_cast<std::uint8_t>(start >> 8);
            message[1] ^= static_cast<std::uint8_t>(start);
            ASSERT_EQ(crc16(data.data() + 7, size, static_cast<std::uint16_t>(start)),
                      ac3::crc16(message.data(), message.size()))
                << size << " bytes from " << start;
        }
    }
    EXPECT_EQ(crc16(data.data(), data.size()), ac3::crc16(data.data(), data.size()));
}

}  // namespace
