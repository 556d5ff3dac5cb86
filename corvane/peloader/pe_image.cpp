#include "pe_image.h"

#include "pe_format.h"
#include "thread_block.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace corvane::pe {

namespace {

constexpr uint32_t kPage = 0x1000;
constexpr uint64_t kMaxFileSize = 256u << 20;
constexpr uint32_t kMaxImageSize = 512u << 20;
constexpr uint32_t kMaxSections = 96;
constexpr uint32_t kMaxTlsCallbacks = 256;

// Windows page protections
constexpr uint32_t kPageNoAccess = 0x01;
constexpr uint32_t kPageReadOnly = 0x02;
constexpr uint32_t kPageReadWrite = 0x04;
constexpr uint32_t kPageWriteCopy = 0x08;
constexpr uint32_t kPageExecute = 0x10;
constexpr uint32_t kPageExecuteRead = 0x20;
constexpr uint32_t kPageExecuteReadWrite = 0x40;
constexpr uint32_t kPageExecuteWriteCopy = 0x80;
constexpr uint32_t kPageModifiers = 0x700; // guard, no-cache, write-combine

using InitRoutine = int32_t(__attribute__((stdcall)) *)(void *module, uint32_t reason, void *reserved);

std::string hex(uint64_t v)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
}

uint32_t alignUp(uint32_t v, uint32_t a)
{
    return static_cast<uint32_t>((uint64_t(v) + a - 1) / a * a);
}

bool isPowerOfTwo(uint32_t v)
{
    return v != 0 && (v & (v - 1)) == 0;
}

template <typename T> T readFileRecord(const std::vector<uint8_t> &file, uint64_t offset)
{
    T value;
    std::memcpy(&value, file.data() + offset, sizeof(T));
    return value;
}

std::string sectionName(const SectionHeader &s)
{
    return std::string(s.name, strnlen(s.name, sizeof s.name));
}

uint32_t sectionProtection(uint32_t characteristics)
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

// -1 for a protection value Windows would refuse.
int linuxProtection(uint32_t protection)
{
    switch (protection & ~kPageModifiers) {
    case kPageNoAccess:
        return PROT_NONE;
    case kPageReadOnly:
        return PROT_READ;
    case kPageReadWrite:
    case kPageWriteCopy:
        return PROT_READ | PROT_WRITE;
    case kPageExecute:
    case kPageExecuteRead:
        return PROT_READ | PROT_EXEC;
    case kPageExecuteReadWrite:
    case kPageExecuteWriteCopy:
        return PROT_READ | PROT_WRITE | PROT_EXEC;
    default:
        return -1;
    }
}

struct Registry {
    std::mutex mutex;
    std::vector<PeImage *> images;
};

Registry &registry()
{
    static Registry *r = new Registry;
    return *r;
}

