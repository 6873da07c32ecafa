// Formats cut on samples, end to end: windows, delays, edits and splits of WAV, RF64, BW64,
// Wave64 and FLAC files, each checked to the sample against the input; the headers the
// outputs get; bad input.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <sstream>

#include "decoders.h"
#include "program_runner.h"

namespace {

enum class Kind { riff, rf64, bw64, w64 };
const std::uint8_t w64Tail[12] = {0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1,
                                  0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};

void le(Bytes& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}
std::uint64_t readLe(const Bytes& in, std::size_t at, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes; i-- > 0;) value = value << 8 | in.at(at + i);
    return value;
}

struct Wav {
    Kind kind = Kind::riff;
    int channels = 2, bits = 16, rate = 8000, tag = 1;
    std::size_t samples = 80000;
    std::vector<std::pair<std::string, Bytes>> before, after;  // chunks around the data
    bool unstated = false;                                     // the data's size left at 0
    bool tones = false;  // a tone in each channel and a little noise, rather than noise alone
    Bytes samplesBytes() const {
        Bytes data;
        const std::size_t width = static_cast<std::size_t>(bits) / 8;
        for (std::size_t i = 0; i < samples * static_cast<std::size_t>(channels); ++i) {
            const std::size_t c = i % static_cast<std::size_t>(channels);
            // Silent at first (constant subframes); channel 0 of 24 bits has its low 8 bits
            // zero (wasted bits).
            const std::size_t at = i / static_cast<std::size_t>(channels);
            const double tone =
                at < 5000 ? 0 : std::sin(static_cast<double>(at) * (0.01 + 0.003 * c));
            auto loud = static_cast<std::int64_t>(tone * std::ldexp(0.4, bits - 1));
            if (bits == 24 && c == 0) loud &= ~std::int64_t{0xFF};
            le(data,
               tones ? static_cast<std::uint64_t>(loud) + (at < 5000 ? 0 : i % 7)
                     : i * 2654435761u + 1,
               static_cast<int>(width));
        }
        return data;
    }
    void chunk(Bytes& out, const std::string& id, const Bytes& body, std::uint64_t size) const {
        out.insert(out.end(), id.begin(), id.end());
        if (kind == Kind::w64) {
            out.insert(out.end(), w64Tail, w64Tail + 12);
            le(out, size + 24, 8);
        } else {
            le(out, size, 4);
        }
        out.insert(out.end(), body.begin(), body.end());
        while (out.size() % (kind == Kind::w64 ? 8 : 2) != 0) out.push_back(0);
    }
    Bytes file() const {
        Bytes out, fmt;
        le(fmt, static_cast<std::uint64_t>(tag), 2);
        le(fmt, static_cast<std::uint64_t>(channels), 2);
        le(fmt, static_cast<std::uint64_t>(rate), 4);
        le(fmt, static_cast<std::uint64_t>(rate * channels * bits / 8), 4);
        le(fmt, static_cast<std::uint64_t>(channels * bits / 8), 2);
        le(fmt, static_cast<std::uint64_t>(bits), 2);
        const Bytes data = samplesBytes();
        const char* magic[] = {"RIFF", "RF64", "BW64", "riff"};
        out.assign(magic[static_cast<int>(kind)], magic[static_cast<int>(kind)] + 4);
        if (kind == Kind::w64) {
            out.insert(out.end(),
                       {0x2E, 0x91, 0xCF, 0x11, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0, 0});
            le(out, 0, 8);
            out.insert(out.end(), {'w', 'a', 'v', 'e'});
            out.insert(out.end(), w64Tail, w64Tail + 12);
        } else {
            le(out, 0xFFFFFFFF, 4);
            out.insert(out.end(), {'W', 'A', 'V', 'E'});
        }
        Bytes ds64;
        le(ds64, 0, 8), le(ds64, data.size(), 8), le(ds64, samples, 8), le(ds64, 0, 4);
        if (kind == Kind::rf64 || kind == Kind::bw64) chunk(out, "ds64", ds64, ds64.size());
        chunk(out, "fmt ", fmt, fmt.size());
        for (const auto& [id, body] : before) chunk(out, id, body, body.size());
        const bool big = kind == Kind::rf64 || kind == Kind::bw64;
        chunk(out, "data", data, unstated ? 0 : big ? 0xFFFFFFFF : data.size());
        for (const auto& [id, body] : after) chunk(out, id, body, body.size());
        return out;
    }
};

// The chunks of a file written by the program, with their sizes checked against the file.
struct Parsed {
    Bytes data;
    std::map<std::string, Bytes> chunks;
    std::vector<std::string> order;
};

Parsed parse(const Bytes& file, Kind kind) {
    Parsed p;
    const bool w64 = kind == Kind::w64, big = kind == Kind::rf64 || kind == Kind::bw64;
    EXPECT_EQ(readLe(file, w64 ? 16 : 4, w64 ? 8 : 4), w64   ? file.size()
                                                       : big ? 0xFFFFFFFF
                                                             : file.size() - 8);
    for (std::size_t at = w64 ? 40 : 12; at < file.size();) {
        const std::string id(file.begin() + static_cast<long>(at),
                             file.begin() + static_cast<long>(at) + 4);
        std::uint64_t size = w64 ? readLe(file, at + 16, 8) - 24 : readLe(file, at + 4, 4);
        const std::size_t body = at + (w64 ? 24 : 8);
        if (id == "data" && big) size = readLe(p.chunks.at("ds64"), 8, 8);
        if (id == "ds64") {
            EXPECT_EQ(readLe(file, body, 8), file.size() - 8);
        }
        const Bytes bytes(file.begin() + static_cast<long>(body),
                          file.begin() + static_cast<long>(body + size));
        (id == "data" ? p.data : p.chunks[id]) = bytes;
        p.order.push_back(id);
        at = w64 ? (body + size + 7) / 8 * 8 : body + size + size % 2;
    }
    return p;
}

// An output's pieces: the input's samples from `from`, `count` of them, or silence.
struct Piece {
    std::size_t from, count;
    bool silence = false;
};

