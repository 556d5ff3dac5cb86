// Dialog templates: the parser against the options dialog's table and the
// module's compiled resources, and against damaged bytes.
#include "dialog_template.h"
#include "res_file.h"
#include "template_builder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

using corvane::win32::DialogTemplate;
using corvane::win32::parseDialogTemplate;
using corvane::win32::TemplateError;
namespace tt = qmtest;

namespace {

std::vector<uint8_t> readFile(const char *path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void expectMatchesTable(const DialogTemplate &t)
{
    const tt::Dialog table = tt::optionsDialog();
    EXPECT_EQ(t.helpId, 0u);
    EXPECT_EQ(t.style, 0x800008C4u);
    EXPECT_EQ(t.exStyle, 0u);
    EXPECT_EQ(t.x, 0);
    EXPECT_EQ(t.y, 0);
    EXPECT_EQ(t.cx, 236);
    EXPECT_EQ(t.cy, 156);
    EXPECT_FALSE(t.hasMenu);
    EXPECT_FALSE(t.hasClass);
    EXPECT_EQ(t.title, "");
    ASSERT_TRUE(t.hasFont);
    EXPECT_EQ(t.pointSize, 8);
    EXPECT_EQ(t.weight, 0);
    EXPECT_EQ(t.italic, 0);
    EXPECT_EQ(t.charSet, 1);
    EXPECT_EQ(t.typeface, "MS Sans Serif");
    ASSERT_EQ(t.items.size(), table.items.size());
    for (size_t i = 0; i < table.items.size(); ++i) {
        SCOPED_TRACE("control " + std::to_string(i + 1));
        const auto &want = table.items[i];
        const auto &got = t.items[i];
        EXPECT_EQ(got.id, want.id);
        EXPECT_TRUE(got.classIsOrdinal);
        EXPECT_EQ(got.classOrdinal, want.classOrdinal);
        EXPECT_EQ(got.style, want.style);
        EXPECT_EQ(got.exStyle, want.exStyle);
        EXPECT_EQ(got.helpId, 0u);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.cx, want.cx);
        EXPECT_EQ(got.cy, want.cy);
        EXPECT_EQ(got.title, want.caption);
        EXPECT_TRUE(got.creationData.empty());
    }
}

// A header without a font, up to the title.
void header(tt::TemplateWriter &b, uint16_t count)
{
    b.u16(1);
    b.u16(0xFFFF);
    b.u32(0);          // help id
    b.u32(0);          // extended style
    b.u32(0x80000000); // WS_POPUP
    b.u16(count);
    for (int i = 0; i < 4; ++i)
        b.u16(10);
    b.u16(0); // menu
    b.u16(0); // class
}

// An item up to its class ordinal; the caption and creation data follow.
void item(tt::TemplateWriter &b, uint32_t id, uint16_t classOrdinal)
{
    b.align4();
    b.u32(0);
    b.u32(0);
    b.u32(0x50000000);
    for (int i = 0; i < 4; ++i)
        b.u16(5);
    b.u32(id);
    b.u16(0xFFFF);
    b.u16(classOrdinal);
}

} // namespace

TEST(DialogTemplate, ParsesTheOptionsDialogAsItsTableGivesIt)
{
    const auto bytes = tt::build(tt::optionsDialog());
    EXPECT_EQ(bytes.size(), 688u);
    expectMatchesTable(parseDialogTemplate(bytes));
}

TEST(DialogTemplate, ParsesTheModulesCompiledDialog)
{
    const auto res = readFile(QM_RES_FILE_PATH);
    ASSERT_FALSE(res.empty()) << QM_RES_FILE_PATH;
    const auto file = corvane::ResourceFile::parse(res);
    const corvane::Resource *dialog = file.find(corvane::kResTypeDialog, 101);
    ASSERT_NE(dialog, nullptr);
    // Byte for byte what the table builds: nothing more, nothing left out.
    EXPECT_EQ(std::vector<uint8_t>(dialog->data.begin(), dialog->data.end()), tt::build(tt::optionsDialog()));
    expectMatchesTable(parseDialogTemplate(dialog->data));
}

TEST(DialogTemplate, EveryTruncationIsRefusedWithoutReadingPastTheEnd)
{
    const auto bytes = tt::build(tt::optionsDialog());
    for (size_t n = 0; n < bytes.size(); ++n) {
        // A copy of exactly n bytes, so the sanitizer sees any read beyond.
        const std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_THROW(parseDialogTemplate(prefix), TemplateError) << n << " bytes";
    }
}

TEST(DialogTemplate, RefusesTemplatesThatAreNotExtended)
{
    auto bytes = tt::build(tt::optionsDialog());
    bytes[0] = 0; // version 0
    EXPECT_THROW(parseDialogTemplate(bytes), TemplateError);
    bytes = tt::build(tt::optionsDialog());
    bytes[2] = 0; // signature 0xFF00
    EXPECT_THROW(parseDialogTemplate(bytes), TemplateError);
}

TEST(DialogTemplate, ReadsNamedClassesOrdinalCaptionsAndCodePageText)
{
    tt::Dialog d;
    d.style = 0x80000000; // no font
    d.title = "Caf\xE9 \x80";
    d.items = {{7, 0, 0x50000000, 0, 1, 2, 3, 4, "x", "BUTTON"}};
    auto bytes = tt::build(d);
    auto t = parseDialogTemplate(bytes);
    EXPECT_FALSE(t.hasFont);
    EXPECT_EQ(t.title, "Caf\xE9 \x80");
    ASSERT_EQ(t.items.size(), 1u);
    EXPECT_FALSE(t.items[0].classIsOrdinal);
    EXPECT_EQ(t.items[0].className, "BUTTON");

    // A caption given as an ordinal (an icon's number) leaves no text.
    tt::TemplateWriter b;
    header(b, 1);
    b.wide("");
    item(b, 9, 0x82);
    b.u16(0xFFFF);
    b.u16(42);
    b.u16(0);
    t = parseDialogTemplate(b.take());
    ASSERT_EQ(t.items.size(), 1u);
    EXPECT_EQ(t.items[0].id, 9u);
    EXPECT_TRUE(t.items[0].titleIsOrdinal);
    EXPECT_EQ(t.items[0].titleOrdinal, 42);
    EXPECT_EQ(t.items[0].title, "");
}

TEST(DialogTemplate, CharactersOutsideTheCodePageBecomeQuestionMarks)
{
    tt::TemplateWriter b;
    header(b, 0);
    for (uint16_t w : {0x3042, 0x00E9, 0x2122, 0xD83D, 0xDE00, 0})
        b.u16(w); // hiragana a, e acute, trade mark, one emoji as a surrogate pair
    EXPECT_EQ(parseDialogTemplate(b.take()).title, "?\xE9\x99?");
}

TEST(DialogTemplate, CreationDataIsKeptAndItemsStayAligned)
{
    tt::TemplateWriter b;
    header(b, 2);
    b.wide("");
    item(b, 1, 0x80);
    b.wide("");
    b.u16(3);
    b.u8(0xAA);
    b.u8(0xBB);
    b.u8(0xCC);
    item(b, 2, 0x81);
    b.wide("");
    b.u16(0);
    const auto t = parseDialogTemplate(b.take());
    ASSERT_EQ(t.items.size(), 2u);
    EXPECT_EQ(t.items[0].creationData, (std::vector<uint8_t>{0xAA, 0xBB, 0xCC}));
    EXPECT_EQ(t.items[1].id, 2u);
    EXPECT_EQ(t.items[1].classOrdinal, 0x81);
}
