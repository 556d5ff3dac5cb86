// The options command through `main`, with the real module, the stand-in
// host and a scripted user at the dialog.
#include "options_fixture.h"

using namespace qmtest;

TEST_F(Options, ABlankRecordOpensEmptyOnTheLeftWithTheFirstFont)
{
    const auto before = stored();
    EXPECT_EQ(options(Script()
                          .inspect([](LiveDialog &d) {
                              for (int box : {kIdBoldBox, kIdItalicBox, kIdUnderlineBox, kIdOutlineBox})
                                  EXPECT_FALSE(d.isChecked(box)) << box;
                              EXPECT_TRUE(d.isChecked(kIdAlignLeft));
                              EXPECT_FALSE(d.isChecked(kIdAlignCenter));
                              EXPECT_FALSE(d.isChecked(kIdAlignRight));
                              EXPECT_EQ(d.items(kIdFontList), kSortedFonts);
                              EXPECT_EQ(d.selectedItem(kIdFontList), "arial");
                              EXPECT_EQ(d.text(kIdTextField), "");
                              EXPECT_EQ(d.focusedId(), kIdTextField);
                          })
                          .cancel()),
              517);
    EXPECT_EQ(stored(), before);
}

TEST_F(Options, CancelAndEscapeLeaveEveryByteAsItWas)
{
    std::vector<uint8_t> r = record("Hello\rWorld \xE9", "Verdana", 5, 2);
    bytesOf(r, Field::Text)[100] = 0x5A; // bytes after the terminator are kept too
    bytesOf(r, Field::FontName)[200] = 0x5A;
    store(r);
    const Script changes = Script().type("more").check(kIdItalicBox).chooseRadio(kIdAlignCenter).pickFont("arial");
    const std::vector<std::pair<const char *, Script>> ways = {
        {"Cancel", Script().cancel()},
        {"Escape", Script().escape()},
        {"changes, then Cancel", Script(changes).cancel()},
        {"changes, then Escape from the list", Script(changes).focus(kIdFontList).escape()},
    };
    for (const auto &[what, script] : ways) {
        EXPECT_EQ(options(script), 517) << what;
        EXPECT_EQ(stored(), r) << what;
    }
}

TEST_F(Options, OkKeepsOnlyTheFourFaceBits)
{
    struct Row {
        uint16_t style;
        uint16_t kept;
    } rows[] = {{0, 0}, {1, 1}, {2, 2}, {4, 4}, {8, 8}, {15, 15}, {0x10, 0}, {0xFFFF, 15}, {0x8009, 9}, {0x0106, 6}};
    for (const Row &r : rows) {
        store(record("text", "Courier New", r.style, 1));
        EXPECT_EQ(options(Script()
                              .inspect([&](LiveDialog &d) {
                                  EXPECT_EQ(d.isChecked(kIdBoldBox), (r.style & 1) != 0);
                                  EXPECT_EQ(d.isChecked(kIdItalicBox), (r.style & 2) != 0);
                                  EXPECT_EQ(d.isChecked(kIdUnderlineBox), (r.style & 4) != 0);
                                  EXPECT_EQ(d.isChecked(kIdOutlineBox), (r.style & 8) != 0);
                              })
                              .ok()),
                  0)
            << r.style;
        EXPECT_EQ(stored(), record("text", "Courier New", r.kept, 1)) << r.style;
    }
}

TEST_F(Options, TheBoxesSetTheirOwnBits)
{
    struct Row {
        std::vector<int> ticked;
        uint16_t style;
    } rows[] = {{{kIdBoldBox}, 1},
                {{kIdItalicBox}, 2},
                {{kIdUnderlineBox}, 4},
                {{kIdOutlineBox}, 8},
                {{kIdBoldBox, kIdOutlineBox}, 9},
                {{kIdItalicBox, kIdUnderlineBox}, 6}};
    for (const Row &r : rows) {
        store(record("", "arial"));
        Script s;
        for (int box : r.ticked)
            s.check(box);
        EXPECT_EQ(options(s.ok()), 0);
        EXPECT_EQ(fields().style, r.style);
    }
}

