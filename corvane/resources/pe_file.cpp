#include "pe_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace corvane::pe {

using detail::fail;

namespace {

constexpr uint32_t kMaxImageSize = 512u << 20;
constexpr uint32_t kMaxSections = 96;
constexpr size_t kMaxImports = 1u << 16; // a damaged table could otherwise name millions

uint32_t alignUp(uint32_t v, uint32_t a)
{
    return static_cast<uint32_t>((uint64_t(v) + a - 1) / a * a);
}

bool isPowerOfTwo(uint32_t v)
{
    return v != 0 && (v & (v - 1)) == 0;
}

// 64-bit sums: on 32-bit hosts an RVA plus a count could wrap into range.
bool inside(std::span<const uint8_t> image, uint64_t offset, uint64_t bytes)
{
    return offset <= image.size() && bytes <= image.size() - offset;
}

template <typename T> T recordAt(std::span<const uint8_t> image, uint64_t rva)
{
    if (!inside(image, rva, sizeof(T)))
        fail("damaged: a table refers to " + hex(rva) + ", outside the " + hex(image.size()) + "-byte image");
    return detail::readRecord<T>(image, static_cast<size_t>(rva), "a table");
}

std::string cString(std::span<const uint8_t> image, uint32_t rva, uint32_t maxLength, const char *what)
{
    if (!inside(image, rva, 1))
        fail(std::string("damaged: ") + what + " at " + hex(rva) + " lies outside the image");
    const auto text = image.subspan(rva, std::min<size_t>(image.size() - rva, maxLength));
    const auto end = std::find(text.begin(), text.end(), 0);
    if (end == text.end())
        fail(std::string("damaged: ") + what + " at " + hex(rva) + " is not terminated");
    return std::string(text.begin(), end);
}

std::string sectionName(const SectionHeader &s)
{
    return std::string(s.name, strnlen(s.name, sizeof s.name));
}

uint32_t virtualSize(const SectionHeader &s)
{
    return s.virtualSize ? s.virtualSize : s.sizeOfRawData;
}

// Where the section's pages end when mapped.
uint64_t mappedEnd(const SectionHeader &s, uint32_t sectionAlignment)
{
    return uint64_t(s.virtualAddress) + std::max<uint64_t>(alignUp(virtualSize(s), sectionAlignment), 1);
}

constexpr const char *kDirectoryNames[kDirCount] = {
    "export table",         "import table",       "resource directory", "exception table",
    "certificate table",    "relocation table",   "debug directory",    "architecture data",
    "global pointer",       "TLS directory",      "load configuration", "bound import table",
    "import address table", "delay import table", "runtime header",     "reserved directory",
};

uint16_t sectionProtection(uint32_t characteristics)
{
    const bool x = characteristics & kSectionExecute;
    const bool w = characteristics & kSectionWrite;
    const bool r = characteristics & kSectionRead;
    if (x)
        return w ? kPageExecuteReadWrite : kPageExecuteRead;
    if (w)
        return kPageReadWrite;
    return r ? kPageReadOnly : kPageNoAccess;
}

} // namespace

std::string hex(uint64_t v)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
}

bool looksLikePe(std::span<const uint8_t> head)
{
    return head.size() >= 2 && head[0] == 'M' && head[1] == 'Z';
}

