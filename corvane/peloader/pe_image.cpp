#include "pe_image.h"

#include "loader_faults.h"
#include "thread_block.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <strings.h>

namespace corvane::pe {

namespace {

constexpr uint64_t kMaxFileSize = 256u << 20;
constexpr uint32_t kMaxTlsCallbacks = 256;

using InitRoutine = int32_t(__attribute__((stdcall)) *)(void *module, uint32_t reason, void *reserved);

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

// The loader's own mmap and mprotect, each of which a test can make fail.
void *mapPages(void *at, size_t length, int flags)
{
    if (loaderFaultFires(LoaderFault::Mapping)) {
        errno = ENOMEM;
        return MAP_FAILED;
    }
    return mmap(at, length, PROT_READ | PROT_WRITE, flags, -1, 0);
}

int setProtection(void *at, size_t length, int prot)
{
    if (loaderFaultFires(LoaderFault::Protection)) {
        errno = EACCES;
        return -1;
    }
    return mprotect(at, length, prot);
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
    try {
        image->mapAndBind(file, resolver);
    } catch (const FormatError &e) {
        image->fail(e.what());
    }
    if (options.initialize)
        image->initialize();
    return image;
}

void PeImage::fail(const std::string &what) const
{
    throw PeError(path_ + ": " + what);
}

void PeImage::mapAndBind(std::span<const uint8_t> file, ImportResolver &resolver)
{
    headers_ = readHeaders(file, true);
    const Headers &headers = headers_;
    checkLoadable(headers, file.size());
    map(file, headers);
    if (relocated())
        relocate(headers);
    {
        std::lock_guard lock(registry().mutex);
        registry().images.push_back(this);
        registration_.image = this;
    }
    bindImports(resolver);
    readExports(headers.directory(kDirExport));
    readResources();
    allocateTls(headers.directory(kDirTls));
    protectPages(headers);
}

// The preferred base if it is free, anywhere else when the image can be
// relocated.
void PeImage::map(std::span<const uint8_t> file, const Headers &headers)
{
    const OptionalHeader32 &opt = headers.optional;
    const bool relocatable =
        !(headers.file.characteristics & kFileRelocsStripped) && headers.directory(kDirBaseReloc).size != 0;
    const uint32_t length = mappedSize(headers);
    void *preferred = reinterpret_cast<void *>(static_cast<uintptr_t>(opt.imageBase));
    void *mapped = mapPages(preferred, length, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE);
    if (mapped != MAP_FAILED && mapped != preferred) {
        // Kernels that do not know the flag take the address as a hint.
        munmap(mapped, length);
        mapped = MAP_FAILED;
    }
    if (mapped == MAP_FAILED) {
        if (!relocatable)
            fail("cannot be placed at its preferred base " + hex(opt.imageBase) +
                 " (in use) and carries no relocations");
        mapped = mapPages(nullptr, length, MAP_PRIVATE | MAP_ANONYMOUS);
        if (mapped == MAP_FAILED)
            fail(std::string("cannot map ") + std::to_string(length) + " bytes: " + std::strerror(errno));
    }
    mapping_.base = static_cast<uint8_t *>(mapped);
    mapping_.length = length;
    size_ = opt.sizeOfImage;
    preferredBase_ = opt.imageBase;
    entryRva_ = opt.addressOfEntryPoint;
    pageProtection_.assign(length / kPageSize, kPageReadWrite);
    layOut(file, headers, {mapping_.base, length});
}

void PeImage::relocate(const Headers &headers)
{
    const std::vector<Relocation> relocations = readRelocations(image(), headers);
    applyRelocations(image(), relocations, static_cast<uint32_t>(base()) - preferredBase_);
    // As the system loader does, so the headers tell where the image lives.
    const uint32_t newBase = static_cast<uint32_t>(base());
    std::memcpy(mapping_.base + headers.optionalOffset() + offsetof(OptionalHeader32, imageBase), &newBase, 4);
}

// Every unresolved import is collected, so the message lists them all.
void PeImage::bindImports(ImportResolver &resolver)
{
    std::vector<std::string> missing;
    for (const ImportedDll &dll : readImports(image(), headers_)) {
        for (const Import &import : dll.imports) {
            const ImportRef ref{dll.dll, import.name, import.ordinal};
            void *address = resolver.resolve(ref);
            if (!address) {
                missing.push_back(describe(ref));
                continue;
            }
            const uint32_t value = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address));
            std::memcpy(mapping_.base + import.slot, &value, 4);
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

void PeImage::readExports(const DataDirectory &table)
{
    exports_ = ExportTable(image(), table);
}

void PeImage::readResources()
{
    resources_ = ResourceFile::parsePe(image(), PeLayout::Mapped);
}

// Static TLS: the slot index is written before any code can read it.
void PeImage::allocateTls(const DataDirectory &table)
{
    if (table.size == 0)
        return;
    tls_ = readTls(image(), table, static_cast<uint32_t>(base()));
    const uint32_t index =
        registerImageTls(std::span<const uint8_t>(mapping_.base + tls_.start, tls_.end - tls_.start), tls_.zeroFill);
    tlsSlot_.index = static_cast<int32_t>(index);
    std::memcpy(mapping_.base + tls_.indexRva, &index, 4);
}

void PeImage::protectPages(const Headers &headers)
{
    pageProtection_ = pageProtections(headers);
    for (uint32_t p = 0; p < pageProtection_.size();) {
        uint32_t q = p;
        while (q < pageProtection_.size() && pageProtection_[q] == pageProtection_[p])
            ++q;
        if (setProtection(mapping_.base + p * kPageSize, (q - p) * kPageSize, linuxProtection(pageProtection_[p])) != 0)
            fail(std::string("cannot set page protections: ") + std::strerror(errno));
        p = q;
    }
}

// ---------------------------------------------------------------------------
// Initialisation and release

void PeImage::runInitializers(uint32_t reason)
{
    if (tlsSlot_.index < 0 || !tls_.hasCallbacks)
        return;
    // The list is read as it is now: the image may have written to it.
    for (uint64_t i = 0, at = tls_.callbacksRva; i < kMaxTlsCallbacks && at + 4 <= size_; ++i, at += 4) {
        const uint32_t va = detail::read32(image(), at, "a TLS callback");
        if (va == 0)
            break;
        if (!contains(reinterpret_cast<const void *>(static_cast<uintptr_t>(va))))
            fail("damaged: a TLS callback at " + hex(va) + " lies outside the image");
        requireCode(static_cast<uint32_t>(va - base()), "a TLS callback");
        reinterpret_cast<InitRoutine>(static_cast<uintptr_t>(va))(mapping_.base, reason, nullptr);
    }
}

void PeImage::initialize()
{
    ThreadBlockScope scope;
    runInitializers(kProcessAttach);
    if (entryRva_ != 0) {
        auto entry = reinterpret_cast<InitRoutine>(mapping_.base + entryRva_);
        if (entry(mapping_.base, kProcessAttach, nullptr) == 0) {
            // Refused: the image is told it is going away, as it would be on Windows.
            runInitializers(kProcessDetach);
            entry(mapping_.base, kProcessDetach, nullptr);
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
                reinterpret_cast<InitRoutine>(mapping_.base + entryRva_)(mapping_.base, kProcessDetach, nullptr);
        } catch (const PeError &) {
            // No thread block for this thread, or a callback list the image
            // has damaged since attach: it is released without being told.
        }
    }
}

PeImage::Mapping::~Mapping()
{
    if (base)
        munmap(base, length);
}

PeImage::TlsSlot::~TlsSlot()
{
    if (index >= 0)
        unregisterImageTls(static_cast<uint32_t>(index));
}

PeImage::Registration::~Registration()
{
    if (!image)
        return;
    std::lock_guard lock(registry().mutex);
    auto &v = registry().images;
    v.erase(std::remove(v.begin(), v.end(), image), v.end());
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
    const uint32_t rva = exports_.find(ordinal);
    return rva ? mapping_.base + rva : nullptr;
}

void *PeImage::findExport(std::string_view name) const
{
    const uint32_t rva = exports_.find(name);
    return rva ? mapping_.base + rva : nullptr;
}

void *PeImage::findExportedCode(std::string_view name) const
{
    const uint32_t rva = exports_.find(name);
    if (rva == 0)
        return nullptr;
    requireCode(rva, "the export " + std::string(name));
    return mapping_.base + rva;
}

void PeImage::requireCode(uint32_t rva, const std::string &what) const
{
    try {
        checkExecutable(headers_, rva, what);
    } catch (const FormatError &e) {
        fail(e.what());
    }
}

std::vector<std::string> PeImage::exportNames() const
{
    return exports_.names();
}

bool PeImage::query(uintptr_t address, MemoryRegion &region) const
{
    std::lock_guard lock(protectionMutex_);
    if (address < base() || address - base() >= pageProtection_.size() * kPageSize)
        return false;
    const size_t first = (address - base()) / kPageSize;
    size_t end = first;
    while (end < pageProtection_.size() && pageProtection_[end] == pageProtection_[first])
        ++end;
    region.base = base() + first * kPageSize;
    region.size = static_cast<uint32_t>((end - first) * kPageSize);
    region.protection = pageProtection_[first];
    return true;
}

bool PeImage::protect(uintptr_t address, uint32_t bytes, uint32_t protection, uint32_t &previous)
{
    const int prot = linuxProtection(protection);
    if (prot < 0 || bytes == 0)
        return false;
    std::lock_guard lock(protectionMutex_);
    const uint64_t mapped = pageProtection_.size() * uint64_t(kPageSize);
    if (address < base() || uint64_t(address - base()) + bytes > mapped)
        return false;
    const size_t first = (address - base()) / kPageSize;
    const size_t end = (uint64_t(address - base()) + bytes + kPageSize - 1) / kPageSize;
    if (setProtection(mapping_.base + first * kPageSize, (end - first) * kPageSize, prot) != 0)
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
        if (image->mapping_.base == base)
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
