// The resource directory of a PE image: three levels of directories (type,
// name, language) whose leaves describe the data by RVA.
#include "res_file.h"

#include "byte_reader.h"

namespace corvane {

using detail::fail;
using detail::read16;
using detail::read32;

namespace {

constexpr uint32_t kHighBit = 0x80000000u;
constexpr size_t kMaxResources = 1u << 16; // shared subdirectories could multiply entries without bound

struct Section {
    uint32_t virtualAddress;
    uint32_t rawSize;
    uint32_t rawOffset;
};

class Image {
public:
    Image(std::span<const uint8_t> bytes, PeLayout layout) : bytes_(bytes), layout_(layout) {}

    // Reads the headers; returns the resource directory's RVA and size (0, 0 when absent).
    std::pair<uint32_t, uint32_t> resourceDirectory()
    {
        if (bytes_.size() < 64 || bytes_[0] != 'M' || bytes_[1] != 'Z') {
            fail("not a PE image: no MZ header");
        }
        const uint32_t peOffset = read32(bytes_, 0x3C, "PE header offset");
        auto sig = detail::slice(bytes_, peOffset, 4, "PE signature");
        if (sig[0] != 'P' || sig[1] != 'E' || sig[2] != 0 || sig[3] != 0) {
            fail("not a PE image: no PE signature at offset " + std::to_string(peOffset));
        }
        const size_t coff = size_t{peOffset} + 4;
        const uint16_t sectionCount = read16(bytes_, coff + 2, "section count");
        const uint16_t optionalSize = read16(bytes_, coff + 16, "optional header size");
        const size_t optional = coff + 20;
        const uint16_t magic = read16(bytes_, optional, "optional header magic");
        size_t countField, directories;
        if (magic == 0x10B) {
            countField = 92;
            directories = 96;
        } else if (magic == 0x20B) {
            countField = 108;
            directories = 112;
        } else {
            fail("not a PE image: optional header magic " + std::to_string(magic));
        }

        const size_t sectionTable = optional + optionalSize;
        detail::slice(bytes_, sectionTable, size_t{sectionCount} * 40, "section table");
        for (size_t i = 0; i < sectionCount; ++i) {
            const size_t s = sectionTable + i * 40;
            sections_.push_back({read32(bytes_, s + 12, "section address"), read32(bytes_, s + 16, "section size"),
                                 read32(bytes_, s + 20, "section offset")});
        }

        // The resource directory is data directory 2, present only when the
        // optional header lists at least three.
        if (optionalSize < directories + 3 * 8 || read32(bytes_, optional + countField, "directory count") < 3) {
            return {0, 0};
        }
        return {read32(bytes_, optional + directories + 16, "resource directory address"),
                read32(bytes_, optional + directories + 20, "resource directory size")};
    }

    // The bytes at [rva, rva + size).
    std::span<const uint8_t> at(uint32_t rva, uint32_t size, const char *what) const
    {
        if (layout_ == PeLayout::Mapped) {
            return detail::slice(bytes_, rva, size, what);
        }
        for (const Section &s : sections_) {
            // An empty block may sit right at a section's end.
            if (rva >= s.virtualAddress && rva - s.virtualAddress < s.rawSize + uint64_t{size == 0}) {
                const uint32_t inSection = rva - s.virtualAddress;
                if (size > s.rawSize - inSection) {
                    fail(std::string(what) + ": " + std::to_string(size) + " bytes at RVA " + std::to_string(rva) +
                         " run past the end of their section");
                }
                // 64-bit sum: on 32-bit hosts a wrapped offset would land inside the bytes.
                const uint64_t fileOffset = uint64_t{s.rawOffset} + inSection;
                if (fileOffset > bytes_.size()) {
                    fail(std::string(what) + ": file offset " + std::to_string(fileOffset) + " lies past the end (" +
                         std::to_string(bytes_.size()) + " bytes)");
                }
                return detail::slice(bytes_, static_cast<size_t>(fileOffset), size, what);
            }
        }
        fail(std::string(what) + ": RVA " + std::to_string(rva) + " lies in no section's file data");
    }

private:
    std::span<const uint8_t> bytes_;
    PeLayout layout_;
    std::vector<Section> sections_;
};

struct DirEntry {
    ResName name;
    uint32_t target; // offset within the resource directory
    bool isDirectory;
};

std::vector<DirEntry> readDirectory(std::span<const uint8_t> dir, uint32_t offset, const char *level)
{
    const std::string what = std::string(level) + " directory at offset " + std::to_string(offset);
    const size_t count =
        size_t{read16(dir, size_t{offset} + 12, what.c_str())} + read16(dir, size_t{offset} + 14, what.c_str());
    detail::slice(dir, size_t{offset} + 16, count * 8, (what + ": entries").c_str());
    std::vector<DirEntry> entries;
    for (size_t i = 0; i < count; ++i) {
        const size_t e = size_t{offset} + 16 + i * 8;
        const uint32_t nameField = read32(dir, e, what.c_str());
        const uint32_t dataField = read32(dir, e + 4, what.c_str());
        DirEntry entry;
        if (nameField & kHighBit) {
            const uint32_t strOffset = nameField & ~kHighBit;
            const uint16_t length = read16(dir, strOffset, (what + ": entry name").c_str());
            entry.name.isId = false;
            entry.name.name = detail::utf16ToUtf8(dir, size_t{strOffset} + 2, length, (what + ": entry name").c_str());
        } else {
            entry.name.id = static_cast<uint16_t>(nameField);
        }
        entry.isDirectory = (dataField & kHighBit) != 0;
        entry.target = dataField & ~kHighBit;
        entries.push_back(std::move(entry));
    }
    return entries;
}

} // namespace

ResourceFile ResourceFile::parsePe(std::span<const uint8_t> image, PeLayout layout)
{
    Image pe(image, layout);
    const auto [rva, size] = pe.resourceDirectory();
    ResourceFile file;
    if (rva == 0 || size == 0) {
        return file;
    }
    const std::span<const uint8_t> dir = pe.at(rva, size, "resource directory");

    for (const DirEntry &type : readDirectory(dir, 0, "root")) {
        if (!type.isDirectory) {
            fail("resource directory: a type entry points at data, not at a name directory");
        }
        for (const DirEntry &name : readDirectory(dir, type.target, "name")) {
            if (!name.isDirectory) {
                fail("resource directory: a name entry points at data, not at a language directory");
            }
            for (const DirEntry &lang : readDirectory(dir, name.target, "language")) {
                if (lang.isDirectory || !lang.name.isId) {
                    fail("resource directory: a language entry is not a numbered data entry");
                }
                if (file.resources_.size() == kMaxResources) {
                    fail("resource directory: more than " + std::to_string(kMaxResources) + " resources");
                }
                const uint32_t dataRva = read32(dir, lang.target, "resource data entry");
                const uint32_t dataSize = read32(dir, size_t{lang.target} + 4, "resource data entry");
                file.resources_.push_back(
                    {type.name, name.name, lang.name.id, pe.at(dataRva, dataSize, "resource data")});
            }
        }
    }
    return file;
}

} // namespace corvane
