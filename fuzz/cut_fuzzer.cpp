// A whole run of the program on arbitrary bytes and an arbitrary window. The run must return
// 0 (or -1 for a window it refuses), the output file, when one is made, must be a run of the
// input's bytes, unchanged (of PCM: its samples, after a header that reads back; of FLAC: a
// header that reads back and frames numbered in turn; of MP3: frames that read back), and the
// input must stay as it was. Run again with --repair, it may also return 2, and its output must
// be whole frames that pass their CRC checks (of MP3, and find their main data).
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "cli/cut_driver.h"
#include "fuzz_input_file.h"
#include "stream/frame_stream.h"

// The program's own main, renamed for this build.
int morvaneMain(int argc, char* argv[]);

namespace {

// Unusual texts for a time, as a user might type them.
const char* const oddTimes[] = {"nan", "inf", "-inf", "1e400", "-0", "abc", "0x10", "", "1,5"};
constexpr unsigned oddTimeCount = sizeof oddTimes / sizeof oddTimes[0];

// A time from three input bytes: mostly a number of centiseconds, now and then an odd text.
std::string timeText(const std::uint8_t* bytes) {
    if (bytes[0] % 16 < oddTimeCount) return oddTimes[bytes[0] % 16];
    const auto centiseconds = static_cast<std::int16_t>(bytes[1] << 8 | bytes[2]);
    return std::to_string(centiseconds / 100.0);
}

std::vector<std::uint8_t> readAll(const char* name) {
    std::vector<std::uint8_t> data;
    const int fd = open(name, O_RDONLY);
    if (fd < 0) return data;
    std::uint8_t chunk[65536];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0) data.insert(data.end(), chunk, chunk + n);
    close(fd);
    return data;
}

// A FLAC or MP3 output's frames, read back: numbered in turn, and with `repaired` passing their
// CRCs and finding their main data.
class OutputChecks : public SampleEvents {
public:
    explicit OutputChecks(bool repaired) : repaired(repaired) {}
    void crcFailed(std::uint64_t, std::uint64_t) override {
        if (repaired) fuzzFailure("a repaired frame that fails its CRC");
    }
    void misnumbered(std::uint64_t, std::uint64_t, std::uint64_t, std::uint64_t) override {
        fuzzFailure("a FLAC frame numbered out of turn");
    }
    void badFrame(std::uint64_t, std::uint64_t, const std::string& what) override {
        if (repaired) fuzzFailure(("a repaired frame that " + what).c_str());
    }
    void replaced(std::uint64_t, std::uint64_t) override {}
    void filled(std::uint64_t, std::uint64_t) override {}
    void skipped(std::uint64_t, std::uint64_t, const std::string&) override {
        fuzzFailure("bytes in an output that are no frame");
    }

private:
    bool repaired;
};

// What an output carries of the input: all of it, or of a format with a file header, the
// samples after the header it made, which must read back. A FLAC or MP3 output's frames are
// made anew or laid out anew, and carry nothing to compare.
std::vector<std::uint8_t> carried(const std::vector<std::uint8_t>& output, bool repaired = false) {
    static FuzzInputFile file;
    BitReader bitReader(file.hold(output.data(), output.size()));
    FrameStream frames(bitReader);
    if (output.empty() || !frames.format().cutsOnSamples()) return output;
    if (frames.format().stop() != FrameFormat::Stop::none) fuzzFailure("an unreadable header");
    OutputChecks checks(repaired);
    const std::string name = frames.format().name();
    const bool laidAnew = name == "FLAC" || name == "MP3";
    if (laidAnew) frames.format().watch({true, true, false, &checks});
    if (name == "MP3") frames.format().beginOutput({{false, 0, SamplePiece::toEnd}});
    std::vector<std::uint8_t> samples;
    frames.format().copySamples(0, ~std::uint64_t{0},
                                [&](const std::uint8_t* bytes, std::size_t count, std::uint64_t) {
                                    samples.insert(samples.end(), bytes, bytes + count);
                                    return true;
                                });
    if (laidAnew) samples.clear();
    return samples;
}

