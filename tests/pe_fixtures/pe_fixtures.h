// The fixture DLLs of this folder: their paths and bytes, and damaged copies
// of the basic one, each with the message it must be refused with. The PE
// reader's tests read them on every build; the loader's load them.
#pragma once

#include "byte_reader.h"
#include "pe_format.h"

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace qmtest {

inline std::string fixture(const std::string &name)
{
    return std::string(QM_PE_FIXTURES) + "/" + name;
}

inline std::vector<uint8_t> readBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

using namespace corvane::pe;

// The fixture's bytes with the offsets of its records, for precise damage.
struct PeBytes {
    std::vector<uint8_t> bytes;
    uint32_t pe = 0, coff = 0, opt = 0, sections = 0;

    explicit PeBytes(std::vector<uint8_t> b) : bytes(std::move(b))
    {
        pe = get<uint32_t>(0x3C);
        coff = pe + 4;
        opt = coff + sizeof(FileHeader);
        sections = opt + get<uint16_t>(coff + offsetof(FileHeader, sizeOfOptionalHeader));
    }
    template <typename T> T get(uint32_t at) const { return corvane::detail::readRecord<T>(bytes, at, "a fixture"); }
    template <typename T> void set(uint32_t at, T v) { std::memcpy(&bytes[at], &v, sizeof v); }
    uint32_t optField(size_t offset) const { return opt + static_cast<uint32_t>(offset); }
    uint32_t directory(uint32_t index) const { return opt + sizeof(OptionalHeader32) + index * sizeof(DataDirectory); }
    uint32_t section(uint32_t index, size_t field) const
    {
        return sections + index * sizeof(SectionHeader) + static_cast<uint32_t>(field);
    }
    uint16_t sectionCount() const { return get<uint16_t>(coff + offsetof(FileHeader, numberOfSections)); }
    // File offset of an RVA, through the section that holds it.
    uint32_t fileOffset(uint32_t rva) const
    {
        for (uint16_t i = 0; i < sectionCount(); ++i) {
            const auto s = get<SectionHeader>(section(i, 0));
            if (rva >= s.virtualAddress && rva < s.virtualAddress + s.sizeOfRawData)
                return s.pointerToRawData + (rva - s.virtualAddress);
        }
        throw std::runtime_error("rva not in the file");
    }
    uint32_t rawEnd() const
    {
        uint32_t end = 0;
        for (uint16_t i = 0; i < sectionCount(); ++i) {
            const auto s = get<SectionHeader>(section(i, 0));
            end = std::max(end, s.pointerToRawData + s.sizeOfRawData);
        }
        return end;
    }
};

inline PeBytes basic()
{
    return PeBytes(readBytes(fixture("pe_basic.dll")));
}

struct DamageCase {
    const char *name;
    std::function<void(PeBytes &)> damage;
    const char *message;
    bool forceRelocation = false;
};

inline const DamageCase kDamage[] = {
    {"empty", [](PeBytes &f) { f.bytes.clear(); }, "not a PE file: only 0 bytes long"},
    {"text",
     [](PeBytes &f) {
         f.bytes.assign({'h', 'e', 'l', 'l', 'o', '\n'});
     },
     "not a PE file"},
    {"elf",
     [](PeBytes &f) {
         std::memcpy(f.bytes.data(),
                     "\x7f"
                     "ELF",
                     4);
     },
     "no MZ signature"},
    {"pe_offset_past_end", [](PeBytes &f) { f.set<uint32_t>(0x3C, 0x7FFFFFF0); }, "lies beyond the end"},
    {"no_pe_signature", [](PeBytes &f) { f.bytes[f.pe] = 'X'; }, "no PE signature"},
    {"arm_machine", [](PeBytes &f) { f.set<uint16_t>(f.coff, 0x01C0); }, "machine type 0x1c0"},
    {"amd64_machine", [](PeBytes &f) { f.set<uint16_t>(f.coff, kMachineAmd64); }, "64-bit (x86-64)"},
    {"pe32_plus_header", [](PeBytes &f) { f.set<uint16_t>(f.opt, kOptionalMagicPe32Plus); }, "64-bit (PE32+)"},
    {"rom_header", [](PeBytes &f) { f.set<uint16_t>(f.opt, 0x0107); }, "unknown optional header magic"},
    {"program_not_dll",
     [](PeBytes &f) {
         const auto c = f.get<uint16_t>(f.coff + offsetof(FileHeader, characteristics));
         f.set<uint16_t>(f.coff + offsetof(FileHeader, characteristics), c & ~kFileDll);
     },
     "a program, not a DLL"},
    {"short_optional_header",
     [](PeBytes &f) { f.set<uint16_t>(f.coff + offsetof(FileHeader, sizeOfOptionalHeader), 64); }, "too short"},
    {"directories_past_optional_header",
     [](PeBytes &f) { f.set<uint16_t>(f.coff + offsetof(FileHeader, sizeOfOptionalHeader), 100); },
     "too short for its data directories"},
    {"odd_section_alignment",
     [](PeBytes &f) { f.set<uint32_t>(f.optField(offsetof(OptionalHeader32, sectionAlignment)), 0x3000); },
     "not a power of two"},
    {"zero_image_size", [](PeBytes &f) { f.set<uint32_t>(f.optField(offsetof(OptionalHeader32, sizeOfImage)), 0); },
     "image size 0x0 is out of range"},
    {"huge_image_size",
     [](PeBytes &f) { f.set<uint32_t>(f.optField(offsetof(OptionalHeader32, sizeOfImage)), 0xFFFFF000); },
     "out of range"},
    {"headers_past_file",
     [](PeBytes &f) {
         f.set<uint32_t>(f.optField(offsetof(OptionalHeader32, sizeOfImage)), 0x10000000);
         f.set<uint32_t>(f.optField(offsetof(OptionalHeader32, sizeOfHeaders)), 0x1000000);
     },
     "truncated: the headers need"},
    {"no_sections", [](PeBytes &f) { f.set<uint16_t>(f.coff + offsetof(FileHeader, numberOfSections), 0); },
     "0 sections"},
    {"section_table_past_end",
     [](PeBytes &f) {
         // All the headers are there, but not 96 section entries.
         f.set<uint16_t>(f.coff + offsetof(FileHeader, numberOfSections), 96);
         f.bytes.resize(f.get<uint32_t>(f.optField(offsetof(OptionalHeader32, sizeOfHeaders))));
     },
     "section table runs past the end"},
    {"section_beyond_image",
     [](PeBytes &f) { f.set<uint32_t>(f.section(0, offsetof(SectionHeader, virtualSize)), 0x7FFFFFFF); },
     "section .text extends beyond the image"},
    {"section_data_past_end",
     [](PeBytes &f) {
         // Aligned, so only the file's end is wrong.
         f.set<uint32_t>(f.section(1, offsetof(SectionHeader, pointerToRawData)),
                         static_cast<uint32_t>((f.bytes.size() + 0x1FF) & ~0x1FF));
     },
     "truncated: section .data needs file bytes"},
    {"sections_overlap",
     [](PeBytes &f) { f.set<uint32_t>(f.section(1, offsetof(SectionHeader, virtualAddress)), 0x1000); },
     "section .data overlaps section .text"},
    {"section_unaligned_over_headers",
     [](PeBytes &f) { f.set<uint32_t>(f.section(0, offsetof(SectionHeader, virtualAddress)), 0x200); },
     "section .text at 0x200 is not aligned to the section alignment 0x1000"},
    {"section_over_headers",
     [](PeBytes &f) { f.set<uint32_t>(f.section(0, offsetof(SectionHeader, virtualAddress)), 0); },
     "section .text at 0x0 lies over the headers"},
    {"section_file_data_unaligned",
     [](PeBytes &f) { f.set<uint32_t>(f.section(0, offsetof(SectionHeader, pointerToRawData)), 0x401); },
     "section .text's file data at 0x401 is not aligned to the file alignment 0x200"},
    {"section_file_data_over_headers",
     [](PeBytes &f) { f.set<uint32_t>(f.section(0, offsetof(SectionHeader, pointerToRawData)), 0x200); },
     "section .text's file data at 0x200 lies over the headers"},
    {"directory_across_sections", [](PeBytes &f) { f.set<uint32_t>(f.directory(kDirExport) + 4, 0x1100); },
     "the export table at 0x6000 (4352 bytes) does not lie inside one section"},
    {"entry_not_executable",
     [](PeBytes &f) { f.set<uint32_t>(f.optField(offsetof(OptionalHeader32, addressOfEntryPoint)), 0x3000); },
     "the entry point at 0x3000 lies in section .rdata, which is not executable"},
    {"entry_outside",
     [](PeBytes &f) { f.set<uint32_t>(f.optField(offsetof(OptionalHeader32, addressOfEntryPoint)), 0x900000); },
     "entry point 0x900000 lies outside"},
    {"import_table_outside", [](PeBytes &f) { f.set<uint32_t>(f.directory(kDirImport), 0x7FFF0000); },
     "the import table at 0x7fff0000 (164 bytes) does not lie inside one section"},
    {"import_name_outside",
     [](PeBytes &f) {
         const uint32_t d = f.fileOffset(f.get<uint32_t>(f.directory(kDirImport)));
         f.set<uint32_t>(d + offsetof(ImportDescriptor, name), 0x7FFF0000);
     },
     "outside the image"},
    {"import_table_moved_to_zeros",
     [](PeBytes &f) {
         // Into .bss: no descriptors there, so the image's slots would stay unbound.
         f.set<uint32_t>(f.directory(kDirImport), 0x5000);
         f.set<uint32_t>(f.directory(kDirImport) + 4, 0x60);
     },
     "the import address table slot at 0x703c is not named by the import table"},
    {"import_descriptors_past_table", [](PeBytes &f) { f.set<uint32_t>(f.directory(kDirImport) + 4, 20); },
     "the import descriptors run past the end of the import table"},
    {"import_address_table_in_headers",
     [](PeBytes &f) {
         const uint32_t d = f.fileOffset(f.get<uint32_t>(f.directory(kDirImport)));
         f.set<uint32_t>(d + offsetof(ImportDescriptor, firstThunk), 0x100);
     },
     "the address table for PeFixtureHost.dll at 0x100 runs outside the image's sections"},
    {"import_without_address_table",
     [](PeBytes &f) {
         const uint32_t d = f.fileOffset(f.get<uint32_t>(f.directory(kDirImport)));
         f.set<uint32_t>(d + offsetof(ImportDescriptor, firstThunk), 0);
     },
     "have no address table"},
    {"export_tables_outside",
     [](PeBytes &f) {
         const uint32_t e = f.fileOffset(f.get<uint32_t>(f.directory(kDirExport)));
         f.set<uint32_t>(e + offsetof(ExportDirectory, numberOfNames), 0x40000000);
     },
     "export tables lie outside"},
    {"resource_directory_outside", [](PeBytes &f) { f.set<uint32_t>(f.directory(kDirResource) + 4, 0x7FFFFFFF); },
     "the resource directory at 0x9000 (2147483647 bytes) does not lie inside one section"},
    {"resource_entry_count",
     [](PeBytes &f) {
         const uint32_t r = f.fileOffset(f.get<uint32_t>(f.directory(kDirResource)));
         f.set<uint16_t>(r + offsetof(ResourceDirectory, numberOfIdEntries), 0x7FFF);
     },
     "runs past the resource section"},
    {"resource_loop",
     [](PeBytes &f) {
         // The first type's name directory is the root again.
         const uint32_t r = f.fileOffset(f.get<uint32_t>(f.directory(kDirResource)));
         f.set<uint32_t>(r + sizeof(ResourceDirectory) + 4, kResourceSubdirectory | 0);
     },
     "loop"},
    {"resource_data_outside",
     [](PeBytes &f) {
         // The CUSTOM resource's data entry (see the fixture's layout) points away.
         const uint32_t rva = f.get<uint32_t>(f.directory(kDirResource));
         const uint32_t r = f.fileOffset(rva);
         const auto typeEntry = f.get<ResourceDirectoryEntry>(r + sizeof(ResourceDirectory));
         const uint32_t names = r + (typeEntry.offset & ~kResourceSubdirectory);
         const auto nameEntry = f.get<ResourceDirectoryEntry>(names + sizeof(ResourceDirectory));
         const uint32_t langs = r + (nameEntry.offset & ~kResourceSubdirectory);
         const auto langEntry = f.get<ResourceDirectoryEntry>(langs + sizeof(ResourceDirectory));
         f.set<uint32_t>(r + langEntry.offset + offsetof(ResourceDataEntry, dataRva), 0x7FFF0000);
     },
     "resource data lies outside"},
    {"tls_callbacks_outside",
     [](PeBytes &f) {
         const uint32_t t = f.fileOffset(f.get<uint32_t>(f.directory(kDirTls)));
         f.set<uint32_t>(t + offsetof(TlsDirectory32, addressOfCallbacks), 0x10);
     },
     "TLS callback list lies outside"},
    {"tls_template_reversed",
     [](PeBytes &f) {
         const uint32_t t = f.fileOffset(f.get<uint32_t>(f.directory(kDirTls)));
         f.set<uint32_t>(t + offsetof(TlsDirectory32, endAddressOfRawData), 0x63000000);
     },
     "TLS template lies outside"},
    {"relocation_block_size",
     [](PeBytes &f) {
         const uint32_t r = f.fileOffset(f.get<uint32_t>(f.directory(kDirBaseReloc)));
         f.set<uint32_t>(r + offsetof(BaseRelocationBlock, blockSize), 3);
     },
     "relocation block", true},
    {"relocation_type",
     [](PeBytes &f) {
         const uint32_t r = f.fileOffset(f.get<uint32_t>(f.directory(kDirBaseReloc)));
         f.set<uint16_t>(r + sizeof(BaseRelocationBlock), 0xA000);
     },
     "unsupported relocation type 10", true},
    {"relocation_target_outside",
     [](PeBytes &f) {
         const uint32_t r = f.fileOffset(f.get<uint32_t>(f.directory(kDirBaseReloc)));
         f.set<uint32_t>(r, 0x7FFF0000);
     },
     "a relocation targets", true},
    {"relocation_into_headers",
     [](PeBytes &f) {
         const uint32_t r = f.fileOffset(f.get<uint32_t>(f.directory(kDirBaseReloc)));
         f.set<uint32_t>(r, 0);
     },
     "a relocation targets 0x", true},
};

} // namespace qmtest
