// The frame loop of a render: plates come from a source and are rendered on
// the calling thread (the host spreads each frame over its own threads),
// while a sink's encoder threads write earlier frames. Memory stays bounded:
// at most encoders + 2 rendered frames are held (one per encoder, two
// waiting); the renderer waits when they are all taken.
//
// A failed write stops the run with its error (the earliest frame's when
// several fail); so does a failed render or a cancel, after the writes in
// flight finish or stop. Every encoder thread is joined on every path before
// runPipeline returns or throws.
#pragma once

#include "media/frame_pattern.h"
#include "media/image.h"
#include "output.h"
#include "session/values.h"

#include <cstdint>
#include <functional>
#include <string>

namespace quillomark {

// The plate for each output frame, asked for on the calling thread in frame
// order. The reference stays valid until the next call.
class FrameSource {
public:
    virtual ~FrameSource() = default;
    virtual const media::Image &plate(int32_t frame) = 0;
};

// Where rendered frames go.
class FrameSink {
public:
    virtual ~FrameSink() = default;
    // How many threads write at once; a sink of one gets its frames in
    // frame order.
    virtual int32_t encoders() const = 0;
    // Writes one frame completely or not at all, on an encoder thread;
    // throws on failure (media::Cancelled once the cancel flag is raised).
    virtual void write(int32_t frame, media::Image image) = 0;
    // After every frame is written, on the calling thread.
    virtual void finish() {}
};

struct PipelineSteps {
    // Renders `frame` over its plate (calling thread).
    std::function<media::Image(const media::Image &plate, int32_t frame)> render;
    // Before a frame is rendered, and after each write, in frame order
    // (calling thread); `written` counts the frames written so far.
    std::function<void(int32_t frame)> started;
    std::function<void(int32_t frame, int32_t written)> written;
    // Frames left as they are: neither rendered nor written (none when empty).
    std::function<bool(int32_t frame)> skip;
};

// Renders and writes frames.first..frames.last. Throws what failed first.
void runPipeline(const FrameRange &frames, FrameSource &source, FrameSink &sink, const PipelineSteps &steps);

// Image files: one name, or a numbered sequence, written by `encoders`
// threads, each through writeImageAtomically. Drops alpha for a format that
// keeps colours alone.
class ImageFilesSink final : public FrameSink {
public:
    ImageFilesSink(media::FramePattern output, bool formatHoldsAlpha, OutputOptions options, int32_t encoders);
    int32_t encoders() const override { return encoders_; }
    void write(int32_t frame, media::Image image) override;
    // The file `frame` goes to.
    std::string name(int32_t frame) const;

private:
    media::FramePattern output_;
    bool alpha_;
    OutputOptions options_;
    int32_t encoders_;
};

} // namespace quillomark