std::vector<uint8_t> readWholeFile(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw PeError(path + ": cannot open: " + std::strerror(errno));
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{fd};
    struct stat st;
    if (::fstat(fd, &st) != 0)
        throw PeError(path + ": cannot read: " + std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        throw PeError(path + ": not a regular file");
    if (static_cast<uint64_t>(st.st_size) > kMaxFileSize)
        throw PeError(path + ": too large for a module (" + std::to_string(st.st_size) + " bytes)");
    std::vector<uint8_t> bytes(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw PeError(path + ": cannot read: " + std::strerror(errno));
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    return bytes;
}

} // namespace

std::string describe(const ImportRef &ref)
{
    std::string s(ref.dll);
    s += '!';
    if (ref.byOrdinal())
        s += '#' + std::to_string(ref.ordinal);
    else
        s += ref.name;
    return s;
}

// ---------------------------------------------------------------------------
// Loading

std::unique_ptr<PeImage> PeImage::load(const std::string &path, ImportResolver &resolver, const LoadOptions &options)
{
    std::unique_ptr<PeImage> image(new PeImage);
    image->path_ = path;
    const std::vector<uint8_t> file = readWholeFile(path);
    image->mapAndBind(file, resolver);
    if (options.initialize)
        image->initialize();
    return image;
}

void PeImage::fail(const std::string &what) const
{
    throw PeError(path_ + ": " + what);
}

bool PeImage::inImage(uint32_t rva, uint64_t bytes) const
{
    return uint64_t(rva) + bytes <= size_;
}

void PeImage::failOutside(uint32_t rva) const
{
    fail("damaged: a table refers to " + hex(rva) + ", outside the " + hex(size_) + "-byte image");
}

std::string PeImage::cString(uint32_t rva, uint32_t maxLength) const
{
    if (!inImage(rva, 1))
        fail("damaged: a name lies at " + hex(rva) + ", outside the image");
    const uint32_t available = std::min<uint64_t>(size_ - rva, maxLength);
    const auto *start = base_ + rva;
    const auto *end = static_cast<const uint8_t *>(std::memchr(start, 0, available));
    if (!end)
        fail("damaged: the name at " + hex(rva) + " is not terminated");
    return std::string(reinterpret_cast<const char *>(start), end - start);
}

void PeImage::mapAndBind(const std::vector<uint8_t> &file, ImportResolver &resolver)
{
    const uint64_t fileSize = file.size();
    if (fileSize < sizeof(DosHeader))
        fail("not a PE file: only " + std::to_string(fileSize) + " bytes long");
    const auto dos = readFileRecord<DosHeader>(file, 0);
    if (dos.magic != kDosMagic)
        fail("not a PE file: no MZ signature");
    const uint64_t peOffset = dos.peOffset;
    if (peOffset + 4 + sizeof(FileHeader) > fileSize)
        fail("truncated or damaged: the PE header at " + hex(peOffset) + " lies beyond the end of the " +
             std::to_string(fileSize) + "-byte file");
    if (readFileRecord<uint32_t>(file, peOffset) != kPeSignature)
        fail("not a PE file: no PE signature at " + hex(peOffset));
    const auto coff = readFileRecord<FileHeader>(file, peOffset + 4);
    if (coff.machine == kMachineAmd64)
        fail("a 64-bit (x86-64) module; this host loads 32-bit x86 modules only");
    if (coff.machine != kMachineI386)
        fail("built for machine type " + hex(coff.machine) + "; this host loads 32-bit x86 modules only");

    const uint64_t optOffset = peOffset + 4 + sizeof(FileHeader);
    if (coff.sizeOfOptionalHeader < 2 || optOffset + 2 > fileSize)
        fail("truncated or damaged: no optional header");
    const uint16_t optMagic = readFileRecord<uint16_t>(file, optOffset);
    if (optMagic == kOptionalMagicPe32Plus)
        fail("a 64-bit (PE32+) module; this host loads 32-bit x86 modules only");
    if (optMagic != kOptionalMagicPe32)
        fail("damaged: unknown optional header magic " + hex(optMagic));
    if (coff.sizeOfOptionalHeader < sizeof(OptionalHeader32))
        fail("damaged: optional header of " + std::to_string(coff.sizeOfOptionalHeader) + " bytes is too short");
    if (optOffset + coff.sizeOfOptionalHeader > fileSize)
        fail("truncated: the optional header runs past the end of the file");
    const auto opt = readFileRecord<OptionalHeader32>(file, optOffset);
    if (!(coff.characteristics & kFileDll))
        fail("a program, not a DLL");

    const uint32_t dirCount = std::min<uint32_t>(opt.numberOfRvaAndSizes, kDirCount);
    if (sizeof(OptionalHeader32) + uint64_t(dirCount) * sizeof(DataDirectory) > coff.sizeOfOptionalHeader)
        fail("damaged: the optional header is too short for its data directories");
    DataDirectory dirs[kDirCount] = {};
    for (uint32_t i = 0; i < dirCount; ++i)
        dirs[i] = readFileRecord<DataDirectory>(file, optOffset + sizeof(OptionalHeader32) + i * sizeof(DataDirectory));

    if (!isPowerOfTwo(opt.sectionAlignment) || !isPowerOfTwo(opt.fileAlignment))
        fail("damaged: section or file alignment is not a power of two");
    if (opt.sizeOfImage == 0 || opt.sizeOfImage > kMaxImageSize)
        fail("damaged: image size " + hex(opt.sizeOfImage) + " is out of range");
    if (opt.sizeOfHeaders > opt.sizeOfImage)
        fail("damaged: headers are larger than the image");
    if (opt.sizeOfHeaders > fileSize)
        fail("truncated: the headers need " + std::to_string(opt.sizeOfHeaders) + " bytes, the file has " +
             std::to_string(fileSize));

    const uint64_t sectionTable = optOffset + coff.sizeOfOptionalHeader;
    if (coff.numberOfSections == 0 || coff.numberOfSections > kMaxSections)
        fail("damaged: " + std::to_string(coff.numberOfSections) + " sections");
    if (sectionTable + uint64_t(coff.numberOfSections) * sizeof(SectionHeader) > fileSize)
        fail("truncated: the section table runs past the end of the file");
    std::vector<SectionHeader> sections(coff.numberOfSections);
    for (uint32_t i = 0; i < coff.numberOfSections; ++i) {
        SectionHeader &s = sections[i];
        s = readFileRecord<SectionHeader>(file, sectionTable + i * sizeof(SectionHeader));
        const uint32_t virtualSize = s.virtualSize ? s.virtualSize : s.sizeOfRawData;
        if (uint64_t(s.virtualAddress) + virtualSize > opt.sizeOfImage)
            fail("damaged: section " + sectionName(s) + " extends beyond the image");
        const bool hasData = s.sizeOfRawData != 0 && !(s.characteristics & kSectionUninitialized);
        if (hasData && uint64_t(s.pointerToRawData) + s.sizeOfRawData > fileSize)
            fail("truncated: section " + sectionName(s) + " needs file bytes up to " +
                 std::to_string(uint64_t(s.pointerToRawData) + s.sizeOfRawData) + ", the file has " +
                 std::to_string(fileSize));
    }

    // Map: the preferred base if it is free, anywhere else when the image
    // can be relocated.
    const bool relocatable = !(coff.characteristics & kFileRelocsStripped) && dirs[kDirBaseReloc].size != 0;
    const uint32_t mappedSize = alignUp(opt.sizeOfImage, kPage);
    void *preferred = reinterpret_cast<void *>(static_cast<uintptr_t>(opt.imageBase));
    void *mapped =
        mmap(preferred, mappedSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (mapped != MAP_FAILED && mapped != preferred) {
        // Kernels that do not know the flag take the address as a hint.
        munmap(mapped, mappedSize);
        mapped = MAP_FAILED;
    }
    if (mapped == MAP_FAILED) {
        if (!relocatable)
            fail("cannot be placed at its preferred base " + hex(opt.imageBase) +
                 " (in use) and carries no relocations");
        mapped = mmap(nullptr, mappedSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED)
            fail(std::string("cannot map ") + std::to_string(mappedSize) + " bytes: " + std::strerror(errno));
    }
    base_ = static_cast<uint8_t *>(mapped);
    size_ = opt.sizeOfImage;
    preferredBase_ = opt.imageBase;
    entryRva_ = opt.addressOfEntryPoint;
    pageProtection_.assign(mappedSize / kPage, kPageReadWrite);

    std::memcpy(base_, file.data(), opt.sizeOfHeaders);
    for (const SectionHeader &s : sections) {
        if (s.characteristics & kSectionUninitialized)
            continue;
        const uint32_t virtualSize = s.virtualSize ? s.virtualSize : s.sizeOfRawData;
        const uint32_t bytes = std::min(s.sizeOfRawData, alignUp(virtualSize, opt.sectionAlignment));
        const uint32_t fitting = std::min<uint64_t>(bytes, size_ - s.virtualAddress);
        std::memcpy(base_ + s.virtualAddress, file.data() + s.pointerToRawData, fitting);
    }

    if (entryRva_ != 0 && !inImage(entryRva_, 1))
        fail("damaged: the entry point " + hex(entryRva_) + " lies outside the image");

    // Base relocations
    if (relocated()) {
        const uint32_t delta = static_cast<uint32_t>(base()) - preferredBase_;
        const DataDirectory &rel = dirs[kDirBaseReloc];
        if (!inImage(rel.rva, rel.size))
            fail("damaged: the relocation table lies outside the image");
        uint32_t offset = 0;
        while (offset + sizeof(BaseRelocationBlock) <= rel.size) {
            const auto block = read<BaseRelocationBlock>(rel.rva + offset);
            if (block.pageRva == 0 && block.blockSize == 0)
                break;
            if (block.blockSize < sizeof(BaseRelocationBlock) || block.blockSize > rel.size - offset)
                fail("damaged: a relocation block at " + hex(rel.rva + offset) + " has size " +
                     std::to_string(block.blockSize));
            const uint32_t entries = (block.blockSize - sizeof(BaseRelocationBlock)) / 2;
            for (uint32_t i = 0; i < entries; ++i) {
                const uint16_t entry = read<uint16_t>(rel.rva + offset + sizeof(BaseRelocationBlock) + 2 * i);
                const uint16_t type = entry >> 12;
                const uint64_t target64 = uint64_t(block.pageRva) + (entry & 0xFFF);
                if (type == kRelAbsolute)
                    continue;
                const uint32_t width = type == kRelHighLow ? 4 : 2;
                if (target64 + width > size_)
                    fail("damaged: a relocation targets " + hex(target64) + ", outside the image");
                uint8_t *target = base_ + target64;
                if (type == kRelHighLow) {
                    uint32_t v;
                    std::memcpy(&v, target, 4);
                    v += delta;
                    std::memcpy(target, &v, 4);
                } else if (type == kRelHigh || type == kRelLow) {
                    uint16_t v;
                    std::memcpy(&v, target, 2);
                    v = static_cast<uint16_t>(v + (type == kRelHigh ? delta >> 16 : delta & 0xFFFF));
                    std::memcpy(target, &v, 2);
                } else {
                    fail("unsupported relocation type " + std::to_string(type));
                }
            }
            offset += block.blockSize;
        }
        // As the system loader does, so the headers tell where the image lives.
        const uint32_t newBase = static_cast<uint32_t>(base());
        std::memcpy(base_ + optOffset + offsetof(OptionalHeader32, imageBase), &newBase, 4);
    }

    {
        std::lock_guard lock(registry().mutex);
        registry().images.push_back(this);
        registered_ = true;
    }

    // Imports: every unresolved one is collected, so the message lists them all.
    if (dirs[kDirImport].size != 0) {
        std::vector<std::string> missing;
        const DataDirectory &imp = dirs[kDirImport];
        if (!inImage(imp.rva, sizeof(ImportDescriptor)))
            fail("damaged: the import table lies outside the image");
        for (uint32_t d = imp.rva;; d += sizeof(ImportDescriptor)) {
            const auto desc = read<ImportDescriptor>(d);
            if (desc.name == 0 && desc.firstThunk == 0)
                break;
            const std::string dll = cString(desc.name, 256);
            if (desc.firstThunk == 0)
                fail("damaged: the imports from " + dll + " have no address table");
            const uint32_t lookup = desc.originalFirstThunk ? desc.originalFirstThunk : desc.firstThunk;
            for (uint32_t i = 0;; ++i) {
                const uint32_t thunk = read<uint32_t>(lookup + 4 * i);
                if (thunk == 0)
                    break;
                ImportRef ref;
                ref.dll = dll;
                std::string name;
                if (thunk & kImportByOrdinal) {
                    ref.ordinal = static_cast<uint16_t>(thunk & 0xFFFF);
                } else {
                    ref.ordinal = read<uint16_t>(thunk); // hint
                    name = cString(thunk + 2, 4096);
                    if (name.empty())
                        fail("damaged: an import from " + dll + " has an empty name");
                    ref.name = name;
                }
                const uint32_t slot = desc.firstThunk + 4 * i;
                if (!inImage(slot, 4))
                    fail("damaged: the address table for " + dll + " runs outside the image");
                void *address = resolver.resolve(ref);
                if (!address) {
                    missing.push_back(describe(ref));
                    continue;
                }
                const uint32_t value = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address));
                std::memcpy(base_ + slot, &value, 4);
            }
        }
        if (!missing.empty()) {
            std::string list;
            for (const std::string &m : missing)
                list += (list.empty() ? "" : ", ") + m;
            const std::string note = resolver.note();
            fail("imports that this host does not provide: " + list + (note.empty() ? "" : " (" + note + ")"));
        }
    }

    // Exports: only the directory is checked here; lookups check each entry.
    if (dirs[kDirExport].size != 0) {
        exportRva_ = dirs[kDirExport].rva;
        exportSize_ = dirs[kDirExport].size;
        const auto ed = read<ExportDirectory>(exportRva_);
        if (!inImage(ed.addressOfFunctions, uint64_t(ed.numberOfFunctions) * 4) ||
            !inImage(ed.addressOfNames, uint64_t(ed.numberOfNames) * 4) ||
            !inImage(ed.addressOfNameOrdinals, uint64_t(ed.numberOfNames) * 2))
            fail("damaged: the export tables lie outside the image");
    }

    if (dirs[kDirResource].size != 0) {
        if (!inImage(dirs[kDirResource].rva, dirs[kDirResource].size))
            fail("damaged: the resource directory lies outside the image");
        resourceRva_ = dirs[kDirResource].rva;
        resourceSize_ = dirs[kDirResource].size;
        readResources();
    }

    // Static TLS: the slot index is written before any code can read it.
    if (dirs[kDirTls].size != 0) {
        const auto tls = read<TlsDirectory32>(dirs[kDirTls].rva);
        const uint32_t start = tls.startAddressOfRawData - static_cast<uint32_t>(base());
        const uint32_t end = tls.endAddressOfRawData - static_cast<uint32_t>(base());
        const uint32_t indexRva = tls.addressOfIndex - static_cast<uint32_t>(base());
        if (tls.endAddressOfRawData < tls.startAddressOfRawData || !inImage(start, end - start))
            fail("damaged: the TLS template lies outside the image");
        if (!inImage(indexRva, 4))
            fail("damaged: the TLS index lies outside the image");
        if (tls.addressOfCallbacks != 0 && !inImage(tls.addressOfCallbacks - static_cast<uint32_t>(base()), 4))
            fail("damaged: the TLS callback list lies outside the image");
        if (tls.sizeOfZeroFill > kMaxImageSize)
            fail("damaged: TLS zero fill of " + std::to_string(tls.sizeOfZeroFill) + " bytes");
        tlsDirRva_ = dirs[kDirTls].rva;
        const uint32_t index =
            registerImageTls(std::span<const uint8_t>(base_ + start, end - start), tls.sizeOfZeroFill);
        tlsIndex_ = static_cast<int32_t>(index);
        std::memcpy(base_ + indexRva, &index, 4);
    }

    // Page protections from the section flags; headers are read-only.
    if (opt.sectionAlignment < kPage) {
        // Sections share pages: one protection for the whole image.
        std::fill(pageProtection_.begin(), pageProtection_.end(), kPageExecuteReadWrite);
    } else {
        std::fill(pageProtection_.begin(), pageProtection_.end(), kPageNoAccess);
        std::fill_n(pageProtection_.begin(), alignUp(opt.sizeOfHeaders, kPage) / kPage, kPageReadOnly);
        for (const SectionHeader &s : sections) {
            const uint32_t virtualSize = s.virtualSize ? s.virtualSize : s.sizeOfRawData;
            const uint32_t first = s.virtualAddress / kPage;
            const uint32_t last =
                std::min<uint32_t>(alignUp(s.virtualAddress + virtualSize, kPage) / kPage, pageProtection_.size());
            for (uint32_t p = first; p < last; ++p)
                pageProtection_[p] = sectionProtection(s.characteristics);
        }
    }
    for (uint32_t p = 0; p < pageProtection_.size();) {
        uint32_t q = p;
        while (q < pageProtection_.size() && pageProtection_[q] == pageProtection_[p])
            ++q;
        if (mprotect(base_ + p * kPage, (q - p) * kPage, linuxProtection(pageProtection_[p])) != 0)
            fail(std::string("cannot set page protections: ") + std::strerror(errno));
        p = q;
    }
}

