// Project files as a user may have edited them: anything is refused with an
// error, and whatever loads saves and loads again to the same project.
#include "project.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    quillomark::Project project;
    try {
        project = quillomark::projectFromJson(text, "projects");
    } catch (const quillomark::ProjectError &) {
        return 0;
    } catch (const nlohmann::json::exception &e) {
        // Every mistake in a project is worded by the loader, with the key's
        // path; the library's own message reaching a user is a fault.
        std::fprintf(stderr, "fault: the JSON library's error escaped the loader: %s\n", e.what());
        std::abort();
    }
    const std::string saved = quillomark::projectToJson(project, "projects");
    if (!(quillomark::projectFromJson(saved, "projects") == project)) {
        std::fprintf(stderr, "fault: the project does not load again as saved:\n%s\n", saved.c_str());
        std::abort();
    }
    return 0;
}