Headers readHeaders(std::span<const uint8_t> bytes, bool only32BitX86)
{
    const uint64_t size = bytes.size();
    if (size < sizeof(DosHeader))
        fail("not a PE file: only " + std::to_string(size) + " bytes long");
    const auto dos = detail::readRecord<DosHeader>(bytes, 0, "the DOS header");
    if (dos.magic != kDosMagic)
        fail("not a PE file: no MZ signature");
    Headers h;
    h.peOffset = dos.peOffset;
    if (uint64_t(h.peOffset) + 4 + sizeof(FileHeader) > size)
        fail("truncated or damaged: the PE header at " + hex(h.peOffset) + " lies beyond the end of the " +
             std::to_string(size) + "-byte file");
    if (detail::read32(bytes, h.peOffset, "the PE signature") != kPeSignature)
        fail("not a PE file: no PE signature at " + hex(h.peOffset));
    h.file = detail::readRecord<FileHeader>(bytes, h.peOffset + 4, "the COFF header");
    if (only32BitX86 && h.file.machine == kMachineAmd64)
        fail("a 64-bit (x86-64) module; this host loads 32-bit x86 modules only");
    if (only32BitX86 && h.file.machine != kMachineI386)
        fail("built for machine type " + hex(h.file.machine) + "; this host loads 32-bit x86 modules only");

    const uint64_t opt = h.optionalOffset();
    if (h.file.sizeOfOptionalHeader < 2 || opt + 2 > size)
        fail("truncated or damaged: no optional header");
    const uint16_t magic = detail::read16(bytes, opt, "the optional header");
    h.pe32Plus = magic == kOptionalMagicPe32Plus;
    if (h.pe32Plus && only32BitX86)
        fail("a 64-bit (PE32+) module; this host loads 32-bit x86 modules only");
    if (!h.pe32Plus && magic != kOptionalMagicPe32)
        fail("damaged: unknown optional header magic " + hex(magic));
    const uint32_t fixedSize = h.pe32Plus ? kOptionalHeader64Size : sizeof(OptionalHeader32);
    if (h.file.sizeOfOptionalHeader < fixedSize)
        fail("damaged: optional header of " + std::to_string(h.file.sizeOfOptionalHeader) + " bytes is too short");
    if (opt + h.file.sizeOfOptionalHeader > size)
        fail("truncated: the optional header runs past the end of the file");
    if (!h.pe32Plus)
        h.optional = detail::readRecord<OptionalHeader32>(bytes, opt, "the optional header");

    // The directory count is the fixed part's last field.
    const uint32_t count =
        std::min<uint32_t>(detail::read32(bytes, opt + fixedSize - 4, "the directory count"), kDirCount);
    if (fixedSize + uint64_t(count) * sizeof(DataDirectory) > h.file.sizeOfOptionalHeader)
        fail("damaged: the optional header is too short for its data directories");
    for (uint32_t i = 0; i < count; ++i)
        h.directories[i] =
            detail::readRecord<DataDirectory>(bytes, opt + fixedSize + i * sizeof(DataDirectory), "a data directory");

    const uint64_t table = opt + h.file.sizeOfOptionalHeader;
    if (table + uint64_t(h.file.numberOfSections) * sizeof(SectionHeader) > size)
        fail("truncated: the section table runs past the end of the file");
    for (uint32_t i = 0; i < h.file.numberOfSections; ++i)
        h.sections.push_back(
            detail::readRecord<SectionHeader>(bytes, table + i * sizeof(SectionHeader), "the section table"));
    return h;
}

