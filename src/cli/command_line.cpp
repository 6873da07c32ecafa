#include "cli/command_line.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Option {
    const char* name;
    const char* value;        // the name of its value, or nullptr for an option that takes none
    bool CommandLine::*flag;  // set by the option, or
    const char* CommandLine::*text;  // set to its value; with neither, it ends the options
    const char* help;
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
    if (line.*option.text != nullptr || i + 1 == argc) return false;
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

}  // namespace

// Exactly three arguments are infile, from_second and to_second, whatever they look like.
// With more, the options may stand anywhere before "--"; every other argument is positional
// (so -1.5 is a time), and three must remain.
bool parseCommandLine(int argc, char* argv[], CommandLine& line) {
    std::vector<const char*> positional;
    bool inOptions = argc != 4;
    for (int i = 1; i < argc; ++i) {
        const Option* option = inOptions ? findOption(argv[i]) : nullptr;
        if (option == nullptr) {
            if (inOptions && std::strncmp(argv[i], "--", 2) == 0) return false;
            positional.push_back(argv[i]);
        } else if (option->flag == nullptr && option->text == nullptr) {
            inOptions = false;
        } else if (!take(*option, argc, argv, i, line)) {
            return false;
        }
    }
    if (positional.size() != 3) return false;
    if (line.delayText != nullptr && !parseDelay(line.delayText, line.delay)) return false;
    line.input = positional[0];
    line.from = std::atof(positional[1]);
    line.to = std::atof(positional[2]);
    return !(line.from > line.to);
}

CutOptions cutOptions(const CommandLine& line) {
    CutOptions options;
    options.from = line.from;
    options.to = line.to;
    options.resync = line.resync || line.repair;
    options.delay = line.delay;
    options.check = line.check || line.repair;
    options.repair = line.repair;
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
