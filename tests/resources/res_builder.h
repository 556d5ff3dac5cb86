// Builds compiled-resource images for the reader's tests: .res images and
// minimal PE images with a resource directory.
#pragma once

#include "byte_reader.h"

#include <gmock/gmock.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <variant>
#include <vector>

namespace qmtest {

// Expects `read` to refuse its bytes with a message that holds `message`.
template <typename Read> void expectRefused(Read read, const std::string &message)
{
    try {
        read();
        ADD_FAILURE() << "accepted";
    } catch (const corvane::FormatError &e) {
        EXPECT_THAT(e.what(), testing::HasSubstr(message));
    }
}

using Bytes = std::vector<uint8_t>;
using ResKey = std::variant<uint16_t, std::u16string>; // ordinal or string

inline void put16(Bytes &b, uint16_t v)
{
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

inline void put32(Bytes &b, uint32_t v)
{
    put16(b, static_cast<uint16_t>(v));
    put16(b, static_cast<uint16_t>(v >> 16));
}

inline void set32(Bytes &b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

inline void pad4(Bytes &b)
{
    while (b.size() % 4) {
        b.push_back(0);
    }
}

inline void putKey(Bytes &b, const ResKey &key)
{
    if (const auto *id = std::get_if<uint16_t>(&key)) {
        put16(b, 0xFFFF);
        put16(b, *id);
    } else {
        for (char16_t c : std::get<std::u16string>(key)) {
            put16(b, c);
        }
        put16(b, 0);
    }
}

struct Entry {
    ResKey type;
    ResKey name;
    uint16_t language;
    Bytes data;
};

// A .res image; `ends` receives, per entry, the offset where its data ends
// (before padding).
inline Bytes buildRes(const std::vector<Entry> &entries, std::vector<size_t> *ends = nullptr)
{
    Bytes b = {0, 0, 0, 0, 0x20, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0};
    b.resize(32, 0);
    for (const Entry &e : entries) {
        const size_t start = b.size();
        put32(b, static_cast<uint32_t>(e.data.size()));
        put32(b, 0); // header size, patched below
        putKey(b, e.type);
        putKey(b, e.name);
        pad4(b);
        put32(b, 0);          // data version
        put16(b, 0x1030);     // memory flags
        put16(b, e.language); // language
        put32(b, 0);          // version
        put32(b, 0);          // characteristics
        set32(b, start + 4, static_cast<uint32_t>(b.size() - start));
        b.insert(b.end(), e.data.begin(), e.data.end());
        if (ends) {
            ends->push_back(b.size());
        }
        pad4(b);
    }
    return b;
}

// A PE32 image with one section holding the resource directory built from
// `entries` (grouped by type, then name, each with one language).
struct PeImage {
    Bytes file;   // as stored on disk
    Bytes mapped; // as loaded: the section at its virtual address
    uint32_t sectionRva = 0x2000;
    uint32_t sectionFileOffset = 0x400;
    size_t dirOffset = 0; // file offset of the resource directory
};

inline Bytes buildResourceDirectory(const std::vector<Entry> &entries, uint32_t sectionRva)
{
    // Layout: root directory, then per type a name directory, then per
    // name a language directory, then data entries, strings and data.
    // One type/name per entry keeps the builder simple; tests need no more.
    const size_t n = entries.size();
    const size_t dirSize = 16 + 8 * n;            // root
    const size_t nameDirs = dirSize;              // n name directories, one entry each
    const size_t langDirs = nameDirs + n * 24;    // n language directories, one entry each
    const size_t dataEntries = langDirs + n * 24; // n data entries of 16 bytes
    size_t strings = dataEntries + n * 16;

    Bytes b(strings, 0);
    auto dirHeader = [&](size_t at, uint16_t named, uint16_t ids) {
        b[at + 12] = static_cast<uint8_t>(named);
        b[at + 14] = static_cast<uint8_t>(ids);
    };
    size_t namedTypes = 0;
    for (const Entry &e : entries) {
        namedTypes += std::holds_alternative<std::u16string>(e.type);
    }
    dirHeader(0, static_cast<uint16_t>(namedTypes), static_cast<uint16_t>(n - namedTypes));

    auto nameField = [&](const ResKey &key) -> uint32_t {
        if (const auto *id = std::get_if<uint16_t>(&key)) {
            return *id;
        }
        const auto &s = std::get<std::u16string>(key);
        const size_t at = b.size();
        put16(b, static_cast<uint16_t>(s.size()));
        for (char16_t c : s) {
            put16(b, c);
        }
        return 0x80000000u | static_cast<uint32_t>(at);
    };

    // Named entries come first in a directory.
    std::vector<size_t> order;
    for (size_t i = 0; i < n; ++i) {
        if (std::holds_alternative<std::u16string>(entries[i].type))
            order.push_back(i);
    }
    for (size_t i = 0; i < n; ++i) {
        if (!std::holds_alternative<std::u16string>(entries[i].type))
            order.push_back(i);
    }

    std::vector<uint32_t> dataRvas(n);
    for (size_t slot = 0; slot < n; ++slot) {
        const size_t i = order[slot];
        const Entry &e = entries[i];
        const size_t nameDir = nameDirs + slot * 24;
        const size_t langDir = langDirs + slot * 24;
        const size_t dataEntry = dataEntries + slot * 16;
        set32(b, 16 + slot * 8, nameField(e.type));
        set32(b, 16 + slot * 8 + 4, 0x80000000u | static_cast<uint32_t>(nameDir));
        const bool namedName = std::holds_alternative<std::u16string>(e.name);
        dirHeader(nameDir, namedName ? 1 : 0, namedName ? 0 : 1);
        set32(b, nameDir + 16, nameField(e.name));
        set32(b, nameDir + 20, 0x80000000u | static_cast<uint32_t>(langDir));
        dirHeader(langDir, 0, 1);
        set32(b, langDir + 16, e.language);
        set32(b, langDir + 20, static_cast<uint32_t>(dataEntry));
    }
    pad4(b);
    for (size_t slot = 0; slot < n; ++slot) {
        const Entry &e = entries[order[slot]];
        const size_t dataEntry = dataEntries + slot * 16;
        set32(b, dataEntry, sectionRva + static_cast<uint32_t>(b.size()));
        set32(b, dataEntry + 4, static_cast<uint32_t>(e.data.size()));
        b.insert(b.end(), e.data.begin(), e.data.end());
        pad4(b);
    }
    return b;
}

inline PeImage buildPe(const std::vector<Entry> &entries, bool withResources = true)
{
    PeImage pe;
    const Bytes rsrc = withResources ? buildResourceDirectory(entries, pe.sectionRva) : Bytes(16, 0);
    Bytes &f = pe.file;
    f.assign(pe.sectionFileOffset, 0);
    f[0] = 'M';
    f[1] = 'Z';
    set32(f, 0x3C, 0x80);
    size_t p = 0x80;
    f[p] = 'P';
    f[p + 1] = 'E';
    const size_t coff = p + 4;
    f[coff] = 0x4C; // i386
    f[coff + 1] = 0x01;
    f[coff + 2] = 1;    // one section
    f[coff + 16] = 224; // optional header size
    const size_t opt = coff + 20;
    f[opt] = 0x0B; // PE32
    f[opt + 1] = 0x01;
    set32(f, opt + 92, 16); // data directories
    if (withResources) {
        set32(f, opt + 96 + 16, pe.sectionRva);
        set32(f, opt + 96 + 20, static_cast<uint32_t>(rsrc.size()));
    }
    const size_t sec = opt + 224;
    std::memcpy(&f[sec], ".rsrc", 5);
    set32(f, sec + 8, static_cast<uint32_t>(rsrc.size()));
    set32(f, sec + 12, pe.sectionRva);
    set32(f, sec + 16, static_cast<uint32_t>(rsrc.size()));
    set32(f, sec + 20, pe.sectionFileOffset);
    f.insert(f.end(), rsrc.begin(), rsrc.end());
    pe.dirOffset = pe.sectionFileOffset;

    pe.mapped.assign(pe.sectionRva, 0);
    std::copy(f.begin(), f.begin() + pe.sectionFileOffset, pe.mapped.begin());
    pe.mapped.insert(pe.mapped.end(), rsrc.begin(), rsrc.end());
    return pe;
}

} // namespace qmtest
