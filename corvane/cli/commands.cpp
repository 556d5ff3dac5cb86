#include "commands.h"

#include "footage.h"
#include "image.h"
#include "input_file.h"
#include "interrupt.h"
#include "output.h"
#include "parse.h"
#include "pipeline.h"
#include "progress.h"
#include "project.h"
#include "registration.h"
#include "session/session.h"
#include "text/encoding.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <fstream>
#include <map>
#include <memory>

namespace fs = std::filesystem;

namespace quillomark {

namespace {

void warn(const std::string &message)
{
    std::cerr << "quillomark: warning: " << message << "\n";
}

void report(const std::string &message)
{
    std::cerr << "quillomark: " << message << "\n";
}

// One place maps every failure to its message and exit status.
template <typename F> int guarded(F body)
{
    try {
        return body();
    } catch (const UsageError &e) {
        report(e.what());
        return kExitUsage;
    } catch (const ModuleError &e) {
        std::string text = e.what();
        if (!e.moduleMessage.empty())
            text += ": " + e.moduleMessage;
        report(text + " (module result " + std::to_string(e.code) + ")");
        return kExitModule;
    } catch (const Cancelled &) {
        report("cancelled");
        return kExitCancelled;
    } catch (const media::Cancelled &) {
        report("cancelled");
        return kExitCancelled;
    } catch (const std::exception &e) {
        report(e.what());
        return kExitFailed;
    }
}

std::unique_ptr<Session> openSession(const std::string &modulePath, bool quiet = false)
{
    if (!fs::exists(modulePath))
        throw std::runtime_error("module not found at \"" + modulePath + "\" (name it with --module PATH)");
    return std::make_unique<Session>(modulePath, quiet ? Warn([](const std::string &) {}) : Warn(warn));
}

// A parameter given as one value or as keyframes, not both.
template <typename T, typename Parse>
Track<T> buildTrack(const std::string &single, const std::vector<std::string> &keys, const std::string &what,
                    const std::string &option, Parse parse)
{
    Track<T> track;
    if (!single.empty() && !keys.empty())
        throw UsageError("give either --" + option + " or --" + option + "-key, not both");
    if (!single.empty())
        track.setConstant(parse(single));
    for (const auto &k : keys) {
        const KeyText key = splitKeyframe(k, what);
        T value;
        try {
            value = parse(key.value);
        } catch (const UsageError &e) {
            throw UsageError("bad " + what + " keyframe \"" + k + "\": " + e.what());
        }
        track.add(key.frame, value, what);
    }
    return track;
}

bool layerOptionsGiven(const RenderOptions &o)
{
    return !o.font.empty() || o.bold || o.italic || o.underline || o.outline || !o.align.empty() || !o.size.empty() ||
           !o.position.empty() || !o.colour.empty() || !o.sizeKeys.empty() || !o.positionKeys.empty() ||
           !o.colourKeys.empty() || o.composite;
}

// Text files are read whole; far more than the dialog's text field holds,
// so that a long file is cut with the same warning as a long argument.
constexpr size_t kMaxTextFileBytes = 64 * 1024;

// The text as lines, from the argument, --text or --text-file; none when
// no text is given.
std::optional<std::vector<std::string>> textLines(const RenderOptions &o)
{
    if (!o.text.empty() + !o.textOption.empty() + !o.textFile.empty() > 1)
        throw UsageError("give the text once: as an argument, with --text or with --text-file");
    std::vector<std::string> lines;
    if (!o.textFile.empty()) {
        std::string bytes = readInputFile(o.textFile, "text file", kMaxTextFileBytes);
        if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) // a byte order mark says UTF-8, nothing more
            bytes.erase(0, 3);
        // An editor's final line break ends the last line; it adds none.
        if (bytes.size() && bytes.back() == '\n')
            bytes.pop_back();
        if (bytes.size() && bytes.back() == '\r')
            bytes.pop_back();
        lines = splitTextLines(bytes, false);
        try {
            textForTyping(lines);
        } catch (const UsageError &e) {
            throw UsageError("text file \"" + o.textFile + "\": " + e.what());
        }
        return lines;
    }
    const std::string &text = o.textOption.empty() ? o.text : o.textOption;
    if (text.empty())
        return std::nullopt;
    lines = splitTextLines(text);
    textForTyping(lines); // refuses what cannot be typed, before the module loads
    return lines;
}

void applyPlateOptions(const RenderOptions &o, PlateSetup &plate)
{
    const bool generated = !o.plate.empty() || !o.plateColour.empty() || !o.plateGradient.empty();
    if (!o.input.empty() && generated)
        throw UsageError("--input takes the plate from an image; --plate, --plate-color and --plate-gradient make "
                         "one: give one or the other");
    if (!o.plateColour.empty() && !o.plateGradient.empty())
        throw UsageError("give either --plate-color or --plate-gradient, not both");
    if (!o.input.empty()) {
        plate = PlateSetup{};
        plate.image = o.input;
        return;
    }
    if (!generated)
        return;
    plate.image.clear();
    if (!o.plate.empty())
        plate.size = parsePlateSize(o.plate);
    if (!o.plateColour.empty()) {
        plate.colour = parseColour(o.plateColour);
        plate.gradientEnd.reset();
    }
    if (!o.plateGradient.empty()) {
        const auto comma = o.plateGradient.find(',');
        if (comma == std::string::npos)
            throw UsageError("bad gradient \"" + o.plateGradient +
                             "\": expected TOP,BOTTOM colours (e.g. "
                             "#1d2b53,#7e2553)");
        plate.colour = parseColour(o.plateGradient.substr(0, comma));
        plate.gradientEnd = parseColour(o.plateGradient.substr(comma + 1));
    }
}

double gib(uint64_t bytes)
{
    return static_cast<double>(bytes) / (1024.0 * 1024.0 * 1024.0);
}

std::string oneDecimal(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", v);
    return buf;
}

// Memory the system can still give, from /proc/meminfo; none when unknown.
std::optional<uint64_t> availableMemory()
{
    std::ifstream in("/proc/meminfo");
    std::string key;
    uint64_t kib = 0;
    std::string unit;
    while (in >> key >> kib >> unit)
        if (key == "MemAvailable:")
            return kib * 1024;
    return std::nullopt;
}

// Plates the module or this machine cannot take are refused before any
// work, in the user's terms.
void checkPlateLimits(const PlateSetup &plate, const media::ImageShape &shape, media::PixelType outType, size_t layers)
{
    const std::string what = plate.image.empty() ? "the plate" : "image \"" + plate.image + "\"";
    const std::string size = std::to_string(shape.width) + "x" + std::to_string(shape.height);
    if (shape.width < 1 || shape.height < 1 || shape.width > kMaxImageSide || shape.height > kMaxImageSide)
        throw ImageError("cannot use " + what + ": it is " + size +
                         "; the module's coordinates take images from 1x1 to " + std::to_string(kMaxImageSide) + "x" +
                         std::to_string(kMaxImageSide));
    const int64_t pixels = static_cast<int64_t>(shape.width) * shape.height;
    if (pixels > corvane::kMaxWorldPixels)
        throw ImageError("cannot use " + what + ": it is " + size + " (" + std::to_string(pixels / 1000000) +
                         " million pixels); the host renders images of up to " +
                         std::to_string(corvane::kMaxWorldPixels / 1000000) + " million pixels (e.g. 16384x8192)");
    media::ImageShape deepest = shape;
    deepest.type = media::bytesPerChannel(outType) > media::bytesPerChannel(shape.type) ? outType : shape.type;
    const uint64_t needed = Session::bytesToRender(deepest, layers);
    if (const auto available = availableMemory(); available && needed > *available)
        throw ImageError("cannot use " + what + ": rendering " + size + " takes about " + oneDecimal(gib(needed)) +
                         " GiB of memory, and " + oneDecimal(gib(*available)) + " GiB are available");
}

void checkSizes(const Track<int32_t> &track, std::pair<int32_t, int32_t> range, const std::string &where)
{
    for (const auto &k : track.keys())
        if (k.value < range.first || k.value > range.second)
            throw UsageError(where + "size " + std::to_string(k.value) + " is outside the module's range " +
                             std::to_string(range.first) + " to " + std::to_string(range.second));
}

struct RenderJob {
    Project project;
    FrameRange frames;
    std::string output;
    std::string progress; // "bar", "plain" or empty
    bool quiet = false, listFiles = true;
    int32_t threads = 0; // 0: every core
    std::unique_ptr<PlateSource> plate;
    std::optional<media::FramePattern> names; // the output's frame-numbered name; none: a video file
    media::FormatInfo format;                 // the output's
    OutputLayout layout;
    OutputOptions writing;
    bool skipExisting = false;
    media::VideoOptions video;
    media::ImageShape videoFrames; // the frames as the video file holds them
};

// The size frames are rendered at: the plate's, reduced for a proxy.
std::pair<int32_t, int32_t> renderedSize(const media::ImageShape &plate, const Downsample &downsample)
{
    return {std::max<int32_t>(1, static_cast<int32_t>(std::lround(plate.width * downsample.x.value()))),
            std::max<int32_t>(1, static_cast<int32_t>(std::lround(plate.height * downsample.y.value())))};
}

// The sRGB text colour as the output's colour space holds it, converted
// by the image library's colour management (once per colour).
std::function<TextColour(Rgb)> textColourFor(const std::string &colourSpace)
{
    if (media::sameColourSpace(colourSpace, media::kSrgb))
        return {};
    auto cache = std::make_shared<std::map<uint32_t, TextColour>>();
    return [cache, colourSpace](Rgb c) {
        const uint32_t key = (uint32_t{c.r} << 16) | (uint32_t{c.g} << 8) | c.b;
        if (auto it = cache->find(key); it != cache->end())
            return it->second;
        media::ImageShape shape;
        shape.width = shape.height = 1;
        shape.channels = 3;
        shape.type = media::PixelType::Float;
        media::Image one(shape);
        one.set(0, 0, 0, c.r / 255.0f);
        one.set(0, 0, 1, c.g / 255.0f);
        one.set(0, 0, 2, c.b / 255.0f);
        media::convertColour(one, colourSpace);
        const TextColour converted{one.get(0, 0, 0), one.get(0, 0, 1), one.get(0, 0, 2)};
        cache->emplace(key, converted);
        return converted;
    };
}

// The job's plates in the output's layout and the render's size: a still
// or generated plate prepared once, footage every frame.
class PlateFrames final : public FrameSource {
public:
    PlateFrames(PlateSource &source, const OutputLayout &layout, std::pair<int32_t, int32_t> size)
        : source_(source), layout_(layout), size_(size)
    {
    }
    const media::Image &plate(int32_t frame) override
    {
        reused_ = !plate_.empty() && !source_.span();
        if (!reused_)
            plate_ = downscale(preparePlate(source_.read(frame), layout_), size_.first, size_.second);
        return plate_;
    }
    // The last plate given is the one given before it.
    bool reused() const { return reused_; }

private:
    PlateSource &source_;
    const OutputLayout &layout_;
    std::pair<int32_t, int32_t> size_;
    media::Image plate_;
    bool reused_ = false;
};

// Renders every frame of the job and prints each file written.
int renderFrames(Session &session, const RenderJob &job)
{
    Session::FrameSetup setup;
    setup.textColour = textColourFor(job.layout.colourSpace);
    setup.draft = job.project.draft;
    setup.downsample = job.project.downsample;
    setup.fullWidth = job.plate->shape().width;
    setup.fullHeight = job.plate->shape().height;
    PlateFrames source(*job.plate, job.layout, renderedSize(job.plate->shape(), setup.downsample));

    using Style = ProgressBar::Style;
    const Style style = job.quiet                                        ? Style::Off
                        : job.progress == "plain"                        ? Style::Plain
                        : job.progress == "bar" || isatty(STDERR_FILENO) ? Style::Bar
                                                                         : Style::Off;
    ProgressBar bar(stderr, style, job.frames.count(), job.progress == "bar");
    // On a terminal the bar shows the frames and one line sums up; elsewhere
    // every name goes out, for scripts.
    const bool video = !job.names;
    const bool listEach = job.listFiles && !video && !(style == Style::Bar && isatty(STDOUT_FILENO));
    std::unique_ptr<FrameSink> sink;
    if (video)
        sink = std::make_unique<VideoSink>(job.output, job.videoFrames, job.video, job.writing.force);
    else
        sink = std::make_unique<ImageFilesSink>(*job.names, job.format.alpha, job.writing, session.host().threads());
    auto nameOf = [&](int32_t f) { return video ? job.output : job.names->at(f); };
    int32_t written = 0, skipped = 0;
    PipelineSteps steps;
    // What is under a frame's final name is complete: a killed run resumes after it.
    if (job.skipExisting)
        steps.skip = [&](int32_t f) { return fs::is_regular_file(nameOf(f)) && ++skipped; };
    steps.started = [&](int32_t f) {
        throwIfInterrupted();
        bar.startFrame(f - job.frames.first, f);
    };
    steps.render = [&](const media::Image &plate, int32_t f) {
        setup.samePlate = source.reused();
        media::Image image =
            session.renderFrame(plate, f, setup, [&bar](int32_t cur, int32_t total) { bar.report(cur, total); });
        throwIfInterrupted();
        return image;
    };
    steps.written = [&](int32_t f, int32_t count) {
        written = count;
        bar.frameDone(f, count);
        if (listEach) {
            bar.clearLine(); // the bar and the names may share a terminal
            std::cout << nameOf(f) << std::endl;
        }
    };
    auto cancelled = [&] {
        bar.finish(false);
        report("cancelled after " + std::to_string(written) + " of " + std::to_string(job.frames.count()) +
               " frame(s); " + (video ? "no video file was written" : "every file written is complete"));
        return static_cast<int>(kExitCancelled);
    };
    try {
        runPipeline(job.frames, source, *sink, steps);
    } catch (const Cancelled &) {
        return cancelled();
    } catch (const media::Cancelled &) {
        return cancelled();
    }
    bar.finish(true);
    if (skipped && !job.quiet)
        report(std::to_string(skipped) + " frame(s) already written were left as they are");
    if (job.listFiles && !listEach) {
        if (job.frames.count() == 1 || video)
            std::cout << nameOf(job.frames.first) << "\n";
        else
            std::cout << nameOf(job.frames.first) << " ... " << nameOf(job.frames.last) << " (" << job.frames.count()
                      << " frames)\n";
    }
    return kExitOk;
}

// A render as the command line describes it, checked before the module loads.
struct RenderPlan {
    RenderJob job;
    std::optional<TextChoice> choice; // a new layer's text options
    LayerSetup newLayer;              // its parameters
};

// The project's settings with the command line's over them.
Project projectFor(const RenderOptions &o)
{
    if (o.draft && o.highQuality)
        throw UsageError("give either --draft or --high-quality, not both");
    Project project;
    if (!o.project.empty())
        project = loadProject(o.project);
    applyPlateOptions(o, project.plate);
    if (o.draft || o.highQuality)
        project.draft = o.draft;
    if (!o.downsample.empty())
        project.downsample = parseDownsample(o.downsample);
    if (!o.frames.empty())
        project.frames = parseFrameRange(o.frames);
    return project;
}

// The text options the command line gives; what it leaves out stays empty.
TextChoice textChoice(const RenderOptions &o, std::optional<std::vector<std::string>> lines)
{
    TextChoice choice;
    choice.lines = std::move(lines);
    if (!o.font.empty())
        choice.font = o.font;
    choice.bold = o.bold;
    choice.italic = o.italic;
    choice.underline = o.underline;
    choice.outline = o.outline;
    if (!o.align.empty())
        choice.alignment = parseAlignment(o.align);
    return choice;
}

// The command line's size, position and colour over `tracks`: a track given
// replaces the one there.
void applyTracks(const RenderOptions &o, Tracks &tracks)
{
    if (!o.size.empty() || !o.sizeKeys.empty())
        tracks.size = buildTrack<int32_t>(o.size, o.sizeKeys, "size", "size",
                                          [](const std::string &s) { return parseInt(s, "size", -1000000, 1000000); });
    if (!o.position.empty() || !o.positionKeys.empty())
        tracks.position = buildTrack<Position>(o.position, o.positionKeys, "position", "position", parsePosition);
    if (!o.colour.empty() || !o.colourKeys.empty())
        tracks.colour = buildTrack<Rgb>(o.colour, o.colourKeys, "colour", "color", parseColour);
}

// Fields given on the command line win over the project's own edits.
void mergeChoice(TextChoice &into, const TextChoice &over)
{
    auto take = [](auto &to, const auto &from) {
        if (from)
            to = from;
    };
    take(into.lines, over.lines);
    take(into.font, over.font);
    take(into.bold, over.bold);
    take(into.italic, over.italic);
    take(into.underline, over.underline);
    take(into.outline, over.outline);
    take(into.alignment, over.alignment);
}

// Puts the command line's layer options where they belong: on a new layer,
// or on the project's chosen layer.
void planLayers(const RenderOptions &o, RenderPlan &plan)
{
    auto lines = textLines(o);
    auto &layers = plan.job.project.layers;
    const bool project = !o.project.empty();
    if (!project && (o.layer || o.addLayer))
        throw UsageError(std::string(o.layer ? "--layer" : "--add-layer") + " works on a project: give --project FILE");
    if (o.layer && o.addLayer)
        throw UsageError("give either --layer N (change a layer) or --add-layer, not both");
    if (!project && !lines)
        throw UsageError("nothing to draw: give the text (quillomark render \"Hello\" -o out.png), a text file "
                         "(--text-file FILE) or a project (--project FILE)");

    if (!project || o.addLayer || layers.empty()) {
        if (!lines) {
            if (!layerOptionsGiven(o) && !o.addLayer)
                return; // the project as it is
            throw UsageError("a new layer needs its text: give it as an argument, with --text or with --text-file");
        }
        plan.choice = textChoice(o, std::move(lines));
        // Over a project's layers a new layer composites as they do, so
        // that it does not wipe what they drew.
        plan.newLayer.composite = o.composite.value_or(!layers.empty() && layers.back().composite);
        applyTracks(o, plan.newLayer.tracks);
        return;
    }
    if (o.layer < 0 || o.layer > static_cast<int32_t>(layers.size()))
        throw UsageError("--layer " + std::to_string(o.layer) + ": the project has " + std::to_string(layers.size()) +
                         " layer(s), numbered from 1");
    ProjectLayer &layer = layers[o.layer ? o.layer - 1 : layers.size() - 1];
    mergeChoice(layer.edits, textChoice(o, std::move(lines)));
    applyTracks(o, layer.tracks);
    if (o.composite)
        layer.composite = *o.composite;
}
// The frames to render: as given, else the footage's, else the span of
// every layer's keyframes.
FrameRange framesFor(const RenderPlan &plan)
{
    if (plan.job.project.frames)
        return *plan.job.project.frames;
    if (plan.job.plate->span())
        return *plan.job.plate->span();
    std::optional<FrameRange> range;
    auto widen = [&range](const Tracks &tracks) {
        if (auto r = tracks.keyedRange())
            range = range ? FrameRange{std::min(range->first, r->first), std::max(range->last, r->last)} : *r;
    };
    for (const auto &l : plan.job.project.layers)
        widen(l.tracks);
    if (plan.choice)
        widen(plan.newLayer.tracks);
    return range.value_or(FrameRange{1, 1});
}

std::optional<media::PixelType> parseDepth(const std::string &text)
{
    if (text.empty())
        return std::nullopt;
    if (text == "8")
        return media::PixelType::UInt8;
    if (text == "16")
        return media::PixelType::UInt16;
    if (text == "half")
        return media::PixelType::Half;
    if (text == "float")
        return media::PixelType::Float;
    throw UsageError("bad depth \"" + text + "\": expected 8, 16, half or float");
}

std::string typeList(const std::vector<media::PixelType> &types)
{
    std::string list;
    for (size_t i = 0; i < types.size(); ++i)
        list += std::string(i ? (i + 1 == types.size() ? " or " : ", ") : "") + media::pixelTypeName(types[i]);
    return list;
}

// The output's pixel type, alpha mode and colour space: as asked, else the
// plate's type (or the nearest the format holds) and the format's own
// conventions.
OutputLayout layoutFor(const RenderOptions &o, const media::FormatInfo &format, const media::ImageShape &plate)
{
    OutputLayout layout;
    if (const auto depth = parseDepth(o.depth)) {
        if (!format.holds(*depth))
            throw UsageError(format.name + " files hold " + typeList(format.types) + " pixels, not " +
                             media::pixelTypeName(*depth) + ": choose another --depth or another format");
        layout.type = *depth;
    } else if (format.holds(plate.type)) {
        layout.type = plate.type;
    } else {
        auto rank = [](media::PixelType t) { return static_cast<int>(t); };
        layout.type = format.types.back();
        for (media::PixelType t : format.types)
            if (rank(t) >= rank(plate.type)) {
                layout.type = t;
                break;
            }
    }
    if (o.alpha.empty())
        layout.alpha = format.alphaConvention;
    else if (o.alpha == "straight")
        layout.alpha = media::AlphaMode::Straight;
    else if (o.alpha == "premultiplied")
        layout.alpha = media::AlphaMode::Premultiplied;
    else
        throw UsageError("bad alpha \"" + o.alpha + "\": expected straight or premultiplied");
    layout.colourSpace = !o.colourSpace.empty()        ? o.colourSpace
                         : !format.colourSpace.empty() ? format.colourSpace
                                                       : plate.colourSpace;
    return layout;
}

// A video file's encoding: its rate, codec and the sound it carries over.
void planVideo(RenderJob &job, const RenderOptions &o, bool anyAlone)
{
    if (o.skipExisting)
        throw UsageError("--skip-existing resumes an image sequence; a video file is written whole: render to "
                         "numbered images (e.g. -o out.%04d.exr) to resume a killed job");
    job.format.alpha = job.format.alpha && anyAlone; // text over the plate everywhere needs no alpha
    media::VideoOptions &v = job.video;
    v.rate = !o.fps.empty() ? parseFrameRate(o.fps) : job.plate->rate().value_or(media::FrameRate{24, 1});
    v.codec = o.codec;
    v.crf = o.crf.empty() ? -1 : parseInt(o.crf, "CRF", 0, 63);
    v.bitrate = o.bitrate.empty() ? 0 : parseBitrate(o.bitrate);
    if (!job.plate->clipPath().empty()) {
        const FrameRange span = *job.plate->span();
        v.copyFrom = job.plate->clipPath();
        v.copyFirst = job.frames.first - span.first;
        v.copyCount = job.frames.last == span.last ? -1 : job.frames.count();
    }
    if (!job.quiet)
        v.warn = warn;
    media::ImageShape &frames = job.videoFrames;
    std::tie(frames.width, frames.height) = renderedSize(job.plate->shape(), job.project.downsample);
    frames.hasAlpha = job.format.alpha;
    frames.channels = frames.hasAlpha ? 4 : 3;
    frames.type = job.layout.type;
    try {
        media::checkVideoOutput(job.output, frames, v);
    } catch (const media::MediaError &e) {
        throw UsageError(e.what());
    }
}

void checkOutput(RenderJob &job, const RenderOptions &o, bool anyAlone)
{
    const bool video = media::isVideoPath(job.output);
    if (!video && (!o.codec.empty() || !o.crf.empty() || !o.bitrate.empty() || !o.fps.empty()))
        throw UsageError("--codec, --crf, --bitrate and --fps describe a video file: give -o out.mp4, .mov or .mkv");
    if (job.output.empty())
        return;
    if (!video) {
        job.names = parseFramePattern(job.output);
        if (job.frames.count() > 1 && !job.names->numbered())
            throw UsageError("frames " + std::to_string(job.frames.first) + "-" + std::to_string(job.frames.last) +
                             " make a sequence: put the frame number in the output name, e.g. -o out.%04d.png, or "
                             "write a video file, e.g. -o out.mp4");
    }
    checkTarget(video ? job.output : job.names->at(job.frames.first), o.force);
    std::optional<media::FormatInfo> format;
    try {
        format = video ? media::videoFormat(job.output) : media::writeFormat(job.output);
    } catch (const media::MediaError &e) {
        throw ImageError(e.what());
    }
    if (!format)
        throw UsageError("cannot write \"" + job.output + "\": unknown image format; this build writes " +
                         media::writableFormats() + ", and video as .mp4, .mov or .mkv");
    job.format = *format;
    job.layout = layoutFor(o, *format, job.plate->shape());
    job.writing.force = o.force;
    if (!o.compression.empty()) {
        std::string name = job.format.name;
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        if (name != "png" && name != "tiff" && name != "openexr")
            throw UsageError("--compression sets the zlib level of PNG, TIFF and OpenEXR files; " + job.format.name +
                             " files have none");
        job.writing.write.compression = parseInt(o.compression, "compression", 0, 9);
    }
    if (video)
        planVideo(job, o, anyAlone);
    else if (o.skipExisting && !job.names->numbered())
        throw UsageError("--skip-existing resumes an image sequence: name the frame number in -o, e.g. out.%04d.png");
    job.skipExisting = o.skipExisting;
}

RenderPlan planRender(const RenderOptions &o)
{
    if (!o.progress.empty() && o.progress != "bar" && o.progress != "plain")
        throw UsageError("bad progress style \"" + o.progress +
                         "\": expected --progress (a bar) or --progress=plain "
                         "(a line per frame, for logs)");
    RenderPlan plan;
    plan.job.project = projectFor(o);
    planLayers(o, plan);
    if (o.output.empty() && o.saveProject.empty())
        throw UsageError("say where to write the image with -o FILE (e.g. -o out.png or -o out.%04d.png for a "
                         "sequence), or save a project with --save-project FILE");

    RenderJob &job = plan.job;
    job.output = o.output;
    job.progress = o.progress;
    job.quiet = o.quiet;
    job.listFiles = o.listFiles && !o.quiet;
    if (!o.colourSpace.empty() && o.output.empty())
        throw UsageError("--colorspace describes the output image: give it with -o FILE");
    job.threads = o.threads.empty() ? 0 : parseInt(o.threads, "thread count", 0, corvane::kMaxThreads);
    FootageOptions footage;
    footage.missing = o.missing.empty() ? Missing::Error : parseMissing(o.missing);
    footage.timecode = o.timecode;
    job.plate = std::make_unique<PlateSource>(job.project.plate, footage);
    if (!o.missing.empty() && !job.plate->span())
        throw UsageError("--missing says what to do for a missing frame of a numbered --input sequence (e.g. "
                         "plate.%04d.exr)");
    job.frames = framesFor(plan);
    job.plate->checkFrames(job.frames);
    bool anyAlone = plan.choice && !plan.newLayer.composite;
    for (const ProjectLayer &l : job.project.layers)
        anyAlone = anyAlone || !l.composite;
    checkOutput(job, o, anyAlone);
    const size_t layers = job.project.layers.size() + (plan.choice ? 1 : 0);
    checkPlateLimits(job.project.plate, job.plate->shape(), job.layout.type, layers);
    return plan;
}

// Loads the module and gives it every layer: the project's through their
// stored records, the new one through the options dialog.
std::unique_ptr<Session> openLayers(const std::string &modulePath, const RenderPlan &plan,
                                    const std::string &projectPath)
{
    auto session = openSession(modulePath, plan.job.quiet);
    const auto &layers = plan.job.project.layers;
    for (size_t i = 0; i < layers.size(); ++i) {
        try {
            checkSizes(layers[i].tracks.size, session->sizeRange(), "layer " + std::to_string(i + 1) + ": ");
        } catch (const UsageError &e) {
            throw ProjectError("project \"" + projectPath + "\": " + e.what());
        }
        session->addLayerFromRecord(layers[i], static_cast<int32_t>(i + 1));
        if (layers[i].edits.any())
            session->editLayer(i, layers[i].edits);
    }
    if (plan.choice) {
        checkSizes(plan.newLayer.tracks.size, session->sizeRange(), "");
        session->addLayerFromDialog(*plan.choice, plan.newLayer);
    }
    return session;
}

// A frame range given on the command line is saved with the project; a
// range derived from keyframes is derived again on loading.
void saveSessionProject(const std::string &path, const RenderPlan &plan, const Session &session, bool framesGiven)
{
    Project saved = plan.job.project;
    saved.frames = framesGiven ? std::optional<FrameRange>(plan.job.frames) : plan.job.project.frames;
    saved.layers.clear();
    for (const LayerSetup &l : session.layers())
        saved.layers.push_back({l, {}});
    saveProject(path, saved);
}

} // namespace

