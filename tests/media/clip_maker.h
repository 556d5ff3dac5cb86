// Small clips made with the FFmpeg libraries for the tests, so that no
// footage ships with them: frame i is a flat grey of level 20 + 20 i, and
// the sound a tone in AAC, as long as the pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cliptest {

struct ClipSetup {
    int width = 64, height = 48, frames = 10;
    int rateNum = 25, rateDen = 1;
    bool audio = true;
    std::string timecode{}; // "HH:MM:SS:FF"; empty: none
};

void makeClip(const std::string &path, const ClipSetup &shape);
uint8_t greyOf(int frame); // the level frame `frame` (from 0) is made with

// What the tests compare in a written clip.
struct ClipFacts {
    int64_t videoFrames = 0;
    int rateNum = 0, rateDen = 0;
    std::vector<std::string> audioPackets; // every packet of the first audio stream, as bytes
};
ClipFacts clipFacts(const std::string &path);

} // namespace cliptest
