// Files as the media library (and any other reader of the user's files)
// touches them: whole files written with every error seen, and files read
// only when they are regular files.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace corvane::media {

// Replaces the contents of `path` (created if missing) with `bytes`: a
// short write, a full disk or a failed close is an error, never a truncated
// file reported as written. Throws MediaError naming the file and the
// system's reason.
void writeWholeFile(const std::string &path, const std::vector<std::byte> &bytes);

// A file opened for reading only when it is a regular file. A device (such
// as /dev/zero), a FIFO, a socket or a directory is refused before it is
// opened: an endless stream would never end a read, and opening some
// devices acts on them. Throws nothing: error() says why, in the user's
// terms ("it is a FIFO, not a regular file"), so each caller words its own
// message.
class RegularFile {
public:
    explicit RegularFile(const std::string &path);
    ~RegularFile();
    RegularFile(const RegularFile &) = delete;
    RegularFile &operator=(const RegularFile &) = delete;

    bool ok() const { return fd_ >= 0; }
    const std::string &error() const { return error_; }
    int fd() const { return fd_; }
    // Hands the descriptor over; the caller closes it.
    int release();

private:
    int fd_ = -1;
    std::string error_;
};

} // namespace corvane::media
