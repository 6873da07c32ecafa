// End-to-end runs of the built morvane program in a scratch directory: standard output byte
// for byte, the exit status, and the output file against the input frames it should hold.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

#include "program_runner.h"

namespace {

// Windows on the 48 kHz sample: 250 frames of 0.032 s. Frames are numbered from 1; first = 0
// means that no output file is made.
TEST(CutDriverTest, CopiesTheFramesOfTheWindow) {
    const struct {
        const char* from;
        const char* to;
        std::size_t first, last;  // copied frames
        std::size_t lines;        // progress lines
    } cases[] = {
        {"1", "2", 32, 63, 62},
        {"1.01", "1.01", 32, 32, 31},
        {"0.032", "0.032", 1, 2, 1},
        {"0", "1000", 1, 250, 250},
        {"-5", "0.05", 1, 2, 1},
        {"7.99", "1000", 250, 250, 250},
        {"not a number", "0.04", 1, 2, 1},
        {"9", "10", 0, 0, 250},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << " to " << c.to);
        Workspace work;
        ASSERT_EQ(work.frames.size(), 250U);
        const Result run = runMorvane({"in.ac3", c.from, c.to}, work.dir.path);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, progressLines(work.frames, c.lines) + ending);
        EXPECT_EQ(run.err, "");
        ASSERT_EQ(work.hasOutput(), c.first != 0);
        if (c.first != 0) {
            EXPECT_EQ(work.output(), slice(work.input, work.frames, c.first - 1, c.last - 1));
        }
    }
}

TEST(CutDriverTest, WholeCutGivesEveryStreamBack) {
    for (const char* sample : {"sample_48k.ac3", "sample_44k1.ac3", "sample_32k.ac3"}) {
        SCOPED_TRACE(sample);
        Workspace work(sample);
        const Result run = runMorvane({"in.ac3", "0", "100000"}, work.dir.path);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, progressLines(work.frames, work.frames.size()) + ending);
        EXPECT_EQ(work.output(), work.input);
    }
}

TEST(CutDriverTest, FollowsTheFrameTimesAt44k1And32k) {
    for (const char* sample : {"sample_44k1.ac3", "sample_32k.ac3"}) {
        SCOPED_TRACE(sample);
        Workspace work(sample);
        const double from = 0.5, to = 1.2;
        std::size_t first = 0;
        while (work.frames[first].end < from) ++first;
        std::size_t last = first;
        while (work.frames[last].end <= to) ++last;
        const Result run = runMorvane({"in.ac3", "0.5", "1.2"}, work.dir.path);
        EXPECT_EQ(run.out, progressLines(work.frames, last) + ending);
        EXPECT_EQ(work.output(), slice(work.input, work.frames, first, last));
    }
}

// The stream ends at the first spot that is not a whole, known frame; everything before it
// is cut as usual. `kept` is the number of whole frames the run should see.
TEST(CutDriverTest, StreamEndsAtTheFirstFrameThatIsNotWhole) {
    const Bytes sample = readFile(std::string(MORVANE_SAMPLES) + "/sample_48k.ac3");
    auto withFrame = [&](std::size_t at, std::uint8_t fifthByte) {
        Bytes data = sample;
        data[at * 768 + 4] = fifthByte;
        return data;
    };
    auto repeated = [](const Bytes& piece, std::size_t times) {
        Bytes data;
        for (std::size_t i = 0; i < times; ++i) data.insert(data.end(), piece.begin(), piece.end());
        return data;
    };
    Bytes junkBetween = sample;
    junkBetween.insert(junkBetween.begin() + 100 * 768, {0x0B, 0x78, 0x00});
    Bytes junkBefore = sample;
    junkBefore.insert(junkBefore.begin(), {0x00, 0x0B, 0x77});
    const struct {
        const char* what;
        Bytes stream;
        std::size_t kept;
    } cases[] = {
        {"junk before the first frame", junkBefore, 0},
        {"junk between frames", junkBetween, 100},
        {"a truncated last frame", Bytes(sample.begin(), sample.end() - 100), 249},
        {"a reserved sample rate code", withFrame(50, 0xC0 | 20), 50},
        {"a frame size code above 37", withFrame(50, 38), 50},
        {"frames across the 1 MiB buffer edge", repeated(sample, 6), 1500},
        {"a frame ending on the buffer edge", repeated(ac3::makeFrame(0, 16, 0x42), 2050), 2050},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Workspace work(c.stream);
        ASSERT_EQ(work.frames.size(), c.kept);
        const Result run = runMorvane({"in.ac3", "0", "1e6"}, work.dir.path);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, progressLines(work.frames, c.kept) + ending);
        ASSERT_EQ(work.hasOutput(), c.kept > 0);
        if (c.kept > 0) {
            EXPECT_EQ(work.output(), slice(work.input, work.frames, 0, c.kept - 1));
        }
        EXPECT_EQ(readFile(work.dir / "in.ac3"), c.stream) << "the input is never changed";
    }
}