Bytes expected(const Wav& wav, const std::vector<Piece>& pieces) {
    const Bytes in = wav.samplesBytes();
    const std::size_t align = static_cast<std::size_t>(wav.channels * wav.bits / 8);
    Bytes out;
    for (const Piece& p : pieces) {
        if (p.silence) {
            out.insert(out.end(), p.count * align, wav.bits == 8 ? 0x80 : 0);
        } else {
            out.insert(out.end(), in.begin() + static_cast<long>(p.from * align),
                       in.begin() + static_cast<long>((p.from + p.count) * align));
        }
    }
    return out;
}

// The samples of a FLAC output as flac decodes them, checked on the way: flac -t passes it with
// nothing to say but that its MD5 is unset, STREAMINFO counts its samples, and its frames,
// as ffprobe reads their numbers, follow one another from 0 (ffmpeg 5.1 reads no 32-bit FLAC).
Bytes flacSamples(const std::string& path, std::size_t align, int bits) {
    const auto [status, said] = shell("flac -t -s " + path + " 2>&1");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(said, std::filesystem::path(path).filename().string() +
                        ": WARNING, cannot check MD5 signature since it was unset in the "
                        "STREAMINFO\n");
    EXPECT_EQ(shell("flac -d -s -f " + path + " -o " + path + ".wav 2>/dev/null").first, 0);
    const Bytes data = parse(readFile(path + ".wav"), Kind::riff).data;
    const std::size_t samples = data.size() / align;
    EXPECT_EQ(shell("metaflac --show-total-samples " + path).second,
              std::to_string(samples) + "\n");
    if (!haveFfmpeg() || bits == 32) return data;
    // ffmpeg decodes the same samples, and no frame but the last holds fewer than 16.
    const char* codec = bits == 8 ? "pcm_u8" : bits == 16 ? "pcm_s16le" : "pcm_s24le";
    EXPECT_EQ(shell("ffmpeg -v error -y " + strictChecks + " -i " + path + " -c:a " + codec + " " +
                    path + ".ff.wav")
                  .first,
              0);
    EXPECT_EQ(parse(readFile(path + ".ff.wav"), Kind::riff).data, data);
    std::istringstream packets(shell("ffprobe -v error -select_streams a -show_entries "
                                     "packet=pts,duration,pos -of csv=p=0 " +
                                     path)
                                   .second);
    std::size_t next = 0, pts = 0, duration = 0, pos = 0, first = 0, shortOnes = 0;
    std::vector<std::size_t> sizes;
    for (char comma = 0; packets >> pts >> comma >> duration >> comma >> pos; next += duration) {
        EXPECT_EQ(pts, next) << path;
        if (duration < 16) ++shortOnes;
        if (sizes.empty()) first = pos;
        sizes.push_back(duration);
    }
    EXPECT_EQ(next, samples) << path;
    // Fixed block sizes where every frame but the last has the first's, and the last no more.
    const bool same =
        !sizes.empty() &&
        std::all_of(sizes.begin(), sizes.end() - 1, [&](std::size_t n) { return n == sizes[0]; }) &&
        sizes.back() <= sizes[0];
    if (!sizes.empty()) {
        EXPECT_EQ(readFile(path).at(first + 1), same ? 0xF8 : 0xF9) << path;
    }
    EXPECT_LE(shortOnes, 1u) << path;
    return data;
}

Wav of(Kind kind, int bits = 16, int rate = 8000, int channels = 2) {
    Wav wav;
    wav.kind = kind, wav.bits = bits, wav.rate = rate, wav.channels = channels;
    return wav;
}

TEST(PcmTest, EverySeamFallsOnItsSample) {
    const Piece all{0, 80000};
    const struct {
        const char* what;
        Wav wav;
        std::vector<std::string> args;
        std::vector<std::vector<Piece>> outputs;  // morvane_in.wav, or numbered parts
        const char* edl = "";                     // cuts.edl, for --edl
    } rows[] = {
        {"a window", of(Kind::riff), {"1.25", "2.5"}, {{{10000, 10000}}}},
        {"halves up", of(Kind::riff, 24, 8000, 1), {"0.0078125", "0.5"}, {{{63, 3937}}}},
        {"a window past the end", of(Kind::rf64), {"9", "30"}, {{{72000, 8000}}}},
        {"a delay",
         of(Kind::bw64, 32),
         {"--delay", "0.1", "--", "1", "2"},
         {{{0, 800, true}, {8000, 8000}}}},
        {"a negative delay",
         of(Kind::w64, 8, 8000, 3),
         {"--delay", "-0.5", "--", "1", "2"},
         {{{12000, 4000}}}},
        {"edits",
         of(Kind::riff),
         {"--edit", "1,+0.25", "--edit", "3,-1"},
         {{{0, 8000}, {0, 2000, true}, {8000, 16000}, {32000, 48000}}}},
        {"a split",
         of(Kind::w64),
         {"--split", "timestamps:2.5,4"},
         {{{0, 20000}}, {{20000, 12000}}, {{32000, 48000}}}},
        {"parts",
         of(Kind::rf64, 24),
         {"--split", "parts:1-2,+3-3.5"},
         {{{8000, 8000}, {24000, 4000}}}},
        {"a whole cut", of(Kind::riff, 8, 8000, 1), {"0", "10"}, {{all}}},
        {"no samples: no file", of(Kind::riff), {"2", "2.00001"}, {}},
        {"an EDL: a cut and a mute",
         of(Kind::riff, 8, 8000, 1),
         {"--edl", "cuts.edl"},
         {{{0, 8000}, {16000, 4000}, {20000, 4004, true}, {24004, 55996}}},
         "1 2 0\n2.5 3.0005 1\n"},
    };
    // Each row cuts the WAV file and, with flac at hand, the same samples as FLAC.
    for (const char* in : {"in.wav", "in.flac"}) {
        const bool flac = std::string(in) == "in.flac";
        if (flac && !haveFlac()) break;
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(row.what) + ", " + in);
            TempDir dir;
            Wav wav = row.wav;
            if (flac) wav.kind = Kind::riff;  // all flac reads of them
            writeFile(dir / "in.wav", wav.file());
            if (flac) {
                ASSERT_EQ(
                    shell("flac -s -f --channel-map=none " + (dir / "in.wav") + " 2>/dev/null")
                        .first,
                    0);
            }
            writeFile(dir / "cuts.edl", Bytes(row.edl, row.edl + std::strlen(row.edl)));
            std::vector<std::string> args = row.args;
            const bool positional = args[args.size() - 2][0] != '-';
            args.insert(positional ? args.end() - 2 : args.end(), in);
            const Result r = runMorvane(args, dir.path.string());
            ASSERT_EQ(r.status, 0) << r.err;
            const std::string ext = flac ? ".flac" : ".wav";
            if (row.outputs.empty()) {
                EXPECT_NE(r.err.find("nothing to cut: the window holds no samples"),
                          std::string::npos);
                EXPECT_FALSE(std::filesystem::exists(dir / ("morvane_in" + ext)));
            }
            for (std::size_t i = 0; i < row.outputs.size(); ++i) {
                const std::string name = row.outputs.size() == 1
                                             ? "morvane_in" + ext
                                             : "morvane_in-00" + std::to_string(i + 1) + ext;
                const std::size_t align = static_cast<std::size_t>(wav.channels * wav.bits / 8);
                const Bytes data = flac ? flacSamples(dir / name, align, wav.bits)
                                        : parse(readFile(dir / name), wav.kind).data;
                EXPECT_EQ(data, expected(wav, row.outputs[i])) << name;
                // ffprobe reads the header back: every kind, BW64 included.
                if (!haveFfmpeg() || (flac && wav.bits == 32)) continue;
                EXPECT_EQ(shell("ffprobe -v error -show_entries stream=duration_ts -of csv=p=0 " +
                                (dir / name))
                              .second,
                          std::to_string(data.size() / align) + "\n")
                    << name;
            }
        }
    }
}