void checkLoadable(const Headers &h, uint64_t fileSize)
{
    const OptionalHeader32 &opt = h.optional;
    if (!(h.file.characteristics & kFileDll))
        fail("a program, not a DLL");
    if (!isPowerOfTwo(opt.sectionAlignment) || !isPowerOfTwo(opt.fileAlignment))
        fail("damaged: section or file alignment is not a power of two");
    if (opt.sizeOfImage == 0 || opt.sizeOfImage > kMaxImageSize)
        fail("damaged: image size " + hex(opt.sizeOfImage) + " is out of range");
    if (opt.sizeOfHeaders > opt.sizeOfImage)
        fail("damaged: headers are larger than the image");
    if (opt.sizeOfHeaders > fileSize)
        fail("truncated: the headers need " + std::to_string(opt.sizeOfHeaders) + " bytes, the file has " +
             std::to_string(fileSize));
    if (h.sections.empty() || h.sections.size() > kMaxSections)
        fail("damaged: " + std::to_string(h.sections.size()) + " sections");
    const uint64_t headersEnd = alignUp(opt.sizeOfHeaders, opt.sectionAlignment);
    for (size_t i = 0; i < h.sections.size(); ++i) {
        const SectionHeader &s = h.sections[i];
        const std::string name = "section " + sectionName(s);
        if (s.virtualAddress % opt.sectionAlignment != 0)
            fail("damaged: " + name + " at " + hex(s.virtualAddress) + " is not aligned to the section alignment " +
                 hex(opt.sectionAlignment));
        if (s.virtualAddress < headersEnd)
            fail("damaged: " + name + " at " + hex(s.virtualAddress) + " lies over the headers");
        if (uint64_t(s.virtualAddress) + virtualSize(s) > opt.sizeOfImage)
            fail("damaged: " + name + " extends beyond the image");
        const bool hasData = s.sizeOfRawData != 0 && !(s.characteristics & kSectionUninitialized);
        if (hasData && s.pointerToRawData % opt.fileAlignment != 0)
            fail("damaged: " + name + "'s file data at " + hex(s.pointerToRawData) +
                 " is not aligned to the file alignment " + hex(opt.fileAlignment));
        if (hasData && s.pointerToRawData < opt.sizeOfHeaders)
            fail("damaged: " + name + "'s file data at " + hex(s.pointerToRawData) + " lies over the headers");
        if (hasData && uint64_t(s.pointerToRawData) + s.sizeOfRawData > fileSize)
            fail("truncated: " + name + " needs file bytes up to " +
                 std::to_string(uint64_t(s.pointerToRawData) + s.sizeOfRawData) + ", the file has " +
                 std::to_string(fileSize));
        for (size_t j = 0; j < i; ++j) {
            const SectionHeader &o = h.sections[j];
            if (s.virtualAddress < mappedEnd(o, opt.sectionAlignment) &&
                o.virtualAddress < mappedEnd(s, opt.sectionAlignment))
                fail("damaged: " + name + " overlaps section " + sectionName(o));
        }
    }
    for (uint32_t d = 0; d < kDirCount; ++d) {
        const DataDirectory &dir = h.directories[d];
        if (d == kDirSecurity || d == kDirBoundImport || (dir.rva == 0 && dir.size == 0))
            continue;
        if (!sectionHolding(h, dir.rva, dir.size))
            fail("damaged: the " + std::string(kDirectoryNames[d]) + " at " + hex(dir.rva) + " (" +
                 std::to_string(dir.size) + " bytes) does not lie inside one section");
    }
    if (opt.addressOfEntryPoint >= opt.sizeOfImage)
        fail("damaged: the entry point " + hex(opt.addressOfEntryPoint) + " lies outside the image");
    if (opt.addressOfEntryPoint != 0)
        checkExecutable(h, opt.addressOfEntryPoint, "the entry point");
}

const SectionHeader *sectionHolding(const Headers &h, uint64_t rva, uint64_t size)
{
    for (const SectionHeader &s : h.sections)
        if (rva >= s.virtualAddress && rva - s.virtualAddress <= virtualSize(s) &&
            size <= virtualSize(s) - (rva - s.virtualAddress))
            return &s;
    return nullptr;
}

void checkExecutable(const Headers &h, uint32_t rva, const std::string &what)
{
    const SectionHeader *s = sectionHolding(h, rva, 1);
    if (!s)
        fail("damaged: " + what + " at " + hex(rva) + " lies in no section");
    if (!(s->characteristics & kSectionExecute))
        fail("damaged: " + what + " at " + hex(rva) + " lies in section " + sectionName(*s) +
             ", which is not executable");
}

uint32_t mappedSize(const Headers &h)
{
    return alignUp(h.optional.sizeOfImage, kPageSize);
}

void layOut(std::span<const uint8_t> file, const Headers &h, std::span<uint8_t> image)
{
    const auto copy = [&](uint32_t rva, uint32_t fileOffset, uint32_t size) {
        const auto from = detail::slice(file, fileOffset, size, "section data");
        std::copy(from.begin(), from.end(), image.subspan(rva, size).begin());
    };
    copy(0, 0, h.optional.sizeOfHeaders);
    for (const SectionHeader &s : h.sections) {
        if (s.characteristics & kSectionUninitialized)
            continue;
        const uint32_t bytes = std::min(s.sizeOfRawData, alignUp(virtualSize(s), h.optional.sectionAlignment));
        copy(s.virtualAddress, s.pointerToRawData,
             static_cast<uint32_t>(std::min<uint64_t>(bytes, h.optional.sizeOfImage - s.virtualAddress)));
    }
}

