// The OpenImageIO back end, built as a plug-in (libquillomark_oiio.so) and
// loaded on first use: every format OpenImageIO writes apart from PNG, and
// colour management through its ColorConfig.
//
// OpenImageIO's writers do not all report a failed write (a full disk can
// leave a truncated file behind a successful close, or end the program
// inside a codec), so each file is encoded into a file in memory, read
// back whole from there (what does not read back complete is an error) and
// only then written out by writeWholeFile, which sees every error.
//
// Reads and writes go through OpenImageIO's progress callback, which looks
// at the program's cancel flag between bands of rows.
#include "backends.h"
#include "file_bytes.h"

#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>
#include <OpenImageIO/imageio.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace corvane::media {

namespace {

const std::atomic<bool> *gCancel = nullptr; // the program's, given at loading

// OpenImageIO stops a read or write when its progress callback says true.
bool stopWhenCancelled(void *, float)
{
    return gCancel && gCancel->load();
}

void throwIfCancelled()
{
    if (gCancel && gCancel->load())
        throw Cancelled();
}

std::string trimmed(std::string e)
{
    while (!e.empty() && (e.back() == '\n' || e.back() == ' '))
        e.pop_back();
    return e;
}

// OpenImageIO keeps its last error per thread; take it once.
std::string globalError(const std::string &fallback)
{
    const std::string e = trimmed(OIIO::geterror());
    return e.empty() ? fallback : e;
}

template <typename T> std::string errorOf(T &object, const std::string &fallback)
{
    std::string e = trimmed(object.geterror());
    if (e.empty())
        e = trimmed(OIIO::geterror());
    return e.empty() ? fallback : e;
}

OIIO::TypeDesc typeDesc(PixelType t)
{
    switch (t) {
    case PixelType::UInt8:
        return OIIO::TypeDesc::UINT8;
    case PixelType::UInt16:
        return OIIO::TypeDesc::UINT16;
    case PixelType::Half:
        return OIIO::TypeDesc::HALF;
    case PixelType::Float:
        return OIIO::TypeDesc::FLOAT;
    }
    return OIIO::TypeDesc::UINT8;
}

// Integer types of other widths come in as 16 bits, other floats as float.
PixelType pixelType(OIIO::TypeDesc t)
{
    if (t == OIIO::TypeDesc::UINT8)
        return PixelType::UInt8;
    if (t == OIIO::TypeDesc::HALF)
        return PixelType::Half;
    if (t.is_floating_point())
        return PixelType::Float;
    return PixelType::UInt16;
}

struct Convention {
    const char *format;
    std::vector<PixelType> types;
    AlphaMode alpha;
    const char *colourSpace;
};

// How each format's files are conventionally read. Unlisted formats hold
// 8 bits, straight alpha, sRGB; no colour space: the file says, else sRGB.
const std::vector<Convention> &conventions()
{
    using P = PixelType;
    static const std::vector<Convention> table = {
        {"openexr", {P::Half, P::Float}, AlphaMode::Premultiplied, kLinear},
        {"hdr", {P::Float}, AlphaMode::Straight, kLinear},
        {"tiff", {P::UInt8, P::UInt16, P::Half, P::Float}, AlphaMode::Straight, ""}, // holds either
        {"dpx", {P::UInt8, P::UInt16}, AlphaMode::Straight, kSrgb},
        {"sgi", {P::UInt8, P::UInt16}, AlphaMode::Straight, kSrgb},
        {"pnm", {P::UInt8, P::UInt16}, AlphaMode::Straight, kSrgb},
        {"psd", {P::UInt8, P::UInt16}, AlphaMode::Straight, kSrgb},
        {"fits", {P::UInt8, P::UInt16, P::Float}, AlphaMode::Straight, kSrgb},
    };
    return table;
}

Convention conventionOf(const std::string &format)
{
    for (const Convention &c : conventions())
        if (format == c.format)
            return c;
    return {"", {PixelType::UInt8}, AlphaMode::Straight, kSrgb};
}

// Formats OpenImageIO lists for writing that make no single image file we
// can write: a terminal display, a null sink, a collection of files, and
// JPEG 2000, whose writer reports success yet leaves a file in memory empty
// (so every such write would fail its check).
bool isImageFileFormat(const std::string &format)
{
    for (const char *no : {"term", "null", "ico", "zfile", "jpeg2000"})
        if (format == no)
            return false;
    return true;
}

class OiioReader final : public ImageReader {
public:
    // `format` names the reader; none: found from the name and the contents.
    explicit OiioReader(const std::string &path, const std::string &format = {}) : path_(path)
    {
        // Alpha as stored: straight files stay straight.
        OIIO::ImageSpec config;
        config.attribute("oiio:UnassociatedAlpha", 1);
        if (format.empty()) {
            in_ = OIIO::ImageInput::open(path, &config);
        } else if ((in_ = OIIO::ImageInput::create(format))) {
            OIIO::ImageSpec opened;
            if (!in_->open(path, opened, config))
                throw MediaError("cannot read image \"" + path + "\": " + errorOf(*in_, "the file is damaged"));
        }
        if (!in_)
            throw MediaError("cannot read image \"" + path + "\": " + globalError("not an image in a known format"));
        const OIIO::ImageSpec &s = in_->spec();
        channels_ = std::clamp(s.nchannels, 0, 4);
        if (channels_ < 1)
            throw MediaError("cannot read image \"" + path + "\": it has no channels");
        shape_.width = s.width;
        shape_.height = s.height;
        shape_.channels = channels_;
        shape_.type = pixelType(s.format);
        shape_.hasAlpha = s.alpha_channel >= 0 && s.alpha_channel == channels_ - 1 && channels_ != 3;
        if (!shape_.hasAlpha && channels_ == 2)
            shape_.hasAlpha = true; // grey and alpha, as two-channel files are
        const Convention c = conventionOf(in_->format_name());
        shape_.alpha =
            s.get_int_attribute("oiio:UnassociatedAlpha", 0) ? AlphaMode::Straight : AlphaMode::Premultiplied;
        if (!shape_.hasAlpha)
            shape_.alpha = c.alpha;
        shape_.colourSpace = s.get_string_attribute("oiio:ColorSpace", *c.colourSpace ? c.colourSpace : kSrgb);
    }

