// The resource directory of a PE image: three levels of directories (type,
// name, language) whose leaves describe the data by RVA.
#include "res_file.h"

#include "byte_reader.h"
#include "pe_file.h"
#include "text/encoding.h"

namespace corvane {

using detail::fail;
using detail::read16;

namespace {

constexpr size_t kMaxResources = 1u << 16; // shared subdirectories could multiply entries without bound

struct DirEntry {
    ResName name;
    uint32_t target; // offset within the resource directory
    bool isDirectory;
};

std::vector<DirEntry> readDirectory(std::span<const uint8_t> dir, uint32_t offset, const char *level)
{
    const std::string what = std::string("the ") + level + " directory at offset " + std::to_string(offset);
    if (!detail::fits(dir.size(), offset, sizeof(pe::ResourceDirectory)))
        fail("damaged: " + what + " lies outside the resource section");
    const auto header = detail::readRecord<pe::ResourceDirectory>(dir, offset, what.c_str());
    const size_t count = size_t{header.numberOfNamedEntries} + header.numberOfIdEntries;
    if (!detail::fits(dir.size(), size_t{offset} + sizeof header, count * sizeof(pe::ResourceDirectoryEntry)))
        fail("damaged: " + what + " runs past the resource section");
    std::vector<DirEntry> entries;
    for (size_t i = 0; i < count; ++i) {
        const auto e = detail::readRecord<pe::ResourceDirectoryEntry>(
            dir, size_t{offset} + sizeof header + i * sizeof(pe::ResourceDirectoryEntry), what.c_str());
        DirEntry entry;
        if (e.name & pe::kResourceNameIsString) {
            const uint32_t strOffset = e.name & ~pe::kResourceNameIsString;
            const uint16_t length = read16(dir, strOffset, (what + ": entry name").c_str());
            if (length == 0)
                fail("damaged: " + what + " holds an empty resource name");
            entry.name.isId = false;
            entry.name.name = text::utf16leToUtf8(
                detail::slice(dir, size_t{strOffset} + 2, size_t{length} * 2, (what + ": entry name").c_str()));
        } else {
            if (e.name > 0xFFFF)
                fail("damaged: resource id " + std::to_string(e.name) + " is out of range");
            entry.name.id = static_cast<uint16_t>(e.name);
        }
        entry.isDirectory = (e.offset & pe::kResourceSubdirectory) != 0;
        entry.target = e.offset & ~pe::kResourceSubdirectory;
        entries.push_back(std::move(entry));
    }
    return entries;
}

[[noreturn]] void failLoop()
{
    fail("damaged: the resource directories refer to each other in a loop");
}

} // namespace

ResourceFile ResourceFile::parsePe(std::span<const uint8_t> image, PeLayout layout)
{
    const pe::Headers headers = pe::readHeaders(image);
    const pe::DataDirectory &where = headers.directory(pe::kDirResource);
    ResourceFile file;
    if (where.rva == 0 || where.size == 0) {
        return file;
    }
    const auto at = [&](uint32_t rva, uint32_t size, const char *what) {
        return layout == PeLayout::Mapped ? pe::imageBytesAt(image, rva, size, what)
                                          : pe::fileBytesAt(image, headers, rva, size, what);
    };
    const std::span<const uint8_t> dir = at(where.rva, where.size, "the resource directory");

    // Three levels, each directory below the one before; one that is also
    // its own ancestor closes a loop.
    for (const DirEntry &type : readDirectory(dir, 0, "root")) {
        if (!type.isDirectory) {
            fail("damaged: a resource type entry is not a directory");
        }
        if (type.target == 0) {
            failLoop();
        }
        for (const DirEntry &name : readDirectory(dir, type.target, "name")) {
            if (!name.isDirectory) {
                fail("damaged: a resource name entry is not a directory");
            }
            if (name.target == 0 || name.target == type.target) {
                failLoop();
            }
            for (const DirEntry &lang : readDirectory(dir, name.target, "language")) {
                if (lang.isDirectory || !lang.name.isId) {
                    fail("damaged: a resource language entry is not a numbered data entry");
                }
                if (file.resources_.size() == kMaxResources) {
                    fail("damaged: more than " + std::to_string(kMaxResources) + " resources");
                }
                if (!detail::fits(dir.size(), lang.target, sizeof(pe::ResourceDataEntry))) {
                    fail("damaged: a resource data entry lies outside the resource section");
                }
                const auto data = detail::readRecord<pe::ResourceDataEntry>(dir, lang.target, "a resource data entry");
                file.resources_.push_back(
                    {type.name, name.name, lang.name.id, at(data.dataRva, data.size, "resource data")});
            }
        }
    }
    return file;
}

} // namespace corvane
