// Reading and writing image files, one frame at a time, behind one
// interface for every format.
//
// PNG goes through libpng, linked in: it is cheap to load and is the
// format most single frames are written in. Every other format goes through
// OpenImageIO in a back end (libquillomark_oiio.so beside the program) that
// is loaded with dlopen the first time such a file is read or written, or a
// colour conversion is asked for; a program that only prints its version
// never loads it. Builds without OpenImageIO have PNG only.
//
// A reader or writer handles a sequence of frames of one shape: a still
// image is a sequence of one. Every failure throws MediaError with a message
// that names the file. Only regular files are read (see RegularFile).
//
// Cancelling: long reads and writes look at cancelFlag() between bands of
// rows and stop with Cancelled once it is raised, leaving no file behind.
#pragma once

#include "image.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace corvane::media {

struct MediaError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Not a MediaError: a cancelled read or write is no fault of the file.
struct Cancelled : std::runtime_error {
    Cancelled() : std::runtime_error("cancelled") {}
};

// Process-wide and lock-free, so a signal handler may raise it.
std::atomic<bool> &cancelFlag();

// What a format writes, and how it is conventionally read.
struct FormatInfo {
    std::string name;             // "PNG", "OpenEXR", ...
    std::vector<PixelType> types; // pixel types it stores, in preference order
    bool alpha = true;            // whether it stores an alpha channel
    AlphaMode alphaConvention = AlphaMode::Straight;
    std::string colourSpace = kSrgb; // how readers take its values; empty: as the image says
    bool holds(PixelType t) const;
};

struct WriteOptions {
    int compression = -1; // zlib level 0-9 for PNG (and formats with zip); -1: the library's default
};

class ImageReader {
public:
    virtual ~ImageReader() = default;
    // The shape of every frame: the file's own pixel type, channels, alpha
    // mode and colour space.
    virtual const ImageShape &shape() const = 0;
    virtual int32_t frameCount() const = 0; // 1 for a still image
    virtual Image read(int32_t frame) = 0;
};

class ImageWriter {
public:
    virtual ~ImageWriter() = default;
    // Frames must have the shape the writer was opened with.
    virtual void write(const Image &frame) = 0;
    // Finishes the file; a writer not closed leaves an incomplete file.
    virtual void close() = 0;
};

// The library behind each format.
class Backend {
public:
    virtual ~Backend() = default;
    virtual std::optional<FormatInfo> format(const std::string &extension) = 0; // ".png"; none: cannot write it
    virtual std::unique_ptr<ImageReader> openReader(const std::string &path) = 0;
    // Writes into `path` the format named by `extension`.
    virtual std::unique_ptr<ImageWriter> openWriter(const std::string &path, const std::string &extension,
                                                    const ImageShape &shape, const WriteOptions &options) = 0;
    // Converts the colour channels of `image` (float, RGB or RGBA, straight)
    // in place between two colour spaces; throws MediaError for names the
    // colour management does not know.
    virtual void convertColour(Image &image, const std::string &from, const std::string &to) = 0;
    virtual std::vector<std::string> writableExtensions() = 0; // one a format
};

// The format `path`'s extension names, when this build can write it.
std::optional<FormatInfo> writeFormat(const std::string &path);
// Opens `path` for reading (any format this build reads).
std::unique_ptr<ImageReader> openReader(const std::string &path);
// Opens `path` for writing in the format named by `formatPath`'s extension
// (they differ when a file is written under a temporary name).
std::unique_ptr<ImageWriter> openWriter(const std::string &path, const std::string &formatPath, const ImageShape &shape,
                                        const WriteOptions &options = {});
// Converts `image`'s colour channels from its colour space to `to` (the
// image must be float); relabels it.
void convertColour(Image &image, const std::string &to);
// Whether two colour space names mean the same space.
bool sameColourSpace(const std::string &a, const std::string &b);
// One extension for each format this build writes: ".png", ".exr", ...
std::vector<std::string> writableExtensions();
// For messages: "PNG (.png), OpenEXR (.exr), ..." or "PNG (this build ...)".
std::string writableFormats();

// Reads a still image (the first frame).
Image readImage(const std::string &path);

} // namespace corvane::media