    const ImageShape &shape() const override { return shape_; }
    int32_t frameCount() const override { return 1; }

    Image read(int32_t frame) override
    {
        if (frame != 0)
            throw MediaError("cannot read image \"" + path_ + "\": it holds one frame");
        Image image(shape_);
        const bool ok = in_->read_image(0, 0, 0, channels_, typeDesc(shape_.type), image.data(), OIIO::AutoStride,
                                        OIIO::AutoStride, OIIO::AutoStride, stopWhenCancelled);
        throwIfCancelled(); // a stopped read reports success
        if (!ok)
            throw MediaError("cannot read image \"" + path_ + "\": " + errorOf(*in_, "the pixel data is damaged"));
        return image;
    }

private:
    std::string path_;
    std::unique_ptr<OIIO::ImageInput> in_;
    int channels_ = 0;
    ImageShape shape_;
};

// A file in memory that the image library opens by name.
struct MemoryFile {
    int fd = -1;
    std::string path;
    MemoryFile()
    {
        fd = ::memfd_create("quillomark-image", MFD_CLOEXEC);
        if (fd < 0)
            throw MediaError(std::string("cannot make a file in memory: ") + std::strerror(errno));
        path = "/proc/self/fd/" + std::to_string(fd);
    }
    ~MemoryFile() { ::close(fd); }
    std::vector<std::byte> bytes() const
    {
        std::vector<std::byte> out(static_cast<size_t>(std::max<off_t>(0, ::lseek(fd, 0, SEEK_END))));
        size_t done = 0;
        while (done < out.size()) {
            const ssize_t n = ::pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(done));
            if (n <= 0)
                throw MediaError(std::string("cannot read back a file in memory: ") + std::strerror(errno));
            done += static_cast<size_t>(n);
        }
        return out;
    }
};

class OiioWriter final : public StillWriter {
public:
    OiioWriter(const std::string &path, const std::string &extension, const ImageShape &shape,
               const WriteOptions &options)
        : StillWriter(path, shape), extension_(extension), options_(options)
    {
    }

private:
    void writeStill(const Image &frame) override
    {
        const ImageShape &s = frame.shape();
        auto out = OIIO::ImageOutput::create(extension_.substr(1));
        if (!out)
            throw MediaError("cannot write \"" + path_ + "\": " + globalError("unknown image format"));
        OIIO::ImageSpec format(s.width, s.height, s.channels, typeDesc(s.type));
        if (s.hasAlpha) {
            format.alpha_channel = s.channels - 1;
            if (s.alpha == AlphaMode::Straight)
                format.attribute("oiio:UnassociatedAlpha", 1);
        }
        format.attribute("oiio:ColorSpace", s.colourSpace);
        if (options_.compression >= 0)
            format.attribute("compression", "zip:" + std::to_string(options_.compression));
        MemoryFile memory;
        const bool ok =
            out->open(memory.path, format) && out->write_image(typeDesc(s.type), frame.data(), OIIO::AutoStride,
                                                               OIIO::AutoStride, OIIO::AutoStride, stopWhenCancelled);
        const bool closed = out->close();
        throwIfCancelled();
        if (!ok || !closed)
            throw MediaError("cannot write \"" + path_ + "\": " + errorOf(*out, "writing the pixels failed"));
        verifyByReading(memory.path, out->format_name());
        writeWholeFile(path_, memory.bytes());
    }

