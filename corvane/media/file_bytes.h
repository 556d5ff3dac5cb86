// Whole files written with every error seen: a short write, a full disk or
// a failed close is an error, never a truncated file reported as written.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace corvane::media {

// Replaces the contents of `path` (created if missing) with `bytes`;
// throws MediaError naming the file and the system's reason.
void writeWholeFile(const std::string &path, const std::vector<std::byte> &bytes);

} // namespace corvane::media
