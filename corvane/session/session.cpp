#include "session.h"

#include "composite.h"

#include "corvane1_ext.h"
#include "scripted_user.h"
#include "record/stored_record.h"
#include "resource_ids.h"
#include "text/encoding.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace quillomark {

namespace win32 = corvane::win32;
namespace media = corvane::media;

ModuleError::ModuleError(const std::string &what, int32_t code_, std::string message)
    : std::runtime_error(what), code(code_), moduleMessage(std::move(message))
{
}

namespace {

bool sameNoCase(const std::string &a, const std::string &b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

std::optional<std::string> findNoCase(const std::vector<std::string> &items, const std::string &name)
{
    auto exact = std::find(items.begin(), items.end(), name);
    if (exact != items.end())
        return *exact;
    for (const auto &item : items)
        if (sameNoCase(item, name))
            return item;
    return std::nullopt;
}

std::vector<std::string> libraryFaces()
{
    std::vector<std::string> faces;
    for (int32_t i = 0, n = CorvaneFontCount(); i < n; ++i) {
        CorvaneFontDesc desc{};
        if (CorvaneGetFontDesc(i, &desc) == 0)
            faces.emplace_back(desc.faceName);
    }
    return faces;
}

// GetDlgItemTextA's limit as the dialog reads its text field.
constexpr size_t kTextFieldCharacters = 254;

// What the options dialog kept of `lines` (typed as `typedSize` characters,
// each break CR LF), told line by line.
std::string keptText(const std::vector<std::string> &lines, size_t typedSize, std::string stored)
{
    std::vector<std::string> kept{""};
    for (size_t i = 0; i < stored.size(); ++i) {
        if (stored.compare(i, 2, "\r\n") == 0) {
            kept.emplace_back();
            ++i;
        } else if (stored[i] != '\r') { // a break cut in half keeps its CR alone
            kept.back() += stored[i];
        }
    }
    const size_t n = kept.size();
    const std::string last = corvane::text::cp1252ToUtf8(kept.back());
    const bool lastWhole = n <= lines.size() && last == lines[n - 1];
    auto upTo = [](size_t k) { return k == 1 ? std::string("line 1") : "lines 1 to " + std::to_string(k); };
    std::string what;
    if (lastWhole)
        what = upTo(n);
    else
        what = (n > 1 ? upTo(n - 1) + " as typed, and line " : "line ") + std::to_string(n) + " reads \"" + last + "\"";
    const std::string why =
        stored.size() >= kTextFieldCharacters
            ? "holds " + std::to_string(kTextFieldCharacters) + " characters (each line break counts two)"
            : "shows " + std::to_string(n) + " lines and takes no line break beyond them";
    return "the options dialog's text field " + why + "; of the text's " + std::to_string(lines.size()) + " lines (" +
           std::to_string(typedSize) + " characters) it kept " + what;
}

// Runs the options dialog with `script` queued; the dialog's own result is
// returned, a failed script step is thrown.
int32_t runDialog(corvane::Instance &instance, win32::Script script)
{
    win32::clearDialogReports();
    win32::queueScript(std::move(script));
    const int32_t result = instance.options();
    win32::clearScripts();
    const auto &reports = win32::dialogReports();
    if (reports.empty()) {
        if (result != 0) // refused before opening: the module's message says why
            return result;
        throw std::runtime_error("the options dialog did not open");
    }
    if (!reports.back().error.empty())
        throw std::runtime_error("options dialog: " + reports.back().error);
    return result;
}

Fixed toFixed(double pixels)
{
    // Inside the 16-bit pixel range the host's worlds use, and so inside 16.16.
    pixels = std::clamp(pixels, -32767.0, 32767.0);
    return static_cast<Fixed>(std::lround(pixels * 65536.0));
}

} // namespace

std::vector<std::string> splitTextLines(const std::string &text, bool escapes)
{
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (escapes && c == '\\' && i + 1 < text.size() && (text[i + 1] == 'n' || text[i + 1] == '\\')) {
            if (text[++i] == 'n')
                lines.emplace_back();
            else
                lines.back() += '\\';
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            // CR LF from a file written on Windows: one break
        } else if (c == '\n' || c == '\r') {
            lines.emplace_back();
        } else {
            lines.back() += c;
        }
    }
    return lines;
}

