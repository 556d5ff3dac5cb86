// One layer of a render: an instance of the module with its stored settings
// record and its host parameters over time.
#pragma once

#include "animation.h"

#include <cstdint>
#include <vector>

namespace quillomark {

struct LayerSetup {
    std::vector<uint8_t> record; // stored (big-endian) settings record
    bool composite = false;      // Composite On Original
    Tracks tracks;
    bool operator==(const LayerSetup &) const = default;
};

} // namespace quillomark
