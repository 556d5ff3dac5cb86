// Plates and output images as the command line prepares them, in the
// media library's images (corvane/media): plates generated here, scaled
// for proxies, and brought to the output's pixel type, alpha mode and
// colour space.
#pragma once

#include "media/media.h"
#include "parse.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillomark {

namespace media = corvane::media;

// An image that cannot be read or written: message names the file.
struct ImageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// 8-bit RGBA with straight alpha, rows top to bottom: the simple view of
// an image that checks and tests read pixels from.
struct RgbaImage {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> rgba; // width * height * 4

    RgbaImage() = default;
    RgbaImage(int32_t w, int32_t h) : width(w), height(h), rgba(static_cast<size_t>(w) * h * 4, 0) {}
    uint8_t *pixel(int32_t x, int32_t y) { return rgba.data() + (static_cast<size_t>(y) * width + x) * 4; }
    const uint8_t *pixel(int32_t x, int32_t y) const { return rgba.data() + (static_cast<size_t>(y) * width + x) * 4; }
};
RgbaImage toRgba(const media::Image &image);
media::Image fromRgba(const RgbaImage &image);
// Reads any image this build reads, as 8-bit straight RGBA. Throws ImageError.
RgbaImage readImage(const std::string &path);

// A plate of one colour, or a vertical gradient from `top` to `bottom`:
// 8-bit, opaque, sRGB.
media::Image makePlate(int32_t width, int32_t height, Rgb colour);
media::Image makeGradientPlate(int32_t width, int32_t height, Rgb top, Rgb bottom);

// Area-averaged reduction to width x height (both no larger than the
// source), for proxy renders; alpha-weighted so transparent pixels do not
// darken colour edges. Keeps the pixel type.
media::Image downscale(media::Image src, int32_t width, int32_t height);

// What the output file is to hold.
struct OutputLayout {
    media::PixelType type = media::PixelType::UInt8;
    media::AlphaMode alpha = media::AlphaMode::Straight;
    std::string colourSpace = media::kSrgb;
};

// `plate` as RGB or RGBA in `layout`'s type, alpha mode and colour space.
// Returns it untouched (bit for bit) when it is already so.
media::Image preparePlate(media::Image plate, const OutputLayout &layout);

} // namespace quillomark
