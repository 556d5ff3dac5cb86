#include "image.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quillomark {

RgbaImage toRgba(const media::Image &image)
{
    const media::Image eight = image.converted(media::PixelType::UInt8, true, media::AlphaMode::Straight);
    RgbaImage out(image.width(), image.height());
    std::memcpy(out.rgba.data(), eight.data(), out.rgba.size());
    return out;
}

media::Image fromRgba(const RgbaImage &image)
{
    media::ImageShape shape;
    shape.width = image.width;
    shape.height = image.height;
    shape.channels = 4;
    shape.hasAlpha = true;
    media::Image out(shape);
    std::memcpy(out.data(), image.rgba.data(), image.rgba.size());
    return out;
}

RgbaImage readImage(const std::string &path)
{
    try {
        return toRgba(media::readImage(path));
    } catch (const media::MediaError &e) {
        throw ImageError(e.what());
    }
}

media::Image makePlate(int32_t width, int32_t height, Rgb colour)
{
    return makeGradientPlate(width, height, colour, colour);
}

media::Image makeGradientPlate(int32_t width, int32_t height, Rgb top, Rgb bottom)
{
    media::ImageShape shape;
    shape.width = width;
    shape.height = height;
    // Opaque: no alpha channel, so text laid over it is written without one.
    shape.channels = 3;
    shape.hasAlpha = false;
    media::Image img(shape);
    for (int32_t y = 0; y < height; ++y) {
        const double t = height > 1 ? static_cast<double>(y) / (height - 1) : 0.0;
        auto ch = [t](uint8_t a, uint8_t b) { return static_cast<std::byte>(std::lround(a + (b - a) * t)); };
        const std::byte px[3] = {ch(top.r, bottom.r), ch(top.g, bottom.g), ch(top.b, bottom.b)};
        for (int32_t x = 0; x < width; ++x)
            std::copy(px, px + 3, img.pixel(x, y));
    }
    return img;
}

namespace {

// Weights of the source cells [i, i+1) that overlap destination cell d of
// a reduction from n to m cells (m <= n).
struct Span {
    int32_t first = 0;
    std::vector<double> weights;
};

std::vector<Span> spans(int32_t n, int32_t m)
{
    std::vector<Span> out(static_cast<size_t>(m));
    const double scale = static_cast<double>(n) / m;
    for (int32_t d = 0; d < m; ++d) {
        const double lo = d * scale, hi = (d + 1) * scale;
        const int32_t first = static_cast<int32_t>(std::floor(lo));
        const int32_t last = std::min(n - 1, static_cast<int32_t>(std::ceil(hi)) - 1);
        out[d].first = first;
        for (int32_t i = first; i <= last; ++i)
            out[d].weights.push_back((std::min<double>(hi, i + 1) - std::max<double>(lo, i)) / scale);
    }
    return out;
}

} // namespace

media::Image downscale(media::Image src, int32_t width, int32_t height)
{
    width = std::clamp(width, 1, src.width());
    height = std::clamp(height, 1, src.height());
    if (width == src.width() && height == src.height())
        return src;
    const auto xs = spans(src.width(), width), ys = spans(src.height(), height);
    const media::ImageShape &shape = src.shape();
    const int32_t n = shape.channels, a = shape.hasAlpha ? n - 1 : -1;
    const bool straight = a >= 0 && shape.alpha == media::AlphaMode::Straight;

    // Horizontal pass into premultiplied floats, then vertical.
    std::vector<float> rows(static_cast<size_t>(width) * src.height() * n, 0.0f);
    for (int32_t y = 0; y < src.height(); ++y)
        for (int32_t dx = 0; dx < width; ++dx) {
            float *acc = &rows[(static_cast<size_t>(y) * width + dx) * n];
            for (size_t k = 0; k < xs[dx].weights.size(); ++k) {
                const int32_t x = xs[dx].first + static_cast<int32_t>(k);
                const float w = static_cast<float>(xs[dx].weights[k]);
                const float alpha = straight ? src.get(x, y, a) : 1.0f;
                for (int32_t c = 0; c < n; ++c)
                    acc[c] += w * src.get(x, y, c) * (c == a ? 1.0f : alpha);
            }
        }
    media::ImageShape outShape = shape;
    outShape.width = width;
    outShape.height = height;
    media::Image out(outShape);
    std::vector<float> acc(static_cast<size_t>(n));
    for (int32_t dy = 0; dy < height; ++dy)
        for (int32_t x = 0; x < width; ++x) {
            std::fill(acc.begin(), acc.end(), 0.0f);
            for (size_t k = 0; k < ys[dy].weights.size(); ++k) {
                const float *p = &rows[(static_cast<size_t>(ys[dy].first + k) * width + x) * n];
                const float w = static_cast<float>(ys[dy].weights[k]);
                for (int32_t c = 0; c < n; ++c)
                    acc[c] += w * p[c];
            }
            const float alpha = straight ? acc[a] : 1.0f;
            for (int32_t c = 0; c < n; ++c)
                out.set(x, dy, c, c == a || !straight ? acc[c] : alpha > 0 ? acc[c] / alpha : 0.0f);
        }
    return out;
}

media::Image preparePlate(media::Image plate, const OutputLayout &layout)
{
    const media::ImageShape &s = plate.shape();
    const bool rgb = s.colourChannels() == 3;
    const bool sameAlpha = !s.hasAlpha || s.alpha == layout.alpha;
    const bool sameSpace = media::sameColourSpace(s.colourSpace, layout.colourSpace);
    if (rgb && s.type == layout.type && sameAlpha && sameSpace)
        return plate;
    if (sameSpace) {
        media::Image out = plate.converted(layout.type, s.hasAlpha, layout.alpha);
        return out;
    }
    // Colours convert on straight floats, then take the output's layout.
    media::Image f = plate.converted(media::PixelType::Float, s.hasAlpha, media::AlphaMode::Straight);
    media::convertColour(f, layout.colourSpace);
    return f.converted(layout.type, s.hasAlpha, layout.alpha);
}

} // namespace quillomark
