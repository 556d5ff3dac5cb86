// Image files through OpenImageIO: every format it was built with.
#include "image.h"

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <filesystem>

namespace quillomark {

namespace {

std::string extensionOf(const std::string &path)
{
    return std::filesystem::path(path).extension().string();
}

// OpenImageIO keeps its last error per thread; take it once.
std::string lastError(const std::string &fallback)
{
    std::string e = OIIO::geterror();
    while (!e.empty() && (e.back() == '\n' || e.back() == ' '))
        e.pop_back();
    return e.empty() ? fallback : e;
}

} // namespace

std::string supportedFormats()
{
    return "PNG, TIFF, OpenEXR, JPEG, DPX, Targa, BMP and the other formats OpenImageIO reads";
}

bool canWriteFormat(const std::string &path)
{
    const std::string ext = extensionOf(path);
    if (ext.size() < 2)
        return false;
    auto out = OIIO::ImageOutput::create(ext.substr(1));
    OIIO::geterror(); // a refused format leaves an error behind; it is answered here
    return out != nullptr;
}

RgbaImage readImage(const std::string &path)
{
    if (!std::filesystem::exists(path))
        throw ImageError("cannot read image \"" + path + "\": no such file");
    // Straight alpha as stored: no premultiplication on the way in.
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto in = OIIO::ImageInput::create(path);
    OIIO::ImageSpec format;
    if (!in)
        throw ImageError("cannot read image \"" + path + "\": " + lastError("not an image in a known format"));
    if (!in->open(path, format, config)) {
        const std::string why = in->geterror();
        throw ImageError("cannot read image \"" + path + "\": " + (why.empty() ? "the file is damaged" : why));
    }
    if (format.width < 1 || format.height < 1 || format.width > kMaxImageSide || format.height > kMaxImageSide)
        throw ImageError("cannot use image \"" + path + "\": it is " + std::to_string(format.width) + "x" +
                         std::to_string(format.height) + "; images from 1x1 to " + std::to_string(kMaxImageSide) + "x" +
                         std::to_string(kMaxImageSide) + " are supported");
    const int nch = std::min(format.nchannels, 4);
    if (nch < 1)
        throw ImageError("cannot read image \"" + path + "\": it has no channels");
    std::vector<uint8_t> buf(static_cast<size_t>(format.width) * format.height * nch);
    if (!in->read_image(0, 0, 0, nch, OIIO::TypeDesc::UINT8, buf.data()))
        throw ImageError("cannot read image \"" + path + "\": " + lastError("the pixel data is damaged"));
    in->close();

    RgbaImage img(format.width, format.height);
    const bool greyAlpha = nch == 2;
    for (size_t i = 0, n = static_cast<size_t>(format.width) * format.height; i < n; ++i) {
        const uint8_t *s = &buf[i * nch];
        uint8_t *d = &img.rgba[i * 4];
        if (nch >= 3) {
            d[0] = s[0], d[1] = s[1], d[2] = s[2];
            d[3] = nch == 4 ? s[3] : 255;
        } else {
            d[0] = d[1] = d[2] = s[0];
            d[3] = greyAlpha ? s[1] : 255;
        }
    }
    return img;
}

void writeImage(const std::string &path, const std::string &formatPath, const RgbaImage &image)
{
    const std::string ext = extensionOf(formatPath);
    auto out = ext.size() > 1 ? OIIO::ImageOutput::create(ext.substr(1)) : nullptr;
    if (!out)
        throw ImageError("cannot write \"" + formatPath + "\": unknown image format" +
                         (ext.empty() ? std::string(" (the name has no extension)") : " \"" + ext + "\"") +
                         "; use .png, .tif, .exr, .jpg or .dpx");
    const bool alpha = out->supports("alpha");
    const int nch = alpha ? 4 : 3;
    OIIO::ImageSpec format(image.width, image.height, nch, OIIO::TypeDesc::UINT8);
    if (alpha) {
        format.alpha_channel = 3;
        format.attribute("oiio:UnassociatedAlpha", 1);
    }
    if (!out->open(path, format))
        throw ImageError("cannot write \"" + formatPath + "\": " + lastError("the file could not be created"));

    std::vector<uint8_t> rgb;
    const uint8_t *data = image.rgba.data();
    if (!alpha) {
        rgb.resize(static_cast<size_t>(image.width) * image.height * 3);
        for (size_t i = 0, n = static_cast<size_t>(image.width) * image.height; i < n; ++i)
            std::copy_n(&image.rgba[i * 4], 3, &rgb[i * 3]);
        data = rgb.data();
    }
    const bool ok = out->write_image(OIIO::TypeDesc::UINT8, data);
    const bool closed = out->close();
    if (!ok || !closed)
        throw ImageError("cannot write \"" + formatPath + "\": " + lastError("writing the pixels failed"));
}

} // namespace quillomark
