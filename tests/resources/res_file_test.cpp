// The compiled-resource reader on .res images: names, languages, alignment,
// lookups, and refusal of malformed or truncated input.
#include "res_builder.h"
#include "res_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>

using corvane::ResourceFile;
using qmtest::buildRes;
using qmtest::Bytes;
using qmtest::Entry;

namespace {

Bytes bytesOf(size_t n, uint8_t first)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) {
        b[i] = static_cast<uint8_t>(first + i);
    }
    return b;
}

// Data sizes 0 to 5 put every entry after them at each alignment remainder;
// names of odd and even length do the same inside the headers.
std::vector<Entry> sampleEntries()
{
    return {
        {uint16_t{5}, uint16_t{101}, 1033, bytesOf(5, 0x10)},
        {u"PIPL", uint16_t{16000}, 1033, bytesOf(0, 0)},
        {u"AB", u"NAMED", 1031, bytesOf(1, 0x20)},
        {uint16_t{16}, uint16_t{1}, 1033, bytesOf(2, 0x30)},
        {u"ABC", uint16_t{7}, 0, bytesOf(3, 0x40)},
        {uint16_t{10}, u"X", 1033, bytesOf(4, 0x50)},
    };
}

TEST(ResFile, ReadsEveryEntryWithItsNamesLanguageAndData)
{
    const auto entries = sampleEntries();
    const Bytes image = buildRes(entries);
    const ResourceFile file = ResourceFile::parse(image);

    ASSERT_EQ(file.resources().size(), entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE(i);
        const auto &got = file.resources()[i];
        const auto &want = entries[i];
        auto check = [](const corvane::ResName &name, const qmtest::ResKey &key) {
            if (const auto *id = std::get_if<uint16_t>(&key)) {
                EXPECT_TRUE(name.isId);
                EXPECT_EQ(name.id, *id);
            } else {
                EXPECT_FALSE(name.isId);
                const auto &s = std::get<std::u16string>(key);
                EXPECT_EQ(name.name, std::string(s.begin(), s.end()));
            }
        };
        check(got.type, want.type);
        check(got.name, want.name);
        EXPECT_EQ(got.language, want.language);
        EXPECT_EQ(Bytes(got.data.begin(), got.data.end()), want.data);
        // The span points into the image, on a 4-byte boundary.
        EXPECT_GE(got.data.data(), image.data());
        EXPECT_EQ((got.data.data() - image.data()) % 4, 0);
    }
}

TEST(ResFile, EmptyImageHoldsNoResources)
{
    EXPECT_TRUE(ResourceFile::parse(buildRes({})).resources().empty());
}

TEST(ResFile, FindsByOrdinalAndByNameIgnoringCase)
{
    const Bytes image = buildRes(sampleEntries());
    const ResourceFile file = ResourceFile::parse(image);

    const auto *dialog = file.find(uint16_t{5}, uint16_t{101});
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->data.size(), 5u);
    ASSERT_NE(file.find("PIPL", 16000), nullptr);
    EXPECT_EQ(file.find("pipl", 16000), file.find("PIPL", 16000));
    EXPECT_EQ(file.find(uint16_t{10}, uint16_t{1}), nullptr); // named, not numbered
    EXPECT_EQ(file.find(uint16_t{5}, uint16_t{102}), nullptr);
    EXPECT_EQ(file.find("PIP", 16000), nullptr);
    EXPECT_EQ(file.find("PIPLX", 16000), nullptr);
    EXPECT_EQ(file.find("AB", 0), nullptr); // its name is a string
}

TEST(ResFile, FindReturnsTheFirstOfSeveralLanguages)
{
    const Bytes image = buildRes({{uint16_t{5}, uint16_t{1}, 1031, {1}}, {uint16_t{5}, uint16_t{1}, 1033, {2}}});
    const ResourceFile file = ResourceFile::parse(image);
    const auto *r = file.find(uint16_t{5}, uint16_t{1});
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->language, 1031);
}

TEST(ResFile, NonAsciiNamesBecomeUtf8)
{
    const Bytes image = buildRes({{std::u16string(u"\u00C9T\U0001F600"), uint16_t{1}, 1033, {}}});
    const ResourceFile file = ResourceFile::parse(image);
    EXPECT_EQ(file.resources()[0].type.name, "\xC3\x89T\xF0\x9F\x98\x80");
}

TEST(ResFile, LastEntryMayEndWithoutItsPadding)
{
    std::vector<size_t> ends;
    Bytes image = buildRes({{uint16_t{5}, uint16_t{1}, 1033, {1, 2, 3}}}, &ends);
    image.resize(ends.back());
    const ResourceFile file = ResourceFile::parse(image);
    ASSERT_EQ(file.resources().size(), 1u);
    EXPECT_EQ(file.resources()[0].data.size(), 3u);
}

