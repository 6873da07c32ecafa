// The times and edit lists a user types, read into plain values: the time syntax, the three
// positional times, and the values of --split and --edit.
#pragma once

#include <string>
#include <vector>

#include "cli/plan.h"

// The largest time a --split or --edit value may give, in seconds (100 hours).
constexpr double longestTime = 360000.0;

// 83.5 (seconds), 1:23.5 (M:SS), 1:02:03.250 (H:MM:SS) or 250ms. False, with `why` in a few
// words, for anything else, or a time over longestTime.
bool parseTime(const std::string& text, double& seconds, std::string& why);

// A positional time: a timecode (M:SS or H:MM:SS) means that time; any other text is read as
// the C library's atof reads it, as it always was.
double positionalTime(const char* text);

// --split parts:A-B,+C-D,..., timestamps:T1,T2,... or duration:D into `plan`.
bool parseSplit(const std::string& text, Plan& plan, std::string& why);

// The --edit values T,+D and T,-D into `plan`; on failure, `bad` is the value at fault.
bool parseEdits(const std::vector<const char*>& edits, Plan& plan, std::string& bad,
                std::string& why);
