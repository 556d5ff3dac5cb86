#include "footage.h"

#include "parse.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace quillomark {

namespace {

template <typename F> auto asImageError(F body)
{
    try {
        return body();
    } catch (const media::MediaError &e) {
        throw ImageError(e.what());
    }
}

std::string range(FrameRange r)
{
    return std::to_string(r.first) + "-" + std::to_string(r.last);
}

} // namespace

Missing parseMissing(const std::string &text)
{
    if (text == "error")
        return Missing::Error;
    if (text == "hold")
        return Missing::Hold;
    if (text == "black")
        return Missing::Black;
    throw UsageError("bad --missing \"" + text + "\": expected error, hold (the frame before) or black");
}

PlateSource::PlateSource(const PlateSetup &plate, const FootageOptions &options) : plate_(plate), options_(options)
{
    const std::string &name = plate.image;
    if (name.empty()) {
        shape_.width = plate.size.width;
        shape_.height = plate.size.height;
        shape_.channels = 3; // as makePlate makes it
        return;
    }
    std::error_code ec;
    // A file by the very name is the plate, even when the name looks numbered.
    media::FramePattern pattern = fs::exists(name, ec) ? media::FramePattern("") : parseFramePattern(name);
    if (pattern.numbered()) {
        const std::string folder = pattern.folder().empty() ? "." : pattern.folder();
        for (const auto &entry : fs::directory_iterator(folder, ec))
            if (const auto frame = pattern.frameOf(entry.path().filename().string()))
                onDisk_.insert(*frame);
        if (onDisk_.empty())
            throw ImageError("cannot read image sequence \"" + name + "\": no file in \"" + folder +
                             "\" fits the name" + (ec ? " (" + ec.message() + ")" : ""));
        sequence_ = std::move(pattern);
        span_ = FrameRange{*onDisk_.begin(), *onDisk_.rbegin()};
        shape_ = asImageError([&] { return media::openReader(frameName(*onDisk_.begin()))->shape(); });
        return;
    }
    if (media::isVideoPath(name)) {
        clip_reader_ = asImageError([&] { return media::openVideoReader(name); });
        clip_ = name;
        shape_ = clip_reader_->shape();
        int32_t first = 1;
        if (options.timecode) {
            const auto tc = clip_reader_->startTimecode();
            if (!tc)
                throw UsageError("--timecode: \"" + name + "\" carries no start timecode");
            first = *tc;
        }
        span_ = FrameRange{first, first + clip_reader_->frameCount() - 1};
        return;
    }
    if (options.timecode)
        throw UsageError("--timecode numbers the frames of a video clip; \"" + name + "\" is not one");
    still_ = asImageError([&] { return media::openReader(name); });
    shape_ = still_->shape();
}

PlateSource::~PlateSource() = default;

std::optional<media::FrameRate> PlateSource::rate() const
{
    return clip_reader_ ? std::optional(clip_reader_->rate()) : std::nullopt;
}

std::string PlateSource::frameName(int32_t frame) const
{
    return sequence_->at(frame);
}

void PlateSource::checkFrames(FrameRange frames) const
{
    if (clip_reader_ && (frames.first < span_->first || frames.last > span_->last))
        throw UsageError("frames " + range(frames) + " reach beyond \"" + clip_ + "\", which holds frames " +
                         range(*span_) + (options_.timecode ? " (numbered from its timecode)" : ""));
    if (!sequence_ || options_.missing != Missing::Error)
        return;
    std::vector<int32_t> missing;
    for (int32_t f = frames.first; f <= frames.last; ++f)
        if (!onDisk_.count(f))
            missing.push_back(f);
    if (!missing.empty())
        throw ImageError("image sequence \"" + plate_.image + "\" lacks frame " + std::to_string(missing[0]) + " (\"" +
                         frameName(missing[0]) + "\")" +
                         (missing.size() > 1 ? " and " + std::to_string(missing.size() - 1) + " more" : "") +
                         "; --missing hold repeats the frame before, --missing black puts black in its place");
}

media::Image PlateSource::readStill(const std::string &path)
{
    return asImageError([&] {
        auto reader = media::openReader(path);
        const media::ImageShape &s = reader->shape();
        if (s.width != shape_.width || s.height != shape_.height || s.channels != shape_.channels ||
            s.type != shape_.type)
            throw ImageError("cannot use \"" + path + "\": its frame is " + std::to_string(s.width) + "x" +
                             std::to_string(s.height) + " " + media::pixelTypeName(s.type) + " with " +
                             std::to_string(s.channels) + " channels, and the sequence's first is " +
                             std::to_string(shape_.width) + "x" + std::to_string(shape_.height) + " " +
                             media::pixelTypeName(shape_.type) + " with " + std::to_string(shape_.channels));
        return reader->read(0);
    });
}

media::Image PlateSource::read(int32_t frame)
{
    if (clip_reader_)
        return asImageError([&] { return clip_reader_->read(frame - span_->first); });
    if (sequence_) {
        if (onDisk_.count(frame) || options_.missing == Missing::Error)
            return readStill(frameName(frame));
        if (options_.missing == Missing::Black) {
            media::Image black(shape_);
            if (shape_.hasAlpha)
                for (int32_t y = 0; y < shape_.height; ++y)
                    for (int32_t x = 0; x < shape_.width; ++x)
                        black.set(x, y, shape_.channels - 1, 1.0f);
            return black;
        }
        // Held: the nearest frame before, else the first after.
        auto at = onDisk_.lower_bound(frame);
        return readStill(frameName(at == onDisk_.begin() ? *at : *std::prev(at)));
    }
    if (cached_.empty()) {
        if (still_)
            cached_ = asImageError([&] { return still_->read(0); });
        else if (plate_.gradientEnd)
            cached_ = makeGradientPlate(shape_.width, shape_.height, plate_.colour, *plate_.gradientEnd);
        else
            cached_ = makePlate(shape_.width, shape_.height, plate_.colour);
    }
    return cached_;
}

VideoSink::VideoSink(const std::string &finalPath, const media::ImageShape &shape, const media::VideoOptions &options,
                     bool force)
    : file_(finalPath, force)
{
    try {
        writer_ = media::openVideoWriter(file_.tempPath(), finalPath, shape, options);
    } catch (const media::MediaError &e) {
        file_.fail(e);
    }
}

void VideoSink::write(int32_t, media::Image image)
{
    try {
        writer_->write(image);
    } catch (const media::MediaError &e) {
        file_.fail(e);
    }
}

void VideoSink::finish()
{
    try {
        writer_->close();
        writer_.reset();
    } catch (const media::MediaError &e) {
        file_.fail(e);
    }
    file_.commit();
}

} // namespace quillomark
