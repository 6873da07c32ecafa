// The morvane command: cuts a time window out of a compressed audio elementary stream, frame
// by frame, without decoding, into a file named "morvane_" + the input argument.
#pragma once

#include <string>

#include "platform/file_io.h"

// "morvane_" + the input argument, directory part included; set before the first frame.
extern std::string outputName;
// Invalid until the first frame to copy creates the output file.
extern platform::FileHandle outputHandle;

void printUsage();
