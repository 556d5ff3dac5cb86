// quillomark.so: a frei0r filter that draws Quillomark text into the frames
// of any frei0r host (ffmpeg's frei0r filter, GStreamer's frei0r elements,
// MLT). Each frei0r instance is one layer of a process-wide session, so the
// text reaches the module exactly as `quillomark render` gives it.
//
// The module and its porting library keep process-wide state, so every call
// that reaches the session holds one mutex. Parameters are only stored when
// set; the frei0r contract lets one thread at a time touch an instance.
//
// Values follow frei0r's conventions: doubles, positions and colour channels
// in [0, 1], booleans true from 0.5. Out-of-range values are clamped and NaN
// takes the parameter's default; frei0r has no error channel, so what cannot
// be honoured is said once on stderr.
#include "session/session.h"
#include "text/encoding.h"

// The header declares the interface without C linkage of its own.
extern "C" {
#include <frei0r.h>
}

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <memory>
#include <mutex>

namespace fs = std::filesystem;
using namespace quillomark;

namespace {

enum Param {
    kText,
    kFont,
    kSize,
    kPosition,
    kColour,
    kAlign,
    kBold,
    kItalic,
    kUnderline,
    kOutline,
    kComposite,
    kDraft
};

// ffmpeg passes values by position: this order is the plug-in's interface.
constexpr f0r_param_info_t kParams[] = {
    {"text", F0R_PARAM_STRING, "UTF-8 text; a line feed or the two characters \\n start a new line"},
    {"font", F0R_PARAM_STRING, "font family; empty or unknown: DejaVu Sans"},
    {"size", F0R_PARAM_DOUBLE, "text size: 0..1 of 512 points"},
    {"position", F0R_PARAM_POSITION, "where the text is placed, as a fraction of the frame's width and height"},
    {"color", F0R_PARAM_COLOR, "text colour"},
    {"align", F0R_PARAM_STRING, "line alignment: left, center or right"},
    {"bold", F0R_PARAM_BOOL, "bold"},
    {"italic", F0R_PARAM_BOOL, "italic"},
    {"underline", F0R_PARAM_BOOL, "underline"},
    {"outline", F0R_PARAM_BOOL, "outline"},
    {"composite", F0R_PARAM_BOOL, "draw over the incoming frame; off: the text alone on transparent black"},
    {"draft", F0R_PARAM_BOOL, "aliased draft quality instead of high quality"},
};
constexpr int kParamCount = static_cast<int>(std::size(kParams));
static_assert(kDraft + 1 == kParamCount);

// Size runs 0..1 over 0..512 points.
constexpr double kPointsPerUnit = 512.0;

void say(const std::string &message)
{
    std::cerr << "quillomark (frei0r): " << message << std::endl;
}

// The numeric parameters, clamped to frei0r's ranges.
struct Values {
    double size = 0;
    f0r_param_position_t position{0.5, 0.5};
    f0r_param_color_t colour{1, 0, 0};
    bool styles[4] = {}; // bold, italic, underline, outline
    bool composite = true, draft = false;
};

struct Filter {
    int32_t width = 0, height = 0;
    std::string text = "Quillomark", font, align = "left"; // as given
    Values v, defaults;                                    // NaN sets the default

    bool retype = true;     // text options changed since the dialog last ran
    std::string warnedText; // the last text whose replacements were reported
    std::string lastError;  // the last failure reported, so it is said once
};

struct Shared {
    std::mutex mutex;
    int users = 0; // f0r_init calls not yet matched by f0r_deinit
    std::unique_ptr<Session> session;
    std::vector<Filter *> layers; // the filter behind each session layer, in layer order
    corvane::RenderSettings defaults;
    std::pair<int32_t, int32_t> sizes{0, 512};
};

Shared &shared()
{
    static Shared s;
    return s;
}

std::string findModule()
{
    if (const char *given = std::getenv("QUILLOMARK_MODULE"); given && *given)
        return given;
    Dl_info self{};
    const fs::path dir = dladdr(reinterpret_cast<void *>(&f0r_init), &self) && self.dli_fname
                             ? fs::path(self.dli_fname).parent_path()
                             : fs::path(".");
    // Beside the plug-in (the build tree), then the installed layout.
    const fs::path places[] = {dir / "Quillomark.so", dir / ".." / "quillomark" / "Quillomark.so"};
    for (const auto &p : places)
        if (fs::exists(p))
            return p.lexically_normal().string();
    throw std::runtime_error("no module at " + places[0].string() + " or " + places[1].lexically_normal().string() +
                             " (set QUILLOMARK_MODULE to its path)");
}

int32_t alignment(const std::string &name)
{
    std::string lower = name;
    for (char &c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "center" || lower == "centre")
        return 1;
    if (lower == "right")
        return 2;
    return 0;
}

// Lines the dialog can type: characters Windows-1252 cannot hold, bytes that
// are not UTF-8 and controls other than line breaks become '?'.
std::vector<std::string> typeableLines(const std::string &text, size_t &replaced)
{
    std::vector<std::string> lines = splitTextLines(text);
    replaced = 0;
    for (auto &line : lines) {
        size_t n = 0;
        std::string cp = corvane::text::utf8ToCp1252Replacing(line, '?', &n);
        for (char &c : cp)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                c = '?';
                ++n;
            }
        replaced += n;
        line = corvane::text::cp1252ToUtf8(cp);
    }
    return lines;
}