std::span<const uint8_t> fileBytesAt(std::span<const uint8_t> file, const Headers &h, uint32_t rva, uint32_t size,
                                     const char *what)
{
    for (const SectionHeader &s : h.sections) {
        // An empty block may sit right at a section's end.
        if (rva >= s.virtualAddress && rva - s.virtualAddress < s.sizeOfRawData + uint64_t{size == 0}) {
            const uint32_t inSection = rva - s.virtualAddress;
            if (size > s.sizeOfRawData - inSection)
                fail(std::string("damaged: ") + what + ": " + std::to_string(size) + " bytes at RVA " + hex(rva) +
                     " run past the end of their section");
            const uint64_t fileOffset = uint64_t{s.pointerToRawData} + inSection;
            if (!inside(file, fileOffset, size))
                fail(std::string("truncated: ") + what + " at file offset " + hex(fileOffset) +
                     " runs past the end of the " + std::to_string(file.size()) + "-byte file");
            return file.subspan(static_cast<size_t>(fileOffset), size);
        }
    }
    fail(std::string("damaged: ") + what + ": RVA " + hex(rva) + " lies in no section's file data");
}

std::span<const uint8_t> imageBytesAt(std::span<const uint8_t> image, uint32_t rva, uint32_t size, const char *what)
{
    if (!inside(image, rva, size))
        fail(std::string("damaged: ") + what + " lies outside the image");
    return image.subspan(rva, size);
}

// ---------------------------------------------------------------------------
// Imports

std::vector<ImportedDll> readImports(std::span<const uint8_t> image, const Headers &h)
{
    const DataDirectory &table = h.directory(kDirImport);
    std::vector<ImportedDll> dlls;
    if (table.size == 0)
        return dlls;
    if (!inside(image, table.rva, sizeof(ImportDescriptor)))
        fail("damaged: the import table lies outside the image");
    size_t total = 0;
    std::vector<std::pair<uint64_t, uint64_t>> addressTables; // [first, end) of each, with its closing slot
    for (uint64_t d = table.rva;; d += sizeof(ImportDescriptor)) {
        if (d + sizeof(ImportDescriptor) > uint64_t(table.rva) + table.size)
            fail("damaged: the import descriptors run past the end of the import table at " + hex(table.rva) + " (" +
                 std::to_string(table.size) + " bytes)");
        const auto desc = recordAt<ImportDescriptor>(image, d);
        if (desc.name == 0 && desc.firstThunk == 0)
            break;
        ImportedDll dll{cString(image, desc.name, 256, "the name of an imported DLL"), {}};
        if (desc.firstThunk == 0)
            fail("damaged: the imports from " + dll.dll + " have no address table");
        const uint32_t lookup = desc.originalFirstThunk ? desc.originalFirstThunk : desc.firstThunk;
        uint64_t i = 0;
        for (;; ++i) {
            const uint32_t thunk = recordAt<uint32_t>(image, lookup + 4 * i);
            if (thunk == 0)
                break;
            if (++total > kMaxImports)
                fail("damaged: more than " + std::to_string(kMaxImports) + " imports");
            Import import;
            if (thunk & kImportByOrdinal) {
                import.ordinal = static_cast<uint16_t>(thunk & 0xFFFF);
            } else {
                import.ordinal = recordAt<uint16_t>(image, thunk); // hint
                import.name = cString(image, thunk + 2, 4096, "the name of an import");
                if (import.name.empty())
                    fail("damaged: an import from " + dll.dll + " has an empty name");
            }
            const uint64_t slot = desc.firstThunk + 4 * i;
            if (!inside(image, slot, 4) || !sectionHolding(h, slot, 4))
                fail("damaged: the address table for " + dll.dll + " at " + hex(desc.firstThunk) +
                     " runs outside the image's sections");
            import.slot = static_cast<uint32_t>(slot);
            dll.imports.push_back(std::move(import));
        }
        addressTables.emplace_back(desc.firstThunk, desc.firstThunk + 4 * (i + 1));
        dlls.push_back(std::move(dll));
    }

    // Every slot the image calls through must be bound.
    const DataDirectory &slots = h.directory(kDirImportAddresses);
    std::sort(addressTables.begin(), addressTables.end());
    uint64_t unbound = slots.rva;
    const uint64_t end = slots.rva + slots.size / 4 * 4;
    for (const auto &[first, last] : addressTables)
        if (first <= unbound)
            unbound = std::max(unbound, last);
    if (unbound < end)
        fail("damaged: the import address table slot at " + hex(unbound) +
             " is not named by the import table, so it would stay unbound");
    return dlls;
}

