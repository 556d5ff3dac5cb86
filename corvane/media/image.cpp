#include "image.h"

#define IMATH_HALF_NO_LOOKUP_TABLE // header-only conversions: no library to link
#include <Imath/half.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace corvane::media {

size_t bytesPerChannel(PixelType type)
{
    switch (type) {
    case PixelType::UInt8:
        return 1;
    case PixelType::UInt16:
    case PixelType::Half:
        return 2;
    case PixelType::Float:
        return 4;
    }
    return 1;
}

const char *pixelTypeName(PixelType type)
{
    switch (type) {
    case PixelType::UInt8:
        return "8-bit";
    case PixelType::UInt16:
        return "16-bit";
    case PixelType::Half:
        return "half";
    case PixelType::Float:
        return "float";
    }
    return "?";
}

const char *alphaModeName(AlphaMode mode)
{
    return mode == AlphaMode::Straight ? "straight" : "premultiplied";
}

Image::Image(const ImageShape &shape) : shape_(shape), data_(shape.bytes()) {}

float Image::get(int32_t x, int32_t y, int32_t c) const
{
    const std::byte *p = pixel(x, y) + static_cast<size_t>(c) * bytesPerChannel(shape_.type);
    switch (shape_.type) {
    case PixelType::UInt8:
        return static_cast<float>(std::to_integer<uint8_t>(*p)) / 255.0f;
    case PixelType::UInt16: {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return static_cast<float>(v) / 65535.0f;
    }
    case PixelType::Half: {
        uint16_t bits;
        std::memcpy(&bits, p, 2);
        return imath_half_to_float(bits);
    }
    case PixelType::Float: {
        float v;
        std::memcpy(&v, p, 4);
        return v;
    }
    }
    return 0.0f;
}

void Image::set(int32_t x, int32_t y, int32_t c, float value)
{
    std::byte *p = pixel(x, y) + static_cast<size_t>(c) * bytesPerChannel(shape_.type);
    switch (shape_.type) {
    case PixelType::UInt8: {
        const float v = std::isnan(value) ? 0.0f : std::clamp(value, 0.0f, 1.0f);
        *p = static_cast<std::byte>(std::lround(v * 255.0f));
        break;
    }
    case PixelType::UInt16: {
        const float v = std::isnan(value) ? 0.0f : std::clamp(value, 0.0f, 1.0f);
        const auto q = static_cast<uint16_t>(std::lround(v * 65535.0f));
        std::memcpy(p, &q, 2);
        break;
    }
    case PixelType::Half: {
        const uint16_t bits = imath_float_to_half(value);
        std::memcpy(p, &bits, 2);
        break;
    }
    case PixelType::Float:
        std::memcpy(p, &value, 4);
        break;
    }
}

bool Image::operator==(const Image &other) const
{
    const ImageShape &a = shape_, &b = other.shape_;
    return a.width == b.width && a.height == b.height && a.channels == b.channels && a.type == b.type &&
           a.hasAlpha == b.hasAlpha && a.alpha == b.alpha && a.colourSpace == b.colourSpace && data_ == other.data_;
}

Image Image::converted(PixelType type, bool withAlpha, AlphaMode alpha) const
{
    ImageShape shape = shape_;
    shape.type = type;
    shape.channels = withAlpha ? 4 : 3;
    shape.hasAlpha = withAlpha;
    shape.alpha = alpha;
    Image out(shape);
    const int32_t colours = shape_.colourChannels();
    for (int32_t y = 0; y < height(); ++y)
        for (int32_t x = 0; x < width(); ++x) {
            float v[4];
            for (int32_t c = 0; c < 3; ++c)
                v[c] = get(x, y, colours >= 3 ? c : 0);
            v[3] = shape_.hasAlpha ? get(x, y, shape_.channels - 1) : 1.0f;
            if (shape_.hasAlpha && shape_.alpha != alpha) {
                if (alpha == AlphaMode::Premultiplied)
                    for (int32_t c = 0; c < 3; ++c)
                        v[c] *= v[3];
                else if (v[3] != 0.0f)
                    for (int32_t c = 0; c < 3; ++c)
                        v[c] /= v[3];
            }
            for (int32_t c = 0; c < shape.channels; ++c)
                out.set(x, y, c, v[c]);
        }
    return out;
}

} // namespace corvane::media
