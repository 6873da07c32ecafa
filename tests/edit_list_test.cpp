// Edit lists end to end: --split and --edit on the sample streams and on built ones, against
// the tests' own reading of the seam rule; their bad values; and the positional times.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <set>
#include <thread>

#include "program_runner.h"
#include "seam_rule.h"

namespace {

// The frames of `output` are the predicted ones: the input's bytes, or silent twins with
// their reference's length and header and valid CRCs.
void expectPieces(const Bytes& output, const Bytes& input, const std::vector<ac3::Frame>& frames,
                  const std::vector<Piece>& pieces) {
    const std::vector<ac3::Frame> out = ac3::walk(output);
    ASSERT_EQ(out.size(), pieces.size());
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const ac3::Frame& f = frames[pieces[i].frame];
        const Bytes made = slice(output, out, i, i);
        ASSERT_EQ(made.size(), f.size) << "frame " << i;
        if (!pieces[i].twin) {
            EXPECT_EQ(made, slice(input, frames, pieces[i].frame, pieces[i].frame))
                << "frame " << i;
            continue;
        }
        const std::size_t header = (input[f.offset + 5] >> 3) > 10 ? 2 : 4;
        EXPECT_TRUE(std::equal(&made[header], &made[6], &input[f.offset + header])) << i;
        EXPECT_TRUE(ac3::crcsHold(made.data(), made.size())) << "frame " << i;
        EXPECT_NE(made, slice(input, frames, pieces[i].frame, pieces[i].frame)) << "frame " << i;
    }
}

// Writes `data` into the FIFO `path` from a thread of its own.
std::thread feed(const std::string& path, const Bytes& data) {
    return std::thread([path, &data] {
        const int fd = open(path.c_str(), O_WRONLY);
        EXPECT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
        close(fd);
    });
}