std::string textForTyping(const std::vector<std::string> &lines)
{
    std::string typed;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string line;
        try {
            line = corvane::text::utf8ToCp1252(lines[i]);
        } catch (const corvane::text::EncodingError &e) {
            throw UsageError(std::string("text: ") + e.what());
        }
        for (unsigned char c : line)
            if (c < 0x20 || c == 0x7F)
                throw UsageError("text: line " + std::to_string(i + 1) + " holds a control character (code " +
                                 std::to_string(c) + "); only line breaks (\\n) can be typed");
        if (i)
            typed += '\n';
        typed += line;
    }
    return typed;
}

Session::Session(const std::string &modulePath, Warn warn) : host_(modulePath), warn_(std::move(warn))
{
    win32::resetStandIn();
    if (const int32_t r = host_.globalSetup())
        throw ModuleError("the module's global setup failed", r, host_.message());
    if (const int32_t r = host_.paramSetup())
        throw ModuleError("the module's parameter setup failed", r, host_.message());
}

Session::~Session() = default;

void Session::requestCancel()
{
    cancelled_.store(true);
    host_.requestCancel(1);
}

std::vector<std::string> Session::dialogFonts()
{
    corvane::Instance &probe = host_.newInstance();
    if (const int32_t r = probe.setup())
        throw ModuleError("instance setup failed", r, host_.message());
    std::vector<std::string> fonts;
    win32::Script script;
    script.inspect([&](win32::LiveDialog &d) { fonts = d.items(d.fontListId()); }).cancel();
    runDialog(probe, std::move(script));
    host_.removeInstance(probe);
    for (auto &f : fonts)
        f = corvane::text::cp1252ToUtf8(f);
    return fonts;
}

std::string Session::defaultFace() const
{
    CorvaneFontDesc desc{};
    if (CorvaneGetFontDesc(0, &desc) != 0)
        return "the system font";
    return corvane::text::cp1252ToUtf8(desc.faceName);
}

std::pair<int32_t, int32_t> Session::sizeRange() const
{
    const corvane::Parameter &p = host_.parameterOfType(kParamSlider);
    return {p.sliderMin, p.sliderMax};
}

std::vector<uint8_t> Session::runOptions(corvane::Instance &instance, const TextChoice &choice, bool newRecord,
                                         const std::string &what)
{
    const std::string typed = choice.lines ? textForTyping(*choice.lines) : std::string();
    std::string requested;
    if (choice.font) {
        try {
            requested = corvane::text::utf8ToCp1252(*choice.font);
        } catch (const corvane::text::EncodingError &e) {
            throw UsageError(what + "font: " + e.what());
        }
    }
    CorvaneFontDesc face{};
    const std::string fallback = CorvaneGetFontDesc(0, &face) == 0 ? std::string(face.faceName) : std::string();

    bool found = false;
    std::string used;
    win32::Script script;
    script.then("set text, font, style and alignment", [&](win32::LiveDialog &d) {
        if (choice.font || newRecord) {
            const auto items = d.items(kIdFontList);
            std::optional<std::string> entry;
            if (choice.font)
                entry = findNoCase(items, requested);
            found = entry.has_value();
            if (!entry && !fallback.empty())
                entry = findNoCase(items, fallback);
            if (entry)
                d.pick(kIdFontList, *entry);
        }
        used = d.selectedItem(kIdFontList);
        const std::pair<const std::optional<bool> &, int32_t> boxes[] = {{choice.bold, kIdBoldBox},
                                                                         {choice.italic, kIdItalicBox},
                                                                         {choice.underline, kIdUnderlineBox},
                                                                         {choice.outline, kIdOutlineBox}};
        for (const auto &[on, id] : boxes)
            if (on)
                d.setChecked(id, *on);
        if (choice.alignment)
            d.chooseRadio(kIdAlignLeft + *choice.alignment);
        if (choice.lines) {
            d.focus(kIdTextField);
            d.press(win32::Key::SelectAll);
            d.type(typed);
        }
    });
    script.ok();
    if (const int32_t r = runDialog(instance, std::move(script)))
        throw ModuleError(what + "the options dialog did not store the settings", r, host_.message());

    if (choice.font && !found)
        warn_(what + "font \"" + *choice.font + "\" is not installed; using \"" + corvane::text::cp1252ToUtf8(used) +
              "\"");

    const std::vector<uint8_t> record = instance.storedRecord();
    if (choice.lines) {
        std::string expected;
        for (char c : typed)
            expected += c == '\n' ? std::string("\r\n") : std::string(1, c);
        const std::string stored = corvane::record::decode(record).text;
        if (stored != expected)
            warn_(what + keptText(*choice.lines, expected.size(), stored));
    }
    return record;
}