TEST(PcmTest, ChunksAreCopiedAndTellTheOutput) {
    Wav wav = of(Kind::riff, 16, 48000);
    Bytes bext(346, 7);
    std::fill(bext.begin() + 338, bext.end(), 0);
    bext[338] = 0x10;  // 16 samples after midnight
    wav.before = {{"fact", {0, 0, 0, 0}}, {"bext", bext}, {"cue ", {1, 2, 3}}, {"odd!", {5}}};
    wav.after = {{"LIST", {'a', 'd', 't', 'l'}}, {"tail", {9, 9, 9}}};
    TempDir dir;
    writeFile(dir / "in.wav", wav.file());
    const Result r =
        runMorvane({"--verbose", "--delay", "0.5", "--", "in.wav", "1", "1.25"}, dir.path.string());
    EXPECT_NE(r.err.find("left out the cue  chunk: it counts the input's samples"),
              std::string::npos);
    EXPECT_NE(r.err.find("left out the LIST (adtl) chunk"), std::string::npos) << r.err;
    const Parsed out = parse(readFile(dir / "morvane_in.wav"), Kind::riff);
    EXPECT_EQ(out.order,
              (std::vector<std::string>{"fmt ", "fact", "bext", "odd!", "data", "tail"}));
    EXPECT_EQ(readLe(out.chunks.at("fact"), 0, 4), 36000u);
    // 48000 samples left out, 24000 of silence put in front.
    EXPECT_EQ(readLe(out.chunks.at("bext"), 338, 8), 16u + 48000 - 24000);
    EXPECT_EQ(out.data, expected(wav, {{0, 24000, true}, {48000, 12000}}));
}

TEST(PcmTest, UnstatedSizesRunToTheEnd) {
    Wav wav = of(Kind::riff);
    wav.unstated = true;
    TempDir dir;
    Bytes file = wav.file();
    file.insert(file.end(), {1, 2, 3});  // a partial sample frame
    writeFile(dir / "in.wav", file);
    Result r = runMorvane({"--verbose", "--check", "in.wav", "9", "20"}, dir.path.string());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("its samples run to the end of the file"), std::string::npos);
    EXPECT_NE(r.err.find("the data ends with 3 bytes of a sample frame of 4"), std::string::npos);
    EXPECT_EQ(parse(readFile(dir / "morvane_in.wav"), Kind::riff).data,
              expected(wav, {{72000, 8000}}));
    r = runMorvane({"--repair", "in.wav", "9", "20"}, dir.path.string());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("nothing to mend"), std::string::npos);
}

