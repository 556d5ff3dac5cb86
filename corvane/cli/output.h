// Output files appear only when complete and verified: each image is
// written under a temporary name of its own (unique to the process) in the
// folder of its final name, and renamed into place only when every byte is
// written. A failure of any kind (a full disk, an I/O error, a format that
// writes nothing, a failed rename) leaves no temporary file behind and
// leaves whatever was under the final name untouched.
#pragma once

#include "image.h"

#include <string>

namespace quillomark {

struct OutputOptions {
    bool force = false; // replace a file the user made read-only
    media::WriteOptions write;
};

// Whether `finalPath` may be written: refuses a directory, and a file the
// user cannot write unless `force`. Throws ImageError.
void checkTarget(const std::string &finalPath, bool force);

// A file written under a temporary name of its own (in the folder of its
// final name, created when missing) and renamed into place by commit(); one
// never committed is removed. Throws ImageError naming `finalPath`.
class AtomicFile {
public:
    AtomicFile(const std::string &finalPath, bool force);
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    const std::string &tempPath() const { return temp_; }
    // The media library's message about the temporary file, as an
    // ImageError about the final one.
    [[noreturn]] void fail(const media::MediaError &e) const;
    void commit(); // a replaced file keeps its permissions

private:
    std::string final_, temp_;
    unsigned mode_ = 0;
    bool committed_ = false;
};

// Writes `image` to `finalPath` (format from its extension), creating
// missing parent folders. A replaced file keeps its permissions. Throws
// ImageError naming `finalPath`.
void writeImageAtomically(const std::string &finalPath, const media::Image &image, const OutputOptions &options);

} // namespace quillomark
