// The time syntax, the values of --split and --edit, and the list files from arbitrary text:
// each either gives a plan or says why not (for a file, on which line), and every plan of
// ranges keeps the seam rule's two guarantees on a stream of 48 kHz steps long enough to hold
// it. Text that starts with "e" is a list of --edit values, one a line; with "l", "c" or "t",
// the rest is an EDL, chapter or trim file (at 25 frames a second); any other is one --split
// value, with frame numbers at 30000/1001.
#include <string>
#include <vector>

#include "cli/edit_values.h"
#include "cli/edits.h"
#include "cli/list_files.h"
#include "fuzz_input_file.h"
#include "plan_guarantees.h"

namespace {

// The latest time a plan names; the guarantees are checked on plans within a minute.
double latest(const Plan& plan) {
    double last = 0;
    for (const std::vector<PlanItem>& output : plan.outputs) {
        for (const PlanItem& item : output) last = std::max({last, item.from, item.to});
    }
    return last;
}

void check(const Plan& plan) {
    if (plan.kind != Plan::Kind::ranges || latest(plan) > 60) return;
    const std::vector<double> steps(static_cast<std::size_t>(latest(plan) / 0.032) + 32, 0.032);
    const std::string broken = brokenGuarantee(plan, steps);
    if (!broken.empty()) fuzzFailure(broken.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    double seconds = 0;
    std::string why;
    if (!parseTime(text, seconds, why) && why.empty()) fuzzFailure("a bad time without a why");
    if (parseTime(text, seconds, why) && !(seconds >= 0 && seconds <= longestTime)) {
        fuzzFailure("a time out of range");
    }
    positionalTime(text.c_str());
    Plan plan;
    bool made = false;
    const char kind = text.empty() ? ' ' : text[0];
    if (kind == 'l' || kind == 'c' || kind == 't') {
        ListError error;
        const std::string file = text.substr(1);
        made = kind == 'l'   ? parseEdl(file, plan, error)
               : kind == 'c' ? parseChapters(file, plan, error)
                             : parseTrims(file, FrameRate{25.0, 1.0}, plan, error);
        if (!made && error.why.empty()) fuzzFailure("a bad list file without a why");
        if (!made && error.line == 0 && error.why != "no Trim(a,b) in it") {
            fuzzFailure("a bad list file without a line");
        }
    } else if (kind == 'e') {
        std::vector<std::string> lines;
        std::size_t start = 1;
        for (std::size_t at; (at = text.find('\n', start)) != std::string::npos; start = at + 1) {
            lines.push_back(text.substr(start, at - start));
        }
        lines.push_back(text.substr(start));
        std::vector<const char*> values;
        for (const std::string& line : lines) values.push_back(line.c_str());
        std::string bad;
        made = parseEdits(values, plan, bad, why);
        if (!made && why.empty()) fuzzFailure("a bad --edit value without a why");
    } else {
        made = parseSplit(text, plan, why, FrameRate{30000.0, 1001.0});
        if (!made && why.empty()) fuzzFailure("a bad --split value without a why");
    }
    if (made) check(plan);
    return 0;
}
