// The module's own pixels: 8-bit RGBA with straight (unpremultiplied)
// alpha, rows top to bottom.
#pragma once

#include <cstdint>
#include <vector>

namespace quillomark {

struct RgbaImage {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> rgba; // width * height * 4

    RgbaImage() = default;
    RgbaImage(int32_t w, int32_t h) : width(w), height(h), rgba(static_cast<size_t>(w) * h * 4, 0) {}
    uint8_t *pixel(int32_t x, int32_t y) { return rgba.data() + (static_cast<size_t>(y) * width + x) * 4; }
    const uint8_t *pixel(int32_t x, int32_t y) const { return rgba.data() + (static_cast<size_t>(y) * width + x) * 4; }
};

} // namespace quillomark
