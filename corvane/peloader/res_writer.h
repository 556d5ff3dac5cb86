// Resources laid out as a compiled-resource (.res) file, the form the Win32
// stand-in reads a Linux module's resources in. This lets a Windows image's
// resources reach the same dialog code.
#pragma once

#include "pe_image.h"

#include <cstdint>
#include <span>
#include <vector>

namespace corvane::pe {

// The leading empty entry, then every resource in the given order, each
// header and data padded to four bytes.
std::vector<uint8_t> buildResFile(std::span<const Resource> resources);

} // namespace corvane::pe