// ---------------------------------------------------------------------------
// Initialisation and release

void PeImage::runInitializers(uint32_t reason)
{
    if (tlsDirRva_ != 0) {
        const auto tls = read<TlsDirectory32>(tlsDirRva_);
        if (tls.addressOfCallbacks != 0) {
            const uint32_t list = tls.addressOfCallbacks - static_cast<uint32_t>(base());
            for (uint32_t i = 0; i < kMaxTlsCallbacks && inImage(list + 4 * i, 4); ++i) {
                const uint32_t va = read<uint32_t>(list + 4 * i);
                if (va == 0)
                    break;
                if (!inImage(va - static_cast<uint32_t>(base()), 1))
                    fail("damaged: a TLS callback at " + hex(va) + " lies outside the image");
                reinterpret_cast<InitRoutine>(static_cast<uintptr_t>(va))(base_, reason, nullptr);
            }
        }
    }
}

void PeImage::initialize()
{
    ThreadBlockScope scope;
    runInitializers(kProcessAttach);
    if (entryRva_ != 0) {
        auto entry = reinterpret_cast<InitRoutine>(base_ + entryRva_);
        if (entry(base_, kProcessAttach, nullptr) == 0) {
            // Refused: the image is told it is going away, as it would be on Windows.
            runInitializers(kProcessDetach);
            entry(base_, kProcessDetach, nullptr);
            fail("the module's entry point refused to attach");
        }
    }
    attached_ = true;
}

