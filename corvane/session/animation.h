// Keyframed values of the host parameters Size, Position and Text Color.
// A track holds keyframes sorted by frame; between two keys the value moves
// linearly, before the first and after the last it holds. A constant is a
// track of its own kind: one value at every frame, with no frame of its own.
#pragma once

#include "values.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quillomark {

template <typename T> struct Key {
    int32_t frame = 0;
    T value{};
    bool operator==(const Key &) const = default;
};

template <typename T> class Track {
public:
    // Throws UsageError when a key already sits at `frame`.
    void add(int32_t frame, T value, const std::string &what);
    // One value for every frame (replaces any keys).
    void setConstant(T value)
    {
        keys_ = {Key<T>{0, value}};
        constant_ = true;
    }
    bool constant() const { return constant_; }
    bool empty() const { return keys_.empty(); }
    bool animated() const { return keys_.size() > 1; }
    const std::vector<Key<T>> &keys() const { return keys_; }
    int32_t firstFrame() const { return keys_.front().frame; }
    int32_t lastFrame() const { return keys_.back().frame; }
    // The value at `frame`; the track must not be empty.
    T at(int32_t frame) const;
    bool operator==(const Track &) const = default;

private:
    std::vector<Key<T>> keys_;
    bool constant_ = false;
};

// Linear blend of two values at t in [0, 1].
int32_t lerp(int32_t a, int32_t b, double t);
Coord lerp(const Coord &a, const Coord &b, double t);
Position lerp(const Position &a, const Position &b, double t);
Rgb lerp(const Rgb &a, const Rgb &b, double t);

struct Tracks {
    Track<int32_t> size;
    Track<Position> position;
    Track<Rgb> colour;
    bool any() const { return !size.empty() || !position.empty() || !colour.empty(); }
    bool animated() const { return size.animated() || position.animated() || colour.animated(); }
    // First and last keyframe over the keyframed tracks, one key or many;
    // none when every track is constant or empty.
    std::optional<FrameRange> keyedRange() const;
    bool operator==(const Tracks &) const = default;
};

// Mixing percentages and pixels between two position keys of one axis
// cannot be interpolated without the plate: resolve before blending.
Position resolvePosition(const Position &p, double width, double height);

} // namespace quillomark
