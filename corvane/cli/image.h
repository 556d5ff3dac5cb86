// Images as the command line handles them (RgbaImage). Files are read and written
// through the build's image library (image_io_*.cpp); plates are generated
// here.
#pragma once

#include "parse.h"
#include "session/rgba_image.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillomark {

// An image that cannot be read or written: message names the file.
struct ImageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Reads any image the library knows; grey becomes RGB, a missing alpha is
// opaque. Throws ImageError naming the file and the reason.
RgbaImage readImage(const std::string &path);

// Writes `image` in the format named by `formatPath`'s extension into the
// file `path` (which may differ, for a write-then-rename). Formats without
// alpha get the colour channels only. Throws ImageError.
void writeImage(const std::string &path, const std::string &formatPath, const RgbaImage &image);

// Whether this build can write a file named like `path` (by its extension).
bool canWriteFormat(const std::string &path);
// A short list for messages, e.g. "PNG, TIFF, OpenEXR, JPEG, DPX".
std::string supportedFormats();

// A plate of one colour, or a vertical gradient from `top` to `bottom`.
RgbaImage makePlate(int32_t width, int32_t height, Rgb colour);
RgbaImage makeGradientPlate(int32_t width, int32_t height, Rgb top, Rgb bottom);

// Area-averaged reduction to width x height (both no larger than the
// source), for proxy renders; alpha-weighted so transparent pixels do not
// darken colour edges.
RgbaImage downscale(const RgbaImage &src, int32_t width, int32_t height);

} // namespace quillomark