TextChoice choiceFor(Filter &f, const std::string &defaultFace)
{
    TextChoice choice;
    size_t replaced = 0;
    choice.lines = typeableLines(f.text, replaced);
    if (replaced && f.text != f.warnedText)
        say("warning: " + std::to_string(replaced) +
            " character(s) of the text cannot be written in Windows-1252, the module's code page, and are drawn "
            "as \"?\"");
    f.warnedText = f.text;
    // An unnamable font is an unknown one: the dialog falls back.
    choice.font =
        f.font.empty() ? defaultFace : corvane::text::cp1252ToUtf8(corvane::text::utf8ToCp1252Replacing(f.font));
    choice.bold = f.v.styles[0];
    choice.italic = f.v.styles[1];
    choice.underline = f.v.styles[2];
    choice.outline = f.v.styles[3];
    choice.alignment = alignment(f.align);
    return choice;
}

uint8_t channel(float v)
{
    return static_cast<uint8_t>(std::lround(v * 255.0f));
}

// Brings the filter's layer up to date and renders it over `in`.
void render(Shared &s, Filter &f, const uint32_t *in, uint32_t *out)
{
    if (!s.session)
        throw std::runtime_error("the module is not loaded (f0r_init failed or f0r_deinit came first)");
    Session &session = *s.session;
    auto it = std::find(s.layers.begin(), s.layers.end(), &f);
    if (it == s.layers.end()) {
        session.addLayerFromDialog(choiceFor(f, session.defaultFace()), LayerSetup{});
        s.layers.push_back(&f);
        it = s.layers.end() - 1;
        f.retype = false;
    }
    const size_t index = static_cast<size_t>(it - s.layers.begin());
    if (f.retype) {
        session.editLayer(index, choiceFor(f, session.defaultFace()));
        f.retype = false;
    }

    Tracks tracks;
    tracks.size.add(
        0, std::clamp(static_cast<int32_t>(std::lround(f.v.size * kPointsPerUnit)), s.sizes.first, s.sizes.second),
        "size");
    tracks.position.add(0, Position{{f.v.position.x * f.width, false}, {f.v.position.y * f.height, false}}, "position");
    tracks.colour.add(0, Rgb{channel(f.v.colour.r), channel(f.v.colour.g), channel(f.v.colour.b)}, "colour");
    session.setLayerParameters(index, f.v.composite, tracks);

    corvane::media::ImageShape shape;
    shape.width = f.width;
    shape.height = f.height;
    shape.channels = 4;
    shape.hasAlpha = true;
    corvane::media::Image plate(shape);
    if (in)
        std::memcpy(plate.data(), in, shape.bytes());
    Session::FrameSetup setup;
    setup.draft = f.v.draft;
    setup.fullWidth = f.width;
    setup.fullHeight = f.height;
    const corvane::media::Image image = session.renderOneLayer(index, plate, 0, setup);
    std::memcpy(out, image.data(), shape.bytes());
}

template <typename T> T unit(T v, T fallback)
{
    return std::isnan(v) ? fallback : std::clamp(v, T(0), T(1));
}

bool flag(double v, bool fallback)
{
    return std::isnan(v) ? fallback : v >= 0.5;
}

// A string parameter; a null pointer means the empty string.
bool setString(std::string &field, f0r_param_t param)
{
    const char *const given = *static_cast<const char *const *>(param);
    std::string value = given ? given : "";
    if (value == field)
        return false;
    field = std::move(value);
    return true;
}

} // namespace

