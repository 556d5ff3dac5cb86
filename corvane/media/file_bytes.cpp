#include "file_bytes.h"

#include "media.h"

#include <fcntl.h>
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

} // namespace corvane::media
