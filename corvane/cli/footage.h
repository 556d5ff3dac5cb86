// Footage as the command line takes it in and hands it back: the plate of
// each output frame (a generated plate, a still, a numbered image sequence
// or a video clip) and a video file written frame by frame.
#pragma once

#include "image.h"
#include "output.h"
#include "pipeline.h"
#include "project.h"

#include <memory>
#include <set>

namespace quillomark {

// What a sequence does for a frame that is not on disk.
enum class Missing { Error, Hold, Black };
Missing parseMissing(const std::string &text); // "error", "hold" or "black"

struct FootageOptions {
    Missing missing = Missing::Error;
    bool timecode = false; // number a clip's frames from its start timecode
};

// The plate of each frame, read in frame order on the calling thread.
class PlateSource {
public:
    // Opens the footage `plate` names and learns its shape; throws
    // ImageError or UsageError.
    PlateSource(const PlateSetup &plate, const FootageOptions &options);
    PlateSource(PlateSource &&) = default;
    PlateSource &operator=(PlateSource &&) = default;
    ~PlateSource();

    const media::ImageShape &shape() const { return shape_; }
    // The frames the footage holds, numbered as the user numbers them;
    // none for a generated plate or a still.
    const std::optional<FrameRange> &span() const { return span_; }
    // A clip's frame rate; none for anything else.
    std::optional<media::FrameRate> rate() const;
    // The clip, when the plate is one.
    const std::string &clipPath() const { return clip_; }
    // Refuses, before any work, frames the footage lacks (a sequence's
    // missing files unless held or blacked, frames beyond a clip's ends).
    void checkFrames(FrameRange frames) const;
    // The plate of output frame `frame`.
    media::Image read(int32_t frame);

private:
    std::string frameName(int32_t frame) const;
    media::Image readStill(const std::string &path);

    PlateSetup plate_;
    FootageOptions options_;
    media::ImageShape shape_;
    std::optional<FrameRange> span_;
    std::unique_ptr<media::ImageReader> still_;
    std::unique_ptr<media::VideoReader> clip_reader_;
    std::string clip_;
    std::optional<media::FramePattern> sequence_;
    std::set<int32_t> onDisk_;
    media::Image cached_; // a still or generated plate, read once
};

// A video file that appears under its name only once complete: frames are
// encoded in frame order, on the pipeline's one encoder thread.
class VideoSink final : public FrameSink {
public:
    VideoSink(const std::string &finalPath, const media::ImageShape &shape, const media::VideoOptions &options,
              bool force);
    int32_t encoders() const override { return 1; }
    void write(int32_t frame, media::Image image) override;
    void finish() override; // finishes the file and puts it in place

private:
    AtomicFile file_;
    std::unique_ptr<media::ImageWriter> writer_;
};

} // namespace quillomark
