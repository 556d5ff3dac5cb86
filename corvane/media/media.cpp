#include "media.h"

#include "backends.h"
#include "file_bytes.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <mutex>

namespace fs = std::filesystem;

namespace corvane::media {

bool FormatInfo::holds(PixelType t) const
{
    return std::find(types.begin(), types.end(), t) != types.end();
}

namespace {

std::string lowerExtension(const std::string &path)
{
    std::string ext = fs::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext;
}

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

struct Heavy {
    Backend *backend = nullptr;
    std::string error;
};

} // namespace

void *loadPlugin(const std::string &file, const char *symbol, const std::string &what, std::string &error)
{
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    const fs::path dir = ec ? fs::path(".") : self.parent_path();
    // Beside the program in the build tree; lib/quillomark/ once installed.
    const fs::path installed = dir / ".." / "lib" / "quillomark" / file;
    const std::string path = (!fs::exists(dir / file) && fs::exists(installed)) ? installed.lexically_normal().string()
                                                                                : (dir / file).string();
    void *library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char *why = dlerror();
        error = "cannot load the " + what + " back end \"" + path + "\": " + (why ? why : "unknown error");
        return nullptr;
    }
    void *entry = dlsym(library, symbol);
    if (!entry)
        error = "\"" + path + "\" is not a " + what + " back end";
    return entry;
}

namespace {

// Loaded once, on first use, from the program's own folder; kept for the
// life of the process (its formats' plug-ins stay registered).
Heavy &heavy()
{
    static Heavy loaded;
    static std::once_flag once;
    std::call_once(once, [] {
#ifdef QM_MEDIA_PLUGIN
        if (void *entry = loadPlugin(QM_MEDIA_PLUGIN, kBackendEntry, "image library", loaded.error))
            loaded.backend = reinterpret_cast<BackendEntry>(entry)(&cancelFlag());
#else
        loaded.error = "this build has no image library but libpng";
#endif
    });
    return loaded;
}

bool isPngFile(const RegularFile &file)
{
    unsigned char signature[8] = {};
    static const unsigned char png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return ::pread(file.fd(), signature, sizeof signature, 0) == 8 && std::memcmp(signature, png, 8) == 0;
}

Backend &heavyOrThrow(const std::string &what)
{
    Heavy &h = heavy();
    if (!h.backend)
        throw MediaError(what + ": " + h.error);
    return *h.backend;
}

} // namespace

namespace {
// Constant-initialised, so a signal handler never meets it half made.
std::atomic<bool> gCancel{false};
static_assert(std::atomic<bool>::is_always_lock_free);
} // namespace

std::atomic<bool> &cancelFlag()
{
    return gCancel;
}

std::optional<FormatInfo> writeFormat(const std::string &path)
{
    const std::string ext = lowerExtension(path);
    if (ext.size() < 2)
        return std::nullopt;
    if (auto png = pngBackend().format(ext))
        return png;
    Heavy &h = heavy();
    return h.backend ? h.backend->format(ext) : std::nullopt;
}

std::unique_ptr<ImageReader> openReader(const std::string &path)
{
    const RegularFile file(path);
    if (!file.ok())
        throw MediaError("cannot read image \"" + path + "\": " + file.error());
    if (isPngFile(file))
        return pngBackend().openReader(path);
    Heavy &h = heavy();
    if (!h.backend)
        throw MediaError("cannot read image \"" + path + "\": not a PNG file (this build reads PNG files only)");
    return h.backend->openReader(path);
}

std::unique_ptr<ImageWriter> openWriter(const std::string &path, const std::string &formatPath, const ImageShape &shape,
                                        const WriteOptions &options)
{
    const std::string ext = lowerExtension(formatPath);
    if (pngBackend().format(ext))
        return pngBackend().openWriter(path, ext, shape, options);
    return heavyOrThrow("cannot write \"" + formatPath + "\"").openWriter(path, ext, shape, options);
}

bool sameColourSpace(const std::string &a, const std::string &b)
{
    auto canonical = [](const std::string &name) {
        const std::string n = lower(name);
        for (const char *linear : {"linear", "lin_rec709", "lin_srgb", "scene_linear", "srgb_linear"})
            if (n == linear)
                return std::string(kLinear);
        if (n == "srgb" || n == "srgb_rec709" || n == "srgb_texture")
            return std::string(kSrgb);
        return n;
    };
    return canonical(a) == canonical(b);
}

void convertColour(Image &image, const std::string &to)
{
    if (sameColourSpace(image.shape().colourSpace, to))
        return;
    const std::string from = image.shape().colourSpace;
    Heavy &h = heavy();
    (h.backend ? *h.backend : pngBackend()).convertColour(image, from, to);
}

std::vector<std::string> writableExtensions()
{
    std::vector<std::string> extensions = {".png"};
    if (Heavy &h = heavy(); h.backend)
        for (const std::string &ext : h.backend->writableExtensions())
            extensions.push_back(ext);
    return extensions;
}

std::string writableFormats()
{
    if (!heavy().backend)
        return "PNG (this build has no other image library)";
    std::vector<std::string> names;
    for (const std::string &ext : writableExtensions())
        names.push_back(writeFormat("x" + ext)->name + " (" + ext + ")");
    std::sort(names.begin() + 1, names.end());
    std::string list;
    for (const std::string &name : names)
        list += (list.empty() ? "" : ", ") + name;
    return list;
}

Image readImage(const std::string &path)
{
    return openReader(path)->read(0);
}

} // namespace corvane::media
