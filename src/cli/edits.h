// --edit T,+D and T,-D: silence put in and stretches taken out of the input, read into a
// plan of one output.
#pragma once

#include <string>
#include <vector>

#include "cli/plan.h"

// An edit: D seconds of silence in at T, or the input from T to T + D taken out.
struct Edit {
    double at = 0.0, seconds = 0.0;
    bool insert = false;
    std::string text;  // as given, to name it
};

// The --edit values T,+D and T,-D into `plan`; on failure, `bad` is the value at fault.
bool parseEdits(const std::vector<const char*>& edits, Plan& plan, std::string& bad,
                std::string& why);
// Edits, in any order, into `plan`: the input kept as ranges joined into one output, with
// the silences between them. False when a removal reaches past the next edit (`bad`).
bool planEdits(std::vector<Edit> edits, Plan& plan, std::string& bad, std::string& why);
