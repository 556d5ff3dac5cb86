// A 32-bit Windows DLL mapped into this process: its sections placed at the
// preferred base (or relocated), its imports bound through an
// ImportResolver, its TLS callbacks and entry point run with process attach.
// Destroying the image runs them again with process detach and releases the
// mapping, the TLS slot and the registration.
//
// Every failure to load is a PeError whose message names the file and says
// what is wrong with it; nothing is left mapped or registered.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::pe {

struct PeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One imported function or datum, by name or by ordinal.
struct ImportRef {
    std::string_view dll;  // as the image spells it, e.g. "KERNEL32.dll"
    std::string_view name; // empty when imported by ordinal
    uint16_t ordinal = 0;  // the ordinal, or the name's hint
    bool byOrdinal() const { return name.empty(); }
};

// Describes an import for messages: "KERNEL32.dll!Sleep" or "foo.dll!#7".
std::string describe(const ImportRef &ref);

class ImportResolver {
public:
    virtual ~ImportResolver() = default;
    // The address the image's import slot receives (a function, or for a
    // data import the datum itself), or nullptr when not provided.
    virtual void *resolve(const ImportRef &ref) = 0;
    // Appended to the message that lists unresolved imports (why they are missing).
    virtual std::string note() const { return {}; }
};

struct LoadOptions {
    // Run the TLS callbacks and the entry point. Off, the image is mapped
    // and bound but no code of it runs (inspection, import checks).
    bool initialize = true;
};

// A resource identifier: a 16-bit id or a UTF-16 name.
struct ResourceId {
    uint16_t id = 0;
    std::u16string name; // non-empty for a named identifier
    bool isName() const { return !name.empty(); }
    bool operator==(const ResourceId &) const = default;
};

struct Resource {
    ResourceId type;
    ResourceId name;
    uint16_t language = 0;
    uint32_t codePage = 0;
    std::span<const uint8_t> data; // inside the mapped image
};

// What VirtualQuery reports for a run of image pages with one protection.
struct MemoryRegion {
    uintptr_t base = 0;
    uint32_t size = 0;
    uint32_t protection = 0; // Windows PAGE_* value
};

class PeImage {
public:
    // Throws PeError. The resolver is only used during the call.
    static std::unique_ptr<PeImage> load(const std::string &path, ImportResolver &resolver,
                                         const LoadOptions &options = {});
    ~PeImage();
    PeImage(const PeImage &) = delete;
    PeImage &operator=(const PeImage &) = delete;

    const std::string &path() const { return path_; }
    std::string fileName() const; // last path component
    uintptr_t base() const { return reinterpret_cast<uintptr_t>(base_); }
    uint32_t size() const { return size_; }
    uint32_t preferredBase() const { return preferredBase_; }
    bool relocated() const { return base() != preferredBase_; }
    bool contains(const void *address, uint32_t bytes = 1) const;

    // Exported code or data by name or ordinal; nullptr when absent or
    // forwarded to another DLL.
    void *findExport(std::string_view name) const;
    void *findExport(uint16_t ordinal) const;
    std::vector<std::string> exportNames() const;

    // Every resource, in directory order (type, name, language ascending).
    const std::vector<Resource> &resources() const { return resources_; }
    const Resource *findResource(const ResourceId &type, const ResourceId &name) const;

    // The image's TLS slot index, or -1 when it has no TLS directory.
    int32_t tlsIndex() const { return tlsIndex_; }

    // Page protection inside the image, as VirtualQuery and VirtualProtect see it.
    bool query(uintptr_t address, MemoryRegion &region) const;
    bool protect(uintptr_t address, uint32_t bytes, uint32_t protection, uint32_t &previous);

    // Images currently loaded in this process.
    static PeImage *containing(const void *address);
    static PeImage *fromBase(const void *base);
    static PeImage *findByFileName(std::string_view name); // case-insensitive

private:
    PeImage() = default;
    void mapAndBind(const std::vector<uint8_t> &file, ImportResolver &resolver);
    void initialize();
    void runInitializers(uint32_t reason);
    void readExports();
    void readResources();

    template <typename T> T read(uint32_t rva) const;
    bool inImage(uint32_t rva, uint64_t bytes) const;
    std::string cString(uint32_t rva, uint32_t maxLength) const;
    [[noreturn]] void fail(const std::string &what) const;
    [[noreturn]] void failOutside(uint32_t rva) const;

    std::string path_;
    uint8_t *base_ = nullptr;
    uint32_t size_ = 0;
    uint32_t preferredBase_ = 0;
    uint32_t entryRva_ = 0;
    uint32_t exportRva_ = 0, exportSize_ = 0;
    uint32_t resourceRva_ = 0, resourceSize_ = 0;
    uint32_t tlsDirRva_ = 0;
    int32_t tlsIndex_ = -1;
    bool attached_ = false;
    bool registered_ = false;
    std::vector<uint16_t> pageProtection_; // Windows PAGE_* per page
    std::vector<Resource> resources_;
    mutable std::mutex protectionMutex_;
};

template <typename T> T PeImage::read(uint32_t rva) const
{
    if (!inImage(rva, sizeof(T)))
        failOutside(rva);
    T value;
    std::memcpy(&value, base_ + rva, sizeof(T));
    return value;
}

} // namespace corvane::pe
