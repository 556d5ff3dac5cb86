// Output files appear only when complete: each image is written under a
// temporary name beside its final one and renamed into place on success,
// so an interrupted or failed render never leaves a half-written file
// under the name the user asked for.
#pragma once

#include "image.h"

#include <string>

namespace quillomark {

// "<final>.partial": what a write in progress is called.
std::string partialName(const std::string &finalPath);

// Writes `image` to `finalPath` (format from its extension), creating
// missing parent folders. Throws ImageError; on failure nothing is left
// under either name.
void writeImageAtomically(const std::string &finalPath, const RgbaImage &image);

} // namespace quillomark
