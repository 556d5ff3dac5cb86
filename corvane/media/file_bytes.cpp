#include "file_bytes.h"

#include "media.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace corvane::media {

void writeWholeFile(const std::string &path, const std::vector<std::byte> &bytes)
{
    auto fail = [&path](int error) { throw MediaError("cannot write \"" + path + "\": " + std::strerror(error)); };
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        fail(errno);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            ::close(fd);
            fail(error);
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0)
        fail(errno);
}

namespace {

// Why a file of this mode is not read; empty for a regular file.
std::string notRegular(mode_t mode)
{
    if (S_ISREG(mode))
        return {};
    if (S_ISDIR(mode))
        return "it is a directory";
    if (S_ISFIFO(mode))
        return "it is a FIFO (a pipe), not a regular file";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "it is a device, not a regular file";
    if (S_ISSOCK(mode))
        return "it is a socket, not a regular file";
    return "it is not a regular file";
}

} // namespace

RegularFile::RegularFile(const std::string &path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        error_ = std::strerror(errno);
        return;
    }
    if (error_ = notRegular(st.st_mode); !error_.empty())
        return;
    // Not blocking, and checked again once open: the name may have been
    // replaced by a FIFO in between.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        error_ = std::strerror(errno);
        return;
    }
    if (::fstat(fd, &st) != 0 || !(error_ = notRegular(st.st_mode)).empty()) {
        if (error_.empty())
            error_ = std::strerror(errno);
        ::close(fd);
        return;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    fd_ = fd;
}

RegularFile::~RegularFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

int RegularFile::release()
{
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

} // namespace corvane::media