TEST(PcmTest, InputThatIsNotPcmToCut) {
    const auto with = [](auto change) {
        Wav wav = of(Kind::riff);
        change(wav);
        Bytes file = wav.file();
        return file;
    };
    Bytes spdif = with([](Wav& w) { w.samples = 100; });
    const std::size_t data = spdif.size() - 400 + 40;
    const std::uint8_t burst[] = {0x72, 0xF8, 0x1F, 0x4E, 0x01, 0x00};
    std::memcpy(&spdif[data], burst, sizeof burst);
    Bytes dts = spdif;
    const std::uint8_t sync14[] = {0xFF, 0x1F, 0x00, 0xE8, 0xF1, 0x07};
    std::memcpy(&dts[data], sync14, sizeof sync14);
    Bytes lateFmt = with([](Wav&) {});
    std::memcpy(&lateFmt[12], "junk", 4);
    const struct {
        const char* what;
        Bytes file;
        std::vector<std::string> args;
        int status;
        std::string err;
    } rows[] = {
        {"AC-3 in WAV",
         with([](Wav& w) { w.tag = 0x2000; }),
         {},
         1,
         "WAV format tag 0x2000 (AC-3) is not supported: only integer PCM and float are"},
        {"S/PDIF",
         spdif,
         {},
         1,
         "the samples hold S/PDIF bursts (IEC 61937) of AC-3, which is not cut as PCM"},
        {"14-bit DTS", dts, {}, 1, "the samples hold 14-bit DTS, which is not cut as PCM"},
        {"no fmt before the data", lateFmt, {}, 1, "no fmt chunk before the data"},
        {"a cut-short header",
         Bytes(spdif.begin(), spdif.begin() + 30),
         {},
         1,
         "the header is cut short"},
        {"block align", with([](Wav& w) { w.bits = 12; }), {}, 1, "does not agree with"},
        {"--core", with([](Wav&) {}), {"--core"}, -1 & 0xFF, "PCM, which has nothing to leave out"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        writeFile(dir / "in.wav", row.file);
        std::vector<std::string> args = row.args;
        args.insert(args.end(), {"in.wav", "0", "1"});
        const Result r = runMorvane(args, dir.path.string());
        EXPECT_EQ(r.status, row.status);
        EXPECT_NE(r.err.find(row.err), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(dir / "morvane_in.wav"));
    }
}

// Files made by ffmpeg, to files and to a pipe, cut and read back by ffprobe and sox.
TEST(PcmTest, DecodersReadTheOutputs) {
    if (!haveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    // 55125 samples: 1 s, and 0.25 s of silence. A Wave64 file's samples are padded to 8 bytes,
    // which ffprobe and sox count as samples: 55125 of 4 bytes read as 55126.
    const struct {
        const char* options;
        const char* name;
        Kind kind;
        std::size_t align;     // bytes of a sample frame
        const char* readBack;  // by ffprobe and sox
    } rows[] = {{"-c:a pcm_s16le", "s16.wav", Kind::riff, 4, "55125\n"},
                {"-c:a pcm_s24le -rf64 always", "rf.wav", Kind::rf64, 6, "55125\n"},
                {"-c:a pcm_f32le -f w64", "f32.w64", Kind::w64, 8, "55125\n"},
                {"-c:a pcm_s16le -f wav -", "pipe.wav", Kind::riff, 4, "55125\n"},
                {"-c:a pcm_s24le -rf64 always -f wav -", "pipe64.wav", Kind::rf64, 6, "55125\n"},
                {"-c:a pcm_s16le -f w64 -", "pipe.w64", Kind::w64, 4, "55126\n"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::string to = std::string(row.options).back() == '-' ? " > " : " ";
        ASSERT_EQ(shell("cd " + dir.path.string() +
                        " && ffmpeg -v error -f lavfi -i sine=f=440:r=44100:d=3 -ac 2 " +
                        row.options + to + row.name)
                      .first,
                  0);
        const Result r =
            runMorvane({"--delay", "0.25", "--", row.name, "0.5", "1.5"}, dir.path.string());
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string out = dir / (std::string("morvane_") + row.name);
        EXPECT_EQ(
            shell("ffprobe -v error -show_entries stream=duration_ts -of csv=p=0 " + out).second,
            row.readBack);
        if (installed("sox")) {
            EXPECT_EQ(shell("sox --i -s " + out).second, row.readBack);
        }
        // The header itself is exact: the samples, without the padding.
        EXPECT_EQ(parse(readFile(out), row.kind).data.size(), 55125 * row.align);
    }
}

}  // namespace

namespace {

TEST(PcmTest, ReadErrorKeepsTheSamplesBeforeIt) {
    if (windowsProgram()) GTEST_SKIP() << "the fault shim is preloaded into POSIX programs only";
    const Wav wav = of(Kind::riff);
    TempDir dir;
    writeFile(dir / "in.wav", wav.file());
    const Result r = runMorvane({"--quiet", "in.wav", "0", "10"}, dir.path.string(),
                                shimmed("IO_FAULT_READ_LIMIT=100000"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("errors while reading from in.wav\n"), std::string::npos) << r.out;
    const Bytes data = parse(readFile(dir / "morvane_in.wav"), Kind::riff).data;
    const Bytes whole = expected(wav, {{0, 80000}});
    ASSERT_GT(data.size(), 0u);
    EXPECT_EQ(data, Bytes(whole.begin(), whole.begin() + static_cast<long>(data.size())));
}

}  // namespace

namespace {

// The samples at whose time each frame of `path` starts, as ffprobe reads them.
std::vector<std::size_t> frameStarts(const std::string& path) {
    std::istringstream packets(
        shell("ffprobe -v error -show_entries packet=pts -of csv=p=0 " + path).second);
    std::vector<std::size_t> starts;
    for (std::size_t pts = 0; packets >> pts;) starts.push_back(pts);
    return starts;
}

// Files as encoders make them, cut to the sample: a window, and an edit list that takes the
// first sample out of every frame, so that every frame is decoded by the program's decoder
// and must agree with flac's.
TEST(FlacTest, EveryEncoderAndLayoutIsCutToTheSample) {
    if (!haveFlac() || !haveFfmpeg()) GTEST_SKIP() << "flac or ffmpeg is not installed";
    const auto tones = [](int bits, int rate, int channels) {
        Wav wav = of(Kind::riff, bits, rate, channels);
        wav.tones = true;
        wav.samples = static_cast<std::size_t>(rate) * 2;
        return wav;
    };
    const struct {
        const char* what;
        Wav wav;
        std::string encoder;
    } rows[] = {
        {"level 0", tones(16, 44100, 2), "flac -0"},
        {"level 5, mono at 192 kHz", tones(16, 192000, 1), "flac -5"},
        {"level 8, 24-bit 5.1 at 96 kHz", tones(24, 96000, 6), "flac -8"},
        {"7.1 in blocks of 1152", tones(24, 48000, 8), "flac -5 --blocksize=1152"},
        {"8-bit", tones(8, 22050, 2), "flac -5"},
        {"ffmpeg's encoder", tones(16, 48000, 2), "ffmpeg -v error -i in.wav -c:a flac in.flac"},
        {"variable block sizes", tones(16, 44100, 2), "flac -5"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        const std::string cd = "cd " + dir.path.string() + " && ";
        writeFile(dir / "in.wav", row.wav.file());
        const bool flac = row.encoder.rfind("flac", 0) == 0;
        ASSERT_EQ(
            shell(cd + row.encoder + (flac ? " -s --channel-map=none in.wav 2>&1" : "")).first, 0);
        const std::size_t rate = static_cast<std::size_t>(row.wav.rate);
        std::size_t skip = 0;  // samples of the WAV file before the FLAC file's first
        if (row.what == std::string("variable block sizes")) {
            // A cut that starts inside a frame numbers its frames by their samples.
            ASSERT_EQ(runMorvane({"in.flac", "0.0005", "9"}, dir.path.string()).status, 0);
            std::filesystem::rename(dir / "morvane_in.flac", dir / "in.flac");
            skip = 22;
        }
        const std::size_t align = static_cast<std::size_t>(row.wav.channels * row.wav.bits / 8);
        Result r = runMorvane({"in.flac", "0.25", "1.5"}, dir.path.string());
        ASSERT_EQ(r.status, 0) << r.err;
        const auto quarter = static_cast<std::size_t>(std::lround(0.25 * row.wav.rate));
        EXPECT_EQ(flacSamples(dir / "morvane_in.flac", align, row.wav.bits),
                  expected(row.wav, {{skip + quarter, rate * 3 / 2 - quarter}}));
        std::string edl;
        std::vector<Piece> kept;
        std::size_t from = 0;
        for (const std::size_t start : frameStarts(dir / "in.flac")) {
            if (start == 0) continue;
            char line[64];
            std::snprintf(line, sizeof line, "%.9f %.9f 0\n", static_cast<double>(start) / rate,
                          static_cast<double>(start + 1) / rate);
            edl += line;
            kept.push_back({skip + from, start - from});
            from = start + 1;
        }
        kept.push_back({skip + from, row.wav.samples - skip - from});
        ASSERT_GT(kept.size(), 10u);
        writeFile(dir / "cuts.edl", Bytes(edl.begin(), edl.end()));
        r = runMorvane({"--edl", "cuts.edl", "in.flac"}, dir.path.string());
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(flacSamples(dir / "morvane_in.flac", align, row.wav.bits),
                  expected(row.wav, kept));
    }
}

// The head of every part: the ID3v2 tag before "fLaC", the blocks in their order but the
// CUESHEET, and a seek table of the input's length whose points name the part's own frames.
TEST(FlacTest, TheHeaderTellsTheOutput) {
    if (!haveFlac() || !haveFfmpeg()) GTEST_SKIP() << "flac or ffmpeg is not installed";
    TempDir dir;
    Wav wav = of(Kind::riff, 16, 44100, 2);
    wav.tones = true;
    writeFile(dir / "in.wav", wav.file());
    const std::string cue = "FILE \"in.wav\" WAVE\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n";
    writeFile(dir / "c.cue", Bytes(cue.begin(), cue.end()));
    ASSERT_EQ(
        shell("cd " + dir.path.string() +
              " && flac -s -S 0.2s in.wav 2>&1 && printf x > p.png && metaflac --set-tag=T=x " +
              "'--import-picture-from=3|image/png|cover|1x1x24|p.png' " +
              "--import-cuesheet-from=c.cue in.flac 2>/dev/null && " +
              "(printf 'ID3\\4\\0\\0\\0\\0\\0\\5hello'; cat in.flac) > tagged.flac")
            .first,
        0);
    const Result r =
        runMorvane({"--verbose", "--split", "timestamps:0.5", "tagged.flac"}, dir.path.string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("left out the CUESHEET block: it counts the input's samples"),
              std::string::npos);
    const auto blocks = [](const std::string& path) {
        return shell("metaflac --list " + path + " | grep -E '^  (type|seek points):'").second;
    };
    const std::string in = blocks(dir / "tagged.flac");
    for (const char* part : {"morvane_tagged-001.flac", "morvane_tagged-002.flac"}) {
        SCOPED_TRACE(part);
        const Bytes out = readFile(dir / part);
        const Bytes head = {'I', 'D', '3', 4,   0,   0,   0,   0,   0,  5,
                            'h', 'e', 'l', 'l', 'o', 'f', 'L', 'a', 'C'};
        EXPECT_EQ(Bytes(out.begin(), out.begin() + 19), head);
        std::string want = in;
        want.erase(want.find("  type: 5 (CUESHEET)\n"), 21);
        EXPECT_EQ(blocks(dir / part), want);
        // Every point names a frame: its first sample, its offset from the first frame, its
        // length.
        std::istringstream packets(
            shell("ffprobe -v error -select_streams a -show_entries packet=pts,pos,duration "
                  "-of csv=p=0 " +
                  (dir / part))
                .second);
        std::map<std::size_t, std::string> frames;
        std::size_t pts = 0, pos = 0, duration = 0, first = 0;
        for (char comma = 0; packets >> pts >> comma >> duration >> comma >> pos;) {
            if (frames.empty()) first = pos;
            frames[pts] = "sample_number=" + std::to_string(pts) +
                          ", stream_offset=" + std::to_string(pos - first) +
                          ", frame_samples=" + std::to_string(duration);
        }
        std::istringstream points(
            shell("metaflac --list --block-type=SEEKTABLE " + (dir / part) +
                  " | sed -n 's/^    point [0-9]*: //p' | grep -v PLACEHOLDER")
                .second);
        std::size_t count = 0;
        for (std::string point; std::getline(points, point); ++count) {
            const std::size_t sample = std::stoul(point.substr(point.find('=') + 1));
            EXPECT_EQ(frames[sample], point);
        }
        EXPECT_GE(count, 2u);
    }
}

// A FLAC file of 2 s at 44.1 kHz in frames of 4096, and where each frame starts.
std::vector<std::size_t> flacInput(const TempDir& dir, Wav& wav) {
    wav = of(Kind::riff, 16, 44100, 2);
    wav.tones = true;
    wav.samples = 88200;
    writeFile(dir / "in.wav", wav.file());
    EXPECT_EQ(shell("cd " + dir.path.string() + " && flac -s in.wav").first, 0);
    std::istringstream packets(
        shell("ffprobe -v error -show_entries packet=pos -of csv=p=0 " + (dir / "in.flac")).second);
    std::vector<std::size_t> starts;
    for (std::size_t pos = 0; packets >> pos;) starts.push_back(pos);
    return starts;
}

// --check names a frame that fails its CRC or comes out of turn, a cut keeps it failing, and
// --repair makes its samples, or those the numbers say are missing, silence.
TEST(FlacTest, DamageIsNamedAndMended) {
    if (!haveFlac() || !haveFfmpeg()) GTEST_SKIP() << "flac or ffmpeg is not installed";
    const std::size_t block = 4096;
    const struct {
        const char* what;
        bool gone;  // frames 8 to 10 are gone, rather than a bit of frame 5 flipped
        std::vector<std::string> args;
        std::string said;
        std::vector<Piece> pieces;  // of a repaired output
    } rows[] = {
        {"a damaged frame",
         false,
         {"--check", "in.flac", "0", "3"},
         "(ending at 0.557 s) fails its CRC check\n",
         {}},
        {"a cut through it", false, {"--check", "in.flac", "0.5", "3"}, "fails its CRC check", {}},
        {"a damaged frame mended",
         false,
         {"--repair", "in.flac", "0", "3"},
         "(ending at 0.557 s) with silence\n",
         {{0, 5 * block}, {0, block, true}, {6 * block, 88200 - 6 * block}}},
        {"frames gone",
         true,
         {"--check", "in.flac", "0", "3"},
         "is numbered 11 where 8 comes next",
         {}},
        {"frames gone mended",
         true,
         {"--repair", "in.flac", "0", "3"},
         "filled 0.279 s (12288 silent samples) that the frame numbers say are missing",
         {{0, 8 * block}, {0, 3 * block, true}, {11 * block, 88200 - 11 * block}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        Wav wav;
        const std::vector<std::size_t> starts = flacInput(dir, wav);
        Bytes file = readFile(dir / "in.flac");
        if (row.gone) {
            file.erase(file.begin() + static_cast<long>(starts.at(8)),
                       file.begin() + static_cast<long>(starts.at(11)));
        } else {
            file.at(starts.at(5) + 100) ^= 0x10;
        }
        writeFile(dir / "in.flac", file);
        const Result r = runMorvane(row.args, dir.path.string());
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(row.said), std::string::npos) << r.err;
        const std::string out = dir / "morvane_in.flac";
        if (row.pieces.empty()) {
            // What failed in the input fails in the output.
            const bool frameFails = !row.gone;
            EXPECT_EQ(shell("flac -t -s " + out + " 2>/dev/null").first != 0, frameFails);
        } else {
            EXPECT_EQ(flacSamples(out, 4, 16), expected(wav, row.pieces));
        }
    }
}

// Input that is no FLAC file to cut: a status of 1, a reason and no file.
TEST(FlacTest, InputThatIsNotFlacToCut) {
    if (!haveFlac() || !haveFfmpeg()) GTEST_SKIP() << "flac or ffmpeg is not installed";
    const struct {
        const char* what;
        std::size_t at;  // the byte changed, 0 for none
        std::uint8_t mask;
        std::vector<std::string> args;
        int status;
        std::string said;
    } rows[] = {
        {"Ogg", 0, 0, {}, 1, "FLAC in Ogg is not supported: only a native FLAC file (fLaC) is"},
        {"no STREAMINFO", 4, 0x04, {}, 1, "the FLAC metadata does not start with its STREAMINFO"},
        {"mono in STREAMINFO", 20, 0x02, {}, 1, "the first frame's header contradicts STREAMINFO"},
        {"--core", 0, 0, {"--core"}, 255, "FLAC, which has nothing to leave out"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        Wav wav;
        flacInput(dir, wav);
        if (row.what == std::string("Ogg")) {
            ASSERT_EQ(shell("cd " + dir.path.string() +
                            " && ffmpeg -v error -i in.wav -c:a flac -f ogg -y in.flac")
                          .first,
                      0);
        }
        Bytes file = readFile(dir / "in.flac");
        file.at(row.at) ^= row.mask;
        writeFile(dir / "in.flac", file);
        std::vector<std::string> args = row.args;
        args.insert(args.end(), {"in.flac", "0", "1"});
        const Result r = runMorvane(args, dir.path.string());
        EXPECT_EQ(r.status, row.status);
        EXPECT_NE(r.err.find(row.said), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(dir / "morvane_in.flac"));
    }
}

}  // namespace

// An MP3 file's frames as the standards lay them out, written apart from the program's reading:
// where the audio lies after the tags, the header frame's fields, and the first frame whose main
// data starts before the first slot, inside the main data before it, or runs past its own slot.
struct Mp3Scan {
    std::size_t frames = 0, audio = 0, end = 0;  // audio frames; where the first frame and the
                                                 // tags after them start
    std::size_t info = 0, xing = 0;              // the header frame's size, and its Xing field
    std::string fault;
    std::vector<std::size_t> starts;  // of the audio frames
};

Mp3Scan scanMp3(const Bytes& d) {
    Mp3Scan scan;
    std::size_t i = d.size() >= 10 && d[0] == 'I' && d[1] == 'D' && d[2] == '3'
                        ? 10 + (d[6] << 21 | d[7] << 14 | d[8] << 7 | d[9])
                        : 0;
    scan.audio = i;
    const int kbits[2][15] = {{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
                              {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};
    std::size_t slots = 0, dataEnd = 0;
    for (; i + 4 <= d.size() && d[i] == 0xFF && (d[i + 1] & 0xE6) == 0xE2; scan.end = i) {
        const int version = d[i + 1] >> 3 & 3, lsf = version != 3 ? 1 : 0;
        const int rate = std::array{44100, 48000, 32000}[d[i + 2] >> 2 & 3] >> (version == 3   ? 0
                                                                                : version == 2 ? 1
                                                                                               : 2);
        const bool mono = d[i + 3] >> 6 == 3;
        const std::size_t size = static_cast<std::size_t>(
            (lsf != 0 ? 72 : 144) * kbits[lsf][d[i + 2] >> 4] * 1000 / rate + (d[i + 2] >> 1 & 1));
        const std::size_t side = lsf != 0 ? (mono ? 9 : 17) : (mono ? 17 : 32);
        const std::size_t at = i + ((d[i + 1] & 1) != 0 ? 4 : 6), slot = size - (at - i) - side;
        const std::string tag(d.begin() + static_cast<long>(i + 4 + side),
                              d.begin() + static_cast<long>(i + 8 + side));
        if (i == scan.audio && (tag == "Xing" || tag == "Info")) {
            scan.info = size, scan.xing = i + 4 + side, i += size;
            continue;
        }
        const auto field = [&](std::size_t from, int n) {
            std::size_t value = 0;
            for (std::size_t bit = from; bit < from + static_cast<std::size_t>(n); ++bit) {
                value = value << 1 | (d[at + bit / 8] >> (7 - bit % 8) & 1);
            }
            return value;
        };
        const std::size_t back = field(0, lsf != 0 ? 8 : 9);
        std::size_t length = 0, pos = lsf != 0 ? (mono ? 9 : 10) : (mono ? 18 : 20);
        for (int g = 0; g < (2 - lsf) * (mono ? 1 : 2); ++g, pos += lsf != 0 ? 63 : 59) {
            length += field(pos, 12);
        }
        const std::size_t bytes = (length + 7) / 8;
        scan.starts.push_back(i);
        const std::string where = "frame " + std::to_string(scan.frames) + ": ";
        if (scan.fault.empty() && back > slots) scan.fault = where + "before the first slot";
        if (scan.fault.empty() && bytes > 0 && slots - back < dataEnd)
            scan.fault = where + "overlap";
        if (scan.fault.empty() && bytes > back + slot) scan.fault = where + "past its slot";
        if (bytes > 0) dataEnd = slots - back + bytes;
        slots += slot, i += size, ++scan.frames;
    }
    return scan;
}

std::uint32_t bigEndian(const Bytes& d, std::size_t at, int n) {
    std::uint32_t value = 0;
    for (int k = 0; k < n; ++k) value = value << 8 | d.at(at + static_cast<std::size_t>(k));
    return value;
}

std::uint16_t lameCrc(const Bytes& d, std::size_t from, std::size_t to) {
    std::uint16_t crc = 0;
    for (std::size_t i = from; i < to; ++i) {
        crc ^= d[i];
        for (int k = 0; k < 8; ++k) crc = (crc & 1) != 0 ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

// An MP3 output checked: every frame finds its main data, mp3val, ffmpeg and mpg123 have nothing
// to say of it, and its header frame's counts and CRCs hold, and, where the program `made` it,
// its TOC names the frame at each hundredth. Its samples as ffmpeg decodes them.
std::string mp3Samples(const std::string& path, std::size_t perFrame, bool made = true,
                       std::vector<float>* mpg123 = nullptr) {
    const Bytes file = readFile(path);
    const Mp3Scan scan = scanMp3(file);
    EXPECT_EQ(scan.fault, "") << path;
    const std::string said = shell("mp3val " + path + " | grep -v 'No supported tags'").second;
    EXPECT_EQ(said.find("WARNING"), std::string::npos) << said;
    EXPECT_EQ(said.find("ERROR"), std::string::npos) << said;
    const std::string pcm = shell("ffmpeg -nostdin -v warning " + strictChecks + " -i " + path +
                                  " -f s16le - 2>" + path + ".said")
                                .second;
    // Without a header frame, ffmpeg estimates every file's length, the encoder's own too.
    const std::string estimate = scan.info == 0 ? " | grep -v 'Estimating duration'" : "";
    EXPECT_EQ(shell("cat " + path + ".said" + estimate).second, "") << path;
    if (haveMpg123()) {
        const Decoded other = mpg123Decode(path);
        EXPECT_EQ(other.status, 0);
        EXPECT_EQ(other.messages, "") << path;
        if (mpg123 != nullptr) *mpg123 = other.samples;
    }
    if (scan.info == 0) return pcm;
    const std::size_t x = scan.xing, lame = x + 120, frames = bigEndian(file, x + 8, 4);
    EXPECT_EQ(frames, scan.frames);
    EXPECT_EQ(bigEndian(file, x + 12, 4), scan.end - scan.audio);
    EXPECT_EQ(bigEndian(file, lame + 34, 2), lameCrc(file, scan.audio, lame + 34));
    EXPECT_EQ(bigEndian(file, lame + 32, 2), lameCrc(file, scan.audio + scan.info, scan.end));
    for (std::size_t i = 0; i < 100 && made; ++i) {
        const std::size_t at = scan.starts.at(i * frames / 100) - scan.audio;
        EXPECT_EQ(file[x + 16 + i], std::min<std::size_t>(255, 256 * at / (scan.end - scan.audio)));
    }
    const std::uint32_t delayAndPadding = bigEndian(file, lame + 21, 3);
    EXPECT_EQ(frames * perFrame - (delayAndPadding >> 12) - (delayAndPadding & 0xFFF),
              pcm.size() / 2 / (file[scan.audio + 3] >> 6 == 3 ? 1 : 2));
    return pcm;
}

// Every output of every plan finds its main data and reads cleanly. Where the input has a LAME
// tag, a window, and each part of a split, decodes to exactly the whole input's samples; other
// plans are as long as asked within half a frame for each seam. Without one, whole frames.
TEST(Mp3Test, EveryPlanIsPlayedAsAsked) {
    if (!installed("lame") || !installed("mp3val") || !haveFfmpeg()) {
        GTEST_SKIP() << "lame, mp3val or ffmpeg is not installed";
    }
    const struct {
        const char* encoder;  // of in.wav into in.mp3
        int rate;
        std::size_t perFrame;
    } inputs[] = {{"lame --quiet -b 128", 44100, 1152},
                  {"lame --quiet -V2", 44100, 1152},
                  {"lame --quiet -b 64 -p --resample 22.05", 22050, 576},
                  {"lame --quiet -b 32 -m m --resample 11.025", 11025, 576},
                  {"lame --quiet -t -b 128", 44100, 1152},
                  {"ffmpeg -v error -i", 44100, 1152}};
    const struct {
        std::vector<std::string> args;
        std::vector<std::pair<double, double>> exact;  // each output's span of the input
        double seconds;                                // or its length
        int seams;
    } plans[] = {{{"in.mp3", "2.5", "6.25"}, {{2.5, 6.25}}, 0, 0},
                 {{"--split", "timestamps:4", "in.mp3"}, {{0, 4}, {4, 10}}, 0, 0},
                 {{"--delay", "0.3", "in.mp3", "2.5", "6.25"}, {}, 4.05, 1},
                 {{"--edit", "3,+1.5", "--edit", "6,-2", "in.mp3"}, {}, 9.5, 3}};
    Wav wav = of(Kind::riff, 16, 44100, 2);
    wav.tones = true;
    wav.samples = 441000;
    for (const auto& input : inputs) {
        TempDir dir;
        writeFile(dir / "in.wav", wav.file());
        const std::string encoder = input.encoder;
        ASSERT_EQ(shell(encoder + " " + (dir / "in.wav") + " " + (dir / "in.mp3")).first, 0);
        const bool gapless = encoder.find(" -t ") == std::string::npos;
        std::vector<float> all, ours;  // as mpg123 decodes them
        const std::string whole = mp3Samples(dir / "in.mp3", input.perFrame, false, &all);
        const std::size_t width = encoder.find("-m m") == std::string::npos ? 4 : 2;
        for (const auto& plan : plans) {
            SCOPED_TRACE(encoder + ": " + plan.args[0] + " " + plan.args[1]);
            const Result r = runMorvane(plan.args, dir.path.string());
            ASSERT_EQ(r.status, 0) << r.err;
            for (std::size_t i = 0; i < std::max<std::size_t>(1, plan.exact.size()); ++i) {
                const std::string name = plan.exact.size() == 2
                                             ? "morvane_in-00" + std::to_string(i + 1) + ".mp3"
                                             : "morvane_in.mp3";
                const std::string pcm = mp3Samples(dir / name, input.perFrame, true, &ours);
                const double asked =
                    plan.exact.empty() ? plan.seconds : plan.exact[i].second - plan.exact[i].first;
                const double slack = plan.seams * 0.5 + (gapless ? 0 : 4);
                EXPECT_NEAR(static_cast<double>(pcm.size() / width), asked * input.rate,
                            slack * static_cast<double>(input.perFrame) + 1);
                // Silent frames decode to zeros.
                const std::size_t fifth = width * static_cast<std::size_t>(input.rate) / 5;
                if (plan.args[0] == "--delay") {
                    EXPECT_EQ(pcm.substr(0, fifth), std::string(fifth, 0));
                }
                if (plan.exact.empty() || !gapless) continue;
                const auto at = [&](double t) { return std::llround(t * input.rate) * width; };
                EXPECT_TRUE(pcm == whole.substr(at(plan.exact[i].first), pcm.size()));
                if (!haveMpg123()) continue;
                // mpg123 rounds a few samples differently where it starts decoding.
                ASSERT_EQ(ours.size() * 2, pcm.size());
                for (std::size_t k = 0; k < ours.size(); ++k) {
                    ASSERT_NEAR(ours[k], all[at(plan.exact[i].first) / 2 + k], 1.5) << k;
                }
            }
        }
    }
}

// The tags around the frames go to every output unchanged. A frame that breaks the reservoir's
// rules is named by --check and made silent by --repair. A cut of the window's frames alone,
// as a naive cutter makes it, fails the reservoir check that the program's outputs pass.
TEST(Mp3Test, TagsStayAndDamageIsNamed) {
    if (!installed("lame") || !installed("mp3val") || !haveFfmpeg()) {
        GTEST_SKIP() << "lame, mp3val or ffmpeg is not installed";
    }
    TempDir dir;
    Wav wav = of(Kind::riff, 16, 44100, 2);
    wav.tones = true;
    wav.samples = 220500;
    writeFile(dir / "in.wav", wav.file());
    ASSERT_EQ(shell("lame --quiet -b 128 " + (dir / "in.wav") + " " + (dir / "plain.mp3")).first,
              0);
    const Bytes plain = readFile(dir / "plain.mp3");
    const Bytes id3 = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 12, 'T',
                       'I', 'T', '2', 0, 0, 0, 2, 0, 0, 0,  'x'};
    Bytes ape(32, 0), tail;
    std::memcpy(ape.data(), "APETAGEX", 8);
    ape[8] = 0xD0, ape[9] = 0x07, ape[12] = 32;  // version 2000, 32 bytes: the footer alone
    Bytes v1(128, ' ');
    std::memcpy(v1.data(), "TAG", 3);
    tail = ape;
    tail.insert(tail.end(), v1.begin(), v1.end());
    Bytes tagged = id3;
    tagged.insert(tagged.end(), plain.begin(), plain.end());
    tagged.insert(tagged.end(), tail.begin(), tail.end());
    writeFile(dir / "in.mp3", tagged);
    ASSERT_EQ(runMorvane({"--split", "timestamps:2", "in.mp3"}, dir.path.string()).status, 0);
    for (const char* name : {"morvane_in-001.mp3", "morvane_in-002.mp3"}) {
        const Bytes out = readFile(dir / name);
        EXPECT_TRUE(std::equal(id3.begin(), id3.end(), out.begin())) << name;
        EXPECT_TRUE(std::equal(tail.rbegin(), tail.rend(), out.rbegin())) << name;
        EXPECT_EQ(scanMp3(out).fault, "") << name;
    }
    // The naive cut: the Info frame, then the frames from 2 s on.
    const Mp3Scan whole = scanMp3(plain);
    Bytes naive(plain.begin(), plain.begin() + static_cast<long>(whole.info));
    naive.insert(naive.end(), plain.begin() + static_cast<long>(whole.starts.at(77)), plain.end());
    EXPECT_NE(scanMp3(naive).fault, "");
    // A header frame that counts half the frames, as a naive cut leaves it, ends no cut early.
    Bytes stale = plain;
    stale[whole.xing + 11] = static_cast<std::uint8_t>(whole.frames / 2);
    writeFile(dir / "stale.mp3", stale);
    ASSERT_EQ(runMorvane({"stale.mp3", "0", "100"}, dir.path.string()).status, 0);
    EXPECT_EQ(mp3Samples(dir / "morvane_stale.mp3", 1152).size(), 220500u * 4);
    // Every part2_3_length of frame 40 at its most: its main data runs past its slot.
    Bytes damaged = plain;
    const std::size_t at = whole.starts.at(40);
    for (const std::size_t bit : {20, 79, 138, 197}) {
        for (std::size_t k = bit; k < bit + 12; ++k) damaged[at + 4 + k / 8] |= 0x80 >> k % 8;
    }
    writeFile(dir / "bad.mp3", damaged);
    Result r = runMorvane({"--check", "bad.mp3", "0", "5"}, dir.path.string());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("(ending at 1.046 s) has main data that runs"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("1 of " + std::to_string(whole.frames) +
                         " frames failed their CRC or main data check"),
              std::string::npos);
    EXPECT_NE(scanMp3(readFile(dir / "morvane_bad.mp3")).fault, "");
    r = runMorvane({"--repair", "bad.mp3", "0", "5"}, dir.path.string());
    EXPECT_NE(r.err.find("replaced the frame at byte " + std::to_string(at)), std::string::npos)
        << r.err;
    EXPECT_EQ(mp3Samples(dir / "morvane_bad.mp3", 1152).size(), 220500u * 4);
}