TEST_F(Options, AlignmentOutsideTheThreeShowsNoButtonAndStoresLeft)
{
    struct Row {
        uint16_t alignment;
        int shown;  // 0: none
        int choose; // 0: leave alone
        uint16_t stored;
    } rows[] = {
        {0, kIdAlignLeft, 0, 0},   {1, kIdAlignCenter, 0, 1},
        {2, kIdAlignRight, 0, 2},  {3, 0, 0, 0},
        {0xFFFF, 0, 0, 0},         {3, 0, kIdAlignRight, 2},
        {3, 0, kIdAlignCenter, 1}, {2, kIdAlignRight, kIdAlignLeft, 0},
    };
    for (const Row &r : rows) {
        store(record("", "arial", 0, r.alignment));
        Script s;
        s.inspect([&](LiveDialog &d) {
            for (int button : {kIdAlignLeft, kIdAlignCenter, kIdAlignRight})
                EXPECT_EQ(d.isChecked(button), button == r.shown) << r.alignment << ": " << button;
        });
        if (r.choose)
            s.chooseRadio(r.choose);
        EXPECT_EQ(options(s.ok()), 0);
        EXPECT_EQ(fields().alignment, r.stored) << r.alignment;
    }
}

TEST_F(Options, TwoHundredCharactersSurviveTheRoundTrip)
{
    std::string text;
    for (int i = 0; i < 200; ++i)
        text.push_back(static_cast<char>(i % 2 ? 0xE0 + i % 20 : 'a' + i % 26)); // code-page bytes above 127 too
    store(record(text, "arial"));
    const auto inspect = [&](LiveDialog &d) { EXPECT_EQ(d.text(kIdTextField), text); };
    EXPECT_EQ(options(Script().inspect(inspect).ok()), 0);
    EXPECT_EQ(fields().text, text);
    EXPECT_EQ(options(Script().inspect(inspect).cancel()), 517);
}

TEST_F(Options, ThreeHundredTypedCharactersStoreTheFirst254)
{
    std::string typed;
    for (int i = 0; i < 300; ++i)
        typed.push_back(static_cast<char>('A' + i % 26));
    EXPECT_EQ(
        options(Script().type(typed).inspect([&](LiveDialog &d) { EXPECT_EQ(d.text(kIdTextField), typed); }).ok()), 0);
    EXPECT_EQ(fields().text, typed.substr(0, 254));
    EXPECT_EQ(fields().fontName, "arial"); // nothing else spilled over
}

TEST_F(Options, EnterInTheTextInsertsALineBreak)
{
    EXPECT_EQ(options(Script().type("one\ntwo").inspect([](LiveDialog &d) { EXPECT_TRUE(d.isOpen()); }).ok()), 0);
    EXPECT_EQ(fields().text, "one\r\ntwo");
    // Enter anywhere else confirms.
    EXPECT_EQ(options(Script().focus(kIdBoldBox).press(Key::Space).enter()), 0);
    EXPECT_EQ(fields().style, 1);
}

TEST_F(Options, AFontNameIsFoundIgnoringCase)
{
    store(record("", "ARIAL"));
    EXPECT_EQ(
        options(Script().inspect([](LiveDialog &d) { EXPECT_EQ(d.selectedItem(kIdFontList), "arial"); }).cancel()),
        517);
    EXPECT_EQ(fields().fontName, "ARIAL");
    store(record("", "times new roman"));
    EXPECT_EQ(
        options(
            Script().inspect([](LiveDialog &d) { EXPECT_EQ(d.selectedItem(kIdFontList), "Times New Roman"); }).ok()),
        0);
    EXPECT_EQ(fields().fontName, "Times New Roman"); // the list's spelling
}

TEST_F(Options, AnUnknownFontFallsBackToTheLastConfirmedThenTheFirst)
{
    store(record("", "Nonesuch"));
    EXPECT_EQ(options(Script()
                          .inspect([](LiveDialog &d) { EXPECT_EQ(d.selectedItem(kIdFontList), "arial"); })
                          .pickFont("Verdana")
                          .ok()),
              0);
    EXPECT_EQ(fields().fontName, "Verdana");

    store(record("", "Nonesuch"));
    EXPECT_EQ(
        options(Script().inspect([](LiveDialog &d) { EXPECT_EQ(d.selectedItem(kIdFontList), "Verdana"); }).cancel()),
        517);
    EXPECT_EQ(fields().fontName, "Nonesuch"); // the name stays until OK

    // A confirmed font that is no longer installed: the first again.
    setFontList({trueType("Tahoma"), trueType("Georgia")});
    EXPECT_EQ(
        options(Script().inspect([](LiveDialog &d) { EXPECT_EQ(d.selectedItem(kIdFontList), "Georgia"); }).cancel()),
        517);
}