PeImage::~PeImage()
{
    if (attached_) {
        try {
            ThreadBlockScope scope;
            runInitializers(kProcessDetach);
            if (entryRva_ != 0)
                reinterpret_cast<InitRoutine>(base_ + entryRva_)(base_, kProcessDetach, nullptr);
        } catch (const PeError &) {
            // No thread block for this thread, or a callback list the image
            // has damaged since attach: it is released without being told.
        }
    }
    if (tlsIndex_ >= 0)
        unregisterImageTls(static_cast<uint32_t>(tlsIndex_));
    if (registered_) {
        std::lock_guard lock(registry().mutex);
        auto &v = registry().images;
        v.erase(std::remove(v.begin(), v.end(), this), v.end());
    }
    if (base_)
        munmap(base_, pageProtection_.size() * kPage);
}

// ---------------------------------------------------------------------------
// Queries

std::string PeImage::fileName() const
{
    const size_t slash = path_.find_last_of('/');
    return slash == std::string::npos ? path_ : path_.substr(slash + 1);
}

bool PeImage::contains(const void *address, uint32_t bytes) const
{
    const uintptr_t a = reinterpret_cast<uintptr_t>(address);
    return a >= base() && uint64_t(a - base()) + bytes <= size_;
}

void *PeImage::findExport(uint16_t ordinal) const
{
    if (exportSize_ == 0 || !inImage(exportRva_, sizeof(ExportDirectory)))
        return nullptr;
    ExportDirectory ed;
    std::memcpy(&ed, base_ + exportRva_, sizeof ed);
    if (ordinal < ed.base || ordinal - ed.base >= ed.numberOfFunctions)
        return nullptr;
    const uint32_t slot = ed.addressOfFunctions + 4 * (ordinal - ed.base);
    if (!inImage(slot, 4))
        return nullptr;
    uint32_t rva;
    std::memcpy(&rva, base_ + slot, 4);
    if (rva == 0 || !inImage(rva, 1))
        return nullptr;
    if (rva >= exportRva_ && rva - exportRva_ < exportSize_)
        return nullptr; // forwarded to another DLL
    return base_ + rva;
}