void Session::addLayerFromDialog(const TextChoice &choice, const LayerSetup &given)
{
    corvane::Instance &instance = host_.newInstance();
    if (const int32_t r = instance.setup())
        throw ModuleError("instance setup failed", r, host_.message());
    LayerSetup layer = given;
    layer.record = runOptions(instance, choice, true, "");
    instances_.push_back(&instance);
    layers_.push_back(std::move(layer));
}

void Session::editLayer(size_t index, const TextChoice &choice)
{
    const std::string what = "layer " + std::to_string(index + 1) + ": ";
    const std::string before = corvane::record::decode(layers_.at(index).record).fontName;
    layers_[index].record = runOptions(*instances_.at(index), choice, false, what);
    // A font the dialog does not list is replaced on OK, asked for or not.
    const std::string after = corvane::record::decode(layers_[index].record).fontName;
    if (!choice.font && after != before)
        warn_(what + "font \"" + corvane::text::cp1252ToUtf8(before) + "\" is not installed; the options dialog " +
              "stored \"" + corvane::text::cp1252ToUtf8(after) + "\" in its place");
}

void Session::setLayerParameters(size_t index, bool composite, const Tracks &tracks)
{
    LayerSetup &layer = layers_.at(index);
    layer.composite = composite;
    layer.tracks = tracks;
}

void Session::removeLayer(size_t index)
{
    host_.removeInstance(*instances_.at(index));
    instances_.erase(instances_.begin() + static_cast<ptrdiff_t>(index));
    layers_.erase(layers_.begin() + static_cast<ptrdiff_t>(index));
}

void Session::addLayerFromRecord(const LayerSetup &given, int32_t layerNumber)
{
    const std::string what = "layer " + std::to_string(layerNumber);
    corvane::Instance &instance = host_.newInstance();
    try {
        instance.setStoredRecord(given.record);
    } catch (const corvane::HostError &e) {
        host_.removeInstance(instance);
        throw std::runtime_error(what + ": " + e.what());
    }
    if (const int32_t r = instance.resetup())
        throw ModuleError(what + ": the module refused the project's settings record", r, host_.message());

    LayerSetup layer = given;
    layer.record = instance.storedRecord();
    if (layer.record != given.record)
        warn_(what + ": the module replaced the project's settings record with a blank one (the record is from "
                     "another version); its text, font and style are gone");
    else
        checkFont(layer.record, layerNumber);
    instances_.push_back(&instance);
    layers_.push_back(std::move(layer));
}

void Session::checkFont(const std::vector<uint8_t> &record, int32_t layerNumber)
{
    const std::string font = corvane::record::decode(record).fontName;
    if (font.empty())
        return;
    const auto faces = libraryFaces();
    if (!findNoCase(faces, font))
        warn_("layer " + std::to_string(layerNumber) + ": font \"" + corvane::text::cp1252ToUtf8(font) +
              "\" is not installed; drawing with \"" + defaultFace() + "\"");
}