extern "C" {

int f0r_init()
{
    Shared &s = shared();
    std::lock_guard lock(s.mutex);
    if (s.users == 0) {
        try {
            s.session = std::make_unique<Session>(findModule(), [](const std::string &m) { say("warning: " + m); });
            s.defaults = s.session->host().defaultSettings();
            s.sizes = s.session->sizeRange();
        } catch (const std::exception &e) {
            s.session.reset();
            say("cannot load the Quillomark module: " + std::string(e.what()));
            return 0;
        }
    }
    ++s.users;
    return 1;
}

void f0r_deinit()
{
    Shared &s = shared();
    std::lock_guard lock(s.mutex);
    if (s.users > 0 && --s.users == 0) {
        s.layers.clear();
        s.session.reset();
    }
}

void f0r_get_plugin_info(f0r_plugin_info_t *info)
{
    info->name = "quillomark";
    info->author = "Quillomark";
    info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
    info->color_model = F0R_COLOR_MODEL_RGBA8888;
    info->frei0r_version = FREI0R_MAJOR_VERSION;
    info->major_version = 1;
    info->minor_version = 0;
    info->num_params = kParamCount;
    info->explanation = "Quillomark text: several lines in any installed font, drawn over the frame or alone";
}

void f0r_get_param_info(f0r_param_info_t *info, int index)
{
    if (index >= 0 && index < kParamCount)
        *info = kParams[index];
}

f0r_instance_t f0r_construct(unsigned int width, unsigned int height)
{
    if (width == 0 || height == 0 || width > kMaxImageSide || height > kMaxImageSide)
        return nullptr;
    Shared &s = shared();
    std::lock_guard lock(s.mutex);
    if (!s.session)
        return nullptr;
    auto f = std::make_unique<Filter>();
    f->width = static_cast<int32_t>(width);
    f->height = static_cast<int32_t>(height);
    // The module's registered defaults, its position read as a percentage
    // of the frame as the command line reads it.
    Values &d = f->defaults;
    d.size = s.defaults.size / kPointsPerUnit;
    d.position = {s.defaults.x / 65536.0 / 100.0, s.defaults.y / 65536.0 / 100.0};
    d.colour = {s.defaults.colour.red / 255.0f, s.defaults.colour.green / 255.0f, s.defaults.colour.blue / 255.0f};
    f->v = d;
    return f.release();
}

void f0r_destruct(f0r_instance_t instance)
{
    auto *f = static_cast<Filter *>(instance);
    Shared &s = shared();
    {
        std::lock_guard lock(s.mutex);
        const auto it = std::find(s.layers.begin(), s.layers.end(), f);
        if (it != s.layers.end()) {
            try {
                s.session->removeLayer(static_cast<size_t>(it - s.layers.begin()));
            } catch (const std::exception &e) {
                say(e.what());
            }
            s.layers.erase(it);
        }
    }
    delete f;
}

void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int index)
{
    auto &f = *static_cast<Filter *>(instance);
    const double value = index == kPosition || index == kColour ? 0 : *static_cast<const double *>(param);
    switch (index) {
    case kText:
        f.retype |= setString(f.text, param);
        break;
    case kFont:
        f.retype |= setString(f.font, param);
        break;
    case kAlign:
        if (setString(f.align, param)) {
            f.retype = true;
            const int32_t a = alignment(f.align);
            if (a == 0 && !f.align.empty() && f.align != "left")
                say("warning: alignment \"" + f.align + "\" is not left, center or right; using left");
        }
        break;
    case kSize:
        f.v.size = unit(value, f.defaults.size);
        break;
    case kPosition: {
        const auto &p = *static_cast<const f0r_param_position_t *>(param);
        f.v.position = {unit(p.x, f.defaults.position.x), unit(p.y, f.defaults.position.y)};
        break;
    }
    case kColour: {
        const auto &c = *static_cast<const f0r_param_color_t *>(param);
        const f0r_param_color_t &d = f.defaults.colour;
        f.v.colour = {unit(c.r, d.r), unit(c.g, d.g), unit(c.b, d.b)};
        break;
    }
    case kBold:
    case kItalic:
    case kUnderline:
    case kOutline: {
        bool &style = f.v.styles[index - kBold];
        const bool on = flag(value, f.defaults.styles[index - kBold]);
        f.retype |= on != style;
        style = on;
        break;
    }
    case kComposite:
        f.v.composite = flag(value, f.defaults.composite);
        break;
    case kDraft:
        f.v.draft = flag(value, f.defaults.draft);
        break;
    default:
        break;
    }
}

void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int index)
{
    auto &f = *static_cast<Filter *>(instance);
    auto text = [&](std::string &s) { *static_cast<const char **>(param) = s.c_str(); };
    auto number = [&](double v) { *static_cast<double *>(param) = v; };
    switch (index) {
    case kText:
        return text(f.text);
    case kFont:
        return text(f.font);
    case kAlign:
        return text(f.align);
    case kSize:
        return number(f.v.size);
    case kPosition:
        *static_cast<f0r_param_position_t *>(param) = f.v.position;
        return;
    case kColour:
        *static_cast<f0r_param_color_t *>(param) = f.v.colour;
        return;
    case kBold:
    case kItalic:
    case kUnderline:
    case kOutline:
        return number(f.v.styles[index - kBold]);
    case kComposite:
        return number(f.v.composite);
    case kDraft:
        return number(f.v.draft);
    default:
        return;
    }
}

void f0r_update(f0r_instance_t instance, double, const uint32_t *in, uint32_t *out)
{
    auto &f = *static_cast<Filter *>(instance);
    Shared &s = shared();
    std::lock_guard lock(s.mutex);
    try {
        render(s, f, in, out);
        f.lastError.clear();
    } catch (const std::exception &e) {
        std::string message = e.what();
        if (const auto *m = dynamic_cast<const ModuleError *>(&e); m && !m->moduleMessage.empty())
            message += ": " + m->moduleMessage;
        if (message != f.lastError)
            say("frame left as it came: " + message);
        f.lastError = message;
        const size_t bytes = static_cast<size_t>(f.width) * static_cast<size_t>(f.height) * 4;
        if (in)
            std::memmove(out, in, bytes);
        else
            std::memset(out, 0, bytes);
    }
}

} // extern "C"