TEST(EditListTest, CutsAtTheSeamsOfTheRule) {
    const Bytes sample = readSample();
    const Bytes sample44k1 = readSample("sample_44k1.ac3");
    const auto eac3Blocks = [](int numblkscod) {
        std::vector<Bytes> pieces;
        for (std::size_t i = 0; i < 200; ++i) {
            pieces.push_back(ac3::makeEac3Frame(ac3::eac3(0, 0, 200, 0, numblkscod), fillFor(i)));
        }
        return ac3::joined(pieces);
    };
    const Bytes sevenOne = steps(120, eac3Step, dependent);
    const std::string eightSeconds = " after the end of the stream, which is 8.000 s long: it ";
    const struct {
        const char* what;
        Bytes stream;
        std::vector<std::string> args;  // before the infile
        std::vector<Asked> asked;       // ranges, or
        std::vector<double> at = {};    // points, or
        double every = 0;               // a duration
        std::string err = "";
        const char* output = "morvane_in.ac3";  // its name, numbered when `numbered`
        bool numbered = true;
        bool fifo = false;
        const char* list = nullptr;  // a list file the run reads, and what it holds
        std::string content = "";
        std::vector<std::pair<double, double>> mutes = {};
    } rows[] = {
        {"parts in seconds, joined and not",
         sample,
         {"--split", "parts:1-2,+3-4,5-"},
         {{1, 2}, {3, 4, true}, {5, 0, false, true}}},
        {"parts in M:SS, H:MM:SS and ms",
         sample,
         {"--split", "parts:0:01-0:00:02.5,3500ms-"},
         {{1, 2.5}, {3.5, 0, false, true}}},
        {"an open start, one file",
         sample,
         {"--split", "parts:-1.5,+6-7"},
         {{0, 1.5}, {6, 7, true}},
         {},
         0,
         "",
         "morvane_in.ac3",
         false},
        {"a tie at 48 kHz",
         sample,
         {"--split", "parts:0.016-1.016,1.016-2"},
         {{0.016, 1.016}, {1.016, 2}}},
        {"a range after the end, and parts with nothing in them",
         sample,
         {"--split", "parts:0-1,1.001-1.002,7-9,9-10"},
         {{0, 1}, {1.001, 1.002}, {7, 9}, {9, 10}},
         {},
         0,
         "morvane: in.ac3: the range from 9.000 s starts" + eightSeconds + "adds nothing\n"},
        {"timestamps", sample, {"--split", "timestamps:2,0:04.5,7000ms"}, {}, {2, 4.5, 7}},
        {"timestamps on one boundary",
         sample,
         {"--split", "timestamps:1,1.001,30"},
         {},
         {1, 1.001, 30}},
        {"duration", sample, {"--split", "duration:3"}, {}, {3, 6}},
        {"edits",
         sample,
         {"--edit", "3,-1", "--edit", "1,+0.5"},
         {{0, 1}, {1, 1, true, false, 0.5}, {1, 3, true}, {4, 0, true, true}},
         {},
         0,
         "",
         "morvane_in.ac3",
         false},
        {"silence in front and after the end",
         sample,
         {"--edit", "0,+0.1", "--edit", "7.99,+0.2", "--edit", "20,+1"},
         {{0, 0},
          {0, 0, true, false, 0.1},
          {0, 7.99, true},
          {7.99, 0, true, false, 0.2},
          {7.99, 0, true, true}},
         {},
         0,
         "morvane: in.ac3: the edit at 20.000 s is" + eightSeconds + "does nothing\n",
         "morvane_in.ac3",
         false},
        {"44.1 kHz, padded and unpadded",
         sample44k1,
         {"--split", "parts:0.05-0.25,+0.31-1.02,1.5-"},
         {{0.05, 0.25}, {0.31, 1.02, true}, {1.5, 0, false, true}}},
        {"44.1 kHz edits",
         sample44k1,
         {"--edit", "0.5,+1.01", "--edit", "1,-0.77"},
         {{0, 0.5}, {0.5, 0.5, true, false, 1.01}, {0.5, 1, true}, {1.77, 0, true, true}},
         {},
         0,
         "",
         "morvane_in.ac3",
         false},
        {"7.1: each step whole at every seam",
         sevenOne,
         {"--split", "parts:0.3-1.01,+1.5-2.2,3-"},
         {{0.3, 1.01}, {1.5, 2.2, true}, {3, 0, false, true}}},
        {"7.1 edits",
         sevenOne,
         {"--edit", "0.5,+0.33", "--edit", "1,-0.5"},
         {{0, 0.5}, {0.5, 0.5, true, false, 0.33}, {0.5, 1, true}, {1.5, 0, true, true}},
         {},
         0,
         "",
         "morvane_in.ac3",
         false},
        {"E-AC-3, 1 block", eac3Blocks(0), {"--split", "timestamps:0.1,0.5"}, {}, {0.1, 0.5}},
        {"E-AC-3, 2 blocks",
         eac3Blocks(1),
         {"--split", "parts:0.05-0.5,+1-1.5"},
         {{0.05, 0.5}, {1, 1.5, true}},
         {},
         0,
         "",
         "morvane_in.ac3",
         false},
        {"E-AC-3, 3 blocks",
         eac3Blocks(2),
         {"--edit", "0.9,+0.2"},
         {{0, 0.9}, {0.9, 0.9, true, false, 0.2}, {0.9, 0, true, true}},
         {},
         0,
         "",
         "morvane_in.ac3",
         false},
        {"silence of frames too short to hold a silent twin",
         steps(
             60,
             [](std::size_t i) {
                 return ac3::makeEac3Frame(ac3::eac3(0, 0, 20, 0, 0), fillFor(i));
             },
             noExtras),
         {"--edit", "0.05,+0.1"},
         {{0, 0.05}, {0.05, 0.05, true, false, 0}, {0.05, 0, true, true}},
         {},
         0,
         "morvane: in.ac3: left out 19 silent steps: the steps they copy are too short to hold "
         "silent frames\n",
         "morvane_in.ac3",
         false},
        {"a FIFO",
         sample,
         {"--split", "timestamps:4"},
         {},
         {4},
         0,
         "",
         "morvane_pipe.ac3",
         true,
         true},
        {"-o with an extension",
         sample,
         {"-o", "part.eac3", "--split", "duration:5"},
         {},
         {5},
         0,
         "",
         "part.eac3"},
        {"-o without one",
         sample,
         {"-o", "dir.x/part", "--split", "duration:5"},
         {},
         {5},
         0,
         "",
         "dir.x/part"},
        // What other tools write: an ad detector's EDL with every action, CR LF line ends, a
        // byte order mark, tabs, a comment, and no end to its last line.
        {"an EDL file",
         sample,
         {"--edl", "cuts.edl"},
         {{0, 1}, {2, 6, true}, {7, 7.5, true}, {7.8, 0, true, true}},
         {},
         0,
         "",
         "morvane_in.ac3",
         false,
         false,
         "cuts.edl",
         "\xEF\xBB\xBF# from the detector\r\n1.0\t2.0\t0\r\n3 4 1\r\n\r\n5 5.5 2\r\n6 "
         "7 3\r\n7.5 7.8",
         {{3, 4}}},
        {"a chapter file",
         sample,
         {"--chapters", "chapters.txt"},
         {},
         {2.5, 5.123456},
         0,
         "",
         "morvane_in.ac3",
         true,
         false,
         "chapters.txt",
         "\xEF\xBB\xBF"
         "CHAPTER01=00:00:00.000\r\nCHAPTER01NAME=Intro\r\nCHAPTER02=00:00:02.5\r\n"
         "CHAPTER02NAME=Two\r\nCHAPTER03=00:00:05.123456"},
        {"Trim() calls at 25 fps: b = 0 and a negative b",
         sample,
         {"--fps", "25", "--trims", "cut.avs"},
         {{0, 2}, {4, 5, true}, {6, 0, true, true}},
         {},
         0,
         "",
         "morvane_in.ac3",
         false,
         false,
         "cut.avs",
         "v = AviSource(\"x.avi\")\nTrim(0,49)++Trim(100,-25) + Trim(150,0)\n"},
        {"frames at 24000/1001",
         sample,
         {"--fps", "24000/1001", "--split", "parts-frames:24-48,+96-120"},
         {{24 * 1001 / 24000.0, 48 * 1001 / 24000.0},
          {96 * 1001 / 24000.0, 120 * 1001 / 24000.0, true}},
         {},
         0,
         "",
         "morvane_in.ac3",
         false},
        {"frames at 23.976, as 24000/1001",
         sample,
         {"--fps", "23.976", "--split", "parts-frames:24-48,+96-120"},
         {{24 * 1001 / 24000.0, 48 * 1001 / 24000.0},
          {96 * 1001 / 24000.0, 120 * 1001 / 24000.0, true}},
         {},
         0,
         "",
         "morvane_in.ac3",
         false},
        {"frames at 30000/1001",
         sample,
         {"--fps", "30000/1001", "--split", "frames:30,90"},
         {},
         {30 * 1001 / 30000.0, 90 * 1001 / 30000.0}},
    };
    std::signal(SIGPIPE, SIG_IGN);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Workspace work(row.stream);
        std::filesystem::create_directory(work.dir / "dir.x");
        const Steps st(work.frames);
        std::vector<double> at = row.at;
        for (double t = row.every; row.every > 0 && t < st.B.back() + 1; t += row.every)
            at.push_back(t);
        Predicted p = row.asked.empty() ? points(st, at) : ranges(st, row.asked, work.frames);
        mute(p, st, row.mutes);
        if (row.list != nullptr) writeFile(work.dir / row.list, asBytes(row.content));
        std::vector<std::string> args = row.args;
        args.push_back(row.fifo ? "pipe.ac3" : "in.ac3");
        std::thread writer;
        if (row.fifo) {
            ASSERT_EQ(mkfifo((work.dir / "pipe.ac3").c_str(), 0600), 0);
            writer = feed(work.dir / "pipe.ac3", work.input);
        }
        const Result run = runMorvane(args, work.dir.path);
        if (writer.joinable()) writer.join();
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, row.err);
        EXPECT_EQ(run.out,
                  progressLines(work.frames, st.first[std::min(p.lastStep + 1, st.count() + 1)]) +
                      ending);
        std::size_t files = 0;
        for (std::size_t i = 0; i < p.outputs.size(); ++i) {
            SCOPED_TRACE("output " + std::to_string(i + 1));
            char number[32];
            std::snprintf(number, sizeof number, "-%03zu", i + 1);
            std::string name = row.output;
            const std::size_t point = name.rfind('.');
            if (row.numbered) {
                name.insert(
                    point != std::string::npos && point > name.rfind('/') + 1 ? point : name.size(),
                    number);
            }
            ASSERT_EQ(std::filesystem::exists(work.dir / name), !p.outputs[i].empty()) << name;
            if (p.outputs[i].empty()) continue;
            ++files;
            expectPieces(readFile(work.dir / name), work.input, work.frames, p.outputs[i]);
        }
        std::size_t made = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(work.dir.path)) {
            made += entry.is_regular_file() && entry.path().filename() != "in.ac3" &&
                    (row.list == nullptr || entry.path().filename() != row.list);
        }
        EXPECT_EQ(made, files) << "no other file";
    }
}

}  // namespace