std::string defaultModulePath()
{
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    const fs::path dir = ec ? fs::path(".") : self.parent_path();
    // Beside the program in the build tree; lib/quillomark/ once installed.
    const fs::path installed = dir / ".." / "lib" / "quillomark" / "Quillomark.so";
    if (!fs::exists(dir / "Quillomark.so") && fs::exists(installed))
        return installed.lexically_normal().string();
    return (dir / "Quillomark.so").string();
}

int runRender(const std::string &modulePath, const RenderOptions &o)
{
    return guarded([&] {
        // What can be checked without the module is checked before it loads,
        // so a typing mistake costs no dialog and no render.
        const RenderPlan plan = planRender(o);
        throwIfInterrupted();
        auto session = openLayers(modulePath, plan, o.project);
        session->host().setThreads(plan.job.threads);
        const InterruptScope interrupts(*session);
        throwIfInterrupted();
        if (!o.saveProject.empty()) {
            saveSessionProject(o.saveProject, plan, *session, !o.frames.empty());
            if (plan.job.output.empty()) {
                if (!o.quiet)
                    std::cout << o.saveProject << "\n";
                return static_cast<int>(kExitOk);
            }
        }
        return renderFrames(*session, plan.job);
    });
}

int runDemo(const std::string &modulePath, const std::string &output, bool quiet)
{
    RenderOptions o;
    o.text = "Quillomark\\nText for motion graphics\\nhigh quality, composited";
    o.font = "DejaVu Sans";
    o.bold = true;
    o.align = "center";
    o.size = "64";
    o.position = "50%,50%";
    o.colour = "#ffffff";
    o.composite = true;
    o.plate = "1280x720";
    o.plateGradient = "#1d2b53,#7e2553";
    o.output = output;
    o.quiet = quiet;
    o.listFiles = false;
    const int status = runRender(modulePath, o);
    if (status == kExitOk && !quiet) {
        std::error_code ec;
        std::cout << "demo image: " << fs::absolute(output, ec).lexically_normal().string() << "\n";
    }
    return status;
}