// Every cut of a valid image either falls where an entry ends (its padding
// cut or not), and yields the entries before it, or is refused.
TEST(ResFile, EveryTruncationIsRefusedOrEndsOnAnEntry)
{
    std::vector<size_t> ends;
    const auto entries = sampleEntries();
    const Bytes image = buildRes(entries, &ends);
    std::set<size_t> boundaries = {32};
    for (size_t end : ends) {
        for (size_t n = end; n <= ((end + 3) & ~size_t{3}); ++n) {
            boundaries.insert(n); // padding may be cut, wholly or in part
        }
    }
    for (size_t n = 0; n < image.size(); ++n) {
        SCOPED_TRACE(n);
        std::vector<uint8_t> cut(image.begin(), image.begin() + n); // own allocation, so ASan sees overreads
        if (boundaries.count(n)) {
            const size_t expected = std::count_if(ends.begin(), ends.end(), [&](size_t e) { return e <= n; });
            EXPECT_EQ(ResourceFile::parse(cut).resources().size(), expected);
        } else {
            EXPECT_THROW(ResourceFile::parse(cut), std::runtime_error);
        }
    }
}

// Every single-byte corruption is either read as some resource image or
// refused with an error; it never reads outside the bytes.
TEST(ResFile, CorruptBytesNeverEscapeTheImage)
{
    const Bytes image = buildRes(sampleEntries());
    for (size_t i = 0; i < image.size(); ++i) {
        for (uint8_t value : {uint8_t{0x00}, uint8_t{0x7F}, uint8_t{0xFF}}) {
            Bytes bad = image;
            bad[i] = value;
            try {
                const ResourceFile file = ResourceFile::parse(bad);
                for (const auto &r : file.resources()) {
                    ASSERT_GE(r.data.data(), bad.data());
                    ASSERT_LE(r.data.data() + r.data.size(), bad.data() + bad.size());
                }
            } catch (const std::runtime_error &) {
            }
        }
    }
}

struct Malformed {
    const char *what;
    bool longTypeName; // damage the image whose only entry has a 12-character type
    std::function<void(Bytes &)> damage;
    const char *message; // part of the error text
};

TEST(ResFile, RefusesMalformedImagesWithAClearMessage)
{
    using qmtest::set32;
    // Offsets: entry 1 starts at 32 (DataSize at 32, HeaderSize at 36).
    const std::vector<Malformed> cases = {
        {"too short for the empty entry", false, [](Bytes &b) { b.resize(20); },
         "shorter than the 32-byte empty entry"},
        {"16-bit resource file", false, [](Bytes &b) { b[0] = 0xFF; }, "does not open with the 32-byte empty entry"},
        {"empty entry with data", false, [](Bytes &b) { b[0] = 4; }, "does not open with"},
        {"header size too small", false, [](Bytes &b) { set32(b, 36, 24); }, "HeaderSize 24"},
        {"header size not aligned", false, [](Bytes &b) { set32(b, 36, 34); }, "HeaderSize 34"},
        {"header past the end", false, [](Bytes &b) { set32(b, 36, 0x1000); }, "entry 1 at offset 32: header"},
        {"data past the end", false, [](Bytes &b) { set32(b, 32, 0x1000); }, "entry 1 at offset 32: data"},
        {"data size wraps", false, [](Bytes &b) { set32(b, 32, 0xFFFFFFFF); }, "run past the end"},
        {"header size wraps", false, [](Bytes &b) { set32(b, 36, 0xFFFFFFFC); }, "run past the end"},
        // The type takes header bytes 8 to 33, its zero at 32 and 33.
        {"type string without its zero", true, [](Bytes &b) { set32(b, 36, 32); },
         "type string has no terminating zero"},
        {"no room after the names", true, [](Bytes &b) { set32(b, 36, 40); }, "leaves no room"},
        {"trailing garbage", false,
         [](Bytes &b) {
             b.insert(b.end(), {1, 2, 3, 4, 5});
         },
         "entry 7"},
    };
    const Bytes image = buildRes(sampleEntries());
    const Bytes longType = buildRes({{u"ABCDEFGHIJKL", uint16_t{1}, 1033, {9}}});
    ASSERT_EQ(longType[36], 56); // header: 8 + 26 + 4, aligned to 40, + 16
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes bad = c.longTypeName ? longType : image;
        c.damage(bad);
        qmtest::expectRefused([&] { ResourceFile::parse(bad); }, c.message);
    }
}

} // namespace
