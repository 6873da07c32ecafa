// The command line: three positionals (infile, from_second, to_second), or the infile alone
// with an edit list, and the options, from one table that both the parser and the summary of
// options are made from.
#pragma once

#include <string>
#include <vector>

#include "cli/cut.h"
#include "cli/edit_values.h"
#include "cli/plan.h"

struct CommandLine {
    const char* input = nullptr;
    double from = 0.0;
    double to = 0.0;
    const char* output = nullptr;  // -o; otherwise "morvane_" + input
    bool resync = false;
    bool quiet = false;
    bool verbose = false;
    bool check = false;
    bool repair = false;
    const char* delayText = nullptr;  // --delay as typed
    double delay = 0.0;
    bool core = false;
    const char* split = nullptr;  // --split as typed
    const char* edl = nullptr;    // the list files
    const char* chapters = nullptr;
    const char* trims = nullptr;
    const char* fps = nullptr;  // --fps as typed
    FrameRate frameRate;
    std::vector<const char*> edits;  // each --edit as typed
    Plan plan;                       // the window, or what --split or --edit ask for
    std::string badValue;            // the line that says which value is bad, if one is
};

// False for a command line the program does not take: then the usage text is due, after
// `badValue` when a value is at fault.
bool parseCommandLine(int argc, char* argv[], CommandLine& line);

// What the walk of the cut is to do: --repair brings --check and --resync with it.
CutOptions cutOptions(const CommandLine& line);

// One line for each option, then where to read more.
std::string optionSummary();
