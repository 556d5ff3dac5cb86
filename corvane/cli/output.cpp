#include "output.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace quillomark {

std::string partialName(const std::string &finalPath)
{
    return finalPath + ".partial";
}

void writeImageAtomically(const std::string &finalPath, const RgbaImage &image)
{
    const fs::path target(finalPath);
    std::error_code ec;
    if (target.has_parent_path() && !fs::exists(target.parent_path(), ec)) {
        fs::create_directories(target.parent_path(), ec);
        if (ec)
            throw ImageError("cannot write \"" + finalPath + "\": cannot create folder \"" +
                             target.parent_path().string() + "\": " + ec.message());
    }
    if (fs::is_directory(target, ec))
        throw ImageError("cannot write \"" + finalPath + "\": it is a folder");

    const std::string partial = partialName(finalPath);
    try {
        writeImage(partial, finalPath, image);
    } catch (...) {
        fs::remove(partial, ec);
        throw;
    }
    fs::rename(partial, target, ec);
    if (ec) {
        const std::string why = ec.message();
        fs::remove(partial, ec);
        throw ImageError("cannot write \"" + finalPath + "\": " + why);
    }
}

} // namespace quillomark