corvane::RenderSettings Session::settingsFor(const LayerSetup &layer, int32_t frame, const FrameSetup &setup) const
{
    corvane::RenderSettings s = host_.defaultSettings();
    if (!layer.tracks.size.empty())
        s.size = layer.tracks.size.at(frame);

    // Positions are in full-resolution pixels; a proxy render scales them
    // as it scales the plate. Percentages resolve before blending keys, and
    // the registered default is read as percent of the plate.
    Track<Position> resolved;
    if (layer.tracks.position.empty())
        resolved.add(0, Position{{s.x / 65536.0, true}, {s.y / 65536.0, true}}, "position");
    else
        for (const auto &k : layer.tracks.position.keys())
            resolved.add(k.frame, k.value, "position");
    Track<Position> pixels;
    for (const auto &k : resolved.keys())
        pixels.add(k.frame, resolvePosition(k.value, setup.fullWidth, setup.fullHeight), "position");
    const Position p = pixels.at(frame);
    s.x = toFixed(p.x.value * setup.downsample.x.value());
    s.y = toFixed(p.y.value * setup.downsample.y.value());

    if (!layer.tracks.colour.empty()) {
        const Rgb c = layer.tracks.colour.at(frame);
        s.colour = HostPixel{0, c.r, c.g, c.b};
    }
    s.composite = layer.composite;
    s.quality = setup.draft ? 0 : 1;
    s.downsampleXNum = setup.downsample.x.num;
    s.downsampleXDen = setup.downsample.x.den;
    s.downsampleYNum = setup.downsample.y.num;
    s.downsampleYDen = setup.downsample.y.den;
    return s;
}

namespace {

// The plate as the module takes it: a host world of 8-bit straight pixels.
template <int32_t Channels> void toWorld(const media::Image &plate, corvane::World &world)
{
    for (int32_t y = 0; y < plate.height(); ++y) {
        HostPixel *row = world.row(y);
        const auto *p = reinterpret_cast<const uint8_t *>(plate.pixel(0, y));
        for (int32_t x = 0; x < plate.width(); ++x, p += Channels)
            row[x] = HostPixel{Channels == 4 ? p[3] : uint8_t{255}, p[0], p[1], p[2]};
    }
}

// `world` at the plate's size: its memory kept when the size is the same.
corvane::World &sized(corvane::World &world, const media::Image &plate)
{
    if (world.width() != plate.width() || world.height() != plate.height())
        world = corvane::World(plate.width(), plate.height());
    return world;
}

void copyToWorld(const media::Image &plate, corvane::World &world)
{
    if (plate.channels() == 4)
        toWorld<4>(plate, world);
    else
        toWorld<3>(plate, world);
}

template <int32_t Channels> void fromWorld(const corvane::World &world, media::Image &out)
{
    for (int32_t y = 0; y < out.height(); ++y) {
        const HostPixel *row = world.row(y);
        auto *o = reinterpret_cast<uint8_t *>(out.pixel(0, y));
        for (int32_t x = 0; x < out.width(); ++x, o += Channels) {
            o[0] = row[x].red, o[1] = row[x].green, o[2] = row[x].blue;
            if constexpr (Channels == 4)
                o[3] = row[x].alpha;
        }
    }
}

media::Image imageOf(const corvane::World &world, const media::ImageShape &shape)
{
    media::Image out(shape);
    if (shape.hasAlpha)
        fromWorld<4>(world, out);
    else
        fromWorld<3>(world, out);
    return out;
}

} // namespace

uint64_t Session::bytesToRender(const media::ImageShape &plate, size_t layers)
{
    const uint64_t pixels = static_cast<uint64_t>(plate.width) * static_cast<uint64_t>(plate.height);
    // Three host worlds (input, output, the text), the plate, its copy in
    // progress and the image written.
    const uint64_t worlds = 3 * pixels * sizeof(HostPixel);
    const uint64_t images = 3 * pixels * 4 * media::bytesPerChannel(plate.type);
    return worlds + images + (layers > 1 ? pixels * sizeof(HostPixel) : 0);
}