TEST_F(Options, TheLastConfirmedFontServesEveryInstance)
{
    corvane::Instance &other = host_->newInstance();
    ASSERT_EQ(other.setup(), 0);
    EXPECT_EQ(options(Script().pickFont("Courier New").ok()), 0);
    // The other instance's blank record has no font: it opens on the confirmed one.
    EXPECT_EQ(
        options(Script().inspect([](LiveDialog &d) { EXPECT_EQ(d.selectedItem(kIdFontList), "Courier New"); }).cancel(),
                &other),
        517);
    // Cancel confirms nothing.
    EXPECT_EQ(options(Script().pickFont("Verdana").cancel()), 517);
    EXPECT_EQ(
        options(Script().inspect([](LiveDialog &d) { EXPECT_EQ(d.selectedItem(kIdFontList), "Courier New"); }).ok(),
                &other),
        0);
    EXPECT_EQ(corvane::record::decode(other.storedRecord()).fontName, "Courier New");
}

TEST_F(Options, TheListLeavesOutRasterFontsAndVerticalFarEastFacesAndRepeats)
{
    std::vector<FontEntry> fonts;
    for (int charSet : {0, 1, 2, 77, 128, 129, 130, 131, 132, 133, 134, 135, 136, 161, 222, 255})
        fonts.push_back(FontEntry{"@Face " + std::to_string(charSet), "@Face " + std::to_string(charSet),
                                  static_cast<uint8_t>(charSet), TRUETYPE_FONTTYPE});
    fonts.push_back(FontEntry{"Mincho", "Mincho", SHIFTJIS_CHARSET, TRUETYPE_FONTTYPE}); // horizontal face
    fonts.push_back(FontEntry{"Gothic", "@Gothic", HANGUL_CHARSET, TRUETYPE_FONTTYPE});  // the full name decides
    fonts.push_back(FontEntry{"@Batang", "Batang", HANGUL_CHARSET, TRUETYPE_FONTTYPE});
    fonts.push_back(FontEntry{"Fixedsys", "Fixedsys", ANSI_CHARSET, RASTER_FONTTYPE});
    fonts.push_back(FontEntry{"Terminal", "Terminal", ANSI_CHARSET, RASTER_FONTTYPE | DEVICE_FONTTYPE});
    fonts.push_back(FontEntry{"Roman", "Roman", ANSI_CHARSET, 0}); // a vector font
    fonts.push_back(FontEntry{"Printer", "Printer", ANSI_CHARSET, DEVICE_FONTTYPE});
    fonts.push_back(FontEntry{"Odd", "Odd", ANSI_CHARSET, RASTER_FONTTYPE | TRUETYPE_FONTTYPE});
    fonts.push_back(trueType("Tahoma"));
    fonts.push_back(trueType("TAHOMA"));
    fonts.push_back(trueType("Tahoma"));
    setFontList(fonts);
    const std::vector<std::string> expected = {
        "@Batang",   "@Face 0",   "@Face 1",   "@Face 130", "@Face 131", "@Face 132",
        "@Face 133", "@Face 135", "@Face 161", "@Face 2",   "@Face 222", "@Face 255",
        "@Face 77",  "Mincho",    "Odd",       "Printer",   "Roman",     "Tahoma",
    };
    EXPECT_EQ(options(Script().inspect([&](LiveDialog &d) { EXPECT_EQ(d.items(kIdFontList), expected); }).cancel()),
              517);
}

