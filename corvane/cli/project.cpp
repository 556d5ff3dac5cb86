#include "project.h"

#include "input_file.h"
#include "record/stored_record.h"
#include "suggest.h"
#include "text/encoding.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

namespace quillomark {

namespace {

constexpr const char *kFormat = "quillomark-project";
// 2: layers show their text, font, style and alignment beside the record.
constexpr int kVersion = 2;
constexpr int kOldestVersion = 1;
// Far beyond any project a person writes, short of exhausting memory.
constexpr size_t kMaxProjectBytes = 64u << 20;

constexpr const char *kStyleNames[] = {"bold", "italic", "underline", "outline"}; // bits 1, 2, 4, 8

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

std::string joinLines(const std::vector<std::string> &lines)
{
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i)
        text += (i ? "\n" : "") + lines[i];
    return text;
}

// --------------------------------------------------------------------------
// Reading, with the path of every value for the messages.

[[noreturn]] void fail(const std::string &path, const std::string &message)
{
    throw ProjectError(path + ": " + message);
}

std::string keyPath(const std::string &path, const std::string &key)
{
    return path.empty() ? key : path + "." + key;
}

std::string itemPath(const std::string &path, size_t index)
{
    return path + "[" + std::to_string(index) + "]";
}

// What a value is, for "expected X, not Y"; never the value itself, which
// may be large.
std::string kind(const json &j)
{
    switch (j.type()) {
    case json::value_t::null:
        return "null";
    case json::value_t::boolean:
        return j.get<bool>() ? "true" : "false";
    case json::value_t::string:
        return "a string";
    case json::value_t::array:
        return "a list";
    case json::value_t::object:
        return "an object";
    default:
        return "a number";
    }
}

void expect(bool ok, const json &j, const std::string &path, const std::string &expected)
{
    if (!ok)
        fail(path, "expected " + expected + ", not " + kind(j));
}

const std::string &stringAt(const json &j, const std::string &path, const std::string &expected = "a string")
{
    expect(j.is_string(), j, path, expected);
    return j.get_ref<const std::string &>();
}

int64_t wholeAt(const json &j, const std::string &path, int64_t lo, int64_t hi)
{
    const std::string expected = "a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
    expect(j.is_number_integer(), j, path, expected);
    // Unsigned values past INT64_MAX must not wrap into range.
    if (j.is_number_unsigned() ? j.get<uint64_t>() > static_cast<uint64_t>(hi)
                               : j.get<int64_t>() < lo || j.get<int64_t>() > hi)
        fail(path, "expected " + expected + ", not " + j.dump());
    return j.get<int64_t>();
}

// A value the command line's parsers read, with their message under the path.
template <typename F> auto parsedAt(const json &j, const std::string &path, const std::string &expected, F parse)
{
    const std::string &text = stringAt(j, path, expected);
    try {
        return parse(text);
    } catch (const UsageError &e) {
        fail(path, e.what());
    }
}

// Refuses keys other than `known`, suggesting the nearest.
void checkKeys(const json &object, const std::string &path, const std::vector<std::string> &known)
{
    for (const auto &[key, value] : object.items())
        if (std::find(known.begin(), known.end(), key) == known.end())
            fail(keyPath(path, key), "unknown key" + didYouMean(key, known));
}

const json *find(const json &object, const std::string &key)
{
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

// A constant or a list of {"frame": N, "value": V}.
template <typename T, typename F> Track<T> trackAt(const json &j, const std::string &path, F parse)
{
    Track<T> track;
    if (!j.is_array()) {
        track.setConstant(parse(j, path));
        return track;
    }
    const std::string name = path.substr(path.rfind('.') + 1);
    if (j.empty())
        fail(path, "expected a value or a list of keyframes, not an empty list");
    for (size_t i = 0; i < j.size(); ++i) {
        const std::string at = itemPath(path, i);
        const json &k = j[i];
        expect(k.is_object(), k, at, "a keyframe {\"frame\": N, \"value\": V}");
        checkKeys(k, at, {"frame", "value"});
        const json *frame = find(k, "frame"), *value = find(k, "value");
        if (!frame || !value)
            fail(at, std::string("expected a keyframe {\"frame\": N, \"value\": V}; \"") + (frame ? "value" : "frame") +
                         "\" is missing");
        const auto f = static_cast<int32_t>(wholeAt(*frame, keyPath(at, "frame"), 0, 9999999));
        try {
            track.add(f, parse(*value, keyPath(at, "value")), name);
        } catch (const UsageError &e) {
            fail(at, e.what());
        }
    }
    return track;
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

PlateSetup plateFromJson(const json &plate, const std::string &projectDir)
{
    expect(plate.is_object(), plate, "plate", "an object");
    checkKeys(plate, "plate", {"image", "size", "color", "gradient"});
    PlateSetup parsed;
    if (const json *image = find(plate, "image")) {
        if (plate.size() > 1)
            fail("plate", "an image plate has no size, color or gradient of its own");
        fs::path path = stringAt(*image, "plate.image", "a file name");
        if (path.empty())
            fail("plate.image", "expected a file name, not an empty string");
        if (path.is_relative() && !projectDir.empty())
            path = fs::path(projectDir) / path;
        parsed.image = path.lexically_normal().string();
        return parsed;
    }
    if (const json *size = find(plate, "size"))
        parsed.size = parsedAt(*size, "plate.size", "a size such as \"1280x720\"", parsePlateSize);
    const json *colour = find(plate, "color"), *gradient = find(plate, "gradient");
    if (colour && gradient)
        fail("plate", "give either \"color\" or \"gradient\", not both");
    if (gradient) {
        expect(gradient->is_array() && gradient->size() == 2, *gradient, "plate.gradient",
               "two colours, top and bottom");
        parsed.colour = parsedAt((*gradient)[0], "plate.gradient[0]", "a colour such as \"#1d2b53\"", parseColour);
        parsed.gradientEnd = parsedAt((*gradient)[1], "plate.gradient[1]", "a colour such as \"#7e2553\"", parseColour);
    } else if (colour) {
        parsed.colour = parsedAt(*colour, "plate.color", "a colour such as \"#1d2b53\"", parseColour);
    }
    return parsed;
}

// The readable fields a layer gives, before they are held against its record.
TextChoice readableFromJson(const json &l, const std::string &path)
{
    TextChoice given;
    if (const json *text = find(l, "text"))
        given.lines = splitTextLines(stringAt(*text, keyPath(path, "text")), false);
    if (const json *font = find(l, "font"))
        given.font = stringAt(*font, keyPath(path, "font"), "a font name");
    if (const json *style = find(l, "style")) {
        const std::string at = keyPath(path, "style");
        const std::string styles = "bold, italic, underline, outline";
        const std::string expected = "a list of styles: " + styles;
        expect(style->is_array(), *style, at, expected);
        const std::vector<std::string> names(std::begin(kStyleNames), std::end(kStyleNames));
        bool on[4] = {};
        for (size_t i = 0; i < style->size(); ++i) {
            const std::string &name = stringAt((*style)[i], itemPath(at, i), expected);
            const auto it = std::find(names.begin(), names.end(), name);
            if (it == names.end())
                fail(itemPath(at, i), "\"" + name + "\" is not a style (" + styles + ")" + didYouMean(name, names));
            on[it - names.begin()] = true;
        }
        given.bold = on[0], given.italic = on[1], given.underline = on[2], given.outline = on[3];
    }
    if (const json *align = find(l, "alignment"))
        given.alignment = parsedAt(*align, keyPath(path, "alignment"), "left, center or right", parseAlignment);
    return given;
}

// The given fields that differ from what the record holds. The style is one
// field: its four boxes go together.
TextChoice differences(const TextChoice &given, const TextChoice &record)
{
    TextChoice d;
    if (given.lines && given.lines != record.lines)
        d.lines = given.lines;
    if (given.font && given.font != record.font)
        d.font = given.font;
    if (given.bold && (given.bold != record.bold || given.italic != record.italic ||
                       given.underline != record.underline || given.outline != record.outline)) {
        d.bold = given.bold, d.italic = given.italic, d.underline = given.underline, d.outline = given.outline;
    }
    if (given.alignment && (!record.alignment || *given.alignment != std::min(*record.alignment, 2)))
        d.alignment = given.alignment;
    return d;
}

ProjectLayer layerFromJson(const json &l, const std::string &path)
{
    expect(l.is_object(), l, path, "an object");
    checkKeys(l, path, {"text", "font", "style", "alignment", "record", "composite", "size", "position", "color"});
    const json *record = find(l, "record");
    if (!record)
        fail(path, "no \"record\"");
    ProjectLayer layer;
    layer.record = fromHex(stringAt(*record, keyPath(path, "record"), "the record in hex"), keyPath(path, "record"));
    if (const json *composite = find(l, "composite")) {
        expect(composite->is_boolean(), *composite, keyPath(path, "composite"), "true or false");
        layer.composite = composite->get<bool>();
    }
    if (const json *size = find(l, "size"))
        layer.tracks.size = trackAt<int32_t>(*size, keyPath(path, "size"), [](const json &v, const std::string &at) {
            return static_cast<int32_t>(wholeAt(v, at, -1000000, 1000000));
        });
    if (const json *position = find(l, "position"))
        layer.tracks.position =
            trackAt<Position>(*position, keyPath(path, "position"), [](const json &v, const std::string &at) {
                return parsedAt(v, at, "a position \"X,Y\"", parsePosition);
            });
    if (const json *colour = find(l, "color"))
        layer.tracks.colour = trackAt<Rgb>(*colour, keyPath(path, "color"), [](const json &v, const std::string &at) {
            return parsedAt(v, at, "a colour such as \"#ffffff\"", parseColour);
        });
    layer.edits = differences(readableFromJson(l, path), readableFields(layer.record));
    // What the dialog would refuse is refused before the module loads.
    if (layer.edits.lines) {
        try {
            textForTyping(*layer.edits.lines);
        } catch (const UsageError &e) {
            fail(path, e.what());
        }
    }
    if (layer.edits.font && !corvane::text::tryUtf8ToCp1252(*layer.edits.font))
        fail(keyPath(path, "font"), "\"" + *layer.edits.font + "\" holds a character no font name can");
    return layer;
}

json parseProjectJson(const std::string &text)
{
    json j;
    try {
        j = json::parse(text);
    } catch (const json::exception &e) {
        // "[json.exception.parse_error.101] parse error at line 3, ..." without the tag
        std::string what = e.what();
        const auto tag = what.find("] ");
        throw ProjectError("not valid JSON: " + (tag == std::string::npos ? what : what.substr(tag + 2)));
    }
    const json *format = j.is_object() ? find(j, "format") : nullptr;
    if (!format || !format->is_string() || format->get_ref<const std::string &>() != kFormat)
        throw ProjectError("not a Quillomark project (no \"format\": \"quillomark-project\")");
    const json *version = find(j, "version");
    const bool readable = version && version->is_number_integer() &&
                          !(version->is_number_unsigned() && version->get<uint64_t>() > kVersion) &&
                          version->get<int64_t>() >= kOldestVersion && version->get<int64_t>() <= kVersion;
    if (!readable)
        throw ProjectError("project version " +
                           (!version               ? "(none)"
                            : version->is_number() ? version->dump()
                                                   : kind(*version)) +
                           " is not supported; this program reads versions " + std::to_string(kOldestVersion) + " to " +
                           std::to_string(kVersion));
    checkKeys(j, "", {"format", "version", "plate", "quality", "downsample", "frames", "layers"});
    return j;
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

TextChoice readableFields(const std::vector<uint8_t> &record)
{
    TextChoice r;
    if (record.size() != corvane::record::kStoredSize)
        return r;
    const corvane::record::Fields f = corvane::record::decode(record);
    // Lines end at CR; the LF that typing puts after it is skipped, as the
    // module skips it when drawing. Any other LF could not be told apart
    // from a line break once shown.
    std::vector<std::string> lines(1);
    bool faithful = true;
    for (size_t i = 0; i < f.text.size(); ++i) {
        if (f.text[i] == '\r') {
            lines.emplace_back();
            if (i + 1 < f.text.size() && f.text[i + 1] == '\n')
                ++i;
        } else {
            faithful = faithful && f.text[i] != '\n';
            lines.back() += f.text[i];
        }
    }
    if (faithful) {
        for (auto &line : lines)
            line = corvane::text::cp1252ToUtf8(line);
        r.lines = std::move(lines);
    }
    r.font = corvane::text::cp1252ToUtf8(f.fontName);
    r.bold = (f.style & 1) != 0;
    r.italic = (f.style & 2) != 0;
    r.underline = (f.style & 4) != 0;
    r.outline = (f.style & 8) != 0;
    r.alignment = f.alignment;
    return r;
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
    for (const ProjectLayer &l : project.layers) {
        // The fields still to be applied, else the record's own.
        const TextChoice record = readableFields(l.record);
        auto shown = [](const auto &edit, const auto &own) { return edit ? edit : own; };
        json layer = json::object();
        if (const auto lines = shown(l.edits.lines, record.lines))
            layer["text"] = joinLines(*lines);
        if (const auto font = shown(l.edits.font, record.font))
            layer["font"] = *font;
        const std::optional<bool> on[] = {shown(l.edits.bold, record.bold), shown(l.edits.italic, record.italic),
                                          shown(l.edits.underline, record.underline),
                                          shown(l.edits.outline, record.outline)};
        if (std::any_of(std::begin(on), std::end(on), [](const auto &b) { return b.has_value(); })) {
            json names = json::array();
            for (size_t i = 0; i < 4; ++i)
                if (on[i].value_or(false))
                    names.push_back(kStyleNames[i]);
            layer["style"] = names;
        }
        if (const auto align = shown(l.edits.alignment, record.alignment))
            layer["alignment"] = formatAlignment(*align);
        layer["record"] = toHex(l.record);
        layer["composite"] = l.composite;
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
    try {
        return j.dump(2) + "\n";
    } catch (const json::exception &) {
        throw ProjectError("the plate's file name is not UTF-8 text, which a project cannot hold");
    }
}

Project projectFromJson(const std::string &text, const std::string &projectDir)
{
    const json j = parseProjectJson(text);
    Project p;
    if (const json *plate = find(j, "plate"))
        p.plate = plateFromJson(*plate, projectDir);
    if (const json *quality = find(j, "quality")) {
        const std::string &q = stringAt(*quality, "quality", "\"draft\" or \"high\"");
        if (q != "draft" && q != "high")
            fail("quality", "expected \"draft\" or \"high\", not \"" + q + "\"");
        p.draft = q == "draft";
    }
    if (const json *downsample = find(j, "downsample"))
        p.downsample = parsedAt(*downsample, "downsample", "a ratio such as \"1/2\"", parseDownsample);
    if (const json *frames = find(j, "frames"))
        p.frames = parsedAt(*frames, "frames", "a range such as \"101-200\"", parseFrameRange);

    const json *layers = find(j, "layers");
    if (!layers)
        throw ProjectError("no \"layers\" list");
    expect(layers->is_array(), *layers, "layers", "a list of layers");
    for (size_t i = 0; i < layers->size(); ++i)
        p.layers.push_back(layerFromJson((*layers)[i], itemPath("layers", i)));
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
    std::string text;
    try {
        text = readInputFile(path, "project", kMaxProjectBytes);
    } catch (const InputFileError &e) {
        throw ProjectError(e.what());
    }
    try {
        return projectFromJson(text, fs::path(path).parent_path().string());
    } catch (const ProjectError &e) {
        throw ProjectError("project \"" + path + "\": " + e.what());
    }
}

} // namespace quillomark
