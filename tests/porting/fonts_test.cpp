// The font table: numbers by name, the system font, enumeration.
#include "porting_fixture.h"

#include <algorithm>
#include <cctype>

using namespace qmtest;

namespace {

class Fonts : public PortingTest {};

int16_t fnum(const std::string &name)
{
    std::vector<unsigned char> p = pstr(name);
    int16_t n = -1;
    GetFNum(p.data(), &n);
    return n;
}

TEST_F(Fonts, SystemFontIsNumberZero)
{
    ASSERT_GT(CorvaneFontCount(), 0) << "fontconfig found no fonts";
    CorvaneFontDesc d{};
    ASSERT_EQ(CorvaneGetFontDesc(0, &d), noErr);
    EXPECT_STREQ(d.faceName, "DejaVu Sans");
    EXPECT_EQ(d.fontNumber, 0);
    EXPECT_EQ(d.scalable, 1);
    EXPECT_EQ(d.charSet, 0);
    EXPECT_EQ(fnum("DejaVu Sans"), 0);
}

TEST_F(Fonts, NamesMatchExactlyButCaseInsensitively)
{
    struct Case {
        const char *name;
        bool known;
    };
    const Case cases[] = {
        {"DejaVu Serif", true},
        {"dejavu serif", true},
        {"DEJAVU SERIF", true},
        {"DejaVu Seri", false},
        {"DejaVu Serif ", false},
        {"No Such Family", false},
        {"", false},
    };
    int16_t serif = fnum("DejaVu Serif");
    ASSERT_GT(serif, 0);
    for (const Case &c : cases)
        EXPECT_EQ(fnum(c.name), c.known ? serif : 0) << '"' << c.name << '"';
    int16_t n = 5;
    GetFNum(nullptr, &n);
    EXPECT_EQ(n, 0);
    GetFNum(pstr("DejaVu Serif").data(), nullptr);
    EXPECT_EQ(QDError(), paramErr);
}

TEST_F(Fonts, EveryEnumeratedFamilyIsFoundByItsName)
{
    int32_t count = CorvaneFontCount();
    std::vector<std::string> names;
    for (int32_t i = 0; i < count; ++i) {
        CorvaneFontDesc d{};
        ASSERT_EQ(CorvaneGetFontDesc(i, &d), noErr);
        ASSERT_EQ(d.fontNumber, i);
        ASSERT_GT(std::strlen(d.faceName), 0u);
        EXPECT_GT(std::strlen(d.fullName), 0u);
        EXPECT_TRUE(d.charSet == 0 || d.charSet == 2);
        EXPECT_EQ(fnum(d.faceName), i) << d.faceName;
        std::string upper(d.faceName);
        std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
        EXPECT_EQ(fnum(upper), i) << upper;
        names.push_back(d.faceName);
    }
    // Numbers after 0 follow the names, so they stay put between runs.
    EXPECT_TRUE(std::is_sorted(names.begin() + 1, names.end(), [](const std::string &a, const std::string &b) {
        return strcasecmp(a.c_str(), b.c_str()) < 0;
    }));
    CorvaneFontDesc d{};
    EXPECT_EQ(CorvaneGetFontDesc(count, &d), paramErr);
    EXPECT_EQ(CorvaneGetFontDesc(-1, &d), paramErr);
    EXPECT_EQ(CorvaneGetFontDesc(0, nullptr), paramErr);
}

TEST_F(Fonts, DifferentFamiliesDrawDifferently)
{
    int16_t mono = fnum("DejaVu Sans Mono");
    ASSERT_GT(mono, 0);
    Offscreen off(4, 4);
    setText(0, 20);
    int16_t sans = TextWidth("iiii", 0, 4);
    TextFont(mono);
    EXPECT_NE(TextWidth("iiii", 0, 4), sans);
    EXPECT_EQ(TextWidth("iiii", 0, 4), TextWidth("MMMM", 0, 4)) << "monospaced";
}

} // namespace
