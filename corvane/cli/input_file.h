// Whole files the command line reads as input (projects, text files). A path
// that is not a regular file (a directory, a FIFO, a device) is refused
// before it is opened: reading an endless stream would never finish.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

namespace quillomark {

struct InputFileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The bytes of the file at `path`, at most `maxBytes` of them. `what` names
// the file's role in messages ("project", "text file"); every failure throws
// InputFileError naming the file and the reason.
std::string readInputFile(const std::string &path, const std::string &what, size_t maxBytes);

} // namespace quillomark