namespace {

// A bad value: the usage text, status 255, no file, and the first line of standard error
// names the value and why.
TEST(EditListTest, BadValuesAreNamed) {
    const struct {
        std::vector<std::string> args;
        std::string first;  // line of standard error, or empty for a bad command line alone
        const char* list = nullptr;  // a list file, and what it holds
        std::string content = "";
    } rows[] = {
        {{"--split", "parts:1-0.5", "in.ac3"},
         "bad --split value: parts:1-0.5 (ranges must ascend)"},
        {{"--split", "parts:0-2,1-3", "in.ac3"},
         "bad --split value: parts:0-2,1-3 (ranges must ascend)"},
        {{"--split", "parts:0-,+5-6", "in.ac3"},
         "bad --split value: parts:0-,+5-6 (ranges must ascend)"},
        {{"--split", "parts:+0-1", "in.ac3"},
         "bad --split value: parts:+0-1 (+0-1: no range before it to join)"},
        {{"--split", "parts:1", "in.ac3"}, "bad --split value: parts:1 (1: not a range A-B)"},
        {{"--split", "parts:0-1:60", "in.ac3"},
         "bad --split value: parts:0-1:60 (1:60: 60 is not below 60)"},
        {{"--split", "parts:0-1:02:03:04", "in.ac3"},
         "bad --split value: parts:0-1:02:03:04 (1:02:03:04: not a time)"},
        {{"--split", "parts:0-360001", "in.ac3"},
         "bad --split value: parts:0-360001 (360001: over 360000 s)"},
        {{"--split", "timestamps:2,1", "in.ac3"},
         "bad --split value: timestamps:2,1 (times must ascend)"},
        {{"--split", "timestamps:2,2", "in.ac3"},
         "bad --split value: timestamps:2,2 (times must ascend)"},
        {{"--split", "timestamps:", "in.ac3"},
         "bad --split value: timestamps: (an empty time: not a time)"},
        {{"--split", "timestamps:-1", "in.ac3"},
         "bad --split value: timestamps:-1 (-1: not a time)"},
        {{"--split", "duration:0", "in.ac3"}, "bad --split value: duration:0 (shorter than 1 ms)"},
        {{"--split", "duration:1s", "in.ac3"}, "bad --split value: duration:1s (1s: not a time)"},
        {{"--split", "chunks:5", "in.ac3"},
         "bad --split value: chunks:5 (the mode is parts:, parts-frames:, timestamps:, frames: or "
         "duration:)"},
        {{"--edit", "5", "in.ac3"}, "bad --edit value: 5 (not T,+D or T,-D)"},
        {{"--edit", "5,1", "in.ac3"}, "bad --edit value: 5,1 (not T,+D or T,-D)"},
        {{"--edit", "5,+x", "in.ac3"}, "bad --edit value: 5,+x (x: not a time)"},
        {{"--edit", "2,+1", "--edit", "1,-3", "in.ac3"},
         "bad --edit value: 1,-3 (the removal reaches past the next edit)"},
        {{"--split", "duration:1", "--split", "duration:2", "in.ac3"}, ""},
        {{"--split", "duration:1", "--edit", "1,+1", "in.ac3"}, ""},
        {{"--split", "duration:1", "--delay", "1", "in.ac3"}, ""},
        {{"--edit", "0,+1", "--delay", "1", "in.ac3"}, ""},
        {{"--split", "duration:1", "in.ac3", "1", "2"}, ""},
        {{"--edit", "1,+1"}, ""},
        {{"in.ac3", "1", "2", "--split"}, ""},
        {{"--edl", "cuts.edl", "in.ac3"},
         "bad --edl file: cuts.edl line 4: 0.5 3 (entries must ascend and not overlap)",
         "cuts.edl",
         "# one\n1 2\n\n0.5 3\n"},
        {{"--edl", "cuts.edl", "in.ac3"},
         "bad --edl file: cuts.edl line 2: 1 2 3 4 (not START END [ACTION])",
         "cuts.edl",
         "0 1\r\n1 2 3 4\r\n"},
        {{"--edl", "cuts.edl", "in.ac3"},
         "bad --edl file: cuts.edl line 1: 5 (not START END [ACTION])",
         "cuts.edl",
         "5"},
        {{"--edl", "cuts.edl", "in.ac3"},
         "bad --edl file: cuts.edl line 1: 1 2 4 (unknown action 4)",
         "cuts.edl",
         "1 2 4"},
        {{"--edl", "cuts.edl", "in.ac3"},
         "bad --edl file: cuts.edl line 1: 1:75 2 (75 is not below 60)",
         "cuts.edl",
         "1:75 2"},
        {{"--edl", "cuts.edl", "in.ac3"},
         "bad --edl file: cuts.edl line 1: 3 2 (it ends before it starts)",
         "cuts.edl",
         "3 2"},
        {{"--edl", "missing.edl", "in.ac3"}, "bad --edl file: missing.edl (cannot be read)"},
        {{"--chapters", "c.txt", "in.ac3"},
         "bad --chapters file: c.txt line 3: CHAPTER02=00:00:01.000 (chapters must ascend)",
         "c.txt",
         "CHAPTER01=00:00:02.000\nCHAPTER01NAME=a\nCHAPTER02=00:00:01.000\n"},
        {{"--chapters", "c.txt", "in.ac3"},
         "bad --chapters file: c.txt line 2: TITLE=x (not CHAPTERnn= or CHAPTERnnNAME=)",
         "c.txt",
         "CHAPTER01=00:00:00.000\nTITLE=x\n"},
        {{"--chapters", "c.txt", "in.ac3"},
         "bad --chapters file: c.txt line 1: CHAPTER01=00:00:0x (not a time)",
         "c.txt",
         "CHAPTER01=00:00:0x"},
        {{"--fps", "25", "--trims", "t.avs", "in.ac3"},
         "bad --trims file: t.avs line 2: Trim(0,10) ++ Trim(5,x) (not Trim(a,b))",
         "t.avs",
         "a = 1\nTrim(0,10) ++ Trim(5,x)\n"},
        {{"--fps", "25", "--trims", "t.avs", "in.ac3"},
         "bad --trims file: t.avs line 1: Trim(50,60)+Trim(10,20) (trims must ascend)",
         "t.avs",
         "Trim(50,60)+Trim(10,20)"},
        {{"--fps", "25", "--trims", "t.avs", "in.ac3"},
         "bad --trims file: t.avs (no Trim(a,b) in it)",
         "t.avs",
         "Crop(0,0,0,0)\n"},
        {{"--trims", "t.avs", "in.ac3"}, "", "t.avs", "Trim(0,10)"},
        {{"--fps", "0", "--split", "frames:10", "in.ac3"}, "bad --fps value: 0 (not above 0)"},
        {{"--fps", "fast", "--split", "frames:10", "in.ac3"},
         "bad --fps value: fast (not a frame rate)"},
        {{"--fps", "25", "--split", "parts:1-2", "in.ac3"},
         "bad --fps value: 25 (no frame numbers to go with it)"},
        {{"--fps", "25", "in.ac3", "1", "2"},
         "bad --fps value: 25 (no frame numbers to go with it)"},
        {{"--split", "frames:10", "in.ac3"},
         "bad --split value: frames:10 (frame numbers need --fps)"},
        {{"--fps", "25", "--split", "frames:1.5", "in.ac3"},
         "bad --split value: frames:1.5 (1.5: not a frame number)"},
        {{"--edl", "cuts.edl", "--split", "duration:1", "in.ac3"}, "", "cuts.edl", "1 2"},
        {{"--edl", "cuts.edl", "--delay", "1", "in.ac3"}, "", "cuts.edl", "1 2"},
        {{"--chapters", "c.txt", "in.ac3", "1", "2"}, "", "c.txt", "CHAPTER01=00:00:00.000"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.args));
        Workspace work;
        if (row.list != nullptr) writeFile(work.dir / row.list, asBytes(row.content));
        const Result run = runMorvane(row.args, work.dir.path);
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.out, usageText);
        const std::string first = run.err.substr(0, run.err.find('\n'));
        if (row.first.empty()) {
            EXPECT_EQ(first, "options, taken when more than three arguments are given:");
        } else {
            EXPECT_EQ(first, "morvane: " + row.first);
        }
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(work.dir.path), {}),
                  row.list == nullptr ? 1 : 2);
    }
}

