#include "parse.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

namespace quillomark {
namespace {

struct NamedColour {
    const char *name;
    Rgb rgb;
};

// The web's basic names plus the common extended ones; sorted by name.
constexpr std::array kColours = {
    NamedColour{"aqua", {0, 255, 255}},        NamedColour{"black", {0, 0, 0}},
    NamedColour{"blue", {0, 0, 255}},          NamedColour{"brown", {165, 42, 42}},
    NamedColour{"coral", {255, 127, 80}},      NamedColour{"crimson", {220, 20, 60}},
    NamedColour{"cyan", {0, 255, 255}},        NamedColour{"darkblue", {0, 0, 139}},
    NamedColour{"darkgray", {169, 169, 169}},  NamedColour{"darkgreen", {0, 100, 0}},
    NamedColour{"darkgrey", {169, 169, 169}},  NamedColour{"darkred", {139, 0, 0}},
    NamedColour{"fuchsia", {255, 0, 255}},     NamedColour{"gold", {255, 215, 0}},
    NamedColour{"gray", {128, 128, 128}},      NamedColour{"green", {0, 128, 0}},
    NamedColour{"grey", {128, 128, 128}},      NamedColour{"indigo", {75, 0, 130}},
    NamedColour{"ivory", {255, 255, 240}},     NamedColour{"lightblue", {173, 216, 230}},
    NamedColour{"lightgray", {211, 211, 211}}, NamedColour{"lightgrey", {211, 211, 211}},
    NamedColour{"lime", {0, 255, 0}},          NamedColour{"magenta", {255, 0, 255}},
    NamedColour{"maroon", {128, 0, 0}},        NamedColour{"midnightblue", {25, 25, 112}},
    NamedColour{"navy", {0, 0, 128}},          NamedColour{"olive", {128, 128, 0}},
    NamedColour{"orange", {255, 165, 0}},      NamedColour{"pink", {255, 192, 203}},
    NamedColour{"purple", {128, 0, 128}},      NamedColour{"red", {255, 0, 0}},
    NamedColour{"silver", {192, 192, 192}},    NamedColour{"skyblue", {135, 206, 235}},
    NamedColour{"slategray", {112, 128, 144}}, NamedColour{"slategrey", {112, 128, 144}},
    NamedColour{"steelblue", {70, 130, 180}},  NamedColour{"teal", {0, 128, 128}},
    NamedColour{"tomato", {255, 99, 71}},      NamedColour{"turquoise", {64, 224, 208}},
    NamedColour{"violet", {238, 130, 238}},    NamedColour{"white", {255, 255, 255}},
    NamedColour{"yellow", {255, 255, 0}},
};

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

std::string trim(const std::string &s)
{
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Whole string must be a number: from_chars alone accepts "12abc".
template <typename T> bool parseWhole(const std::string &s, T &out)
{
    if (s.empty())
        return false;
    const char *end = s.data() + s.size();
    auto [p, ec] = std::from_chars(s.data(), end, out);
    return ec == std::errc() && p == end;
}

bool parseDouble(const std::string &s, double &out)
{
    if (s.empty())
        return false;
    const char *end = s.data() + s.size();
    auto [p, ec] = std::from_chars(s.data(), end, out);
    return ec == std::errc() && p == end && std::isfinite(out);
}

Coord parseCoord(const std::string &raw, const std::string &whole)
{
    std::string s = trim(raw);
    Coord c;
    if (!s.empty() && s.back() == '%') {
        c.percent = true;
        s.pop_back();
    }
    // The module takes 16.16 values: keep well inside their range.
    if (!parseDouble(s, c.value) || std::fabs(c.value) > 30000.0)
        throw UsageError("bad position \"" + whole +
                         "\": expected X,Y in pixels (e.g. 640,360) or percentages of "
                         "the plate (e.g. 50%,50%), each between -30000 and 30000");
    return c;
}

Ratio parseRatio(const std::string &raw, const std::string &whole)
{
    const std::string s = trim(raw);
    Ratio r;
    const auto slash = s.find('/');
    bool ok;
    if (slash == std::string::npos) {
        ok = parseWhole(s, r.num);
        r.den = 1;
    } else {
        ok = parseWhole(s.substr(0, slash), r.num) && parseWhole(s.substr(slash + 1), r.den);
    }
    if (!ok || r.num <= 0 || r.den == 0 || static_cast<uint32_t>(r.num) > r.den)
        throw UsageError("bad downsample ratio \"" + whole +
                         "\": expected N/D with 0 < N <= D, for both axes (1/2) or each (1/2,1/4)");
    return r;
}

} // namespace

Rgb parseColour(const std::string &text)
{
    const std::string s = trim(text);
    if (!s.empty() && s[0] == '#') {
        const std::string hex = s.substr(1);
        std::vector<int> d;
        for (char c : hex)
            d.push_back(hexDigit(c));
        const bool digits = std::none_of(d.begin(), d.end(), [](int v) { return v < 0; });
        if (digits && d.size() == 6)
            return {static_cast<uint8_t>(d[0] * 16 + d[1]), static_cast<uint8_t>(d[2] * 16 + d[3]),
                    static_cast<uint8_t>(d[4] * 16 + d[5])};
        if (digits && d.size() == 3)
            return {static_cast<uint8_t>(d[0] * 17), static_cast<uint8_t>(d[1] * 17), static_cast<uint8_t>(d[2] * 17)};
    } else {
        const std::string name = lower(s);
        for (const auto &c : kColours)
            if (name == c.name)
                return c.rgb;
    }
    throw UsageError("bad colour \"" + text +
                     "\": expected #RRGGBB, #RGB or a name such as white, black, red, "
                     "gold or skyblue (`quillomark colours` lists them)");
}

std::string formatColour(Rgb c)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", c.r, c.g, c.b);
    return buf;
}

std::vector<std::string> colourNames()
{
    std::vector<std::string> names;
    for (const auto &c : kColours)
        names.emplace_back(c.name);
    return names;
}

Position parsePosition(const std::string &text)
{
    const auto comma = text.find(',');
    if (comma == std::string::npos || text.find(',', comma + 1) != std::string::npos)
        throw UsageError("bad position \"" + text +
                         "\": expected X,Y in pixels (e.g. 640,360) or percentages of the "
                         "plate (e.g. 50%,50%)");
    return {parseCoord(text.substr(0, comma), text), parseCoord(text.substr(comma + 1), text)};
}

FrameRange parseFrameRange(const std::string &text)
{
    const std::string s = trim(text);
    FrameRange r;
    const auto dash = s.find('-');
    bool ok;
    if (dash == std::string::npos) {
        ok = parseWhole(s, r.first);
        r.last = r.first;
    } else {
        ok = parseWhole(s.substr(0, dash), r.first) && parseWhole(s.substr(dash + 1), r.last);
    }
    if (!ok || r.first < 0 || r.last < r.first || r.last > 9999999)
        throw UsageError("bad frame range \"" + text +
                         "\": expected FIRST-LAST with 0 <= FIRST <= LAST (e.g. 101-200)"
                         " or a single frame");
    return r;
}

KeyText splitKeyframe(const std::string &text, const std::string &what)
{
    const auto eq = text.find('=');
    KeyText k;
    if (eq == std::string::npos || !parseWhole(trim(text.substr(0, eq)), k.frame) || k.frame < 0 || k.frame > 9999999 ||
        trim(text.substr(eq + 1)).empty())
        throw UsageError("bad " + what + " keyframe \"" + text + "\": expected FRAME=VALUE with a frame number >= 0");
    k.value = trim(text.substr(eq + 1));
    return k;
}

Downsample parseDownsample(const std::string &text)
{
    const auto comma = text.find(',');
    if (comma == std::string::npos) {
        const Ratio r = parseRatio(text, text);
        return {r, r};
    }
    return {parseRatio(text.substr(0, comma), text), parseRatio(text.substr(comma + 1), text)};
}

std::string formatDownsample(const Downsample &d)
{
    auto one = [](const Ratio &r) { return std::to_string(r.num) + "/" + std::to_string(r.den); };
    return d.x == d.y ? one(d.x) : one(d.x) + "," + one(d.y);
}

PlateSize parsePlateSize(const std::string &text)
{
    const std::string s = lower(trim(text));
    const auto x = s.find('x');
    PlateSize p;
    if (x == std::string::npos || !parseWhole(s.substr(0, x), p.width) || !parseWhole(s.substr(x + 1), p.height) ||
        p.width < 1 || p.height < 1 || p.width > kMaxImageSide || p.height > kMaxImageSide)
        throw UsageError("bad plate size \"" + text + "\": expected WIDTHxHEIGHT (e.g. 1280x720), each 1 to " +
                         std::to_string(kMaxImageSide));
    return p;
}

int32_t parseInt(const std::string &text, const std::string &what, int32_t lo, int32_t hi)
{
    int32_t v = 0;
    if (!parseWhole(trim(text), v) || v < lo || v > hi)
        throw UsageError("bad " + what + " \"" + text + "\": expected a whole number from " + std::to_string(lo) +
                         " to " + std::to_string(hi));
    return v;
}

int32_t parseAlignment(const std::string &text)
{
    if (text == "left")
        return 0;
    if (text == "center" || text == "centre")
        return 1;
    if (text == "right")
        return 2;
    throw UsageError("bad alignment \"" + text + "\": expected left, center or right");
}

std::string formatAlignment(int32_t alignment)
{
    return alignment == 0 ? "left" : alignment == 1 ? "center" : "right";
}

media::FramePattern parseFramePattern(const std::string &name)
{
    try {
        return media::FramePattern(name);
    } catch (const media::PatternError &e) {
        throw UsageError(e.what());
    }
}

media::FrameRate parseFrameRate(const std::string &text)
{
    const std::string bad = "bad frame rate \"" + text + "\": expected frames per second, e.g. 24, 29.97 or 30000/1001";
    const auto slash = text.find('/');
    if (slash != std::string::npos) {
        const int32_t num = parseInt(text.substr(0, slash), "frame rate", 1, 1000000);
        const int32_t den = parseInt(text.substr(slash + 1), "frame rate", 1, 1000000);
        return {num, den};
    }
    double fps = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), fps);
    if (ec != std::errc() || end != text.data() + text.size() || !(fps > 0 && fps <= 1000))
        throw UsageError(bad);
    // The broadcast rates are written 23.976, 29.97, 59.94: 1000/1001 of a whole rate.
    const double whole = std::round(fps * 1.001);
    if (std::abs(fps - whole / 1.001) < 0.006 && std::abs(fps - whole) > 0.006)
        return {static_cast<int32_t>(whole * 1000), 1001};
    const int32_t milli = static_cast<int32_t>(std::lround(fps * 1000));
    return milli % 1000 ? media::FrameRate{milli, 1000} : media::FrameRate{milli / 1000, 1};
}

int64_t parseBitrate(const std::string &text)
{
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    const std::string unit = text.substr(static_cast<size_t>(end - text.data()));
    const double scale = unit.empty() ? 1 : unit == "k" || unit == "K" ? 1e3 : unit == "M" || unit == "m" ? 1e6 : 0;
    const double bits = value * scale;
    if (ec != std::errc() || scale == 0 || !(bits >= 1000 && bits <= 1e10))
        throw UsageError("bad bitrate \"" + text + "\": expected bits per second from 1k to 10000M, e.g. 8M or 2500k");
    return static_cast<int64_t>(bits);
}

} // namespace quillomark
