// Every text the program writes on the console: progress lines and their flushing, the
// failure lines, the notices on standard error, and the closing "okay".
#pragma once

#include <cstdint>
#include <string>

#include "cli/cut.h"
#include "cli/progress_line.h"

// Lines about one run. Standard output keeps the lines scripts have always read; notices
// about the stream go to standard error as "morvane: IN: ...".
class Console : public CutEvents {
public:
    // Verbose, the end of a run that copied anything says where the cut lies in the input,
    // and with a plan, where each range went.
    Console(const char* inputName, const std::string& outputName, bool verbose, const Plan& plan);

    void cannotOpenInput();
    void formatFound(const std::string& description) override;
    void skipped(std::uint64_t offset, std::uint64_t count, const std::string& reason) override;
    void crcFailed(std::uint64_t offset, double end) override;
    void replaced(std::uint64_t offset, double end, bool withSilence,
                  const std::string& why) override;
    void filled(double seconds, std::uint64_t steps, bool framePerStep, std::uint64_t count,
                std::uint64_t offset, bool estimate) override;
    void misnumbered(std::uint64_t offset, double end, std::uint64_t number,
                     std::uint64_t due) override;
    void filledSamples(double seconds, std::uint64_t count, std::uint64_t offset) override;
    void frameFault(std::uint64_t offset, double end, const std::string& what) override;
    // Says why the output failed, if it did; false when it did not.
    bool reportOutputFailure(const CutResult& result);
    // Says how the walk ended when the output did not fail; false when that is a failure.
    bool reportEnd(const CutResult& result);
    void writeFailed();
    // An empty line, then "okay": the last two lines of every run past the command line.
    void ending();

private:
    void notice(const std::string& text);
    std::string streamEnds(const CutResult& result) const;
    std::string delayText(const DelayResult& delay) const;
    std::string span(const CopiedSpan& copied) const;
    void afterTheEnd(double length);
    void sayWhatWasMade(const CutResult& result);
    std::string placedText(std::size_t part, const PlacedRange& range) const;

    const char* inputName;
    std::string outputName;
    bool verbose;
    const Plan& plan;
};
