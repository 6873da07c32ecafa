#include "cli/command_line.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cli/edit_values.h"
#include "cli/edits.h"
#include "cli/list_files.h"

namespace {

struct Option {
    const char* name;
    const char* value;        // the name of its value, or nullptr for an option that takes none
    bool CommandLine::*flag;  // set by the option, or
    const char* CommandLine::*text;  // set to its value, or
    const char* help;
    std::vector<const char*> CommandLine::*list = nullptr;  // given its value, once or more
    // With none of the three, it ends the options.
    bool endsOptions() const { return flag == nullptr && text == nullptr && list == nullptr; }
};

const Option options[] = {
    {"-o", "OUTPUT", nullptr, &CommandLine::output,
     "write the cut to OUTPUT instead of morvane_ + infile"},
    {"--resync", nullptr, &CommandLine::resync, nullptr,
     "go on at the next whole frame after a spot that is none"},
    {"--quiet", nullptr, &CommandLine::quiet, nullptr, "print no progress lines"},
    {"--delay", "SECONDS", nullptr, &CommandLine::delayText,
     "move the cut: silent frames before it, or (negative) frames left out at its start"},
    {"--verbose", nullptr, &CommandLine::verbose, nullptr,
     "say where the cut really starts and ends in the input"},
    {"--check", nullptr, &CommandLine::check, nullptr,
     "check every frame's CRCs and name those that fail (exit status 2)"},
    {"--repair", nullptr, &CommandLine::repair, nullptr,
     "--check and --resync, with silence for bad frames and lost bytes"},
    {"--split", "MODE:LIST", nullptr, &CommandLine::split,
     "cut into parts: parts:A-B,+C-D,..., timestamps:T1,T2,... or duration:D (infile alone)"},
    {"--edl", "FILE", nullptr, &CommandLine::edl,
     "take out (actions 0, 3) or mute (1) the entries of an EDL file (infile alone)"},
    {"--chapters", "FILE", nullptr, &CommandLine::chapters,
     "split at the chapters of a CHAPTER01=00:00:00.000 file (infile alone)"},
    {"--trims", "FILE", nullptr, &CommandLine::trims,
     "keep the frames of the Trim(a,b) calls in FILE, with --fps (infile alone)"},
    {"--fps", "RATE", nullptr, &CommandLine::fps,
     "video frames a second (25, 24000/1001, 23.976) for --trims and frame modes of --split"},
    {"--core", nullptr, &CommandLine::core, nullptr,
     "keep only the core: leave out E-AC-3 dependent frames and substreams 1 to 7, DTS-HD "
     "extensions"},
    {"--edit", "T,+D|T,-D", nullptr, nullptr,
     "put D s of silence in at T, or take out T to T+D; again for more (infile alone)",
     &CommandLine::edits},
    {"--", nullptr, nullptr, nullptr, "end the options: infile and the times follow"},
};

const Option* findOption(const char* arg) {
    for (const Option& option : options) {
        if (std::strcmp(arg, option.name) == 0) return &option;
    }
    return nullptr;
}

// Sets what `option` sets; false when it was given before, or its value is missing.
bool take(const Option& option, int argc, char* argv[], int& i, CommandLine& line) {
    if (option.flag != nullptr) {
        if (line.*option.flag) return false;
        line.*option.flag = true;
        return true;
    }
    if (i + 1 == argc) return false;
    if (option.list != nullptr) {
        (line.*option.list).push_back(argv[++i]);
        return true;
    }
    if (line.*option.text != nullptr) return false;
    line.*option.text = argv[++i];
    return true;
}

// A delay is wholly a finite number of seconds, at most a day either way.
bool parseDelay(const char* text, double& seconds) {
    char* end = nullptr;
    seconds = std::strtod(text, &end);
    const bool number =
        end != text && *end == '\0' && !std::isspace(static_cast<unsigned char>(*text));
    return number && std::isfinite(seconds) && std::fabs(seconds) <= 86400;
}

// "morvane: bad --split value: TEXT (why)", the first line of standard error.
bool badValue(CommandLine& line, const char* option, const std::string& text,
              const std::string& why) {
    line.badValue = std::string("morvane: bad ") + option + " value: " + text + " (" + why + ")\n";
    return false;
}

// A list file: read, then parsed; "morvane: bad --edl file: NAME line N: TEXT (why)" if not.
bool listFile(CommandLine& line, const char* option, const char* name,
              bool (*parse)(const std::string&, const FrameRate&, Plan&, ListError&)) {
    std::string text;
    ListError error;
    if (!readListFile(name, text)) {
        error.why = "cannot be read";
    } else if (parse(text, line.frameRate, line.plan, error)) {
        return true;
    }
    const std::string where =
        error.line == 0 ? "" : " line " + std::to_string(error.line) + ": " + error.text;
    line.badValue =
        std::string("morvane: bad ") + option + " file: " + name + where + " (" + error.why + ")\n";
    return false;
}

// An edit list, from --split, --edit or a list file, is the plan; without one, the window is.
bool makePlan(CommandLine& line) {
    std::string why;
    if (line.split != nullptr) {
        return parseSplit(line.split, line.plan, why, line.frameRate) ||
               badValue(line, "--split", line.split, why);
    }
    if (!line.edits.empty()) {
        std::string bad;
        return parseEdits(line.edits, line.plan, bad, why) || badValue(line, "--edit", bad, why);
    }
    if (line.edl != nullptr) {
        return listFile(line, "--edl", line.edl,
                        [](const std::string& text, const FrameRate&, Plan& plan,
                           ListError& error) { return parseEdl(text, plan, error); });
    }
    if (line.chapters != nullptr) {
        return listFile(line, "--chapters", line.chapters,
                        [](const std::string& text, const FrameRate&, Plan& plan,
                           ListError& error) { return parseChapters(text, plan, error); });
    }
    if (line.trims != nullptr) return listFile(line, "--trims", line.trims, parseTrims);
    line.plan = Plan::window(line.from, line.to, line.delay);
    return true;
}

// --fps goes with frame numbers, and frame numbers with --fps.
bool frameRateFits(CommandLine& line) {
    const bool frames =
        line.trims != nullptr || (line.split != nullptr && splitsAtFrames(line.split));
    if (line.fps == nullptr) return true;
    std::string why;
    if (!parseFps(line.fps, line.frameRate, why)) return badValue(line, "--fps", line.fps, why);
    return frames || badValue(line, "--fps", line.fps, "no frame numbers to go with it");
}

}  // namespace

