// The walk of a cut without the program around it: how it ended, where, and what it said on
// the way, for the ways a walk can end.
#include "cli/cut.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <memory>
#include <tuple>
#include <utility>

#include "ac3_test_stream.h"
#include "cli/plan_writer.h"

namespace {

// What the walk said on the way, in short, and how many bytes the output file held then.
struct Said : CutEvents {
    explicit Said(std::string output) : output(std::move(output)) {}
    void skipped(std::uint64_t offset, std::uint64_t count, const std::string& reason) override {
        said.push_back(std::to_string(count) + " at " + std::to_string(offset) + ": " + reason);
        std::error_code none;
        inFile.push_back(std::filesystem::file_size(output, none));
    }
    void crcFailed(std::uint64_t offset, double) override {
        said.push_back("bad " + std::to_string(offset));
    }
    void replaced(std::uint64_t offset, double, bool withSilence, const std::string&) override {
        said.push_back((withSilence ? "replaced " : "left out ") + std::to_string(offset));
    }
    void filled(double, std::uint64_t steps, bool, std::uint64_t count, std::uint64_t offset,
                bool) override {
        said.push_back("filled " + std::to_string(steps) + " for " + std::to_string(count) +
                       " at " + std::to_string(offset));
    }
    std::vector<std::string> said;
    std::vector<std::uintmax_t> inFile;
    std::string output;
};

// A plain cut: the window, and what it asks of the walk.
struct Asked {
    double from = 0.0, to = 0.0;
    bool resync = false;
    double delay = 0.0;
};

TEST(CutTest, SaysHowTheWalkEnded) {
    const Bytes sample = readSample();
    const Bytes junkBetween = ac3::inserted(sample, 100 * 768, {0x0B, 0x78, 0x00});
    const struct {
        const char* what;
        Bytes stream;
        Asked options;
        CutEnd end;
        double time;
        bool windowReached;
        std::uint64_t badSpotOffset, unread;
        std::vector<std::string> said = {};       // by the events, in order
        std::vector<std::uintmax_t> inFile = {};  // bytes in the output file at each skip
    } cases[] = {
        {"a window inside the stream", sample, {1, 2}, CutEnd::windowComplete, 2.016, true, 0, 0},
        {"a window to the end", sample, {0, 1e6}, CutEnd::endOfInput, 8.0, true, 0, 0},
        {"a window after the end", sample, {9, 10}, CutEnd::endOfInput, 8.0, false, 0, 0},
        {"junk", junkBetween, {0, 1e6}, CutEnd::badSpot, 3.2, true, 76800, 115203},
        {"junk after the window", junkBetween, {0, 3.17}, CutEnd::windowComplete, 3.2, true, 0, 0},
        {"junk, resynchronised",
         junkBetween,
         {0, 1e6, true},
         CutEnd::endOfInput,
         8.0,
         true,
         76800,
         0,
         {"3 at 76800: no sync word"},
         {76800}},
        // The first step is held for the silence in front of it; the frames it holds are
        // written before the junk after them is said.
        {"junk after the first step of a delayed cut",
         ac3::inserted(sample, 32 * 768, {0x0B, 0x78, 0x00}),
         {1, 2, true, 0.1},
         CutEnd::windowComplete,
         2.016,
         true,
         32 * 768,
         0,
         {"3 at 24576: no sync word"},
         {4 * 768}},
        {"no frame at all", Bytes(5000, 'x'), {0, 1e6}, CutEnd::badSpot, 0.0, false, 0, 5000},
        // A start that is not a number is never reached, and the first step after the end
        // still ends the walk.
        {"a start that is not a number",
         sample,
         {std::nan(""), 1},
         CutEnd::windowComplete,
         1.024,
         false,
         0,
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        writeFile(dir / "in.ac3", c.stream);
        BitReader input((dir / "in.ac3").c_str());
        FrameStream frames(input);
        ProgressLine quiet(true);
        const std::string name = dir / "out.ac3";
        platform::FileHandle handle = platform::invalidHandle;
        const Plan plan = Plan::window(c.options.from, c.options.to, c.options.delay);
        PlanWriter output(plan, name, handle, input.handle(), quiet, frames);
        Said events(name);
        CutOptions options;
        options.resync = c.options.resync;
        const CutResult result = cut(frames, input, options, output, events);
        output.close();
        EXPECT_EQ(result.end, c.end);
        EXPECT_NEAR(result.time, c.time, 1e-9);
        EXPECT_EQ(result.windowReached, c.windowReached);
        EXPECT_EQ(result.badSpotOffset, c.badSpotOffset);
        EXPECT_EQ(result.unread, c.unread);
        EXPECT_FALSE(result.unreadAtLeast);
        EXPECT_EQ(events.said, c.said);
        EXPECT_EQ(events.inFile, c.inFile);
    }
}

// A format made up for the test: "FK", the frame's length in bytes (6 or more), its time in
// 64ths of a second (0: it plays alongside the step before it), an id, and last a check byte,
// the XOR of the bytes from the length on. A frame of 8 bytes comes padded to 9 and back.
class FakeFormat final : public FrameFormat {
public:
    explicit FakeFormat(BitReader& reader) : FrameFormat(reader) {}
    static bool startsFrame(const std::uint8_t* bytes, std::size_t) {
        return bytes[0] == 'F' && bytes[1] == 'K';
    }
    bool readFrame() override {
        frameBytes.clear();
        start = reader.offset();
        if (reader.atEnd()) return fail(Stop::endOfInput);
        reader.appendBytes(frameBytes, 4);
        if (reader.overran()) return fail(Stop::cutShort);
        if (frameBytes[0] != 'F' || frameBytes[1] != 'K') return fail(Stop::noSyncWord);
        if (frameBytes[2] < 6) return fail(Stop::reservedValue);
        reader.appendBytes(frameBytes, frameBytes[2] - 4);
        if (reader.overran()) return fail(Stop::cutShort);
        steps = frameBytes[3] != 0;
        duration = frameBytes[3] / 64.0;
        return true;
    }
    bool frameAt(std::uint64_t candidate) override {
        if (!reader.seek(candidate) || !readFrame()) return false;
        const std::uint8_t* next = reader.recent(reader.offset(), 2);
        return reader.atEnd() || (next != nullptr && startsFrame(next, 2));
    }
    std::string stopReason() const override { return "not FK"; }
    bool crcsHold() const override { return check(frameBytes) == frameBytes.back(); }
    const char* name() const override { return "fake"; }
    std::string describe() const override { return "fake"; }
    Frame silentFrame(const Frame& reference) const override {
        Frame twin(reference.size(), 0);
        std::copy(reference.begin(), reference.begin() + 4, twin.begin());
        twin.back() = check(twin);
        return twin;
    }
    std::size_t kinds() const override { return 1; }
    std::size_t kindOf(const Frame&) const override { return 0; }
    Frame replacementReference(const Frame& damaged, const Frame&) const override {
        return damaged;
    }
    bool otherSize(const Frame& frame, double time, Frame& other,
                   double& otherTime) const override {
        if (frame[2] != 8 && frame[2] != 9) return false;
        other = frame;
        other[2] = frame[2] == 8 ? 9 : 8;
        other.resize(static_cast<std::size_t>(other[2]), 0);
        otherTime = time;
        return true;
    }

    static std::int32_t check(const Frame& frame) {
        std::int32_t x = 0;
        for (std::size_t i = 2; i + 1 < frame.size(); ++i) x ^= frame[i];
        return x;
    }
};

Bytes fakeFrame(std::uint8_t id, std::uint8_t size = 8, std::uint8_t time = 2) {
    FrameFormat::Frame frame(size, 0);
    frame[0] = 'F';
    frame[1] = 'K';
    frame[2] = size;
    frame[3] = time;
    frame[4] = id;
    frame.back() = FakeFormat::check(frame);
    return {frame.begin(), frame.end()};
}

// Frames `first` to `last`; with `size`, their lengths by their ids; with `alongside`, each
// is followed by a frame that plays alongside it, with the next id.
Bytes fakeStream(int first, int last, std::uint8_t (*size)(int) = nullptr, bool alongside = false) {
    Bytes stream;
    for (int id = first; id <= last; ++id) {
        const Bytes frame = fakeFrame(static_cast<std::uint8_t>(id), size ? size(id) : 8);
        stream.insert(stream.end(), frame.begin(), frame.end());
        if (!alongside) continue;
        const Bytes extension = fakeFrame(static_cast<std::uint8_t>(++id), 8, 0);
        stream.insert(stream.end(), extension.begin(), extension.end());
    }
    return stream;
}

// The ids of an output's frames, and "s" and the length for a silent one.
std::string idsOf(const Bytes& output) {
    std::string ids;
    for (std::size_t at = 0; at + 6 <= output.size(); at += output[at + 2]) {
        if (!ids.empty()) ids += " ";
        ids += output[at + 4] != 0 ? std::to_string(output[at + 4])
                                   : "s" + std::to_string(output[at + 2]);
    }
    return ids;
}

const std::vector<FormatRow>& withFake() {
    static const std::vector<FormatRow> rows = {
        knownFormats()[0],
        {FakeFormat::startsFrame,
         [](BitReader& reader) -> std::unique_ptr<FrameFormat> {
             return std::make_unique<FakeFormat>(reader);
         },
         false},
    };
    return rows;
}

// The walk, the plans and repair work through the format interface alone: steps of 1/32 s.
TEST(CutTest, WalksAnyFormatBehindTheInterface) {
    Plan range;
    range.kind = Plan::Kind::ranges;
    range.outputs = {{{0.1, 0.2}}};
    Bytes damaged = fakeStream(1, 10);
    damaged[2 * 8 + 4] ^= 0x40;  // frame 3's id: its check fails
    Bytes lost = fakeStream(1, 10, [](int id) -> std::uint8_t { return id % 2 ? 8 : 9; });
    std::fill(lost.begin() + 8 + 9 + 8, lost.begin() + 8 + 9 + 8 + 26, 0xEE);  // frames 4 to 6
    const Bytes once = fakeStream(1, 1);
    Bytes junkFirst = {'x'};  // then a frame followed by a sync word and a bad length
    junkFirst.insert(junkFirst.end(), once.begin(), once.end());
    junkFirst.insert(junkFirst.end(), {'F', 'K', 3});
    const Bytes rest = fakeStream(1, 4);
    junkFirst.insert(junkFirst.end(), rest.begin(), rest.end());
    const struct {
        const char* what;
        Bytes stream;
        Plan plan;
        CutOptions options;
        std::string ids;
        std::vector<std::string> said = {};
    } rows[] = {
        {"a window", fakeStream(1, 10), Plan::window(0.1, 0.2), {}, "4 5 6 7"},
        {"a window keeps a step's frames together",
         fakeStream(1, 20, nullptr, true),
         Plan::window(0.1, 0.2),
         {},
         "7 8 9 10 11 12 13 14"},
        {"a delay", fakeStream(1, 10), Plan::window(0.1, 0.2, 0.07), {}, "s8 s8 4 5 6 7"},
        {"a negative delay", fakeStream(1, 10), Plan::window(0.1, 0.2, -0.07), {}, "6 7"},
        {"a range at the nearest boundaries", fakeStream(1, 10), range, {}, "4 5 6"},
        {"junk, resynchronised",
         ac3::inserted(fakeStream(1, 10), 5 * 8, {'F', 'K', 1}),
         Plan::window(0, 1e6),
         {true},
         "1 2 3 4 5 6 7 8 9 10",
         {"3 at 40: not FK"}},
        {"a damaged frame replaced",
         damaged,
         Plan::window(0, 1e6),
         {true, true, true},
         "1 2 s8 4 5 6 7 8 9 10",
         {"bad 16", "replaced 16"}},
        {"lost bytes filled by frames of both sizes",
         lost,
         Plan::window(0, 1e6),
         {true, true, true},
         "1 2 3 s9 s9 s8 7 8 9 10",
         {"filled 3 for 26 at 25"}},
        {"junk first: a format that needs two whole frames in a row",
         junkFirst,
         Plan::window(0, 1e6),
         {true},
         "1 2 3 4",
         {"12 at 0: no sync word"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        writeFile(dir / "in", row.stream);
        BitReader input((dir / "in").c_str());
        FrameStream frames(input, withFake());
        ProgressLine quiet(true);
        const std::string name = dir / "out";
        platform::FileHandle handle = platform::invalidHandle;
        PlanWriter output(row.plan, name, handle, input.handle(), quiet, frames);
        Said events(name);
        const CutResult result = cut(frames, input, row.options, output, events);
        output.close();
        EXPECT_FALSE(result.outputFailed());
        EXPECT_EQ(idsOf(readFile(name)), row.ids);
        EXPECT_EQ(events.said, row.said);
    }
}

// Ranges for the test below: an --edit list's shape, with a silence, a muted stretch and an
// open end; and three parts of a --split.
Plan rangesPlan(bool split) {
    Plan plan;
    plan.kind = Plan::Kind::ranges;
    if (split) {
        plan.numbered = true;
        plan.outputs = {{{0.5, 2.0}}, {{2.0, 4.3}}, {{6.1, 7.0}}};
        return plan;
    }
    plan.outputs = {{{0.3, 2.9}, {2.9, 2.9, false, 0.7}, {3.0, 5.5}, {5.5, 0, true}}};
    plan.mutes = {{4.0, 4.4}};
    return plan;
}

// Checking frames walks every step the long way round, through the plan's seams one by one;
// a plain walk takes most steps whole. Both must write the same files, progress lines and
// result, whatever the plan: the streams' checks all hold.
TEST(CutTest, StepsTakenWholeGoWhereTheSeamsPutThem) {
    Plan points;
    points.kind = Plan::Kind::points;
    points.numbered = true;
    points.points = {2.0, 5.0};
    const Plan plans[] = {Plan::window(1, 2),        Plan::window(0, 1e6),
                          Plan::window(1, 2, 0.1),   Plan::window(2.5, 7.3, -0.2),
                          Plan::window(7.9, 1e6, 1), rangesPlan(false),
                          rangesPlan(true),          points};
    // Eight seconds or more of each: the shorter streams repeated.
    const std::pair<std::string, int> streams[] = {
        {std::string(MORVANE_SAMPLES) + "/sample_48k.ac3", 1},
        {std::string(MORVANE_SAMPLES) + "/sample_44k1.ac3", 4},
        {std::string(MORVANE_CORPUS) + "/44100_096k_stereo.aac", 8},
        {"", 0}};
    struct Walked {
        std::vector<Bytes> files;
        std::string progress;
        CutResult result;
    };
    const auto walk = [](const std::string& stream, const Plan& plan, bool check) {
        TempDir dir;
        BitReader input(stream.c_str());
        FrameStream frames(input);
        ProgressLine progress(false);
        const std::string name = dir / "out";
        platform::FileHandle handle = platform::invalidHandle;
        PlanWriter output(plan, name, handle, input.handle(), progress, frames);
        Said events(name);
        CutOptions options;
        options.check = check;
        testing::internal::CaptureStdout();
        Walked walked{{}, "", cut(frames, input, options, output, events)};
        std::cout.flush();
        walked.progress = testing::internal::GetCapturedStdout();
        output.close();
        const std::size_t most = plan.numbered ? 9 : 1;
        for (std::size_t i = 0; i < most && std::filesystem::exists(plan.outputName(name, i));
             ++i) {
            walked.files.push_back(readFile(plan.outputName(name, i)));
        }
        return walked;
    };
    // And E-AC-3 whose steps are two frames each, the second playing alongside the first.
    std::vector<Bytes> pairs;
    for (int i = 0; i < 260; ++i) {
        const auto fill = static_cast<std::uint8_t>(i);
        pairs.push_back(ac3::withCrc2(ac3::makeEac3Frame(ac3::eac3(0, 0), fill)));
        pairs.push_back(ac3::withCrc2(ac3::makeEac3Frame(ac3::eac3(1, 0), fill)));
    }
    for (const auto& [file, times] : streams) {
        TempDir dir;
        const std::string stream = dir / "in";
        writeFile(stream, file.empty() ? ac3::joined(pairs)
                                       : ac3::joined(std::vector<Bytes>(times, readFile(file))));
        for (const Plan& plan : plans) {
            SCOPED_TRACE(file + ", plan " + std::to_string(&plan - plans));
            const Walked whole = walk(stream, plan, false), oneByOne = walk(stream, plan, true);
            EXPECT_EQ(oneByOne.result.failed, 0u);
            EXPECT_FALSE(whole.files.empty());
            EXPECT_EQ(whole.files, oneByOne.files);
            EXPECT_EQ(whole.progress, oneByOne.progress);
            const CutResult &a = whole.result, &b = oneByOne.result;
            EXPECT_EQ(a.end, b.end);
            EXPECT_EQ(a.time, b.time);
            EXPECT_EQ(a.windowReached, b.windowReached);
            EXPECT_EQ(std::tie(a.copied.frames, a.copied.bytes, a.copied.start, a.copied.end),
                      std::tie(b.copied.frames, b.copied.bytes, b.copied.start, b.copied.end));
        }
    }
}

}  // namespace
