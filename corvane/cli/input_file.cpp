#include "input_file.h"

#include "media/file_bytes.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace quillomark {

std::string readInputFile(const std::string &path, const std::string &what, size_t maxBytes)
{
    const std::string name = what + " \"" + path + "\"";
    auto fail = [&](const std::string &why) { return InputFileError("cannot read " + name + ": " + why); };
    // Devices, FIFOs and directories are refused before they are read: an
    // endless stream would never end the read.
    const corvane::media::RegularFile file(path);
    if (!file.ok())
        throw fail(file.error());
    const int fd = file.fd();
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        throw fail(std::strerror(errno));
    if (static_cast<uint64_t>(st.st_size) > maxBytes)
        throw InputFileError(name + " is " + std::to_string(st.st_size) + " bytes; a " + what + " holds at most " +
                             std::to_string(maxBytes));

    std::string bytes;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw fail(std::strerror(errno));
        if (n == 0)
            break;
        if (bytes.size() + static_cast<size_t>(n) > maxBytes)
            throw InputFileError(name + " grew past " + std::to_string(maxBytes) + " bytes while it was read");
        bytes.append(buf, static_cast<size_t>(n));
    }
    return bytes;
}

} // namespace quillomark