// ---------------------------------------------------------------------------
// Exports

ExportTable::ExportTable(std::span<const uint8_t> image, const DataDirectory &table)
{
    if (table.size == 0)
        return;
    const auto ed = recordAt<ExportDirectory>(image, table.rva);
    if (!inside(image, ed.addressOfFunctions, uint64_t(ed.numberOfFunctions) * 4) ||
        !inside(image, ed.addressOfNames, uint64_t(ed.numberOfNames) * 4) ||
        !inside(image, ed.addressOfNameOrdinals, uint64_t(ed.numberOfNames) * 2))
        fail("damaged: the export tables lie outside the image");
    image_ = image;
    table_ = table;
    directory_ = ed;
}

uint32_t ExportTable::find(uint16_t ordinal) const
{
    if (table_.size == 0 || ordinal < directory_.base || ordinal - directory_.base >= directory_.numberOfFunctions)
        return 0;
    const uint32_t rva =
        detail::read32(image_, directory_.addressOfFunctions + 4 * (ordinal - directory_.base), "an export");
    if (rva == 0 || !inside(image_, rva, 1))
        return 0;
    if (rva >= table_.rva && rva - table_.rva < table_.size)
        return 0; // forwarded to another DLL
    return rva;
}

uint32_t ExportTable::find(std::string_view name) const
{
    for (uint32_t i = 0; table_.size != 0 && i < directory_.numberOfNames; ++i) {
        const uint32_t rva = detail::read32(image_, directory_.addressOfNames + 4 * i, "an export name");
        if (!inside(image_, rva, name.size() + 1))
            continue;
        if (std::memcmp(image_.data() + rva, name.data(), name.size()) == 0 && image_[rva + name.size()] == 0) {
            const uint16_t index = detail::read16(image_, directory_.addressOfNameOrdinals + 2 * i, "an ordinal");
            return find(static_cast<uint16_t>(directory_.base + index));
        }
    }
    return 0;
}

std::vector<std::string> ExportTable::names() const
{
    std::vector<std::string> names;
    for (uint32_t i = 0; table_.size != 0 && i < directory_.numberOfNames; ++i) {
        const uint32_t rva = detail::read32(image_, directory_.addressOfNames + 4 * i, "an export name");
        if (!inside(image_, rva, 1))
            continue;
        const auto *s = reinterpret_cast<const char *>(image_.data() + rva);
        names.emplace_back(s, strnlen(s, image_.size() - rva));
    }
    return names;
}

// ---------------------------------------------------------------------------
// Relocations and TLS

