// Images in memory as every front end and every file back end exchanges
// them: interleaved channels, rows top to bottom, no padding.
//
// Conventions, stated once:
//  - Channel values are normalised: 0 is black, 1 (255 for 8 bits, 65535
//    for 16 bits) is the format's white. Half and float values may leave
//    0..1 (scene-linear highlights, negative colours); nothing here clips
//    them except a conversion to 8 or 16 bits.
//  - Channels are R, G, B (or one grey channel), then alpha when
//    `alphaChannel` is set; alpha is always the last channel.
//  - `alpha` says whether the colour channels are multiplied by alpha
//    (premultiplied, "associated") or not (straight).
//  - `colourSpace` names the encoding of the colour channels as the colour
//    management of the image back end knows it ("sRGB", "linear", ...).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvane::media {

enum class PixelType : uint8_t { UInt8, UInt16, Half, Float };

size_t bytesPerChannel(PixelType type);
// "8-bit", "16-bit", "half" or "float", as the user names them.
const char *pixelTypeName(PixelType type);

enum class AlphaMode : uint8_t { Straight, Premultiplied };
const char *alphaModeName(AlphaMode mode); // "straight" or "premultiplied"

inline constexpr const char *kSrgb = "sRGB";
inline constexpr const char *kLinear = "linear";

struct ImageShape {
    int32_t width = 0, height = 0;
    int32_t channels = 0; // 1 to 4
    PixelType type = PixelType::UInt8;
    bool hasAlpha = false; // the last channel is alpha
    AlphaMode alpha = AlphaMode::Straight;
    std::string colourSpace = kSrgb;

    size_t pixelBytes() const { return static_cast<size_t>(channels) * bytesPerChannel(type); }
    size_t rowBytes() const { return static_cast<size_t>(width) * pixelBytes(); }
    size_t bytes() const { return static_cast<size_t>(height) * rowBytes(); }
    int32_t colourChannels() const { return hasAlpha ? channels - 1 : channels; }
};

class Image {
public:
    Image() = default;
    // Zero-filled pixels for `shape` (throws std::bad_alloc when they do not fit).
    explicit Image(const ImageShape &shape);

    const ImageShape &shape() const { return shape_; }
    int32_t width() const { return shape_.width; }
    int32_t height() const { return shape_.height; }
    int32_t channels() const { return shape_.channels; }
    bool empty() const { return data_.empty(); }

    std::byte *data() { return data_.data(); }
    const std::byte *data() const { return data_.data(); }
    std::byte *pixel(int32_t x, int32_t y) { return data_.data() + offset(x, y); }
    const std::byte *pixel(int32_t x, int32_t y) const { return data_.data() + offset(x, y); }

    // One channel as a normalised float, whatever the type.
    float get(int32_t x, int32_t y, int32_t c) const;
    void set(int32_t x, int32_t y, int32_t c, float value); // rounds and clamps for integer types

    // Whether two images hold the same shape and the same bytes.
    bool operator==(const Image &other) const;

    // The same picture in another layout: pixel type, RGB or RGBA (grey
    // spreads to RGB; a missing alpha is opaque; alpha is dropped when not
    // asked for) and alpha mode. Values are converted, never reinterpreted;
    // the colour space label is kept.
    Image converted(PixelType type, bool withAlpha, AlphaMode alpha) const;

private:
    size_t offset(int32_t x, int32_t y) const
    {
        return static_cast<size_t>(y) * shape_.rowBytes() + static_cast<size_t>(x) * shape_.pixelBytes();
    }

    ImageShape shape_;
    std::vector<std::byte> data_;
};

} // namespace corvane::media
