#include "animation.h"

#include <algorithm>
#include <cmath>

namespace quillomark {

template <typename T> void Track<T>::add(int32_t frame, T value, const std::string &what)
{
    if (constant_)
        keys_.clear(), constant_ = false;
    auto it =
        std::lower_bound(keys_.begin(), keys_.end(), frame, [](const Key<T> &k, int32_t f) { return k.frame < f; });
    if (it != keys_.end() && it->frame == frame)
        throw UsageError("two " + what + " keyframes at frame " + std::to_string(frame));
    keys_.insert(it, Key<T>{frame, value});
}

template <typename T> T Track<T>::at(int32_t frame) const
{
    if (frame <= keys_.front().frame)
        return keys_.front().value;
    if (frame >= keys_.back().frame)
        return keys_.back().value;
    auto next =
        std::upper_bound(keys_.begin(), keys_.end(), frame, [](int32_t f, const Key<T> &k) { return f < k.frame; });
    auto prev = next - 1;
    const double t = static_cast<double>(frame - prev->frame) / (next->frame - prev->frame);
    return lerp(prev->value, next->value, t);
}

template class Track<int32_t>;
template class Track<Position>;
template class Track<Rgb>;

int32_t lerp(int32_t a, int32_t b, double t)
{
    return static_cast<int32_t>(std::lround(a + (static_cast<double>(b) - a) * t));
}

Coord lerp(const Coord &a, const Coord &b, double t)
{
    return {a.value + (b.value - a.value) * t, a.percent};
}

Position lerp(const Position &a, const Position &b, double t)
{
    return {lerp(a.x, b.x, t), lerp(a.y, b.y, t)};
}

Rgb lerp(const Rgb &a, const Rgb &b, double t)
{
    auto ch = [t](uint8_t u, uint8_t v) { return static_cast<uint8_t>(std::lround(u + (v - u) * t)); };
    return {ch(a.r, b.r), ch(a.g, b.g), ch(a.b, b.b)};
}

std::optional<FrameRange> Tracks::keyedRange() const
{
    std::optional<FrameRange> r;
    auto take = [&r](const auto &track) {
        if (track.empty() || track.constant())
            return;
        if (!r)
            r = FrameRange{track.firstFrame(), track.lastFrame()};
        r->first = std::min(r->first, track.firstFrame());
        r->last = std::max(r->last, track.lastFrame());
    };
    take(size);
    take(position);
    take(colour);
    return r;
}

Position resolvePosition(const Position &p, double width, double height)
{
    return {{p.x.resolve(width), false}, {p.y.resolve(height), false}};
}

} // namespace quillomark
