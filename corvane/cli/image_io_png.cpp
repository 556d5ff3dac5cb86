// Image files through libpng alone, for builds without OpenImageIO: PNG in
// and out.
#include "image.h"

#include <png.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace quillomark {

namespace {

bool isPngName(const std::string &path)
{
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".png";
}

// Frees the simplified-API state on every path.
struct PngImage {
    png_image image{};
    PngImage() { image.version = PNG_IMAGE_VERSION; }
    ~PngImage() { png_image_free(&image); }
};

} // namespace

std::string supportedFormats()
{
    return "PNG (this build has no other image library)";
}

bool canWriteFormat(const std::string &path)
{
    return isPngName(path);
}

RgbaImage readImage(const std::string &path)
{
    if (!std::filesystem::exists(path))
        throw ImageError("cannot read image \"" + path + "\": no such file");
    PngImage png;
    if (!png_image_begin_read_from_file(&png.image, path.c_str()))
        throw ImageError("cannot read image \"" + path + "\": " + png.image.message +
                         " (this build reads PNG files only)");
    const png_uint_32 w = png.image.width, h = png.image.height;
    if (w < 1 || h < 1 || w > static_cast<png_uint_32>(kMaxImageSide) || h > static_cast<png_uint_32>(kMaxImageSide))
        throw ImageError("cannot use image \"" + path + "\": it is " + std::to_string(w) + "x" + std::to_string(h) +
                         "; images from 1x1 to " + std::to_string(kMaxImageSide) + "x" + std::to_string(kMaxImageSide) +
                         " are supported");
    png.image.format = PNG_FORMAT_RGBA;
    RgbaImage img(static_cast<int32_t>(w), static_cast<int32_t>(h));
    if (!png_image_finish_read(&png.image, nullptr, img.rgba.data(), 0, nullptr))
        throw ImageError("cannot read image \"" + path + "\": " + png.image.message);
    return img;
}

void writeImage(const std::string &path, const std::string &formatPath, const RgbaImage &image)
{
    if (!isPngName(formatPath))
        throw ImageError("cannot write \"" + formatPath + "\": this build writes PNG files only (name it .png)");
    PngImage png;
    png.image.width = static_cast<png_uint_32>(image.width);
    png.image.height = static_cast<png_uint_32>(image.height);
    png.image.format = PNG_FORMAT_RGBA;
    if (!png_image_write_to_file(&png.image, path.c_str(), 0, image.rgba.data(), 0, nullptr))
        throw ImageError("cannot write \"" + formatPath + "\": " + png.image.message);
}

} // namespace quillomark