std::vector<std::string> PeImage::exportNames() const
{
    std::vector<std::string> names;
    if (exportSize_ == 0 || !inImage(exportRva_, sizeof(ExportDirectory)))
        return names;
    ExportDirectory ed;
    std::memcpy(&ed, base_ + exportRva_, sizeof ed);
    for (uint32_t i = 0; i < ed.numberOfNames && inImage(ed.addressOfNames + 4 * i, 4); ++i) {
        uint32_t rva;
        std::memcpy(&rva, base_ + ed.addressOfNames + 4 * i, 4);
        if (!inImage(rva, 1))
            continue;
        const auto *s = reinterpret_cast<const char *>(base_ + rva);
        names.emplace_back(s, strnlen(s, size_ - rva));
    }
    return names;
}

void *PeImage::findExport(std::string_view name) const
{
    if (exportSize_ == 0 || !inImage(exportRva_, sizeof(ExportDirectory)))
        return nullptr;
    ExportDirectory ed;
    std::memcpy(&ed, base_ + exportRva_, sizeof ed);
    for (uint32_t i = 0; i < ed.numberOfNames; ++i) {
        uint32_t rva;
        uint16_t index;
        if (!inImage(ed.addressOfNames + 4 * i, 4) || !inImage(ed.addressOfNameOrdinals + 2 * i, 2))
            return nullptr;
        std::memcpy(&rva, base_ + ed.addressOfNames + 4 * i, 4);
        std::memcpy(&index, base_ + ed.addressOfNameOrdinals + 2 * i, 2);
        if (!inImage(rva, static_cast<uint32_t>(name.size()) + 1))
            continue;
        if (std::memcmp(base_ + rva, name.data(), name.size()) == 0 && base_[rva + name.size()] == 0)
            return findExport(static_cast<uint16_t>(ed.base + index));
    }
    return nullptr;
}

