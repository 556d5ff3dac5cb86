#include "image.h"

#include <algorithm>
#include <cmath>

namespace quillomark {

RgbaImage makePlate(int32_t width, int32_t height, Rgb colour)
{
    return makeGradientPlate(width, height, colour, colour);
}

RgbaImage makeGradientPlate(int32_t width, int32_t height, Rgb top, Rgb bottom)
{
    RgbaImage img(width, height);
    for (int32_t y = 0; y < height; ++y) {
        const double t = height > 1 ? static_cast<double>(y) / (height - 1) : 0.0;
        auto ch = [t](uint8_t a, uint8_t b) { return static_cast<uint8_t>(std::lround(a + (b - a) * t)); };
        const uint8_t px[4] = {ch(top.r, bottom.r), ch(top.g, bottom.g), ch(top.b, bottom.b), 255};
        for (int32_t x = 0; x < width; ++x)
            std::copy(px, px + 4, img.pixel(x, y));
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

RgbaImage downscale(const RgbaImage &src, int32_t width, int32_t height)
{
    width = std::clamp(width, 1, src.width);
    height = std::clamp(height, 1, src.height);
    if (width == src.width && height == src.height)
        return src;
    const auto xs = spans(src.width, width), ys = spans(src.height, height);

    // Horizontal pass into premultiplied floats, then vertical.
    std::vector<float> rows(static_cast<size_t>(width) * src.height * 4, 0.0f);
    for (int32_t y = 0; y < src.height; ++y)
        for (int32_t dx = 0; dx < width; ++dx) {
            float *acc = &rows[(static_cast<size_t>(y) * width + dx) * 4];
            for (size_t k = 0; k < xs[dx].weights.size(); ++k) {
                const uint8_t *p = src.pixel(xs[dx].first + static_cast<int32_t>(k), y);
                const float w = static_cast<float>(xs[dx].weights[k]), a = p[3] / 255.0f;
                acc[0] += w * p[0] * a;
                acc[1] += w * p[1] * a;
                acc[2] += w * p[2] * a;
                acc[3] += w * p[3];
            }
        }
    RgbaImage out(width, height);
    for (int32_t dy = 0; dy < height; ++dy)
        for (int32_t x = 0; x < width; ++x) {
            float acc[4] = {0, 0, 0, 0};
            for (size_t k = 0; k < ys[dy].weights.size(); ++k) {
                const float *p = &rows[(static_cast<size_t>(ys[dy].first + k) * width + x) * 4];
                const float w = static_cast<float>(ys[dy].weights[k]);
                for (int c = 0; c < 4; ++c)
                    acc[c] += w * p[c];
            }
            uint8_t *o = out.pixel(x, dy);
            const float a = acc[3] / 255.0f;
            for (int c = 0; c < 3; ++c)
                o[c] = a > 0 ? static_cast<uint8_t>(std::clamp(std::lround(acc[c] / a), 0L, 255L)) : 0;
            o[3] = static_cast<uint8_t>(std::clamp(std::lround(acc[3]), 0L, 255L));
        }
    return out;
}

} // namespace quillomark