int runInfo(const std::string &modulePath)
{
    return guarded([&] {
        const Registration reg = readRegistration(modulePath);
        auto hex = [](uint32_t v) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "0x%08X", v);
            return std::string(buf);
        };
        std::cout << "Module        " << modulePath << "\n"
                  << "Name          " << reg.name << "\n"
                  << "Category      " << reg.category << "\n"
                  << "Kind          " << reg.kind << (reg.kind == "eFKT" ? " (effect)" : "") << "\n"
                  << "Entry point   " << reg.entryPoint << "\n"
                  << "Match name    " << reg.matchName << "\n"
                  << "Version       " << (reg.version ? hex(*reg.version) : "(none)") << "\n"
                  << "Global flags  " << (reg.globalFlags ? hex(*reg.globalFlags) : "(none)") << "\n";

        auto session = openSession(modulePath);
        const HostOutData &out = session->host().out();
        if (reg.version && static_cast<uint32_t>(out.effectVersion) != *reg.version)
            warn("global setup reports version " + hex(static_cast<uint32_t>(out.effectVersion)) +
                 ", the property list " + hex(*reg.version));
        std::cout << "\nParameters\n";
        for (const corvane::Parameter &p : session->host().parameters()) {
            std::cout << "  " << p.index << "  ";
            char line[160];
            switch (p.type) {
            case kParamSlider:
                std::snprintf(line, sizeof line, "%-22s slider     %d to %d, default %d", p.name.c_str(), p.sliderMin,
                              p.sliderMax, p.sliderDefault);
                break;
            case kParamPoint:
                std::snprintf(line, sizeof line, "%-22s point      default %g, %g (percent of the layer)",
                              p.name.c_str(), p.defaultX / 65536.0, p.defaultY / 65536.0);
                break;
            case kParamColor:
                std::snprintf(line, sizeof line, "%-22s colour     default %s", p.name.c_str(),
                              formatColour({p.defaultColour.red, p.defaultColour.green, p.defaultColour.blue}).c_str());
                break;
            case kParamCheckbox:
                std::snprintf(line, sizeof line, "%-22s check box  default %s", p.name.c_str(),
                              p.defaultOn ? "on" : "off");
                break;
            default:
                std::snprintf(line, sizeof line, "%-22s type %d", p.name.c_str(), p.type);
            }
            std::cout << line << "\n";
        }
        // The about text breaks its lines with carriage returns.
        const std::string about = corvane::text::cp1252ToUtf8(session->host().about());
        std::cout << "\nAbout\n";
        for (const std::string &line : splitTextLines(about)) {
            const auto end = line.find_last_not_of(' ');
            if (end != std::string::npos)
                std::cout << "  " << line.substr(0, end + 1) << "\n";
        }
        return static_cast<int>(kExitOk);
    });
}

int runFonts(const std::string &modulePath)
{
    return guarded([&] {
        auto session = openSession(modulePath);
        for (const auto &f : session->dialogFonts())
            std::cout << f << "\n";
        return static_cast<int>(kExitOk);
    });
}

int runColours()
{
    for (const auto &name : colourNames())
        std::cout << name << "  " << formatColour(parseColour(name)) << "\n";
    return kExitOk;
}

} // namespace quillomark
