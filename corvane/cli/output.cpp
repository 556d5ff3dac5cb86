#include "output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace quillomark {

namespace {

[[noreturn]] void fail(const std::string &finalPath, const std::string &why)
{
    throw ImageError("cannot write \"" + finalPath + "\": " + why);
}

// A message about the temporary file, told in terms of the final one.
std::string aboutFinal(std::string message, const std::string &temp, const std::string &finalPath)
{
    for (size_t at = message.find(temp); at != std::string::npos; at = message.find(temp, at + finalPath.size()))
        message.replace(at, temp.size(), finalPath);
    const std::string prefix = "cannot write \"" + finalPath + "\": ";
    return message.rfind(prefix, 0) == 0 ? message.substr(prefix.size()) : message;
}

// Read, not set and restored: files are written from several threads, and
// a moment of umask 0 would reach another thread's new folders and files.
mode_t processUmask()
{
    static const mode_t mask = [] {
        std::ifstream status("/proc/self/status");
        std::string key;
        while (status >> key)
            if (key == "Umask:" && status >> key)
                return static_cast<mode_t>(std::stoul(key, nullptr, 8));
        const mode_t old = ::umask(0); // kernels before 4.7 show no umask
        ::umask(old);
        return old;
    }();
    return mask;
}

} // namespace

void checkTarget(const std::string &finalPath, bool force)
{
    std::error_code ec;
    const fs::path target(finalPath);
    if (fs::is_directory(target, ec))
        fail(finalPath, "it is a directory");
    // As other tools do: what the user could not write is refused.
    if (!force && fs::exists(target, ec) && ::access(finalPath.c_str(), W_OK) != 0)
        fail(finalPath, std::string(std::strerror(errno)) + " (the file is write-protected; --force replaces it)");
}

AtomicFile::AtomicFile(const std::string &finalPath, bool force) : final_(finalPath)
{
    checkTarget(finalPath, force);
    const fs::path target(finalPath);
    std::error_code ec;
    if (target.has_parent_path() && !fs::exists(target.parent_path(), ec)) {
        fs::create_directories(target.parent_path(), ec);
        if (ec)
            ::quillomark::fail(finalPath,
                               "cannot create folder \"" + target.parent_path().string() + "\": " + ec.message());
    }
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string pattern = (folder / ("." + target.filename().string() + ".XXXXXX.partial")).string();
    const int fd = ::mkstemps(pattern.data(), 8);
    if (fd < 0)
        ::quillomark::fail(finalPath, std::strerror(errno));
    ::close(fd);
    temp_ = pattern;
    // A replaced file keeps its mode (set once written: a read-only mode
    // would stop the writing); a new one gets what the umask allows.
    struct stat existing;
    if (::stat(finalPath.c_str(), &existing) == 0) {
        mode_ = existing.st_mode & 07777;
    } else {
        mode_ = 0666 & ~processUmask();
    }
}

AtomicFile::~AtomicFile()
{
    if (!committed_)
        ::unlink(temp_.c_str());
}

void AtomicFile::fail(const media::MediaError &e) const
{
    ::quillomark::fail(final_, aboutFinal(e.what(), temp_, final_));
}

void AtomicFile::commit()
{
    if (::chmod(temp_.c_str(), mode_) != 0 || ::rename(temp_.c_str(), final_.c_str()) != 0)
        ::quillomark::fail(final_, std::strerror(errno));
    committed_ = true;
}

void writeImageAtomically(const std::string &finalPath, const media::Image &image, const OutputOptions &options)
{
    AtomicFile file(finalPath, options.force);
    try {
        auto writer = media::openWriter(file.tempPath(), finalPath, image.shape(), options.write);
        writer->write(image);
        writer->close();
    } catch (const media::MediaError &e) {
        file.fail(e);
    }
    file.commit();
}

} // namespace quillomark
