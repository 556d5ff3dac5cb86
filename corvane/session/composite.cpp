#include "composite.h"

namespace quillomark {

namespace media = corvane::media;

void compositeText(media::Image &plate, const corvane::World &text, TextColour colour)
{
    const media::ImageShape &shape = plate.shape();
    const bool premultiplied = shape.hasAlpha && shape.alpha == media::AlphaMode::Premultiplied;
    const int32_t a = shape.hasAlpha ? shape.channels - 1 : -1;
    for (int32_t y = 0; y < shape.height; ++y) {
        const HostPixel *row = text.row(y);
        for (int32_t x = 0; x < shape.width; ++x) {
            const uint8_t coverage = row[x].alpha;
            if (coverage == 0)
                continue;
            if (coverage == 255) {
                // Full coverage is the text colour, opaque, whatever lay below.
                for (int32_t c = 0; c < 3; ++c)
                    plate.set(x, y, c, colour[c]);
                if (a >= 0)
                    plate.set(x, y, a, 1.0f);
                continue;
            }
            const float b = coverage / 255.0f;
            const float under = a >= 0 ? plate.get(x, y, a) : 1.0f;
            const float alpha = b + under * (1.0f - b);
            for (int32_t c = 0; c < 3; ++c) {
                const float base = plate.get(x, y, c);
                plate.set(x, y, c,
                          premultiplied ? colour[c] * b + base * (1.0f - b)
                                        : (colour[c] * b + base * under * (1.0f - b)) / alpha);
            }
            if (a >= 0)
                plate.set(x, y, a, alpha);
        }
    }
}

media::Image textAlone(const corvane::World &text, TextColour colour, const media::ImageShape &shape)
{
    media::Image out(shape);
    const bool premultiplied = shape.alpha == media::AlphaMode::Premultiplied;
    const int32_t a = shape.channels - 1;
    for (int32_t y = 0; y < shape.height; ++y) {
        const HostPixel *row = text.row(y);
        for (int32_t x = 0; x < shape.width; ++x) {
            if (row[x].alpha == 0)
                continue;
            const float b = row[x].alpha / 255.0f;
            for (int32_t c = 0; c < 3; ++c)
                out.set(x, y, c, premultiplied ? colour[c] * b : colour[c]);
            out.set(x, y, a, b);
        }
    }
    return out;
}

} // namespace quillomark
