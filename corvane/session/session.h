// One run of the module in the stand-in host: loads it, runs global and
// parameter setup, creates the instances (layers) and renders frames. Every
// front end (the command line, plug-in wrappers, tests) drives the module
// through this one type, so the same settings give the same pixels.
// Text, font, style and alignment reach each instance's settings record
// only through the module's own options dialog, driven by a scripted user,
// so the record holds exactly what the module stores for that input.
#pragma once

#include "layer.h"
#include "composite.h"
#include "media/image.h"
#include "values.h"

#include "host.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillomark {

// The module refused a command: its own message and result code.
struct ModuleError : std::runtime_error {
    ModuleError(const std::string &what, int32_t code, std::string moduleMessage);
    int32_t code;
    std::string moduleMessage;
};

// The render was cancelled (Session::requestCancel).
struct Cancelled : std::runtime_error {
    Cancelled() : std::runtime_error("cancelled") {}
};

// What the options dialog is asked to set. A field left empty keeps what the
// record holds; in a new record that is no text, the default face, no
// style and left alignment.
struct TextChoice {
    std::optional<std::vector<std::string>> lines{}; // UTF-8; joined with typed line breaks
    std::optional<std::string> font{};               // UTF-8 family name
    std::optional<bool> bold{}, italic{}, underline{}, outline{};
    std::optional<int32_t> alignment{}; // 0 left, 1 centre, 2 right
    bool any() const { return lines || font || bold || italic || underline || outline || alignment; }
    bool operator==(const TextChoice &) const = default;
};

// The typed text: "\n" (backslash, n) and real line feeds become line
// breaks, "\\" a backslash; other backslashes stay. Returns the lines.
// Without `escapes` (text from a file) every backslash is itself.
std::vector<std::string> splitTextLines(const std::string &text, bool escapes = true);

// Text converted for typing: Windows-1252 with '\n' for Enter. Throws
// UsageError for characters the code page cannot hold and for control
// characters other than line breaks.
std::string textForTyping(const std::vector<std::string> &lines);

using Warn = std::function<void(const std::string &)>;

class Session {
public:
    Session(const std::string &modulePath, Warn warn);
    ~Session();

    corvane::Host &host() { return host_; }

    // The fonts the options dialog lists, in its order (UTF-8).
    std::vector<std::string> dialogFonts();
    // The face drawn for a font name the porting library does not know.
    std::string defaultFace() const;

    // A new layer whose record the options dialog fills. Warns about an
    // unknown font (naming the one used instead) and about text the dialog
    // cut short.
    void addLayerFromDialog(const TextChoice &choice, const LayerSetup &given);
    // A layer from a stored record, presented to the module through
    // instance re-setup; throws ModuleError with the module's message when
    // it refuses the record, std::runtime_error when it is not a record.
    void addLayerFromRecord(const LayerSetup &given, int32_t layerNumber);
    // Sets an added layer's text options through its options dialog, as
    // for a new layer; the module's message when it refuses the record.
    void editLayer(size_t index, const TextChoice &choice);
    const std::vector<LayerSetup> &layers() const { return layers_; }
    // Replaces a layer's host parameters; its record stays. Throws
    // std::out_of_range for an index past the last layer, as removeLayer.
    void setLayerParameters(size_t index, bool composite, const Tracks &tracks);
    // Tears the layer's instance down; later layers move up one.
    void removeLayer(size_t index);

    // Size bounds the module registered for its slider.
    std::pair<int32_t, int32_t> sizeRange() const;

    struct FrameSetup {
        bool draft = false;
        Downsample downsample;
        int32_t fullWidth = 0, fullHeight = 0; // the plate before any downsampling
        // The Text Color (sRGB) as the plate's values hold it; none: the
        // plate is sRGB, and the colour is its bytes / 255.
        std::function<TextColour(Rgb)> textColour;
        // The plate is the very image of the previous renderFrame, unchanged:
        // the world made from it then is used again.
        bool samePlate = false;
    };
    // Renders every layer over `plate` (RGB or RGBA, already at the
    // render's resolution) for `frame`. An 8-bit straight plate goes through
    // the module's own compositing, byte for byte; a deeper one (or one
    // with premultiplied alpha) gets each layer's text from the module and
    // the compositing here, in its own type, alpha mode and range, with
    // uncovered pixels untouched. The result has the plate's layout, with
    // alpha added when a layer draws its text alone. Reports the host's
    // progress to `progress`. Throws ModuleError, or Cancelled after
    // requestCancel.
    corvane::media::Image renderFrame(const corvane::media::Image &plate, int32_t frame, const FrameSetup &setup,
                                      const std::function<void(int32_t, int32_t)> &progress);

    // Layer `index` alone over `plate`, as renderFrame renders it.
    corvane::media::Image renderOneLayer(size_t index, const corvane::media::Image &plate, int32_t frame,
                                         const FrameSetup &setup);

    // About how many bytes of memory rendering a plate of `shape` takes
    // (its worlds and images), to refuse what cannot fit before starting.
    static uint64_t bytesToRender(const corvane::media::ImageShape &plate, size_t layers);

    // The host settings one layer gets at one frame (exposed for tests).
    corvane::RenderSettings settingsFor(const LayerSetup &layer, int32_t frame, const FrameSetup &setup) const;

    // Asks the render in progress to stop at the module's next cancel check
    // and every later one to stop at once. Safe to call from a signal handler.
    void requestCancel();
    bool cancelRequested() const { return cancelled_.load(); }

private:
    corvane::media::Image renderLayers(size_t first, size_t last, const corvane::media::Image &plate, int32_t frame,
                                       const FrameSetup &setup);
    void renderLayer(size_t i, int32_t frame, const FrameSetup &setup, corvane::World &input, corvane::World &output,
                     bool composite);
    // Runs the options dialog on `instance` with `choice` and returns the
    // record it stored. `newRecord`: a font left empty is the default face.
    std::vector<uint8_t> runOptions(corvane::Instance &instance, const TextChoice &choice, bool newRecord,
                                    const std::string &what);
    void checkFont(const std::vector<uint8_t> &record, int32_t layerNumber);

    corvane::Host host_;
    Warn warn_;
    std::vector<corvane::Instance *> instances_;
    std::vector<LayerSetup> layers_;
    std::atomic<bool> cancelled_{false};
    // The last 8-bit plate as a world, kept for FrameSetup::samePlate, and
    // the layers' outputs (each layer's is the next one's input). Frame after
    // frame they keep their memory instead of taking and clearing new pages.
    corvane::World plateWorld_{0, 0};
    std::array<corvane::World, 2> layerWorlds_{corvane::World{0, 0}, corvane::World{0, 0}};
};

} // namespace quillomark
