#include "pe_format.h"
#include "pe_image.h"
#include "res_writer.h"

#include <cstring>
#include <set>

namespace corvane::pe {

namespace {

// Resources without their own flags get the resource compiler's default:
// moveable, pure, discardable.
constexpr uint16_t kDefaultMemoryFlags = 0x1030;

void put16(std::vector<uint8_t> &out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t> &out, uint32_t v)
{
    put16(out, static_cast<uint16_t>(v));
    put16(out, static_cast<uint16_t>(v >> 16));
}

void putId(std::vector<uint8_t> &out, const ResourceId &id)
{
    if (id.isName()) {
        for (char16_t c : id.name)
            put16(out, c);
        put16(out, 0);
    } else {
        put16(out, 0xFFFF);
        put16(out, id.id);
    }
}

void pad4(std::vector<uint8_t> &out)
{
    while (out.size() % 4)
        out.push_back(0);
}

} // namespace

void PeImage::readResources()
{
    const uint32_t root = resourceRva_;
    const uint32_t size = resourceSize_;
    struct Entry {
        ResourceId id;
        uint32_t offset;
        bool subdirectory;
    };
    // Each directory belongs to one parent; a second visit means a loop.
    std::set<uint32_t> visited;
    auto entriesAt = [&](uint32_t offset) {
        if (!visited.insert(offset).second)
            fail("damaged: the resource directories refer to each other in a loop");
        if (uint64_t(offset) + sizeof(ResourceDirectory) > size)
            fail("damaged: a resource directory lies outside the resource section");
        const auto dir = read<ResourceDirectory>(root + offset);
        const uint32_t count = uint32_t(dir.numberOfNamedEntries) + dir.numberOfIdEntries;
        if (uint64_t(offset) + sizeof(ResourceDirectory) + uint64_t(count) * sizeof(ResourceDirectoryEntry) > size)
            fail("damaged: a resource directory runs past the resource section");
        std::vector<Entry> entries;
        for (uint32_t i = 0; i < count; ++i) {
            const auto e = read<ResourceDirectoryEntry>(root + offset + sizeof(ResourceDirectory) +
                                                        i * sizeof(ResourceDirectoryEntry));
            Entry entry;
            if (e.name & kResourceNameIsString) {
                const uint32_t at = e.name & ~kResourceNameIsString;
                if (uint64_t(at) + 2 > size)
                    fail("damaged: a resource name lies outside the resource section");
                const uint16_t length = read<uint16_t>(root + at);
                if (uint64_t(at) + 2 + 2 * uint64_t(length) > size)
                    fail("damaged: a resource name runs past the resource section");
                for (uint32_t c = 0; c < length; ++c)
                    entry.id.name.push_back(static_cast<char16_t>(read<uint16_t>(root + at + 2 + 2 * c)));
                if (length == 0)
                    fail("damaged: an empty resource name");
            } else {
                if (e.name > 0xFFFF)
                    fail("damaged: resource id " + std::to_string(e.name) + " is out of range");
                entry.id.id = static_cast<uint16_t>(e.name);
            }
            entry.subdirectory = e.offset & kResourceSubdirectory;
            entry.offset = e.offset & ~kResourceSubdirectory;
            entries.push_back(std::move(entry));
        }
        return entries;
    };

    // Three levels: type, name, language.
    for (const Entry &type : entriesAt(0)) {
        if (!type.subdirectory)
            fail("damaged: a resource type entry is not a directory");
        for (const Entry &name : entriesAt(type.offset)) {
            if (!name.subdirectory)
                fail("damaged: a resource name entry is not a directory");
            for (const Entry &language : entriesAt(name.offset)) {
                if (language.subdirectory || language.id.isName())
                    fail("damaged: a resource language entry is not data");
                if (uint64_t(language.offset) + sizeof(ResourceDataEntry) > size)
                    fail("damaged: a resource data entry lies outside the resource section");
                const auto data = read<ResourceDataEntry>(root + language.offset);
                if (!inImage(data.dataRva, data.size))
                    fail("damaged: resource data lies outside the image");
                Resource r;
                r.type = type.id;
                r.name = name.id;
                r.language = language.id.id;
                r.codePage = data.codePage;
                r.data = std::span<const uint8_t>(base_ + data.dataRva, data.size);
                resources_.push_back(std::move(r));
            }
        }
    }
}

std::vector<uint8_t> buildResFile(std::span<const Resource> resources)
{
    std::vector<uint8_t> out;
    // The empty entry that opens every .res file.
    put32(out, 0);
    put32(out, 32);
    putId(out, ResourceId{0, {}});
    putId(out, ResourceId{0, {}});
    put32(out, 0);
    put16(out, 0);
    put16(out, 0);
    put32(out, 0);
    put32(out, 0);

    for (const Resource &r : resources) {
        std::vector<uint8_t> header;
        putId(header, r.type);
        putId(header, r.name);
        pad4(header);
        put32(header, 0); // data version
        put16(header, kDefaultMemoryFlags);
        put16(header, r.language);
        put32(header, 0); // version
        put32(header, 0); // characteristics
        put32(out, static_cast<uint32_t>(r.data.size()));
        put32(out, static_cast<uint32_t>(header.size() + 8));
        out.insert(out.end(), header.begin(), header.end());
        out.insert(out.end(), r.data.begin(), r.data.end());
        pad4(out);
    }
    return out;
}

} // namespace corvane::pe
