// Scripts in their text form, as the command-line host hands them over,
// and the code-page helpers they rely on.
#include "test_dialog.h"

#include "codepage.h"

using namespace corvane::win32;
using namespace qmtest;
namespace tt = qmtest;

class ScriptText : public StandInTest {};

TEST_F(ScriptText, EveryStepKindActsOnTheDialog)
{
    Script script = Script::parse("# a comment, then a blank line\n"
                                  "\n"
                                  "  check Bold\n"
                                  "uncheck 1002; check italic\n"
                                  "radio Center\n"
                                  "radio Right\n"
                                  "focus 1000\n"
                                  "type  two spaces\\nsecond\\; line \\\\ \n"
                                  "key home\n"
                                  "key delete\n"
                                  "alt u\n"
                                  "font arial\n"
                                  "click 1005");
    ASSERT_EQ(script.steps().size(), 12u);
    EXPECT_EQ(script.steps()[0].description, "check Bold");
    EXPECT_EQ(script.steps()[6].description, "type \" two spaces\nsecond; line \\ \"");
    script.inspect([](LiveDialog &d) {
        EXPECT_FALSE(d.isChecked(kIdBoldBox));
        EXPECT_TRUE(d.isChecked(kIdItalicBox));
        EXPECT_TRUE(d.isChecked(kIdUnderlineBox));
        EXPECT_TRUE(d.isChecked(kIdOutlineBox));
        EXPECT_FALSE(d.isChecked(kIdAlignCenter));
        EXPECT_TRUE(d.isChecked(kIdAlignRight));
        EXPECT_EQ(d.selectedItem(kIdFontList), "Arial");
        EXPECT_EQ(d.text(kIdTextField), " two spaces\r\necond; line \\ ");
    });
    script.ok();
    gBehaviour.onInit = [](HWND dialog) {
        SendMessageA(GetDlgItem(dialog, kIdFontList), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Arial"));
    };
    EXPECT_EQ(run(tt::optionsDialog(), script), 1);
    EXPECT_EQ(report().stepsRun, 14u);
}

TEST_F(ScriptText, TabAndEnterInTypedTextAreKeys)
{
    // Tab leaves the field for OK, where "b" is the Bold mnemonic; Enter on
    // the box then presses the default button.
    EXPECT_EQ(run(tt::optionsDialog(), Script::parse("focus 1000\ntype a\\tb\\n")), 1);
    EXPECT_EQ(commands(), (std::vector<std::pair<uint16_t, uint16_t>>{
                              {kIdTextField, 0x0400}, {kIdTextField, 0x0300}, {kIdBoldBox, 0}, {IDOK, 0}}));
}

TEST_F(ScriptText, TypedTextKeepsItsSpacesAndEscapes)
{
    const Script s = Script::parse("type  x ;type \\n\\t\\\\\\;;type");
    ASSERT_EQ(s.steps().size(), 3u);
    EXPECT_EQ(s.steps()[0].description, "type \" x \"");
    EXPECT_EQ(s.steps()[1].description, "type \"\n\t\\;\"");
    EXPECT_EQ(s.steps()[2].description, "type \"\"");
    EXPECT_TRUE(Script::parse("# nothing\n\n  \n").empty());
}

TEST_F(ScriptText, BadStepsNameTheirLine)
{
    struct Row {
        const char *text;
        const char *message;
    } rows[] = {
        {"ok\njump 3", "line 2: unknown step \"jump\""},
        {"key f13", "line 1: unknown key \"f13\""},
        {"ok\n\ntype a\\qb", "line 3: unknown escape '\\q'"},
        {"type a\\", "line 1: a lone '\\'"},
        {"alt xy", "alt takes one letter"},
        {"ok now", "ok takes no argument"},
        {"check", "names no control"},
        {"font", "names no font"},
    };
    for (const Row &r : rows) {
        try {
            Script::parse(r.text);
            ADD_FAILURE() << "accepted: " << r.text;
        } catch (const ScriptError &e) {
            EXPECT_NE(std::string(e.what()).find(r.message), std::string::npos) << e.what();
        }
    }
}

TEST_F(ScriptText, ACaptionThatIsNotThereFailsWhenTheStepRuns)
{
    run(tt::optionsDialog(), Script::parse("check Shadow"), false);
    EXPECT_NE(report().error.find("no control captioned \"Shadow\""), std::string::npos) << report().error;
}

TEST(CodePage, CaseFoldingAndOrdering)
{
    struct Row {
        const char *a;
        const char *b;
        int order;
    } rows[] = {
        {"abc", "ABC", 0},    {"\xC9t\xE9", "\xE9T\xC9", 0},
        {"\x8A", "\x9A", 0},  {"\x9F", "\xFF", 0},
        {"\xD7", "\xF7", -1}, // multiplication and division signs are not a pair
        {"a", "ab", -1},      {"B", "a", 1},
        {"_", "a", -1},       {"", "", 0},
    };
    for (const Row &r : rows) {
        EXPECT_EQ(compareNoCase(r.a, r.b), r.order) << r.a << " / " << r.b;
        EXPECT_EQ(compareNoCase(r.b, r.a), -r.order) << r.b << " / " << r.a;
        EXPECT_EQ(equalNoCase(r.a, r.b), r.order == 0);
    }
}
