#include "project.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

namespace quillomark {

namespace {

constexpr const char *kFormat = "quillomark-project";
constexpr int kVersion = 1;

std::string formatNumber(double v)
{
    char buf[64];
    auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? std::string(buf, p) : std::to_string(v);
}

std::string formatCoord(const Coord &c)
{
    return formatNumber(c.value) + (c.percent ? "%" : "");
}

std::string formatPosition(const Position &p)
{
    return formatCoord(p.x) + "," + formatCoord(p.y);
}

template <typename T, typename F> json trackToJson(const Track<T> &track, F format)
{
    if (track.constant())
        return format(track.keys().front().value);
    json keys = json::array();
    for (const auto &k : track.keys())
        keys.push_back({{"frame", k.frame}, {"value", format(k.value)}});
    return keys;
}

// Reads a constant or a list of {frame, value}; `parse` turns one JSON value
// into T and throws UsageError on a bad one.
template <typename T, typename F> Track<T> trackFromJson(const json &j, const std::string &what, F parse)
{
    Track<T> track;
    try {
        if (!j.is_array()) {
            track.setConstant(parse(j));
            return track;
        }
        if (j.empty())
            throw ProjectError(what + ": an empty keyframe list");
        for (const auto &k : j) {
            if (!k.is_object() || !k.contains("frame") || !k.contains("value") || !k["frame"].is_number_integer())
                throw ProjectError(what + ": each keyframe is {\"frame\": N, \"value\": V}");
            const int64_t frame = k["frame"].get<int64_t>();
            if (frame < 0 || frame > 9999999)
                throw ProjectError(what + ": frame " + std::to_string(frame) + " is out of range");
            track.add(static_cast<int32_t>(frame), parse(k["value"]), what);
        }
    } catch (const UsageError &e) {
        throw ProjectError(what + ": " + e.what());
    }
    return track;
}

std::string asString(const json &j, const std::string &what)
{
    if (!j.is_string())
        throw ProjectError(what + " must be a string");
    return j.get<std::string>();
}

} // namespace

std::string toHex(const std::vector<uint8_t> &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

std::vector<uint8_t> fromHex(const std::string &hex, const std::string &what)
{
    if (hex.size() % 2 != 0)
        throw ProjectError(what + ": odd number of hex digits");
    std::vector<uint8_t> out(hex.size() / 2);
    for (size_t i = 0; i < out.size(); ++i) {
        unsigned v = 0;
        auto [p, ec] = std::from_chars(hex.data() + 2 * i, hex.data() + 2 * i + 2, v, 16);
        if (ec != std::errc() || p != hex.data() + 2 * i + 2)
            throw ProjectError(what + ": \"" + hex.substr(2 * i, 2) + "\" at digit " + std::to_string(2 * i + 1) +
                               " is not hex");
        out[i] = static_cast<uint8_t>(v);
    }
    return out;
}

std::string projectToJson(const Project &project, const std::string &projectDir)
{
    json plate = json::object();
    if (!project.plate.image.empty()) {
        // Relative to the project, so the two can move together.
        std::error_code ec;
        fs::path image = fs::absolute(project.plate.image, ec);
        fs::path rel = fs::relative(image, fs::absolute(projectDir.empty() ? "." : projectDir), ec);
        plate["image"] = (ec || rel.empty()) ? project.plate.image : rel.generic_string();
    } else {
        plate["size"] = std::to_string(project.plate.size.width) + "x" + std::to_string(project.plate.size.height);
        if (project.plate.gradientEnd)
            plate["gradient"] = {formatColour(project.plate.colour), formatColour(*project.plate.gradientEnd)};
        else
            plate["color"] = formatColour(project.plate.colour);
    }

    json j = {{"format", kFormat},
              {"version", kVersion},
              {"plate", plate},
              {"quality", project.draft ? "draft" : "high"},
              {"downsample", formatDownsample(project.downsample)}};
    if (project.frames)
        j["frames"] = std::to_string(project.frames->first) + "-" + std::to_string(project.frames->last);
    json layers = json::array();
    for (const LayerSpec &l : project.layers) {
        json layer = {{"record", toHex(l.record)}, {"composite", l.composite}};
        if (!l.tracks.size.empty())
            layer["size"] = trackToJson(l.tracks.size, [](int32_t v) { return json(v); });
        if (!l.tracks.position.empty())
            layer["position"] =
                trackToJson(l.tracks.position, [](const Position &p) { return json(formatPosition(p)); });
        if (!l.tracks.colour.empty())
            layer["color"] = trackToJson(l.tracks.colour, [](Rgb c) { return json(formatColour(c)); });
        layers.push_back(layer);
    }
    j["layers"] = layers;
    return j.dump(2) + "\n";
}

namespace {

json parseProjectJson(const std::string &text)
{
    json j;
    try {
        j = json::parse(text);
    } catch (const json::parse_error &e) {
        // "[json.exception.parse_error.101] parse error at line 3, ..." without the tag
        std::string what = e.what();
        const auto tag = what.find("] ");
        throw ProjectError("not valid JSON: " + (tag == std::string::npos ? what : what.substr(tag + 2)));
    }
    if (!j.is_object() || j.value("format", "") != kFormat)
        throw ProjectError("not a Quillomark project (no \"format\": \"quillomark-project\")");
    if (!j.contains("version") || !j["version"].is_number_integer() || j["version"].get<int>() != kVersion)
        throw ProjectError("project version " + (j.contains("version") ? j["version"].dump() : std::string("(none)")) +
                           " is not supported; this program reads version " + std::to_string(kVersion));
    return j;
}

PlateSpec plateFromJson(const json &plate, const std::string &projectDir)
{
    if (!plate.is_object())
        throw ProjectError("\"plate\" must be an object");
    PlateSpec spec;
    if (plate.contains("image")) {
        fs::path image = asString(plate["image"], "plate image");
        if (image.is_relative() && !projectDir.empty())
            image = fs::path(projectDir) / image;
        spec.image = image.lexically_normal().string();
        return spec;
    }
    if (plate.contains("size"))
        spec.size = parsePlateSize(asString(plate["size"], "plate size"));
    if (plate.contains("gradient")) {
        const json &g = plate["gradient"];
        if (!g.is_array() || g.size() != 2)
            throw ProjectError("plate gradient must be two colours, top and bottom");
        spec.colour = parseColour(asString(g[0], "plate gradient"));
        spec.gradientEnd = parseColour(asString(g[1], "plate gradient"));
    } else if (plate.contains("color")) {
        spec.colour = parseColour(asString(plate["color"], "plate color"));
    }
    return spec;
}

LayerSpec layerFromJson(const json &l, const std::string &what)
{
    if (!l.is_object() || !l.contains("record"))
        throw ProjectError(what + ": no \"record\"");
    LayerSpec layer;
    layer.record = fromHex(asString(l["record"], what + " record"), what + " record");
    if (l.contains("composite")) {
        if (!l["composite"].is_boolean())
            throw ProjectError(what + ": \"composite\" must be true or false");
        layer.composite = l["composite"].get<bool>();
    }
    if (l.contains("size"))
        layer.tracks.size = trackFromJson<int32_t>(l["size"], what + " size", [](const json &v) {
            if (!v.is_number_integer())
                throw UsageError("a size is a whole number");
            return static_cast<int32_t>(std::clamp<int64_t>(v.get<int64_t>(), INT32_MIN, INT32_MAX));
        });
    if (l.contains("position"))
        layer.tracks.position = trackFromJson<Position>(l["position"], what + " position", [](const json &v) {
            if (!v.is_string())
                throw UsageError("a position is a string \"X,Y\"");
            return parsePosition(v.get<std::string>());
        });
    if (l.contains("color"))
        layer.tracks.colour = trackFromJson<Rgb>(l["color"], what + " color", [](const json &v) {
            if (!v.is_string())
                throw UsageError("a colour is a string such as \"#ffffff\"");
            return parseColour(v.get<std::string>());
        });
    return layer;
}

} // namespace

Project projectFromJson(const std::string &text, const std::string &projectDir)
{
    const json j = parseProjectJson(text);
    Project p;
    try {
        if (j.contains("plate"))
            p.plate = plateFromJson(j["plate"], projectDir);
        if (j.contains("quality")) {
            const std::string q = asString(j["quality"], "quality");
            if (q != "draft" && q != "high")
                throw ProjectError("quality must be \"draft\" or \"high\", not \"" + q + "\"");
            p.draft = q == "draft";
        }
        if (j.contains("downsample"))
            p.downsample = parseDownsample(asString(j["downsample"], "downsample"));
        if (j.contains("frames"))
            p.frames = parseFrameRange(asString(j["frames"], "frames"));
    } catch (const UsageError &e) {
        throw ProjectError(e.what());
    }

    if (!j.contains("layers") || !j["layers"].is_array())
        throw ProjectError("no \"layers\" list");
    int n = 0;
    for (const json &l : j["layers"])
        p.layers.push_back(layerFromJson(l, "layer " + std::to_string(++n)));
    return p;
}

void saveProject(const std::string &path, const Project &project)
{
    const fs::path target(path);
    const std::string text = projectToJson(project, target.parent_path().string());
    const std::string partial = path + ".partial";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out) {
            std::error_code ec;
            fs::remove(partial, ec);
            throw ProjectError("cannot write project \"" + path + "\"");
        }
    }
    std::error_code ec;
    fs::rename(partial, target, ec);
    if (ec) {
        const std::string why = ec.message();
        fs::remove(partial, ec);
        throw ProjectError("cannot write project \"" + path + "\": " + why);
    }
}

Project loadProject(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw ProjectError("cannot read project \"" + path + "\": no such file or not readable");
    std::stringstream ss;
    ss << in.rdbuf();
    try {
        return projectFromJson(ss.str(), fs::path(path).parent_path().string());
    } catch (const ProjectError &e) {
        throw ProjectError("project \"" + path + "\": " + e.what());
    }
}

} // namespace quillomark
