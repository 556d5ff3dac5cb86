// A 32-bit Windows DLL mapped into this process: its sections placed at the
// preferred base (or relocated), its imports bound through an
// ImportResolver, its TLS callbacks and entry point run with process attach.
// Destroying the image runs them again with process detach and releases the
// mapping, the TLS slot and the registration.
//
// Every failure to load is a PeError whose message names the file and says
// what is wrong with it; nothing is left mapped or registered. The headers
// and tables are read by pe_file.h; this maps what they describe.
#pragma once

#include "pe_file.h"
#include "res_file.h"

#include <cstdint>
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
    uintptr_t base() const { return reinterpret_cast<uintptr_t>(mapping_.base); }
    uint32_t size() const { return size_; }
    uint32_t preferredBase() const { return preferredBase_; }
    bool relocated() const { return base() != preferredBase_; }
    bool contains(const void *address, uint32_t bytes = 1) const;

    // Exported code or data by name or ordinal; nullptr when absent or
    // forwarded to another DLL.
    void *findExport(std::string_view name) const;
    // An export the host is about to call: nullptr when absent, a PeError
    // when it lies outside the image's executable sections.
    void *findExportedCode(std::string_view name) const;
    void *findExport(uint16_t ordinal) const;
    std::vector<std::string> exportNames() const;

    // Every resource, in directory order (type, name, language ascending),
    // its data inside the image.
    const ResourceFile &resources() const { return resources_; }

    // The image's TLS slot index, or -1 when it has no TLS directory.
    int32_t tlsIndex() const { return tlsSlot_.index; }

    // Page protection inside the image, as VirtualQuery and VirtualProtect see it.
    bool query(uintptr_t address, MemoryRegion &region) const;
    bool protect(uintptr_t address, uint32_t bytes, uint32_t protection, uint32_t &previous);

    // Images currently loaded in this process.
    static PeImage *containing(const void *address);
    static PeImage *fromBase(const void *base);
    static PeImage *findByFileName(std::string_view name); // case-insensitive

private:
    // What a load acquires, each released by its own destructor: members go
    // in reverse order, so the registration first and the mapping last.
    struct Mapping {
        uint8_t *base = nullptr;
        size_t length = 0;
        Mapping() = default;
        Mapping(const Mapping &) = delete;
        Mapping &operator=(const Mapping &) = delete;
        ~Mapping();
    };
    struct TlsSlot {
        int32_t index = -1;
        TlsSlot() = default;
        TlsSlot(const TlsSlot &) = delete;
        TlsSlot &operator=(const TlsSlot &) = delete;
        ~TlsSlot();
    };
    struct Registration {
        PeImage *image = nullptr;
        Registration() = default;
        Registration(const Registration &) = delete;
        Registration &operator=(const Registration &) = delete;
        ~Registration();
    };

    PeImage() = default;
    void mapAndBind(std::span<const uint8_t> file, ImportResolver &resolver);
    void map(std::span<const uint8_t> file, const Headers &headers);
    void relocate(const Headers &headers);
    void bindImports(ImportResolver &resolver);
    void readExports(const DataDirectory &table);
    void readResources();
    void allocateTls(const DataDirectory &table);
    void protectPages(const Headers &headers);
    void initialize();
    void runInitializers(uint32_t reason);

    std::span<uint8_t> image() const { return {mapping_.base, size_}; }
    [[noreturn]] void fail(const std::string &what) const;
    void requireCode(uint32_t rva, const std::string &what) const; // PeError unless executable

    std::string path_;
    Mapping mapping_;
    uint32_t size_ = 0;
    uint32_t preferredBase_ = 0;
    uint32_t entryRva_ = 0;
    Headers headers_;
    ExportTable exports_;
    ResourceFile resources_;
    TlsTemplate tls_;
    std::vector<uint16_t> pageProtection_; // Windows PAGE_* per page
    mutable std::mutex protectionMutex_;
    TlsSlot tlsSlot_;
    Registration registration_;
    bool attached_ = false;
};

} // namespace corvane::pe