std::vector<Relocation> readRelocations(std::span<const uint8_t> image, const Headers &h)
{
    const DataDirectory &table = h.directory(kDirBaseReloc);
    if (!inside(image, table.rva, table.size))
        fail("damaged: the relocation table lies outside the image");
    std::vector<Relocation> relocations;
    uint32_t offset = 0;
    while (offset + sizeof(BaseRelocationBlock) <= table.size) {
        const auto block = recordAt<BaseRelocationBlock>(image, table.rva + offset);
        if (block.pageRva == 0 && block.blockSize == 0)
            break;
        if (block.blockSize < sizeof(BaseRelocationBlock) || block.blockSize > table.size - offset)
            fail("damaged: a relocation block at " + hex(table.rva + offset) + " has size " +
                 std::to_string(block.blockSize));
        const uint32_t entries = (block.blockSize - sizeof(BaseRelocationBlock)) / 2;
        for (uint32_t i = 0; i < entries; ++i) {
            const uint16_t entry = recordAt<uint16_t>(image, table.rva + offset + sizeof(BaseRelocationBlock) + 2 * i);
            const uint16_t type = entry >> 12;
            const uint64_t target = uint64_t(block.pageRva) + (entry & 0xFFF);
            if (type == kRelAbsolute)
                continue;
            if (!inside(image, target, type == kRelHighLow ? 4 : 2) ||
                !sectionHolding(h, target, type == kRelHighLow ? 4 : 2))
                fail("damaged: a relocation targets " + hex(target) + ", outside the image's sections");
            if (type != kRelHighLow && type != kRelHigh && type != kRelLow)
                fail("unsupported relocation type " + std::to_string(type));
            relocations.push_back({static_cast<uint32_t>(target), type});
        }
        offset += block.blockSize;
    }
    return relocations;
}

void applyRelocations(std::span<uint8_t> image, std::span<const Relocation> relocations, uint32_t delta)
{
    for (const Relocation &r : relocations) {
        if (r.type == kRelHighLow) {
            const uint32_t v = detail::read32(image, r.rva, "a relocation") + delta;
            std::memcpy(&image[r.rva], &v, 4);
        } else {
            const uint16_t v = static_cast<uint16_t>(detail::read16(image, r.rva, "a relocation") +
                                                     (r.type == kRelHigh ? delta >> 16 : delta & 0xFFFF));
            std::memcpy(&image[r.rva], &v, 2);
        }
    }
}

TlsTemplate readTls(std::span<const uint8_t> image, const DataDirectory &table, uint32_t base)
{
    const auto tls = recordAt<TlsDirectory32>(image, table.rva);
    TlsTemplate t;
    t.start = tls.startAddressOfRawData - base;
    t.end = tls.endAddressOfRawData - base;
    t.indexRva = tls.addressOfIndex - base;
    if (tls.endAddressOfRawData < tls.startAddressOfRawData || !inside(image, t.start, t.end - t.start))
        fail("damaged: the TLS template lies outside the image");
    if (!inside(image, t.indexRva, 4))
        fail("damaged: the TLS index lies outside the image");
    if (tls.addressOfCallbacks != 0) {
        t.callbacksRva = tls.addressOfCallbacks - base;
        t.hasCallbacks = true;
        if (!inside(image, t.callbacksRva, 4))
            fail("damaged: the TLS callback list lies outside the image");
    }
    if (tls.sizeOfZeroFill > kMaxImageSize)
        fail("damaged: TLS zero fill of " + std::to_string(tls.sizeOfZeroFill) + " bytes");
    t.zeroFill = tls.sizeOfZeroFill;
    return t;
}

std::vector<uint16_t> pageProtections(const Headers &h)
{
    std::vector<uint16_t> pages(mappedSize(h) / kPageSize, kPageNoAccess);
    if (h.optional.sectionAlignment < kPageSize) {
        std::fill(pages.begin(), pages.end(), kPageExecuteReadWrite);
        return pages;
    }
    std::fill_n(pages.begin(), alignUp(h.optional.sizeOfHeaders, kPageSize) / kPageSize, kPageReadOnly);
    for (const SectionHeader &s : h.sections) {
        const uint32_t first = s.virtualAddress / kPageSize;
        const uint32_t last =
            std::min<uint32_t>(alignUp(s.virtualAddress + virtualSize(s), kPageSize) / kPageSize, pages.size());
        for (uint32_t p = first; p < last; ++p)
            pages[p] = sectionProtection(s.characteristics);
    }
    return pages;
}

} // namespace corvane::pe
