// Video files (.mov, .mp4, .mkv) through the FFmpeg libraries, in a back
// end (libquillomark_video.so beside the program) loaded with dlopen the
// first time a clip is read or written. Builds without those libraries
// (the 32-bit one) read and write no video and say so.
//
// Frames are the media library's images: 8-bit RGB (RGBA when the clip
// holds alpha), 16-bit for sources deeper than 8 bits, sRGB-labelled,
// straight alpha. Frame indices count from 0 at the clip's first frame.
#pragma once

#include "media.h"

#include <functional>

namespace corvane::media {

struct FrameRate {
    int32_t num = 24, den = 1; // frames per second: num / den
    double value() const { return static_cast<double>(num) / den; }
    bool operator==(const FrameRate &) const = default;
};

class VideoReader : public ImageReader {
public:
    virtual FrameRate rate() const = 0;
    // The start timecode of the clip, as a frame count at its rate; none
    // when the clip carries no timecode.
    virtual std::optional<int32_t> startTimecode() const = 0;
    // read(frame) decodes in order; reading any other frame seeks.
};

struct VideoOptions {
    FrameRate rate;
    std::string codec;   // an encoder's name; empty: the container's default
    int crf = -1;        // constant quality, for encoders that have it; -1: the default (18 for H.264)
    int64_t bitrate = 0; // bits per second; 0: constant quality
    // A clip whose audio and subtitle streams are copied, packet for
    // packet, into the output, over the span of its frames that the output
    // holds (`copyFirst`, `copyCount`; count -1: to its end).
    std::string copyFrom;
    int32_t copyFirst = 0, copyCount = -1;
    // Told about streams the container cannot hold, which are left out.
    std::function<void(const std::string &)> warn;
};

// Whether `path`'s extension names a video container.
bool isVideoPath(const std::string &path);
// The layout video frames are written in, for the output of `formatPath`.
FormatInfo videoFormat(const std::string &formatPath);
std::unique_ptr<VideoReader> openVideoReader(const std::string &path);
// Checks, before any frame, what openVideoWriter would refuse (an unknown
// codec, a frame size the codec cannot take); returns the encoding in
// words, e.g. "H.264 (libx264, yuv420p)".
std::string checkVideoOutput(const std::string &formatPath, const ImageShape &shape, const VideoOptions &options);
// Writes the video into `path` in the container `formatPath` names.
std::unique_ptr<ImageWriter> openVideoWriter(const std::string &path, const std::string &formatPath,
                                             const ImageShape &shape, const VideoOptions &options);

// The interface the video plug-in exports.
class VideoBackend {
public:
    virtual ~VideoBackend() = default;
    virtual std::unique_ptr<VideoReader> openReader(const std::string &path) = 0;
    virtual std::string check(const std::string &formatPath, const ImageShape &shape, const VideoOptions &options) = 0;
    virtual std::unique_ptr<ImageWriter> openWriter(const std::string &path, const std::string &formatPath,
                                                    const ImageShape &shape, const VideoOptions &options) = 0;
};

} // namespace corvane::media
