// Sync frames that play as digital silence, each made to match one frame of the stream (its
// reference): the same syntax, length, header and stream information, so that a player sees
// no change of format, and audio blocks whose every coefficient is 0.
#pragma once

#include <cstdint>
#include <vector>

// A silent twin of `reference`, a whole AC-3 or E-AC-3 frame as the frame reader hands it out,
// with valid CRCs. Empty when the reference is too short to hold one, or its stream
// information does not end inside it.
std::vector<std::int32_t> silentFrame(const std::vector<std::int32_t>& reference);

// Silent twins of every frame of a time step, in order; empty when any of them has none.
std::vector<std::vector<std::int32_t>> silentStep(
    const std::vector<std::vector<std::int32_t>>& frames);