// The files a run made, put back together in the order of their names.
Bytes madeFiles(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("morvane_", 0) == 0) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    Bytes joined;
    for (const std::string& name : names) {
        const Bytes bytes = readFile(dir / name);
        joined.insert(joined.end(), bytes.begin(), bytes.end());
        std::filesystem::remove(dir / name);
    }
    return joined;
}

// Runs that must do what another does: a positional time that is wholly a timecode means it,
// any other is read as before; three arguments led by an option's name are read as options;
// with --check and --repair, the parts of a split are the whole repaired stream.
TEST(EditListTest, SameAsAnotherRun) {
    const Bytes sample = readSample();
    Bytes damaged = ac3::inserted(sample, 100 * 768, Bytes(500, 0));
    damaged[150 * 768 + 300] ^= 0x10;
    const struct {
        Bytes stream;
        std::vector<std::string> args, same;  // the same run as
    } rows[] = {
        {sample, {"in.ac3", "0:01", "0:00:02"}, {"in.ac3", "1", "2"}},
        {sample, {"in.ac3", "0:01.5", "0:02.250"}, {"in.ac3", "1.5", "2.25"}},
        {sample, {"in.ac3", "1:75", "2"}, {"in.ac3", "1", "2"}},
        {sample, {"in.ac3", "abc", "1"}, {"in.ac3", "0", "1"}},
        {sample, {"in.ac3", "1,5", "2"}, {"in.ac3", "1", "2"}},
        {sample,
         {"--split", "timestamps:0:04", "in.ac3"},
         {"--split", "timestamps:4", "--", "in.ac3"}},
        {damaged,
         {"--check", "--resync", "--split", "timestamps:2,5", "in.ac3"},
         {"--check", "--resync", "in.ac3", "0", "1e6"}},
        {damaged,
         {"--repair", "--split", "duration:1.5", "in.ac3"},
         {"--repair", "in.ac3", "0", "1e6"}},
        {steps(40, eac3Step, dependent),
         {"--core", "--split", "timestamps:0.5", "in.ac3"},
         {"--core", "in.ac3", "0", "1e6"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.args));
        Workspace work(row.stream);
        const Result run = runMorvane(row.args, work.dir.path);
        const Bytes made = madeFiles(work.dir);
        const Result same = runMorvane(row.same, work.dir.path);
        EXPECT_EQ(run.status, same.status);
        EXPECT_EQ(run.out, same.out);
        EXPECT_EQ(run.err, same.err);
        EXPECT_EQ(made, madeFiles(work.dir));
    }
}

