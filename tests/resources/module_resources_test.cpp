// The resources the build compiled, as the Linux module carries them: the
// embedded image is the compiled one, dialog 101 is laid out as the options
// dialog expects, and the property list agrees with what the module's code
// reports to the host.
#include "host.h"
#include "res_file.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <ostream>
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

// Little-endian reads over a resource's bytes; a read past the end fails the
// test instead of reading on.
class Cursor {
public:
    explicit Cursor(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    size_t pos() const { return pos_; }
    void align4() { pos_ = (pos_ + 3) & ~size_t{3}; }
    uint32_t u(size_t width)
    {
        if (pos_ + width > bytes_.size()) {
            throw std::runtime_error("read past the end at " + std::to_string(pos_));
        }
        uint32_t v = 0;
        for (size_t i = 0; i < width; ++i) {
            v |= static_cast<uint32_t>(bytes_[pos_ + i]) << (8 * i);
        }
        pos_ += width;
        return v;
    }
    uint16_t u16() { return static_cast<uint16_t>(u(2)); }
    uint32_t u32() { return u(4); }
    int16_t s16() { return static_cast<int16_t>(u16()); }
    std::string wide() // zero-terminated UTF-16, ASCII expected
    {
        std::string s;
        for (uint16_t c = u16(); c != 0; c = u16()) {
            s += static_cast<char>(c);
        }
        return s;
    }
    // An ordinal (0xFFFF, value) read as "#value", else a string.
    std::string ordinalOrString()
    {
        if (bytes_.size() >= pos_ + 2 && bytes_[pos_] == 0xFF && bytes_[pos_ + 1] == 0xFF) {
            pos_ += 2;
            return "#" + std::to_string(u16());
        }
        return wide();
    }
    std::span<const uint8_t> take(size_t n)
    {
        if (pos_ + n > bytes_.size()) {
            throw std::runtime_error("read past the end at " + std::to_string(pos_));
        }
        auto s = bytes_.subspan(pos_, n);
        pos_ += n;
        return s;
    }

private:
    std::span<const uint8_t> bytes_;
    size_t pos_ = 0;
};

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
// Dialog 101, the template the Win32 stand-in builds the options dialog from.

struct Control {
    int32_t id;
    std::string cls; // "#128" button, "#129" edit, "#130" static, "#133" combo box
    uint32_t style;
    uint32_t exStyle;
    int16_t x, y, cx, cy;
    std::string caption;
    bool operator==(const Control &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Control &c)
{
    return os << c.id << ' ' << c.cls << std::hex << " 0x" << c.style << " 0x" << c.exStyle << std::dec << ' ' << c.x
              << ',' << c.y << ' ' << c.cx << 'x' << c.cy << " \"" << c.caption << '"';
}

TEST(ModuleResources, OptionsDialogTemplate)
{
    const Resource *dialog = compiled().find(corvane::kResTypeDialog, 101);
    ASSERT_NE(dialog, nullptr);
    Cursor c(dialog->data);

    EXPECT_EQ(c.u16(), 1); // extended template
    EXPECT_EQ(c.u16(), 0xFFFF);
    EXPECT_EQ(c.u32(), 0u); // help id
    EXPECT_EQ(c.u32(), 0u); // extended style
    EXPECT_EQ(c.u32(), 0x800008C4u);
    const uint16_t count = c.u16();
    EXPECT_EQ(count, 14);
    EXPECT_EQ(c.s16(), 0);
    EXPECT_EQ(c.s16(), 0);
    EXPECT_EQ(c.s16(), 236);
    EXPECT_EQ(c.s16(), 156);
    EXPECT_EQ(c.ordinalOrString(), ""); // no menu
    EXPECT_EQ(c.ordinalOrString(), ""); // standard dialog class
    EXPECT_EQ(c.wide(), "");            // no title
    EXPECT_EQ(c.u16(), 8);              // point size
    EXPECT_EQ(c.u16(), 0);              // weight
    EXPECT_EQ(c.u(1), 0u);              // italic
    EXPECT_EQ(c.u(1), 1u);              // DEFAULT_CHARSET
    EXPECT_EQ(c.wide(), "MS Sans Serif");

    const std::vector<Control> expected = {
        {1, "#128", 0x50010001, 0, 132, 139, 45, 13, "&OK"},
        {2, "#128", 0x50010000, 0, 184, 139, 44, 13, "&Cancel"},
        {1002, "#128", 0x50010003, 0, 30, 31, 40, 8, "&Bold"},
        {1003, "#128", 0x50010003, 0, 30, 39, 40, 8, "&Italic"},
        {1005, "#128", 0x50010003, 0, 75, 39, 81, 8, "&Outline"},
        {1004, "#128", 0x50010003, 0, 75, 31, 83, 8, "&Underline"},
        {-1, "#130", 0x50020000, 0, 7, 22, 91, 8, "Style:"},
        {-1, "#130", 0x50020000, 0x1000, 120, 22, 39, 8, "Alignment:"},
        {1006, "#128", 0x50000009, 0, 165, 23, 64, 8, "&Left"},
        {1007, "#128", 0x50000009, 0, 165, 31, 64, 8, "C&enter"},
        {1008, "#128", 0x50000009, 0, 165, 39, 64, 8, "&Right"},
        {1001, "#133", 0x50210103, 0, 54, 7, 104, 165, ""},
        {-1, "#130", 0x50020000, 0, 7, 7, 44, 8, "Font:"},
        {1000, "#129", 0x50811084, 0, 7, 50, 222, 83, ""},
    };
    for (size_t i = 0; i < std::min<size_t>(count, expected.size()); ++i) {
        SCOPED_TRACE("control " + std::to_string(i + 1));
        c.align4();
        EXPECT_EQ(c.u32(), 0u); // help id
        Control got{};
        got.exStyle = c.u32();
        got.style = c.u32();
        got.x = c.s16();
        got.y = c.s16();
        got.cx = c.s16();
        got.cy = c.s16();
        got.id = static_cast<int32_t>(c.u32());
        got.cls = c.ordinalOrString();
        got.caption = c.ordinalOrString();
        EXPECT_EQ(c.u16(), 0); // no creation data
        EXPECT_EQ(got, expected[i]);
    }
    EXPECT_EQ(c.pos(), dialog->data.size()); // nothing after the last control
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
    Cursor c(pipl->data);
    c.u16();
    c.u32();
    const uint32_t count = c.u32();
    std::vector<Property> out;
    for (uint32_t i = 0; i < count; ++i) {
        Property p;
        p.vendor = fourCharCode(c.u32());
        p.key = fourCharCode(c.u32());
        c.u32();
        const uint32_t length = c.u32();
        p.data = c.take(length);
        c.take((4 - length % 4) % 4);
        out.push_back(p);
    }
    if (c.pos() != pipl->data.size()) {
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
    Cursor c(data);
    return c.u32();
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