    // The file as written must open again with every pixel there.
    void verifyByReading(const std::string &encoded, const std::string &format)
    {
        try {
            OiioReader back(encoded, format);
            const ImageShape &s = back.shape();
            if (s.width != shape_.width || s.height != shape_.height)
                throw MediaError("it reads back as " + std::to_string(s.width) + "x" + std::to_string(s.height));
            back.read(0);
        } catch (const MediaError &e) {
            std::string why = e.what();
            for (size_t at; (at = why.find(encoded)) != std::string::npos;)
                why.replace(at, encoded.size(), path_);
            throw MediaError("cannot write \"" + path_ + "\": the image library wrote no complete file (" + why + ")");
        }
    }

    std::string extension_;
    WriteOptions options_;
};

class OiioBackend final : public Backend {
public:
    std::optional<FormatInfo> format(const std::string &extension) override
    {
        if (extension.size() < 2)
            return std::nullopt;
        auto out = OIIO::ImageOutput::create(extension.substr(1));
        OIIO::geterror(); // a refused format leaves an error behind; it is answered here
        // A format with no reader could not be checked once written.
        auto in = out ? OIIO::ImageInput::create(out->format_name()) : nullptr;
        OIIO::geterror();
        if (!out || !in || !isImageFileFormat(out->format_name()))
            return std::nullopt;
        const Convention c = conventionOf(out->format_name());
        return FormatInfo{out->format_name(), c.types, out->supports("alpha") != 0, c.alpha, c.colourSpace};
    }

    std::unique_ptr<ImageReader> openReader(const std::string &path) override
    {
        return std::make_unique<OiioReader>(path);
    }

    std::unique_ptr<ImageWriter> openWriter(const std::string &path, const std::string &extension,
                                            const ImageShape &shape, const WriteOptions &options) override
    {
        return std::make_unique<OiioWriter>(path, extension, shape, options);
    }

    void convertColour(Image &image, const std::string &from, const std::string &to) override
    {
        ImageShape s = image.shape();
        if (s.type != PixelType::Float)
            throw MediaError("colour conversion needs float pixels");
        OIIO::ImageSpec format(s.width, s.height, s.channels, OIIO::TypeDesc::FLOAT);
        if (s.hasAlpha)
            format.alpha_channel = s.channels - 1;
        OIIO::ImageBuf buffer(format, image.data());
        std::lock_guard<std::mutex> lock(mutex_);
        if (!OIIO::ImageBufAlgo::colorconvert(buffer, buffer, from, to, false))
            throw MediaError("cannot convert colours from \"" + from + "\" to \"" + to +
                             "\": " + errorOf(buffer, "unknown colour space"));
    }

    std::vector<std::string> writableExtensions() override
    {
        std::vector<std::string> extensions, names;
        // "format:ext,ext;format:ext..."
        const std::string list = OIIO::get_string_attribute("extension_list");
        size_t start = 0;
        while (start < list.size()) {
            size_t end = list.find(';', start);
            if (end == std::string::npos)
                end = list.size();
            const std::string entry = list.substr(start, end - start);
            const size_t colon = entry.find(':');
            const std::string exts = colon == std::string::npos ? "" : entry.substr(colon + 1);
            const std::string first = "." + exts.substr(0, exts.find(','));
            const auto info = first != ".png" ? format(first) : std::nullopt;
            if (info && std::find(names.begin(), names.end(), info->name) == names.end()) {
                names.push_back(info->name);
                extensions.push_back(first);
            }
            start = end + 1;
        }
        return extensions;
    }

private:
    std::mutex mutex_;
};

} // namespace

} // namespace corvane::media

extern "C" __attribute__((visibility("default"))) corvane::media::Backend *
quillomark_media_backend(const std::atomic<bool> *cancel)
{
    corvane::media::gCancel = cancel;
    static corvane::media::OiioBackend backend;
    return &backend;
}
