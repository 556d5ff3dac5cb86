// The module's registration as the host reads it before loading anything:
// the property list (type "PIPL", id 16000) in the module's compiled
// resources. A Windows module carries them in its PE resource directory; a
// Linux module embeds the same compiled .res image in its read-only data.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillomark {

struct RegistrationError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct PiplProperty {
    std::string vendor; // four characters, natural order
    std::string key;
    uint32_t id = 0;
    std::vector<uint8_t> data; // as declared long
};

struct Registration {
    std::vector<PiplProperty> properties;
    // Decoded from the properties, when present.
    std::string kind; // "eFKT": an effect
    std::string name; // length-prefixed in the list
    std::string category;
    std::string entryPoint; // zero-terminated in the list
    std::string matchName;
    std::optional<uint32_t> version;     // eVER
    std::optional<uint32_t> globalFlags; // eGLO
};

inline constexpr uint16_t kPiplId = 16000;

// Decodes a property list; throws RegistrationError when it is cut short or
// declares more than it holds.
Registration decodePipl(std::span<const uint8_t> bytes);

// Locates the compiled .res image embedded in a module file: it opens with
// the 32-byte empty entry and is followed, on the next 4-byte boundary, by
// its own length as a 32-bit word. Empty when there is none.
std::span<const uint8_t> findEmbeddedResources(std::span<const uint8_t> file);

// Reads the module file at `path` (ELF with embedded resources, or PE) and
// decodes its property list. Throws RegistrationError.
Registration readRegistration(const std::string &path);

} // namespace quillomark