TEST_F(Options, WithoutADisplayContextTheFontIsSystemAndTheTypedTextIsKept)
{
    store(record("old text", "Verdana", 9, 2));
    setCreateDCFails(true);
    EXPECT_EQ(options(Script()
                          .inspect([](LiveDialog &d) {
                              EXPECT_TRUE(d.items(kIdFontList).empty());
                              EXPECT_EQ(d.text(kIdTextField), "");
                              EXPECT_NE(d.focusedId(), kIdTextField); // initialisation stopped before the focus
                              EXPECT_TRUE(d.isChecked(kIdBoldBox));
                              EXPECT_TRUE(d.isChecked(kIdOutlineBox));
                              EXPECT_TRUE(d.isChecked(kIdAlignRight));
                          })
                          .focus(kIdTextField)
                          .type("typed")
                          .ok()),
              0);
    EXPECT_EQ(fields(), (corvane::record::Fields{.text = "typed", .fontName = "System", .style = 9, .alignment = 2}));

    // Nothing typed: the text is emptied.
    EXPECT_EQ(options(Script().ok()), 0);
    EXPECT_EQ(fields().text, "");

    // "System" is now the confirmed font.
    setCreateDCFails(false);
    setFontList({trueType("Arial"), trueType("System")});
    store(record("", "Nonesuch"));
    EXPECT_EQ(
        options(Script().inspect([](LiveDialog &d) { EXPECT_EQ(d.selectedItem(kIdFontList), "System"); }).cancel()),
        517);
}

TEST_F(Options, NoFontsAtAllAlsoStoresSystem)
{
    setFontList({});
    store(record("x", "Verdana"));
    EXPECT_EQ(options(Script().inspect([](LiveDialog &d) { EXPECT_EQ(d.selection(kIdFontList), -1); }).ok()), 0);
    EXPECT_EQ(fields().fontName, "System");
    EXPECT_EQ(fields().text, "x");
}

// The dialog as a whole, or any one of its 14 controls, cannot be created:
// the record is unchanged and no window or lock is left.
TEST_F(Options, ADialogThatCannotBeCreatedChangesNothing)
{
    store(record("keep", "Verdana", 3, 1));
    const auto before = stored();
    for (int32_t control = 0; control <= 14; ++control) {
        SCOPED_TRACE(control);
        if (control == 0)
            setDialogCreationFails(true);
        else
            setControlCreationFailsAt(control);
        EXPECT_EQ(instance_->options(), 0);
        EXPECT_FALSE(lastDialogReport().created);
        EXPECT_EQ(stored(), before);
        EXPECT_EQ(liveWindows(), 0);
        EXPECT_EQ(host_->live().portingLocks, 0);
        setDialogCreationFails(false);
    }
    setControlCreationFailsAt(15);
    EXPECT_EQ(options(Script().cancel()), 517) << "the dialog has 14 controls, so the 15th creation never comes";
    setControlCreationFailsAt(0);
}

TEST_F(Options, TabGoesFromOkToTheTextAndNeverToTheAlignment)
{
    EXPECT_EQ(options(Script()
                          .inspect([](LiveDialog &d) {
                              const std::vector<int32_t> order = {IDOK,         IDCANCEL,      kIdBoldBox,
                                                                  kIdItalicBox, kIdOutlineBox, kIdUnderlineBox,
                                                                  kIdFontList,  kIdTextField};
                              EXPECT_EQ(d.tabOrder(), order);
                              std::vector<int32_t> visited;
                              for (size_t i = 0; i < order.size(); ++i) { // from the text field, where the dialog opens
                                  d.press(Key::Tab);
                                  visited.push_back(*d.focusedId());
                              }
                              const std::vector<int32_t> expected = {IDOK,         IDCANCEL,      kIdBoldBox,
                                                                     kIdItalicBox, kIdOutlineBox, kIdUnderlineBox,
                                                                     kIdFontList,  kIdTextField};
                              EXPECT_EQ(visited, expected);
                          })
                          .cancel()),
              517);
}

TEST_F(Options, TheDialogIsTheModulesTemplate)
{
    EXPECT_EQ(options(Script()
                          .inspect([this](LiveDialog &d) {
                              EXPECT_EQ(d.title(), "");
                              EXPECT_EQ(d.width(), 236);
                              EXPECT_EQ(d.height(), 156);
                              EXPECT_EQ(d.fontFace(), "MS Sans Serif");
                              EXPECT_EQ(d.text(kIdBoldBox), "&Bold");
                              EXPECT_EQ(d.text(kIdAlignCenter), "C&enter");
                              EXPECT_EQ(host_->live().portingLocks,
                                        1); // the record stays locked while the dialog is open
                          })
                          .cancel()),
              517);
    EXPECT_EQ(lastDialogReport().resourceId, 101);
}
