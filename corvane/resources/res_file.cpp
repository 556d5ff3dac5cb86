#include "res_file.h"

#include "byte_reader.h"
#include "text/encoding.h"

#include <algorithm>

namespace corvane {

using detail::fail;
using detail::read16;
using detail::read32;

namespace {

// DataSize, HeaderSize, then type and name (4 bytes each at least), then
// DataVersion, MemoryFlags, LanguageId, Version, Characteristics.
constexpr size_t kMinHeaderSize = 8 + 4 + 4 + 16;
constexpr size_t kTrailerSize = 16;

size_t alignUp4(size_t n)
{
    return (n + 3) & ~static_cast<size_t>(3);
}

std::string where(size_t index, size_t offset)
{
    return "resource entry " + std::to_string(index) + " at offset " + std::to_string(offset);
}

// Reads a type or name field inside the header [header, headerEnd) at *pos.
ResName readName(std::span<const uint8_t> header, size_t &pos, const std::string &context, const char *field)
{
    std::string what = context + ": " + field;
    ResName result;
    if (read16(header, pos, what.c_str()) == 0xFFFF) {
        result.isId = true;
        result.id = read16(header, pos + 2, what.c_str());
        pos += 4;
        return result;
    }
    size_t count = 0;
    for (size_t p = pos;; p += 2, ++count) {
        if (!detail::fits(header.size(), p, 2)) {
            fail(what + " string has no terminating zero inside the header");
        }
        if (read16(header, p, what.c_str()) == 0) {
            break;
        }
    }
    result.isId = false;
    result.name = text::utf16leToUtf8(detail::slice(header, pos, count * 2, what.c_str()));
    pos += (count + 1) * 2;
    return result;
}

bool sameAsciiNoCase(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

// Reads the entry at `offset`; returns where its data ends.
size_t readEntry(std::span<const uint8_t> bytes, size_t offset, size_t index, Resource &res)
{
    const std::string context = where(index, offset);
    const uint32_t dataSize = read32(bytes, offset, (context + ": DataSize").c_str());
    const uint32_t headerSize = read32(bytes, offset + 4, (context + ": HeaderSize").c_str());
    if (headerSize < kMinHeaderSize || headerSize % 4 != 0) {
        fail(context + ": HeaderSize " + std::to_string(headerSize) + " is not a multiple of 4 of at least " +
             std::to_string(kMinHeaderSize));
    }
    auto header = detail::slice(bytes, offset, headerSize, (context + ": header").c_str());

    size_t pos = 8;
    res.type = readName(header, pos, context, "type");
    res.name = readName(header, pos, context, "name");
    pos = alignUp4(pos);
    if (!detail::fits(header.size(), pos, kTrailerSize)) {
        fail(context + ": HeaderSize " + std::to_string(headerSize) +
             " leaves no room for the fixed fields after type and name");
    }
    res.language = read16(header, pos + 6, "language");
    res.data = detail::slice(bytes, offset + headerSize, dataSize, (context + ": data").c_str());
    return offset + headerSize + dataSize;
}

// A 32-bit .res image opens with an empty entry: no data, a 32-byte header,
// ordinal type 0 and ordinal name 0. Its absence means a 16-bit resource
// file or something else altogether.
constexpr uint8_t kLeadEntry[16] = {0, 0, 0, 0, 0x20, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0};
constexpr size_t kLeadEntrySize = 32;

} // namespace

bool ResourceFile::opensResImage(std::span<const uint8_t> bytes)
{
    return bytes.size() >= kLeadEntrySize && std::equal(std::begin(kLeadEntry), std::end(kLeadEntry), bytes.begin());
}

ResourceFile ResourceFile::parse(std::span<const uint8_t> bytes)
{
    if (bytes.size() < kLeadEntrySize) {
        fail("not a 32-bit resource file: " + std::to_string(bytes.size()) +
             " bytes, shorter than the 32-byte empty entry it opens with");
    }
    if (!opensResImage(bytes)) {
        fail("not a 32-bit resource file: it does not open with the 32-byte empty entry");
    }

    ResourceFile file;
    size_t offset = kLeadEntrySize;
    for (size_t index = 1; offset < bytes.size(); ++index) {
        Resource res;
        const size_t end = readEntry(bytes, offset, index, res);
        file.resources_.push_back(std::move(res));
        // The next entry starts on a 4-byte boundary; the last one may end
        // without its padding.
        offset = std::min(alignUp4(end), bytes.size());
    }
    return file;
}

std::vector<size_t> ResourceFile::entryEnds(std::span<const uint8_t> bytes, size_t maxEntries)
{
    std::vector<size_t> ends;
    if (!opensResImage(bytes)) {
        return ends;
    }
    try {
        for (size_t offset = kLeadEntrySize; offset < bytes.size() && ends.size() < maxEntries;) {
            Resource res;
            ends.push_back(readEntry(bytes, offset, ends.size() + 1, res));
            offset = alignUp4(ends.back());
        }
    } catch (const FormatError &) {
        // the image ends before this entry
    }
    return ends;
}

const Resource *ResourceFile::find(uint16_t typeId, uint16_t nameId) const
{
    for (const Resource &r : resources_) {
        if (r.type.isId && r.type.id == typeId && r.name.isId && r.name.id == nameId) {
            return &r;
        }
    }
    return nullptr;
}

const Resource *ResourceFile::find(std::string_view typeName, uint16_t nameId) const
{
    for (const Resource &r : resources_) {
        if (!r.type.isId && sameAsciiNoCase(r.type.name, typeName) && r.name.isId && r.name.id == nameId) {
            return &r;
        }
    }
    return nullptr;
}

} // namespace corvane
