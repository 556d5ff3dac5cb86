// Shared helpers for the host service tests.
#pragma once

#include "host.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace qmtest {

inline constexpr Fixed kOne = 65536;
inline Fixed fx(double v)
{
    return static_cast<Fixed>(v * 65536.0);
}

inline HostPixel px(uint8_t a, uint8_t r = 0, uint8_t g = 0, uint8_t b = 0)
{
    return HostPixel{a, r, g, b};
}
inline bool same(const HostPixel &a, const HostPixel &b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

inline QdRect rect(int16_t left, int16_t top, int16_t right, int16_t bottom)
{
    return QdRect{top, left, bottom, right};
}

// A world inside a larger buffer: `guard` pixels of margin on every side
// (and a wider row), so a write outside the world shows in the margin.
class GuardedWorld {
public:
    static constexpr uint8_t kGuard = 0xA5;
    GuardedWorld(int32_t width, int32_t height, int32_t guard = 3)
        : width_(width), height_(height), guard_(guard), stride_(width + 2 * guard),
          buffer_(static_cast<size_t>(stride_) * (height + 2 * guard), HostPixel{kGuard, kGuard, kGuard, kGuard})
    {
        std::memset(&record_, 0, sizeof record_);
        record_.data = &buffer_[static_cast<size_t>(guard) * stride_ + guard];
        record_.rowBytes = stride_ * 4;
        record_.width = width;
        record_.height = height;
        record_.extent = QdRect{0, 0, static_cast<int16_t>(height), static_cast<int16_t>(width)};
        fill(HostPixel{});
    }
    EffectWorld *record() { return &record_; }
    HostPixel &at(int32_t x, int32_t y) { return record_.data[static_cast<size_t>(y) * stride_ + x]; }
    void fill(HostPixel p)
    {
        for (int32_t y = 0; y < height_; ++y)
            for (int32_t x = 0; x < width_; ++x)
                at(x, y) = p;
    }
    bool guardIntact() const
    {
        for (int32_t y = -guard_; y < height_ + guard_; ++y)
            for (int32_t x = -guard_; x < width_ + guard_; ++x) {
                if (x >= 0 && y >= 0 && x < width_ && y < height_)
                    continue;
                const HostPixel &p = buffer_[static_cast<size_t>(y + guard_) * stride_ + (x + guard_)];
                if (p.alpha != kGuard || p.red != kGuard || p.green != kGuard || p.blue != kGuard)
                    return false;
            }
        return true;
    }

private:
    int32_t width_, height_, guard_, stride_;
    std::vector<HostPixel> buffer_;
    EffectWorld record_;
};

// A pixel with a distinct value for every (x, y) of a small world.
inline HostPixel tag(int32_t x, int32_t y)
{
    return px(1, static_cast<uint8_t>(x + 1), static_cast<uint8_t>(y + 1), 7);
}

} // namespace qmtest
