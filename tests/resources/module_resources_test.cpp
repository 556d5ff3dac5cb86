// The resources the build compiled, as the Linux module carries them: the
// embedded image is the compiled one, and the property list agrees with
// what the module's code reports to the host. (Dialog 101's layout is
// checked with the dialog template parser, in the Win32 tests.)
#include "byte_reader.h"
#include "host.h"
#include "res_file.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using corvane::Resource;
using corvane::ResourceFile;

namespace {

std::vector<uint8_t> readFile(const char *path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error(std::string("cannot open ") + path);
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const std::vector<uint8_t> &compiledImage()
{
    static const std::vector<uint8_t> bytes = readFile(QM_RES_FILE);
    return bytes;
}

const ResourceFile &compiled()
{
    static const ResourceFile file = ResourceFile::parse(compiledImage());
    return file;
}

TEST(ModuleResources, LinuxModuleEmbedsTheCompiledImage)
{
    const std::vector<uint8_t> module = readFile(QM_MODULE_PATH);
    const auto &image = compiledImage();
    ASSERT_GT(image.size(), 32u);
    const auto at = std::search(module.begin(), module.end(), image.begin(), image.end());
    ASSERT_NE(at, module.end()) << "the module does not hold the compiled resources";
    EXPECT_EQ((at - module.begin()) % 4, 0);
}

TEST(ModuleResources, EveryResourceIsUsEnglishOfItsSize)
{
    struct Expected {
        const char *what;
        const Resource *resource;
        size_t size;
    };
    const ResourceFile &file = compiled();
    const std::vector<Expected> table = {
        {"dialog 101", file.find(corvane::kResTypeDialog, 101), 688},
        {"DLOG 128", file.find("DLOG", 128), 26},
        {"DITL 128", file.find("DITL", 128), 294},
        {"MNUU 128", file.find("MNUU", 128), 9},
        {"PIPL 16000", file.find("PIPL", 16000), 262},
        {"version 1", file.find(corvane::kResTypeVersion, 1), 812},
    };
    EXPECT_EQ(file.resources().size(), table.size());
    for (const auto &e : table) {
        SCOPED_TRACE(e.what);
        ASSERT_NE(e.resource, nullptr);
        EXPECT_EQ(e.resource->language, 1033);
        EXPECT_EQ(e.resource->data.size(), e.size);
    }
}

// ---------------------------------------------------------------------------
// Property list values that must agree with the module's code.

struct Property {
    std::string vendor, key;
    std::span<const uint8_t> data; // declared length
};

std::string fourCharCode(uint32_t v) // stored little-endian, first character most significant
{
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

std::vector<Property> properties()
{
    const Resource *pipl = compiled().find("PIPL", 16000);
    if (!pipl) {
        throw std::runtime_error("no property list");
    }
    corvane::ByteCursor c(pipl->data, "the property list");
    c.skip(6, "the header");
    const uint32_t count = c.u32("the header");
    std::vector<Property> out;
    for (uint32_t i = 0; i < count; ++i) {
        Property p;
        p.vendor = fourCharCode(c.u32("a property"));
        p.key = fourCharCode(c.u32("a property"));
        c.skip(4, "a property");
        const uint32_t length = c.u32("a property");
        p.data = c.take(length, "a property");
        c.skip((4 - length % 4) % 4, "padding");
        out.push_back(p);
    }
    if (c.remaining() != 0) {
        throw std::runtime_error("property list has bytes after its last property");
    }
    return out;
}

std::span<const uint8_t> property(const std::string &key)
{
    for (const Property &p : properties()) {
        if (p.key == key) {
            EXPECT_EQ(p.vendor, "ZQVK");
            return p.data;
        }
    }
    throw std::runtime_error("no property " + key);
}

uint32_t propertyWord(const std::string &key)
{
    auto data = property(key);
    EXPECT_EQ(data.size(), 4u) << key;
    return corvane::detail::read32(data, 0, key.c_str());
}

class Agreement : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(host.globalSetup(), 0); }
    corvane::Host host{QM_MODULE_PATH};
};

TEST_F(Agreement, VersionIsWhatGlobalSetupReports)
{
    EXPECT_EQ(propertyWord("eVER"), static_cast<uint32_t>(host.out().effectVersion));
}

TEST_F(Agreement, GlobalFlagsAreWhatGlobalSetupReports)
{
    EXPECT_EQ(propertyWord("eGLO"), static_cast<uint32_t>(host.out().outFlags));
}

TEST_F(Agreement, NameIsTheOneGivenWithTheStringTable)
{
    auto data = property("name");
    ASSERT_FALSE(data.empty());
    ASSERT_LE(size_t{data[0]} + 1, data.size());
    const std::string name(data.begin() + 1, data.begin() + 1 + data[0]);
    const corvane::StringTableInfo *table = host.lastStringTable();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(name, table->effectName);
}

TEST_F(Agreement, EntryPointIsTheModuleExport)
{
    auto data = property("wx86");
    const std::string entry(reinterpret_cast<const char *>(data.data()),
                            strnlen(reinterpret_cast<const char *>(data.data()), data.size()));
    ASSERT_LT(entry.size(), data.size()) << "entry point name is not zero-terminated";
    void *module = dlopen(QM_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    EXPECT_NE(dlsym(module, entry.c_str()), nullptr) << entry;
    dlclose(module);
}

} // namespace
