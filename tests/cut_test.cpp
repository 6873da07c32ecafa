// The walk of a cut without the program around it: how it ended, where, and what it said on
// the way, for the ways a walk can end.
#include "cli/cut.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <utility>

#include "ac3_test_stream.h"
#include "cli/output_file.h"

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
    void replaced(std::uint64_t offset, double, bool withSilence) override {
        said.push_back((withSilence ? "replaced " : "left out ") + std::to_string(offset));
    }
    void filled(double, std::uint64_t steps, bool, std::uint64_t count,
                std::uint64_t offset) override {
        said.push_back("filled " + std::to_string(steps) + " for " + std::to_string(count) +
                       " at " + std::to_string(offset));
    }
    std::vector<std::string> said;
    std::vector<std::uintmax_t> inFile;
    std::string output;
};

TEST(CutTest, SaysHowTheWalkEnded) {
    const Bytes sample = readSample();
    const Bytes junkBetween = ac3::inserted(sample, 100 * 768, {0x0B, 0x78, 0x00});
    const struct {
        const char* what;
        Bytes stream;
        CutOptions options;
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
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        writeFile(dir / "in.ac3", c.stream);
        BitReader input((dir / "in.ac3").c_str());
        FrameReader frames(input);
        ProgressLine quiet(true);
        const std::string name = dir / "out.ac3";
        platform::FileHandle handle = platform::invalidHandle;
        OutputFile output(name, handle, input.handle(), quiet);
        Said events(name);
        const CutResult result = cut(frames, input, c.options, output, events);
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

}  // namespace
