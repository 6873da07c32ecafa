// The command line: three positionals (infile, from_second, to_second) and the options.
#pragma once

struct CommandLine {
    const char* input = nullptr;
    double from = 0.0;
    double to = 0.0;
    const char* output = nullptr;  // -o; otherwise "morvane_" + input
    bool resync = false;
    bool quiet = false;
};

// False for a command line the program does not take: then only the usage text is due.
bool parseCommandLine(int argc, char* argv[], CommandLine& line);
