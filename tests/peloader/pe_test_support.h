// Shared helpers for the loader tests: the fixture DLL's import provider,
// scratch files and address-space probes (fixture paths: pe_fixtures.h).
#pragma once

#include "pe_fixtures.h"
#include "pe_image.h"
#include "thread_block.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace qmtest {

// A file in the test output folder, removed again when the test ends.
class ScratchFile {
public:
    ScratchFile(const std::string &name, const std::vector<uint8_t> &bytes)
        : path_(std::string(QM_TEST_OUTPUT_DIR) + "/peloader_" + std::to_string(getpid()) + "_" + name)
    {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    ~ScratchFile() { std::remove(path_.c_str()); }
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

// Whether [address, address + size) is free: a fixed mapping that may not
// replace anything succeeds exactly there.
inline bool addressRangeFree(uintptr_t address, size_t size)
{
    void *p = mmap(reinterpret_cast<void *>(address), size, PROT_NONE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (p == MAP_FAILED)
        return false;
    munmap(p, size);
    return p == reinterpret_cast<void *>(address);
}

// Holds an address range so an image cannot be placed there.
class AddressBlocker {
public:
    AddressBlocker(uintptr_t address, size_t size) : size_(size)
    {
        p_ = mmap(reinterpret_cast<void *>(address), size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE,
                  -1, 0);
        held_ = p_ == reinterpret_cast<void *>(address);
    }
    ~AddressBlocker()
    {
        if (p_ != MAP_FAILED)
            munmap(p_, size_);
    }
    bool held() const { return held_; }

private:
    void *p_;
    size_t size_;
    bool held_ = false;
};

// PeFixtureHost.dll, which the basic fixture imports from.
struct FixtureHost : corvane::pe::ImportResolver {
    static inline std::vector<uint32_t> recorded;
    static inline int32_t attachAnswer = 1;
    static inline int32_t counter = 7;
    std::vector<std::string> withheld; // imports to leave unresolved ("hostCounter", "#5")

    static void hostRecord(uint32_t event, uint32_t) { recorded.push_back(event); }
    static int32_t hostAttachAnswer() { return attachAnswer; }
    static int32_t hostTwice(int32_t v) { return 2 * v; }

    static void reset()
    {
        recorded.clear();
        attachAnswer = 1;
        counter = 7;
    }

    void *resolve(const corvane::pe::ImportRef &ref) override
    {
        if (ref.dll != "PeFixtureHost.dll")
            return nullptr;
        const std::string key = ref.byOrdinal() ? "#" + std::to_string(ref.ordinal) : std::string(ref.name);
        for (const std::string &w : withheld)
            if (w == key)
                return nullptr;
        if (key == "hostRecord")
            return reinterpret_cast<void *>(&hostRecord);
        if (key == "hostAttachAnswer")
            return reinterpret_cast<void *>(&hostAttachAnswer);
        if (key == "#5")
            return reinterpret_cast<void *>(&hostTwice);
        if (key == "hostCounter")
            return &counter;
        return nullptr;
    }
};

// Calls an export of an image with the thread block in place.
template <typename Fn, typename... Args> auto callExport(corvane::pe::PeImage &image, const char *name, Args... args)
{
    auto fn = reinterpret_cast<Fn>(image.findExport(name));
    if (!fn)
        throw std::runtime_error(std::string("no export ") + name);
    corvane::pe::ThreadBlockScope scope;
    return fn(args...);
}

template <typename T> T exportedValue(corvane::pe::PeImage &image, const char *name)
{
    const void *p = image.findExport(name);
    EXPECT_NE(p, nullptr) << name;
    return p ? *static_cast<const T *>(p) : T{};
}

} // namespace qmtest