// Frames without a CRC of their own are checked against the stream's first frame (its rate,
// layout). Where that first frame was made, a twin of a damaged frame that no good one came
// before, it keeps that frame's header, which may be the damage: then only their CRCs count.
void checkWholeFramesWithValidCrcs(const std::vector<std::uint8_t>& output,
                                   const std::vector<std::uint8_t>& input) {
    static FuzzInputFile file;
    BitReader bitReader(file.hold(output.data(), output.size()));
    FrameStream frames(bitReader);
    // Samples carry no CRC: a repaired cut is a cut.
    if (frames.format().cutsOnSamples()) {
        carried(output, true);
        return;
    }
    std::size_t offset = 0;
    bool firstMade = false;
    while (offset < output.size()) {
        if (!frames.readFrame()) fuzzFailure("a repaired cut that is not whole frames");
        const std::vector<std::int32_t>& frame = frames.format().frameData();
        if (offset == 0) {
            const std::vector<std::uint8_t> bytes(frame.begin(), frame.end());
            firstMade =
                std::search(input.begin(), input.end(), bytes.begin(), bytes.end()) == input.end();
        }
        if (!frames.format().crcsHold() && (frames.format().carriesCrc() || !firstMade))
            fuzzFailure("a repaired cut with a frame that fails its CRC");
        offset += frame.size();
    }
}

}  // namespace

// Runs happen in a private scratch directory, since the output is named after the input
// argument; the fuzzer's own work keeps to the directory it started in.
class ScratchDirectory {
public:
    ScratchDirectory() : home(open(".", O_RDONLY | O_DIRECTORY)) {
        char pattern[] = "/tmp/morvane-cut-fuzz-XXXXXX";
        if (home < 0 || mkdtemp(pattern) == nullptr) fuzzFailure("no scratch directory");
        path = pattern;
    }
    void enter() const {
        if (chdir(path.c_str()) != 0) fuzzFailure("cannot enter the scratch directory");
    }
    void leave() const {
        if (fchdir(home) != 0) fuzzFailure("cannot return from the scratch directory");
    }

private:
    int home;
    std::string path;
};

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Keep the progress lines off the console.
    const int null = open("/dev/null", O_WRONLY);
    if (null < 0 || dup2(null, STDOUT_FILENO) < 0) fuzzFailure("no /dev/null");
    close(null);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The window comes from the last six bytes, the stream is everything before them.
    constexpr std::size_t windowBytes = 6;
    std::string from = "0", to = "1e6";
    if (size >= windowBytes) {
        size -= windowBytes;
        from = timeText(data + size);
        to = timeText(data + size + 3);
    }
    const std::vector<std::uint8_t> stream(data, data + size);
    static const ScratchDirectory scratch;
    scratch.enter();
    {
        const int fd = open("in.ac3", O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0 || (!stream.empty() && write(fd, stream.data(), stream.size()) !=
                                              static_cast<ssize_t>(stream.size()))) {
            fuzzFailure("cannot write the input file");
        }
        close(fd);
    }
    unlink("morvane_in.ac3");
    outputName.clear();
    outputHandle = platform::invalidHandle;

    char program[] = "morvane";
    char inputName[] = "in.ac3";
    char* argv[] = {program, inputName, from.data(), to.data(), nullptr};
    const int status = morvaneMain(4, argv);
    // A readable input and a writable directory leave no room for a failure, but for a stream
    // of a kind the program does not cut (MP3, LOAS, 14-bit DTS, ...): status 1 and no output.
    const bool unsupported = status == 1 && access("morvane_in.ac3", F_OK) != 0;
    if (status != 0 && status != -1 && !unsupported) fuzzFailure("failure status");
    const std::vector<std::uint8_t> output = carried(readAll("morvane_in.ac3"));
    if (!output.empty() &&
        std::search(stream.begin(), stream.end(), output.begin(), output.end()) == stream.end()) {
        fuzzFailure("the output is not a run of input bytes");
    }
    if (readAll("in.ac3") != stream) fuzzFailure("the input was changed");

    // Repaired, the cut is whole frames with valid CRCs: the input's good frames, and silent
    // ones for the bad frames and the lost bytes.
    unlink("morvane_in.ac3");
    outputName.clear();
    outputHandle = platform::invalidHandle;
    char repair[] = "--repair";
    char* repairArgv[] = {program, repair, inputName, from.data(), to.data(), nullptr};
    const int repairStatus = morvaneMain(5, repairArgv);
    if (repairStatus != 0 && repairStatus != 2 && repairStatus != -1 &&
        !(unsupported && repairStatus == 1)) {
        fuzzFailure("failure status with --repair");
    }
    checkWholeFramesWithValidCrcs(readAll("morvane_in.ac3"), stream);
    scratch.leave();
    return 0;
}
