#include "stream/ac3/silent_frame.h"

#include "stream/frame_bits.h"
#include "stream/ac3/frame_crc.h"
#include "stream/ac3/frame_reader.h"

// How the audio is made silent, in both syntaxes: exponents are sent once, in block 0, and
// reused; no coupling, spectral extension or adaptive hybrid transform; dither is off; the
// coarse and fine SNR offsets are all 0, which sets every bit allocation pointer to 0, so no
// mantissa follows and every coefficient is 0. Bits after the last block are zero up to the
// error check, which leaves auxdatae and crcrsv 0.

namespace {

constexpr int fullBandwidthChannels[8] = {2, 1, 2, 3, 3, 4, 4, 5};  // by acmod
constexpr int blocksPerFrame[4] = {1, 2, 3, 6};                     // by numblkscod
constexpr int errorCheckBits = 18;                    // auxdatae, crcrsv and crc2 end every frame
constexpr std::uint32_t reuse = 0, d15 = 1, d45 = 3;  // exponent strategies
// With chbwcod 0 a channel has 73 coefficients: 6 groups of 12 with D45, 2 groups of 3 (D15)
// for the LFE channel's 7.
constexpr int channelExponentGroups = 6;
constexpr int lfeExponentGroups = 2;
constexpr std::uint32_t unchanged = 62;  // three exponent differences of 0 in one group
constexpr std::uint32_t quietestExponent = 15;

struct Layout {
    bool eac3 = false;
    int strmtyp = 0;
    int blocks = 6;
    int numblkscod = 3;
    int acmod = 0;
    bool lfeon = false;
    int channels() const { return fullBandwidthChannels[acmod]; }
};

void skipIf(BitCursor& bits, int bitsIfSet) {
    if (bits.read(1)) bits.skip(static_cast<std::size_t>(bitsIfSet));
}

void skipAdditionalInfo(BitCursor& bits) {
    if (bits.read(1)) bits.skip((bits.read(6) + 1) * 8);  // addbsil, addbsi
}

// AC-3 bsi, from bsid to addbsi. Annex D's alternate syntax (bsid 6) has xbsi1 and xbsi2 of
// the same length where timecod1 and timecod2 stand.
void readAc3Info(BitCursor& bits, Layout& layout) {
    bits.skip(5 + 3);  // bsid, bsmod
    layout.acmod = static_cast<int>(bits.read(3));
    if ((layout.acmod & 1) && layout.acmod != 1) bits.skip(2);  // cmixlev
    if (layout.acmod & 4) bits.skip(2);                         // surmixlev
    if (layout.acmod == 2) bits.skip(2);                        // dsurmod
    layout.lfeon = bits.read(1) != 0;
    for (int program = 0; program < (layout.acmod == 0 ? 2 : 1); ++program) {
        bits.skip(5);     // dialnorm
        skipIf(bits, 8);  // compr
        skipIf(bits, 8);  // langcod
        skipIf(bits, 7);  // mixlevel, roomtyp
    }
    bits.skip(2);      // copyrightb, origbs
    skipIf(bits, 14);  // timecod1 or xbsi1
    skipIf(bits, 14);  // timecod2 or xbsi2
    skipAdditionalInfo(bits);
}

void skipEac3MixingMetadata(BitCursor& bits, const Layout& layout) {
    if (layout.acmod > 2) bits.skip(2);                        // dmixmod
    if ((layout.acmod & 1) && layout.acmod > 2) bits.skip(6);  // ltrtcmixlev, lorocmixlev
    if (layout.acmod & 4) bits.skip(6);                        // ltrtsurmixlev, lorosurmixlev
    if (layout.lfeon) skipIf(bits, 5);                         // lfemixlevcod
    if (layout.strmtyp != 0) return;
    skipIf(bits, 6);                         // pgmscl
    if (layout.acmod == 0) skipIf(bits, 6);  // pgmscl2
    skipIf(bits, 6);                         // extpgmscl
    const std::uint32_t mixdef = bits.read(2);
    if (mixdef == 1) bits.skip(5);
    if (mixdef == 2) bits.skip(12);
    if (mixdef == 3) bits.skip((bits.read(5) + 2) * 8);
    if (layout.acmod < 2) {
        skipIf(bits, 14);  // panmean, paninfo
        if (layout.acmod == 0) skipIf(bits, 14);
    }
    if (bits.read(1)) {  // frmmixcfginfoe
        if (layout.numblkscod == 0) {
            bits.skip(5);
        } else {
            for (int blk = 0; blk < layout.blocks; ++blk) skipIf(bits, 5);
        }
    }
}

void skipEac3InformationalMetadata(BitCursor& bits, const Layout& layout, int fscod) {
    bits.skip(3 + 1 + 1);                 // bsmod, copyrightb, origbs
    if (layout.acmod == 2) bits.skip(4);  // dsurmod, dheadphonmod
    if (layout.acmod >= 6) bits.skip(2);  // dsurexmod
    skipIf(bits, 8);                      // mixlevel, roomtyp, adconvtyp
    if (layout.acmod == 0) skipIf(bits, 8);
    if (fscod < 3) bits.skip(1);  // sourcefscod
}

// E-AC-3 bsi, from strmtyp to addbsi.
void readEac3Info(BitCursor& bits, Layout& layout) {
    layout.strmtyp = static_cast<int>(bits.read(2));
    bits.skip(3 + 11);  // substreamid, frmsiz
    const int fscod = static_cast<int>(bits.read(2));
    const int next = static_cast<int>(bits.read(2));
    layout.numblkscod = fscod == 3 ? 3 : next;
    layout.blocks = blocksPerFrame[layout.numblkscod];
    layout.acmod = static_cast<int>(bits.read(3));
    layout.lfeon = bits.read(1) != 0;
    bits.skip(5);  // bsid
    for (int program = 0; program < (layout.acmod == 0 ? 2 : 1); ++program) {
        bits.skip(5);     // dialnorm
        skipIf(bits, 8);  // compr
    }
    if (layout.strmtyp == 1) skipIf(bits, 16);  // chanmap
    if (bits.read(1)) skipEac3MixingMetadata(bits, layout);
    if (bits.read(1)) skipEac3InformationalMetadata(bits, layout, fscod);
    if (layout.strmtyp == 0 && layout.numblkscod != 3) bits.skip(1);  // convsync
    if (layout.strmtyp == 2 && (layout.numblkscod == 3 || bits.read(1))) bits.skip(6);
    skipAdditionalInfo(bits);
}

// Block 0's bandwidth codes and exponents: each channel's flat at the quietest value.
void writeExponents(BitWriter& out, const Layout& layout) {
    for (int ch = 0; ch < layout.channels(); ++ch) out.put(0, 6);  // chbwcod
    for (int ch = 0; ch < layout.channels(); ++ch) {
        out.put(quietestExponent, 4);
        for (int group = 0; group < channelExponentGroups; ++group) out.put(unchanged, 7);
        out.put(0, 2);  // gainrng
    }
    if (!layout.lfeon) return;
    out.put(quietestExponent, 4);
    for (int group = 0; group < lfeExponentGroups; ++group) out.put(unchanged, 7);
}

void writeAc3Block(BitWriter& out, const Layout& layout, int blk) {
    const bool first = blk == 0;
    out.put(0, layout.channels());                                    // blksw
    out.put(0, layout.channels());                                    // dithflag
    out.put(0, layout.acmod == 0 ? 2 : 1);                            // dynrnge (and dynrng2e)
    out.put(first, 1);                                                // cplstre
    if (first) out.put(0, 1);                                         // cplinu
    if (layout.acmod == 2) out.put(first ? 0x10 : 0, first ? 5 : 1);  // rematstr, rematflg
    for (int ch = 0; ch < layout.channels(); ++ch) out.put(first ? d45 : reuse, 2);
    if (layout.lfeon) out.put(first ? d15 : reuse, 1);
    if (first) writeExponents(out, layout);
    out.put(first, 1);              // baie
    if (first) out.put(0x4B7, 11);  // sdcycod 2, fdcycod 1, sgaincod 1, dbpbcod 2, floorcod 7
    out.put(first, 1);              // snroffste
    if (first) {
        out.put(0, 6);  // csnroffst
        const int fineOffsets = layout.channels() + (layout.lfeon ? 1 : 0);
        for (int ch = 0; ch < fineOffsets; ++ch) out.put(4, 7);  // fsnroffst 0, fgaincod 4
    }
    out.put(0, 2);  // deltbaie, skiple
}

void writeEac3Frame(BitWriter& out, const Layout& layout) {
    if (layout.numblkscod == 3) out.put(0x2, 2);  // expstre 1, ahte 0
    // snroffststr 0, transproce 0, blkswe 0, dithflage 1, bamode 0, frmfgaincode 0,
    // dbaflde 0, skipflde 0, spxattene 0
    out.put(0x020, 10);
    if (layout.acmod > 1) out.put(0, layout.blocks);  // cplinu for block 0, cplstre after
    for (int blk = 0; blk < layout.blocks; ++blk) {
        for (int ch = 0; ch < layout.channels(); ++ch) out.put(blk == 0 ? d45 : reuse, 2);
    }
    if (layout.lfeon) {
        for (int blk = 0; blk < layout.blocks; ++blk) out.put(blk == 0 ? d15 : reuse, 1);
    }
    if (layout.strmtyp == 0) {
        // convexpstre (implied with 6 blocks), then the converter's strategies
        if (layout.numblkscod != 3) out.put(0, 1);
        if (layout.numblkscod == 3) out.put(0, 5 * layout.channels());
    }
    out.put(0, 6 + 4);                          // frmcsnroffst, frmfsnroffst
    if (layout.numblkscod != 0) out.put(0, 1);  // blkstrtinfoe
}

void writeEac3Block(BitWriter& out, const Layout& layout, int blk) {
    const bool first = blk == 0;
    out.put(0, layout.channels());                     // dithflag
    out.put(0, layout.acmod == 0 ? 2 : 1);             // dynrnge (and dynrng2e)
    out.put(0, 1);                                     // spxinu in block 0, spxstre after
    if (layout.acmod == 2) out.put(0, first ? 4 : 1);  // rematflg (rematstr implied), rematstr
    if (first) writeExponents(out, layout);
    if (layout.strmtyp == 0) out.put(0, 1);  // convsnroffste
}

}  // namespace