TEST(CutDriverTest, BadCommandLinesGetTheUsageText) {
    const std::vector<std::vector<std::string>> commandLines = {
        {}, {"in.ac3"}, {"in.ac3", "1"}, {"in.ac3", "1", "2", "3"}, {"in.ac3", "10", "5"}};
    for (const auto& args : commandLines) {
        SCOPED_TRACE(args.size());
        Workspace work;
        const Result run = runMorvane(args, work.dir.path);
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.out, usageText);
        EXPECT_FALSE(work.hasOutput());
    }
}

TEST(CutDriverTest, ExistingOutputIsReplacedOnlyWhenAFrameIsCopied) {
    Workspace work;
    const Bytes old(300000, 0xEE);
    writeFile(work.dir / "morvane_in.ac3", old);
    runMorvane({"in.ac3", "9", "10"}, work.dir.path);
    EXPECT_EQ(work.output(), old) << "a window after the end leaves it untouched";
    EXPECT_EQ(runMorvane({"in.ac3", "1", "2"}, work.dir.path).status, 0);
    EXPECT_EQ(work.output(), slice(work.input, work.frames, 31, 62));
}

TEST(CutDriverTest, InputThatCannotBeCut) {
    const struct {
        const char* what;
        std::string name;
        std::string out;
        int status;
    } cases[] = {
        {"missing", "missing.ac3", "could not open missing.ac3 for input\n" + ending, 1},
        {"a directory", "adir", "could not open adir for input\n" + ending, 1},
        {"not AC-3", "text.ac3", ending, 0},
        {"empty", "empty.ac3", ending, 0},
        {"unreadable", "/proc/self/mem", "errors while reading from /proc/self/mem\n" + ending, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (windowsProgram() && c.name == "/proc/self/mem") continue;  // no such file there
        Workspace work;
        std::filesystem::create_directory(work.dir / "adir");
        writeFile(work.dir / "text.ac3", Bytes(5000, 'x'));
        writeFile(work.dir / "empty.ac3", {});
        const auto before = std::distance(std::filesystem::directory_iterator(work.dir.path), {});
        const Result run = runMorvane({c.name, "0", "1000"}, work.dir.path);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(work.dir.path), {}), before)
            << "no output file";
    }
}

TEST(CutDriverTest, OutputThatCannotBeWritten) {
    const std::string refused = "could not open morvane_in.ac3 for output\n" + ending;
    const struct {
        const char* what;
        void (*prepare)(const Workspace&);
        std::string out;
    } cases[] = {
        {"a symbolic link to the input",
         [](const Workspace& w) {
             std::filesystem::create_symlink("in.ac3", w.dir / "morvane_in.ac3");
         },
         refused},
        {"a hard link to the input",
         [](const Workspace& w) {
             std::filesystem::create_hard_link(w.dir / "in.ac3", w.dir / "morvane_in.ac3");
         },
         refused},
        {"a directory",
         [](const Workspace& w) { std::filesystem::create_directory(w.dir / "morvane_in.ac3"); },
         refused},
        {"a full disk",
         [](const Workspace& w) {
             std::filesystem::create_symlink("/dev/full", w.dir / "morvane_in.ac3");
         },
         "errors while writing to morvane_in.ac3\n" + ending},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (windowsProgram() && std::string(c.what) == "a full disk") continue;  // no /dev/full
        Workspace work;
        c.prepare(work);
        const Result run = runMorvane({"in.ac3", "1", "2"}, work.dir.path);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, progressLines(work.frames, 31) + c.out);
        EXPECT_EQ(readFile(work.dir / "in.ac3"), work.input) << "the input is never changed";
    }
}

