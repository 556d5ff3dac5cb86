#include "video.h"

#include "backends.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <mutex>

namespace corvane::media {

namespace {

using VideoEntry = VideoBackend *(*)(const std::atomic<bool> *cancel);

std::string extensionOf(const std::string &path)
{
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext;
}

VideoBackend &video(const std::string &what)
{
    static VideoBackend *backend = nullptr;
    static std::string error;
    static std::once_flag once;
    std::call_once(once, [] {
#ifdef QM_VIDEO_PLUGIN
        if (void *entry = loadPlugin(QM_VIDEO_PLUGIN, kVideoEntry, "video", error))
            backend = reinterpret_cast<VideoEntry>(entry)(&cancelFlag());
#else
        error = "this build reads and writes no video (it was built without the FFmpeg libraries)";
#endif
    });
    if (!backend)
        throw MediaError(what + ": " + error);
    return *backend;
}

} // namespace

bool isVideoPath(const std::string &path)
{
    const std::string ext = extensionOf(path);
    return ext == ".mov" || ext == ".mp4" || ext == ".mkv";
}

FormatInfo videoFormat(const std::string &formatPath)
{
    // H.264 holds no alpha; QuickTime and Matroska may carry ProRes 4444.
    const std::string ext = extensionOf(formatPath);
    const std::string name = ext == ".mp4" ? "MP4 video" : ext == ".mov" ? "QuickTime video" : "Matroska video";
    return FormatInfo{name, {PixelType::UInt8, PixelType::UInt16}, ext != ".mp4", AlphaMode::Straight, kSrgb};
}

std::unique_ptr<VideoReader> openVideoReader(const std::string &path)
{
    return video("cannot read video \"" + path + "\"").openReader(path);
}

std::string checkVideoOutput(const std::string &formatPath, const ImageShape &shape, const VideoOptions &options)
{
    return video("cannot write \"" + formatPath + "\"").check(formatPath, shape, options);
}

std::unique_ptr<ImageWriter> openVideoWriter(const std::string &path, const std::string &formatPath,
                                             const ImageShape &shape, const VideoOptions &options)
{
    return video("cannot write \"" + formatPath + "\"").openWriter(path, formatPath, shape, options);
}

} // namespace corvane::media