void Session::renderLayer(size_t i, int32_t frame, const FrameSetup &setup, corvane::World &input,
                          corvane::World &output, bool composite)
{
    if (cancelRequested())
        throw Cancelled();
    corvane::RenderSettings settings = settingsFor(layers_[i], frame, setup);
    settings.composite = composite;
    const int32_t r = instances_[i]->render(settings, input, output);
    if (cancelRequested())
        throw Cancelled();
    if (r != 0)
        throw ModuleError("layer " + std::to_string(i + 1) + ": the render failed at frame " + std::to_string(frame), r,
                          host_.message());
}

media::Image Session::renderFrame(const media::Image &plate, int32_t frame, const FrameSetup &setup,
                                  const std::function<void(int32_t, int32_t)> &progress)
{
    host_.setProgress(progress);
    struct ProgressOff {
        corvane::Host &host;
        ~ProgressOff() { host.setProgress(nullptr); }
    } progressOff{host_};
    return renderLayers(0, layers_.size(), plate, frame, setup);
}

media::Image Session::renderOneLayer(size_t index, const media::Image &plate, int32_t frame, const FrameSetup &setup)
{
    if (index >= layers_.size())
        throw std::out_of_range("no layer " + std::to_string(index + 1));
    return renderLayers(index, index + 1, plate, frame, setup);
}

media::Image Session::renderLayers(size_t first, size_t last, const media::Image &plate, int32_t frame,
                                   const FrameSetup &setup)
{
    media::ImageShape shape = plate.shape();
    const bool alone =
        std::any_of(layers_.begin() + static_cast<ptrdiff_t>(first), layers_.begin() + static_cast<ptrdiff_t>(last),
                    [](const LayerSetup &l) { return !l.composite; });
    if (alone && !shape.hasAlpha) {
        // Text drawn alone needs somewhere to put its transparency.
        shape.hasAlpha = true;
        shape.channels = 4;
    }

    const bool eightBit = shape.type == media::PixelType::UInt8 && shape.alpha == media::AlphaMode::Straight;
    if (eightBit) {
        // The module's own compositing, byte for byte.
        const bool resized = plateWorld_.width() != plate.width() || plateWorld_.height() != plate.height();
        if (!setup.samePlate || resized)
            copyToWorld(plate, sized(plateWorld_, plate));
        corvane::World *input = &plateWorld_;
        for (size_t i = first; i < last; ++i) {
            // Cleared as a new world would be: what the module leaves alone stays transparent black.
            corvane::World &output = sized(layerWorlds_[(i - first) % 2], plate);
            output.fill({0, 0, 0, 0});
            renderLayer(i, frame, setup, *input, output, layers_[i].composite);
            input = &output;
        }
        return imageOf(*input, shape);
    }

    // Deeper plates: the module draws each layer's text alone; it is laid
    // over the plate here, in the plate's precision.
    media::Image current =
        plate.shape().hasAlpha == shape.hasAlpha ? plate : plate.converted(shape.type, shape.hasAlpha, shape.alpha);
    for (size_t i = first; i < last; ++i) {
        corvane::World input(plate.width(), plate.height()), text(plate.width(), plate.height());
        renderLayer(i, frame, setup, input, text, false);
        const HostPixel c = settingsFor(layers_[i], frame, setup).colour;
        const Rgb rgb{c.red, c.green, c.blue};
        const TextColour colour =
            setup.textColour ? setup.textColour(rgb) : TextColour{rgb.r / 255.0f, rgb.g / 255.0f, rgb.b / 255.0f};
        if (layers_[i].composite)
            compositeText(current, text, colour);
        else
            current = textAlone(text, colour, shape);
    }
    return current;
}

} // namespace quillomark