const Resource *PeImage::findResource(const ResourceId &type, const ResourceId &name) const
{
    for (const Resource &r : resources_)
        if (r.type == type && r.name == name)
            return &r;
    return nullptr;
}

bool PeImage::query(uintptr_t address, MemoryRegion &region) const
{
    std::lock_guard lock(protectionMutex_);
    if (address < base() || address - base() >= pageProtection_.size() * kPage)
        return false;
    const size_t first = (address - base()) / kPage;
    size_t end = first;
    while (end < pageProtection_.size() && pageProtection_[end] == pageProtection_[first])
        ++end;
    region.base = base() + first * kPage;
    region.size = static_cast<uint32_t>((end - first) * kPage);
    region.protection = pageProtection_[first];
    return true;
}

bool PeImage::protect(uintptr_t address, uint32_t bytes, uint32_t protection, uint32_t &previous)
{
    const int prot = linuxProtection(protection);
    if (prot < 0 || bytes == 0)
        return false;
    std::lock_guard lock(protectionMutex_);
    const uint64_t mapped = pageProtection_.size() * uint64_t(kPage);
    if (address < base() || uint64_t(address - base()) + bytes > mapped)
        return false;
    const size_t first = (address - base()) / kPage;
    const size_t end = (uint64_t(address - base()) + bytes + kPage - 1) / kPage;
    if (mprotect(base_ + first * kPage, (end - first) * kPage, prot) != 0)
        return false;
    previous = pageProtection_[first];
    std::fill(pageProtection_.begin() + first, pageProtection_.begin() + end, static_cast<uint16_t>(protection));
    return true;
}

PeImage *PeImage::containing(const void *address)
{
    std::lock_guard lock(registry().mutex);
    for (PeImage *image : registry().images)
        if (image->contains(address))
            return image;
    return nullptr;
}

PeImage *PeImage::fromBase(const void *base)
{
    std::lock_guard lock(registry().mutex);
    for (PeImage *image : registry().images)
        if (image->base_ == base)
            return image;
    return nullptr;
}

PeImage *PeImage::findByFileName(std::string_view name)
{
    std::lock_guard lock(registry().mutex);
    for (PeImage *image : registry().images) {
        const std::string file = image->fileName();
        if (file.size() == name.size() && strncasecmp(file.data(), name.data(), name.size()) == 0)
            return image;
    }
    return nullptr;
}

} // namespace corvane::pe
