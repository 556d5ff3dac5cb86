// A Windows executable read as data: its headers, and the import, export,
// relocation and TLS tables of an image laid out as it is mapped. This is
// the part of loading a module that needs no mapping and runs no code of
// it, so it builds and is tested on every platform; the 32-bit loader maps
// what these functions describe.
//
// Two layouts: a file (sections at their raw offsets) and an image (each
// section at its RVA, so an RVA is an offset into the bytes). The headers
// lie at the same offsets in both.
//
// Faults throw FormatError saying what is wrong and where; nothing is read
// outside the given bytes. Messages start "not a PE file", "truncated" or
// "damaged", after what the reader found.
#pragma once

#include "byte_reader.h"
#include "pe_format.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::pe {

// An address or size for messages: "0x63000000".
std::string hex(uint64_t value);

// Whether the bytes start like a Windows executable ("MZ").
bool looksLikePe(std::span<const uint8_t> head);

// In this order the packed records stay on 4-byte boundaries.
struct Headers {
    uint32_t peOffset = 0; // of the "PE\0\0" signature
    FileHeader file{};
    OptionalHeader32 optional{};                        // PE32 only; a PE32+ image leaves it empty
    std::array<DataDirectory, kDirCount> directories{}; // those the header lacks are empty
    std::vector<SectionHeader> sections;
    bool pe32Plus = false;

    uint32_t optionalOffset() const { return peOffset + 4 + sizeof(FileHeader); }
    const DataDirectory &directory(DirectoryIndex index) const { return directories[index]; }
};

// The DOS, COFF and optional headers, the data directories and the section
// table. With `only32BitX86`, a header for another machine or a PE32+
// header is refused as soon as it is seen.
Headers readHeaders(std::span<const uint8_t> bytes, bool only32BitX86 = false);

// What the loader needs beyond well-formed headers, checked before anything
// is mapped: a DLL whose alignments and sizes fit its image and the file;
// whose sections lie inside the file, are aligned, overlap neither each
// other nor the headers and fit the image; each of whose data directories
// lies inside one section; and whose entry point lies in executable code.
// Each refusal names the check that failed.
void checkLoadable(const Headers &headers, uint64_t fileSize);

// The section whose memory holds [rva, rva + size), or null.
const SectionHeader *sectionHolding(const Headers &headers, uint64_t rva, uint64_t size);

// Refuses code the host is about to call (`what`, e.g. "the export main")
// unless its address lies in an executable section.
void checkExecutable(const Headers &headers, uint32_t rva, const std::string &what);

// The image's size rounded up to whole pages, as it is mapped.
uint32_t mappedSize(const Headers &headers);

// Copies the headers and each section's file data to their places in
// `image` (mappedSize bytes, zero-filled). The headers must have passed
// checkLoadable.
void layOut(std::span<const uint8_t> file, const Headers &headers, std::span<uint8_t> image);

// The bytes [rva, rva + size) of a file, found through its section table.
std::span<const uint8_t> fileBytesAt(std::span<const uint8_t> file, const Headers &headers, uint32_t rva, uint32_t size,
                                     const char *what);

// The bytes [rva, rva + size) of a laid-out image.
std::span<const uint8_t> imageBytesAt(std::span<const uint8_t> image, uint32_t rva, uint32_t size, const char *what);

// ---------------------------------------------------------------------------
// Tables of a laid-out image

struct Import {
    std::string name;     // empty when imported by ordinal
    uint16_t ordinal = 0; // the ordinal, or the name's hint
    uint32_t slot = 0;    // RVA of the address-table entry that receives it
};

struct ImportedDll {
    std::string dll; // as the image spells it, e.g. "KERNEL32.dll"
    std::vector<Import> imports;
};

// Every import, DLL by DLL in table order. The descriptors end inside the
// import directory, every address-table slot lies inside a section, and
// every slot of the image's import address table is one of them, so a bound
// image calls nothing through an unbound slot.
std::vector<ImportedDll> readImports(std::span<const uint8_t> image, const Headers &headers);

// The export directory; entries are looked up in the image when asked for.
class ExportTable {
public:
    ExportTable() = default;
    // Refuses a directory whose tables lie outside the image.
    ExportTable(std::span<const uint8_t> image, const DataDirectory &table);

    // The RVA of the export; 0 when absent, outside the image or forwarded
    // to another DLL.
    uint32_t find(uint16_t ordinal) const;
    uint32_t find(std::string_view name) const;
    std::vector<std::string> names() const;

private:
    std::span<const uint8_t> image_;
    DataDirectory table_{};
    ExportDirectory directory_{};
};

struct Relocation {
    uint32_t rva = 0;
    uint16_t type = 0; // kRelHigh, kRelLow or kRelHighLow
};

// The base relocations (padding left out), each checked to land inside a
// section of the image and to be of a type this reader applies.
std::vector<Relocation> readRelocations(std::span<const uint8_t> image, const Headers &headers);

// Adds `delta` (new base minus preferred base) at every relocation.
void applyRelocations(std::span<uint8_t> image, std::span<const Relocation> relocations, uint32_t delta);

// The static TLS template, with its addresses made RVAs against `base`.
struct TlsTemplate {
    uint32_t start = 0, end = 0; // the template's bytes
    uint32_t indexRva = 0;       // where the slot index is written
    bool hasCallbacks = false;
    uint32_t callbacksRva = 0; // a null-terminated list of callback VAs
    uint32_t zeroFill = 0;
};

TlsTemplate readTls(std::span<const uint8_t> image, const DataDirectory &table, uint32_t base);

// The Windows protection of each page: headers read-only, each section's
// pages as its flags say, the rest no access. When sections share pages,
// every page is execute-read-write.
std::vector<uint16_t> pageProtections(const Headers &headers);

} // namespace corvane::pe
