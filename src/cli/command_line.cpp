#include "cli/command_line.h"

#include <cstdlib>
#include <string>
#include <vector>

// Exactly three arguments are infile, from_second and to_second, whatever they look like.
// With more, -o NAME, --resync and --quiet may stand anywhere before "--"; every other
// argument is positional (so -1.5 is a time), and three must remain.
bool parseCommandLine(int argc, char* argv[], CommandLine& line) {
    std::vector<const char*> positional;
    bool options = argc != 4;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!options) {
            positional.push_back(argv[i]);
        } else if (arg == "--") {
            options = false;
        } else if (arg == "-o") {
            if (line.output != nullptr || i + 1 == argc) return false;
            line.output = argv[++i];
        } else if (arg == "--resync" || arg == "--quiet") {
            bool& flag = arg == "--resync" ? line.resync : line.quiet;
            if (flag) return false;
            flag = true;
        } else if (arg.rfind("--", 0) == 0) {
            return false;
        } else {
            positional.push_back(argv[i]);
        }
    }
    if (positional.size() != 3) return false;
    line.input = positional[0];
    line.from = std::atof(positional[1]);
    line.to = std::atof(positional[2]);
    return !(line.from > line.to);
}
