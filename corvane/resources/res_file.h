// Compiled Win32 resources, read from a resource compiler's .res image or
// from a PE image's resource directory.
//
// A resource is named by type and name, each either a 16-bit ordinal or a
// string, plus a language. Strings are kept as the file stores them (the
// resource compiler upper-cases them), converted from UTF-16 to UTF-8;
// lookups by string compare ASCII letters without regard to case, as the
// Win32 loader does.
//
// Every `data` span points into the bytes handed to the parser: the
// ResourceFile is only valid while those bytes are. Malformed input throws
// FormatError naming what is wrong and where; nothing is read outside the
// given bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// A resource type or name: an ordinal (isId) or a string.
struct ResName {
    bool isId = true;
    uint16_t id = 0;
    std::string name; // as stored, UTF-8

    bool operator==(const ResName &) const = default;
};

struct Resource {
    ResName type;
    ResName name;
    uint16_t language = 0;
    std::span<const uint8_t> data;
};

// How a PE image is laid out in the bytes given to parsePe.
enum class PeLayout {
    File,   // the file's bytes: sections at their raw file offsets
    Mapped, // a loaded image: sections at their virtual addresses
};

class ResourceFile {
public:
    // A .res image: a 32-byte empty entry, then entries of header and data,
    // each starting on a 4-byte boundary.
    static ResourceFile parse(std::span<const uint8_t> bytes);

    // The resource directory of a 32- or 64-bit PE image; an image without
    // one yields no resources.
    static ResourceFile parsePe(std::span<const uint8_t> image, PeLayout layout = PeLayout::File);

    // Whether the bytes open with the empty entry of a 32-bit .res image.
    static bool opensResImage(std::span<const uint8_t> bytes);

    // Where each entry after the empty one ends (before its padding), for as
    // long as the bytes read as entries: for finding an image among other
    // bytes, when its length is not known.
    static std::vector<size_t> entryEnds(std::span<const uint8_t> bytes, size_t maxEntries);

    // In file order (.res) or directory order (PE: type, name, language).
    const std::vector<Resource> &resources() const { return resources_; }

    // The first resource of that type and name, in any language; null if none.
    const Resource *find(uint16_t typeId, uint16_t nameId) const;
    const Resource *find(std::string_view typeName, uint16_t nameId) const;

private:
    std::vector<Resource> resources_;
};

// Well-known resource type ordinals.
inline constexpr uint16_t kResTypeDialog = 5;
inline constexpr uint16_t kResTypeVersion = 16;

} // namespace corvane
