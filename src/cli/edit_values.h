// The times and edit lists a user types, read into plain values: the time syntax, the three
// positional times, --split and --fps.
#pragma once

#include <string>
#include <vector>

#include "cli/plan.h"

// The largest time a --split or --edit value may give, in seconds (100 hours).
constexpr double longestTime = 360000.0;

// 83.5 (seconds), 1:23.5 (M:SS), 1:02:03.250 (H:MM:SS) or 250ms. False, with `why` in a few
// words, for anything else, or a time over longestTime.
bool parseTime(const std::string& text, double& seconds, std::string& why);
// parseTime() for a time in a list, with the piece named in `why` when it is none.
bool listTime(const std::string& text, double& seconds, std::string& why);

// A positional time: a timecode (M:SS or H:MM:SS) means that time; any other text is read as
// the C library's atof reads it, as it always was.
double positionalTime(const char* text);

// A video frame rate, N/D frames a second; frame f starts at (f x D) / N seconds.
struct FrameRate {
    double n = 0.0, d = 1.0;
    bool given() const { return n > 0.0; }
    double time(double frame) const { return frame * d / n; }
};

// --fps: an integer, N/D, or a decimal; 23.976, 29.97 and 59.94 are 24000/1001, 30000/1001
// and 60000/1001, as video tools take them.
bool parseFps(const std::string& text, FrameRate& fps, std::string& why);

// A frame number (digits) at `fps`, as a time.
bool frameTime(const std::string& text, const FrameRate& fps, double& seconds, std::string& why);

// --split parts:A-B,+C-D,..., timestamps:T1,T2,... or duration:D into `plan`; with `fps`,
// also parts-frames:A-B,... (frame A up to frame B) and frames:F1,F2,...
bool parseSplit(const std::string& text, Plan& plan, std::string& why, const FrameRate& fps = {});

// The --split value counts in video frames (parts-frames: or frames:), and so needs --fps.
bool splitsAtFrames(const std::string& text);