std::vector<std::vector<std::int32_t>> silentStep(
    const std::vector<std::vector<std::int32_t>>& frames) {
    std::vector<std::vector<std::int32_t>> twins;
    for (const std::vector<std::int32_t>& frame : frames) {
        twins.push_back(silentFrame(frame));
        if (twins.back().empty()) return {};
    }
    return twins;
}

std::vector<std::int32_t> silentFrame(const std::vector<std::int32_t>& reference) {
    const std::size_t size = reference.size();
    if (size < 8) return {};
    const std::vector<std::uint8_t> in(reference.begin(), reference.end());
    Layout layout;
    layout.eac3 = eac3Frame(in);
    // Syncword, then AC-3's crc1, fscod and frmsizecod, or E-AC-3's bsi from its start.
    BitCursor bits(in.data(), size);
    bits.skip(layout.eac3 ? 16 : 40);
    if (layout.eac3) {
        readEac3Info(bits, layout);
    } else {
        readAc3Info(bits, layout);
    }
    if (bits.overran()) return {};

    BitWriter out;
    out.copy(in.data(), 0, bits.position());
    if (layout.eac3) writeEac3Frame(out, layout);
    for (int blk = 0; blk < layout.blocks; ++blk) {
        if (layout.eac3) {
            writeEac3Block(out, layout, blk);
        } else {
            writeAc3Block(out, layout, blk);
        }
    }
    if (out.bitCount() + errorCheckBits > size * 8) return {};
    std::vector<std::uint8_t> frame = out.bytes();
    frame.resize(size, 0);
    setCrcs(frame, layout.eac3);
    return {frame.begin(), frame.end()};
}
