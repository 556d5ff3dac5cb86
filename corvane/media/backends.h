// The back ends behind media.h, for its dispatcher and the plug-in.
#pragma once

#include "media.h"

#include <string>
#include <utility>

namespace corvane::media {

// A writer for formats that hold one frame: the frame is checked against
// the file's layout and written once.
class StillWriter : public ImageWriter {
public:
    StillWriter(std::string path, ImageShape shape) : path_(std::move(path)), shape_(std::move(shape)) {}

    void write(const Image &frame) final
    {
        if (written_)
            throw MediaError("cannot write \"" + path_ + "\": the file holds one frame");
        const ImageShape &s = frame.shape();
        if (s.width != shape_.width || s.height != shape_.height || s.channels != shape_.channels ||
            s.type != shape_.type)
            throw MediaError("cannot write \"" + path_ + "\": the frame does not match the file's layout");
        writeStill(frame);
        written_ = true;
    }

    void close() final
    {
        if (!written_)
            throw MediaError("cannot write \"" + path_ + "\": no frame was written");
    }

protected:
    virtual void writeStill(const Image &frame) = 0;
    std::string path_;
    ImageShape shape_;

private:
    bool written_ = false;
};

// PNG through libpng, always present.
Backend &pngBackend();

// The symbol a back-end plug-in exports: given the program's cancel flag,
// returns its Backend, which lives as long as the process.
inline constexpr const char *kBackendEntry = "quillomark_media_backend";
using BackendEntry = Backend *(*)(const std::atomic<bool> *cancel);
inline constexpr const char *kVideoEntry = "quillomark_video_backend";

// The entry `symbol` of the plug-in `file` in the program's own folder,
// loaded for good; null, with `error` in terms of `what` ("image library"),
// when it cannot be.
void *loadPlugin(const std::string &file, const char *symbol, const std::string &what, std::string &error);

} // namespace corvane::media