// The prefix goes before the whole argument, so the output lands in morvane_sub/.
TEST(CutDriverTest, OutputNameKeepsTheDirectoryPart) {
    Workspace work;
    std::filesystem::create_directory(work.dir / "sub");
    writeFile(work.dir / "sub/in.ac3", work.input);
    Result run = runMorvane({"sub/in.ac3", "0", "1"}, work.dir.path);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "could not open morvane_sub/in.ac3 for output\n" + ending);

    std::filesystem::create_directory(work.dir / "morvane_sub");
    run = runMorvane({"sub/in.ac3", "1", "2"}, work.dir.path);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(readFile(work.dir / "morvane_sub/in.ac3"), slice(work.input, work.frames, 31, 62));
}

TEST(CutDriverTest, ReadsAFifoWhole) {
    Workspace work;
    ASSERT_EQ(mkfifo((work.dir / "pipe.ac3").c_str(), 0600), 0);
    std::signal(SIGPIPE, SIG_IGN);  // a reader that stops early fails the test, not the process
    std::thread writer([&] {
        const int fd = open((work.dir / "pipe.ac3").c_str(), O_WRONLY);
        // Small pieces with pauses, so that the reader sees many short reads.
        for (std::size_t at = 0; at < work.input.size(); at += 7000) {
            const std::size_t n = std::min<std::size_t>(7000, work.input.size() - at);
            EXPECT_EQ(write(fd, work.input.data() + at, n), static_cast<ssize_t>(n));
            if (at % 70000 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        close(fd);
    });
    const Result run = runMorvane({"pipe.ac3", "0", "1000"}, work.dir.path);
    writer.join();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(readFile(work.dir / "morvane_pipe.ac3"), work.input);
}

TEST(CutDriverTest, InterruptedAndShortCallsLoseNothing) {
    if (windowsProgram()) GTEST_SKIP() << "the fault shim is preloaded into POSIX programs only";
    Workspace work;
    const Result run =
        runMorvane({"in.ac3", "0", "1000"}, work.dir.path, shimmed("IO_FAULT_CHOPPY=1"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, progressLines(work.frames, 250) + ending);
    EXPECT_EQ(work.output(), work.input);
}

TEST(CutDriverTest, ReadErrorKeepsTheFramesBeforeIt) {
    if (windowsProgram()) GTEST_SKIP() << "the fault shim is preloaded into POSIX programs only";
    Workspace work;
    // 100000 bytes hold 130 whole frames of 768 bytes.
    const Result run =
        runMorvane({"in.ac3", "0", "1000"}, work.dir.path, shimmed("IO_FAULT_READ_LIMIT=100000"));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
              progressLines(work.frames, 130) + "errors while reading from in.ac3\n" + ending);
    EXPECT_EQ(work.output(), slice(work.input, work.frames, 0, 129));
}

// On a terminal the progress lines are flushed as the cut runs; the bytes are the same.
TEST(CutDriverTest, TerminalGetsTheSameBytes) {
    if (windowsProgram()) GTEST_SKIP() << "a Windows console is not a pseudo-terminal";
    Workspace work;
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    std::string shown;
    std::thread reader([&] {
        char chunk[4096];
        ssize_t n;
        while ((n = read(master, chunk, sizeof chunk)) > 0)
            shown.append(chunk, static_cast<std::size_t>(n));
    });
    const Result run = runMorvane({"in.ac3", "0", "1000"}, work.dir.path, {}, slave);
    close(slave);  // the reader sees the end once the last holder of the terminal is gone
    reader.join();
    close(master);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(shown, progressLines(work.frames, 250) + ending);
}

}  // namespace