// Exactly three arguments are infile, from_second and to_second, whatever they look like,
// unless the first is an option's name (but "--"). Otherwise the options may stand anywhere
// before "--"; every other argument is positional (so -1.5 is a time), and three must remain,
// or the infile alone with --split or --edit.
bool parseCommandLine(int argc, char* argv[], CommandLine& line) {
    std::vector<const char*> positional;
    const Option* first = argc > 1 ? findOption(argv[1]) : nullptr;
    bool inOptions = argc != 4 || (first != nullptr && !first->endsOptions());
    for (int i = 1; i < argc; ++i) {
        const Option* option = inOptions ? findOption(argv[i]) : nullptr;
        if (option == nullptr) {
            if (inOptions && std::strncmp(argv[i], "--", 2) == 0) return false;
            positional.push_back(argv[i]);
        } else if (option->endsOptions()) {
            inOptions = false;
        } else if (!take(*option, argc, argv, i, line)) {
            return false;
        }
    }
    const int lists = (line.split != nullptr) + !line.edits.empty() + (line.edl != nullptr) +
                      (line.chapters != nullptr) + (line.trims != nullptr);
    const bool editList = lists > 0;
    if (positional.size() != (editList ? 1U : 3U) || lists > 1) return false;
    if (line.trims != nullptr && line.fps == nullptr) return false;
    if (!frameRateFits(line)) return false;
    if (line.delayText != nullptr && (editList || !parseDelay(line.delayText, line.delay))) {
        return false;
    }
    line.input = positional[0];
    if (!editList) {
        line.from = positionalTime(positional[1]);
        line.to = positionalTime(positional[2]);
        if (line.from > line.to) return false;
    }
    return makePlan(line);
}

CutOptions cutOptions(const CommandLine& line) {
    CutOptions options;
    options.resync = line.resync || line.repair;
    options.check = line.check || line.repair;
    options.repair = line.repair;
    options.core = line.core;
    return options;
}

std::string optionSummary() {
    const auto usage = [](const Option& option) {
        return option.value != nullptr ? std::string(option.name) + " " + option.value
                                       : std::string(option.name);
    };
    std::size_t width = 0;
    for (const Option& option : options) width = std::max(width, usage(option).size());
    std::string text = "options, taken when more than three arguments are given:\n";
    for (const Option& option : options) {
        const std::string shown = usage(option);
        text += "  " + shown + std::string(width + 2 - shown.size(), ' ') + option.help + "\n";
    }
    return text + "see man morvane for more\n";
}
