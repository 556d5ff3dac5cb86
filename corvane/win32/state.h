// The stand-in's process-wide state: queued scripts, reports, test hooks,
// live device contexts and the dialogs running now. Internal.
#pragma once

#include "scripted_user.h"

#include <deque>
#include <optional>
#include <unordered_set>
#include <vector>

namespace corvane::win32 {

struct StandInState {
    std::deque<Script> scripts;
    std::vector<DialogReport> reports;
    std::optional<std::vector<FontEntry>> fontList; // set by a test; else the library's
    bool createDCFails = false;
    bool dialogCreationFails = false;
    int32_t controlsCreated = 0;
    int32_t controlFailsAt = 0; // the count of controlsCreated that fails; 0: none
    std::unordered_set<const void *> deviceContexts;
};

StandInState &standIn();

} // namespace corvane::win32
