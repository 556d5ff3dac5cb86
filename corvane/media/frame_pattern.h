// Frame numbers in file names, as compositing and 3D tools write them:
//   plate.%04d.exr  plate.%d.exr      printf style; "%%" is a literal '%'
//   plate.####.exr                    one '#' a digit
//   plate.@@@@.exr                    one '@' a digit
//   plate.$F4.exr  plate.$F.exr       the digit after $F is the width
// A width pads with zeros; a longer number is written whole. A name holds
// at most one frame number.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace corvane::media {

// A name whose frame number is malformed or given twice; says how to write it.
struct PatternError : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

class FramePattern {
public:
    // Throws PatternError naming `name`.
    explicit FramePattern(const std::string &name);

    bool numbered() const { return numbered_; }
    // The name of `frame`; without a frame number, the name itself (with
    // "%%" read as '%').
    std::string at(int32_t frame) const;
    // The frame `fileName` (a name in the pattern's folder, without the
    // folder) holds, when it fits the pattern.
    std::optional<int32_t> frameOf(const std::string &fileName) const;
    // The folder part and file-name part of the pattern (the token must be
    // in the file name).
    const std::string &folder() const { return folder_; }

private:
    std::string prefix_, suffix_; // the literal text on either side, "%%" read
    std::string folder_;
    int width_ = 0;
    bool numbered_ = false;
};

} // namespace corvane::media
