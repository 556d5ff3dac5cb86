// PNG through libpng: 8 and 16 bits, grey or colour, with or without
// straight alpha, as the file stores them (no gamma conversion). Files are
// encoded in memory and written by writeWholeFile, so every failed write is
// seen. Rows are read and encoded in bands, with the cancel flag looked at
// between them.
#include "backends.h"
#include "file_bytes.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

namespace corvane::media {

namespace {

struct PngFailure {
    char message[200] = "the file is damaged";
};

extern "C" void onPngError(png_structp png, png_const_charp message)
{
    auto *failure = static_cast<PngFailure *>(png_get_error_ptr(png));
    std::snprintf(failure->message, sizeof failure->message, "%s", message);
    png_longjmp(png, 1);
}

extern "C" void onPngWarning(png_structp, png_const_charp) {}

// libpng's own reader says only "Read Error" at the end of a file; this one
// says where the file ends.
extern "C" void readFromFile(png_structp png, png_bytep data, png_size_t length)
{
    FILE *file = static_cast<FILE *>(png_get_io_ptr(png));
    if (std::fread(data, 1, length, file) == length)
        return;
    if (std::ferror(file))
        png_error(png, std::strerror(errno));
    char why[120];
    const png_uint_32 type = png_get_io_chunk_type(png);
    char name[5] = {static_cast<char>(type >> 24), static_cast<char>(type >> 16), static_cast<char>(type >> 8),
                    static_cast<char>(type), 0};
    if (type)
        std::snprintf(why, sizeof why, "the file ends early, inside its %s chunk (it is truncated)", name);
    else
        std::snprintf(why, sizeof why, "the file ends early (it is truncated)");
    png_error(png, why);
}

constexpr int32_t kBandRows = 64; // rows between looks at the cancel flag

// Unless a level is asked for: libpng's search for the best filter of each
// row costs more than the encoding itself, and a rendered frame (a flat or
// smooth plate, text on it) compresses nearly as well unfiltered. Level 3 is
// the highest of zlib's fast matcher: half the time of level 6 on such a
// frame, for files a little larger.
constexpr int kFastLevel = 3;

enum class Rows { Done, Failed, Cancelled };

struct MemoryOut {
    std::vector<std::byte> bytes;
};

extern "C" void writeToMemory(png_structp png, png_bytep data, png_size_t length)
{
    auto *out = static_cast<MemoryOut *>(png_get_io_ptr(png));
    const auto *p = reinterpret_cast<const std::byte *>(data);
    out->bytes.insert(out->bytes.end(), p, p + length);
}

extern "C" void flushMemory(png_structp) {}

// Closes the file and frees libpng's state on every path.
struct ReadState {
    FILE *file = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    int passes = 1;
    ~ReadState()
    {
        png_destroy_read_struct(png ? &png : nullptr, info ? &info : nullptr, nullptr);
        if (file)
            std::fclose(file);
    }
};

struct WriteState {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~WriteState() { png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr); }
};

// The header, with the transformations that give 8 or 16 bits a channel
// in the file's own channel layout. Returns false on a libpng error.
bool readHeader(ReadState &s, PngFailure &failure, ImageShape &shape)
{
    if (setjmp(png_jmpbuf(s.png)))
        return false;
    png_set_read_fn(s.png, s.file, readFromFile);
    png_read_info(s.png, s.info);
    const int colour = png_get_color_type(s.png, s.info);
    const int depth = png_get_bit_depth(s.png, s.info);
    if (colour == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(s.png);
    if (colour == PNG_COLOR_TYPE_GRAY && depth < 8)
        png_set_expand_gray_1_2_4_to_8(s.png);
    if (png_get_valid(s.png, s.info, PNG_INFO_tRNS))
        png_set_tRNS_to_alpha(s.png);
    if (depth == 16)
        png_set_swap(s.png); // the file is big-endian; memory is native
    s.passes = png_set_interlace_handling(s.png);
    png_read_update_info(s.png, s.info);
    shape.width = static_cast<int32_t>(png_get_image_width(s.png, s.info));
    shape.height = static_cast<int32_t>(png_get_image_height(s.png, s.info));
    shape.channels = png_get_channels(s.png, s.info);
    shape.type = png_get_bit_depth(s.png, s.info) == 16 ? PixelType::UInt16 : PixelType::UInt8;
    shape.hasAlpha = (png_get_color_type(s.png, s.info) & PNG_COLOR_MASK_ALPHA) != 0;
    shape.alpha = AlphaMode::Straight;
    shape.colourSpace = kSrgb;
    (void)failure;
    return true;
}

Rows readRows(ReadState &s, std::vector<png_bytep> &rows)
{
    if (setjmp(png_jmpbuf(s.png)))
        return Rows::Failed;
    const auto count = static_cast<int32_t>(rows.size());
    for (int pass = 0; pass < s.passes; ++pass)
        for (int32_t y = 0; y < count; y += kBandRows) {
            if (cancelFlag().load())
                return Rows::Cancelled;
            png_read_rows(s.png, rows.data() + y, nullptr, static_cast<png_uint_32>(std::min(kBandRows, count - y)));
        }
    png_read_end(s.png, nullptr);
    return Rows::Done;
}

class PngReader final : public ImageReader {
public:
    explicit PngReader(const std::string &path) : path_(path)
    {
        RegularFile file(path);
        if (file.ok() && !(s_.file = ::fdopen(file.fd(), "rb")))
            throw std::bad_alloc();
        if (!file.ok())
            throw MediaError("cannot read image \"" + path + "\": " + file.error());
        file.release(); // now the stream's
        unsigned char signature[8] = {};
        if (std::fread(signature, 1, 8, s_.file) != 8 || png_sig_cmp(signature, 0, 8))
            throw MediaError("cannot read image \"" + path + "\": not a PNG file");
        s_.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &failure_, onPngError, onPngWarning);
        s_.info = s_.png ? png_create_info_struct(s_.png) : nullptr;
        if (!s_.info)
            throw std::bad_alloc();
        png_set_sig_bytes(s_.png, 8);
        if (!readHeader(s_, failure_, shape_))
            throw MediaError("cannot read image \"" + path + "\": " + failure_.message);
    }

    const ImageShape &shape() const override { return shape_; }
    int32_t frameCount() const override { return 1; }

    Image read(int32_t frame) override
    {
        if (frame != 0 || done_)
            throw MediaError("cannot read image \"" + path_ + "\": a PNG file holds one frame");
        done_ = true;
        Image image(shape_);
        std::vector<png_bytep> rows(static_cast<size_t>(shape_.height));
        for (int32_t y = 0; y < shape_.height; ++y)
            rows[static_cast<size_t>(y)] = reinterpret_cast<png_bytep>(image.pixel(0, y));
        const Rows result = readRows(s_, rows);
        if (result == Rows::Cancelled)
            throw Cancelled();
        if (result == Rows::Failed)
            throw MediaError("cannot read image \"" + path_ + "\": " + failure_.message);
        return image;
    }

private:
    std::string path_;
    ReadState s_;
    PngFailure failure_;
    ImageShape shape_;
    bool done_ = false;
};

Rows encode(WriteState &s, const Image &image, int compression, MemoryOut &out)
{
    if (setjmp(png_jmpbuf(s.png)))
        return Rows::Failed;
    const ImageShape &shape = image.shape();
    png_set_write_fn(s.png, &out, writeToMemory, flushMemory);
    const int grey = shape.colourChannels() == 1;
    const int colourType =
        (grey ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB) | (shape.hasAlpha ? PNG_COLOR_MASK_ALPHA : 0);
    png_set_IHDR(s.png, s.info, static_cast<png_uint_32>(shape.width), static_cast<png_uint_32>(shape.height),
                 shape.type == PixelType::UInt16 ? 16 : 8, colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (compression >= 0) {
        png_set_compression_level(s.png, compression);
    } else {
        png_set_compression_level(s.png, kFastLevel);
        png_set_filter(s.png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    }
    png_set_sRGB(s.png, s.info, PNG_sRGB_INTENT_PERCEPTUAL);
    png_write_info(s.png, s.info);
    if (shape.type == PixelType::UInt16)
        png_set_swap(s.png);
    for (int32_t y = 0; y < shape.height; ++y) {
        if (y % kBandRows == 0 && cancelFlag().load())
            return Rows::Cancelled;
        png_write_row(s.png, reinterpret_cast<png_const_bytep>(image.pixel(0, y)));
    }
    png_write_end(s.png, nullptr);
    return Rows::Done;
}

class PngWriter final : public StillWriter {
public:
    PngWriter(const std::string &path, const ImageShape &shape, const WriteOptions &options)
        : StillWriter(path, shape), options_(options)
    {
    }

private:
    void writeStill(const Image &frame) override
    {
        if (frame.shape().type != PixelType::UInt8 && frame.shape().type != PixelType::UInt16)
            throw MediaError("cannot write \"" + path_ + "\": PNG holds 8 or 16 bits a channel, not " +
                             pixelTypeName(frame.shape().type));
        WriteState state;
        PngFailure failure;
        state.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &failure, onPngError, onPngWarning);
        state.info = state.png ? png_create_info_struct(state.png) : nullptr;
        if (!state.info)
            throw std::bad_alloc();
        MemoryOut out;
        const Rows result = encode(state, frame, options_.compression, out);
        if (result == Rows::Cancelled)
            throw Cancelled();
        if (result == Rows::Failed)
            throw MediaError("cannot write \"" + path_ + "\": " + failure.message);
        writeWholeFile(path_, out.bytes);
    }

    WriteOptions options_;
};

class PngBackend final : public Backend {
public:
    std::optional<FormatInfo> format(const std::string &extension) override
    {
        if (extension != ".png")
            return std::nullopt;
        return FormatInfo{"PNG", {PixelType::UInt8, PixelType::UInt16}, true, AlphaMode::Straight, kSrgb};
    }
    std::unique_ptr<ImageReader> openReader(const std::string &path) override
    {
        return std::make_unique<PngReader>(path);
    }
    std::unique_ptr<ImageWriter> openWriter(const std::string &path, const std::string &, const ImageShape &shape,
                                            const WriteOptions &options) override
    {
        return std::make_unique<PngWriter>(path, shape, options);
    }
    void convertColour(Image &, const std::string &from, const std::string &to) override
    {
        throw MediaError("cannot convert colours from " + from + " to " + to +
                         ": this build has no colour management (it has no OpenImageIO)");
    }
    std::vector<std::string> writableExtensions() override { return {".png"}; }
};

} // namespace

Backend &pngBackend()
{
    static PngBackend backend;
    return backend;
}

} // namespace corvane::media
