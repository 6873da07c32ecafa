// The edit lists other tools write, read into plans: MPlayer/Kodi EDL files, simple chapter
// files (CHAPTER01=00:00:00.000), and the Trim() calls of an AviSynth script.
#pragma once

#include <cstddef>
#include <string>

#include "cli/edit_values.h"
#include "cli/plan.h"

// What is wrong with a list file: the line (from 1; 0 for the file as a whole), its text,
// and why, in a few words.
struct ListError {
    std::size_t line = 0;
    std::string text, why;
};

// The whole of a file; false when it cannot be read.
bool readListFile(const char* name, std::string& text);

// START END [ACTION] a line: 0 (cut) and 3 (commercial break) take the input out, 1 mutes it,
// 2 (scene marker) does nothing. Entries ascend and do not overlap.
bool parseEdl(const std::string& text, Plan& plan, ListError& error);

// Splits at every chapter start after 0.
bool parseChapters(const std::string& text, Plan& plan, ListError& error);

// Trim(a,b) calls, joined by + or ++, as ranges of frames joined into one output: frames a to
// b, both in; b = 0 runs to the end, and a negative b means -b frames.
bool parseTrims(const std::string& text, const FrameRate& fps, Plan& plan, ListError& error);