// --verbose says where each range went, and how late it plays there.
TEST(EditListTest, VerboseSaysWhereEachRangeWent) {
    Workspace work;
    const Result run = runMorvane(
        {"--verbose", "--quiet", "--edit", "1,+0.5", "--edit", "3,-1", "in.ac3"}, work.dir.path);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, formatLine(work.input, work.frames) +
                           "morvane: in.ac3: part 1: 0.000 s to 0.992 s of the input at 0.000 s of "
                           "morvane_in.ac3 (offset +0.000 s)\n"
                           "morvane: in.ac3: part 2: 0.992 s to 2.976 s of the input at 1.504 s of "
                           "morvane_in.ac3 (offset -0.012 s)\n"
                           "morvane: in.ac3: part 3: 4.000 s to 8.000 s of the input at 3.488 s of "
                           "morvane_in.ac3 (offset +0.012 s)\n");
}

}  // namespace

namespace {

// --core keeps the frames that step the clock and leaves out the rest, counting them; the
// clock, the window and the progress lines are those of the same cut without it.
TEST(EditListTest, CoreKeepsTheFramesThatStepTheClock) {
    const auto crcs = [](Bytes frame) { return ac3::withCrc2(frame); };
    std::vector<Bytes> pieces;
    for (std::size_t i = 0; i < 40; ++i) {
        pieces.push_back(crcs(ac3::makeEac3Frame(ac3::eac3(0, 0), fillFor(i))));
        pieces.push_back(crcs(ac3::makeEac3Frame(ac3::eac3(1, 0, 256), fillFor(i + 1))));
    }
    const Bytes eac3Core = ac3::joined(pieces);
    Bytes damaged = eac3Core;
    damaged[20 * 768 + 100] ^= 0x10;        // the core frame of step 20
    damaged[24 * 768 + 512 + 100] ^= 0x10;  // the dependent frame of step 24
    const Bytes substreams = steps(30, eac3Step, [](std::size_t i) {
        std::vector<Bytes> extras;
        for (int sub = 1; sub <= static_cast<int>(i % 7) + 1; ++sub) {
            extras.push_back(ac3::makeEac3Frame(ac3::eac3(sub % 2 == 0 ? 2 : 0, sub), 0x11));
        }
        return extras;
    });
    const struct {
        const char* what;
        Bytes stream;
        std::vector<std::string> args;  // before the infile and the times
        double from, to;
        long silent = 0;                      // twins of the first core frame in front
        std::set<std::size_t> replaced = {};  // steps (of two frames) whose core is silence
        std::string err = "";                 // before the count of what was left out
    } rows[] = {
        {"7.1 with an AC-3 core", steps(40, ac3Step, dependent), {"--core"}, 0.5, 1},
        {"7.1 with an E-AC-3 core", eac3Core, {"--core"}, 0, 1e6},
        {"substreams 1 to 7", substreams, {"--core"}, 0.2, 0.6},
        {"with --delay", eac3Core, {"--core", "--delay", "0.1"}, 0.3, 0.7, 3},
        {"with --repair",
         damaged,
         {"--core", "--repair"},
         0,
         1e6,
         0,
         {20},
         "morvane: in.ac3: the frame at byte 15360 (ending at 0.672 s) fails its CRC check\n"
         "morvane: in.ac3: replaced the frame at byte 15360 (ending at 0.672 s) with silence\n"
         "morvane: in.ac3: the frame at byte 18944 (ending at 0.800 s) fails its CRC check\n"
         "morvane: in.ac3: 2 of 80 frames failed their CRC check\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Workspace work(row.stream);
        std::vector<std::string> args = row.args;
        for (const std::string& arg : {std::string("in.ac3"), exact(row.from), exact(row.to)})
            args.push_back(arg);
        const Result run = runMorvane(args, work.dir.path);
        const std::vector<ac3::Frame>& frames = work.frames;
        const Prediction p = predict(frames, row.from, row.to);
        std::vector<Piece> kept;
        std::size_t left = 0, bytes = 0, step = 0;
        for (std::size_t i = p.first; i <= p.last; ++i) {
            if (frames[i].steps) {
                if (kept.empty()) {
                    for (long k = 0; k < row.silent; ++k) kept.push_back({i, true});
                }
                step = i / 2;
                kept.push_back({i, row.replaced.count(step) != 0});
            } else {
                ++left;
                bytes += frames[i].size;
            }
        }
        EXPECT_EQ(run.status, row.replaced.empty() ? 0 : 2);
        EXPECT_EQ(run.out, progressLines(frames, p.progress) + ending);
        const std::string delayed =
            row.silent > 0 ? "morvane: in.ac3: delayed by 0.096 s: 3 silent frames before the cut "
                             "(0.100 s asked)\n"
                           : "";
        EXPECT_EQ(run.err, row.err + "morvane: in.ac3: kept the core: left out " +
                               counted(left, "frame") + " (" + counted(bytes, "byte") +
                               ") of extensions\n" + delayed);
        expectPieces(work.output(), work.input, frames, kept);
    }
}

}  // namespace
