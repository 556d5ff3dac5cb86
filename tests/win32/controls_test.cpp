// The controls as a program and a user see them: buttons, the sorted
// drop-down list and the multi-line edit field.
#include "test_dialog.h"

#include <cstring>

using namespace corvane::win32;
using namespace qmtest;
namespace tt = qmtest;

namespace {

LRESULT send(HWND dialog, int id, UINT msg, WPARAM w = 0, LPARAM l = 0)
{
    return SendMessageA(GetDlgItem(dialog, id), msg, w, l);
}

LPARAM str(const char *s)
{
    return reinterpret_cast<LPARAM>(s);
}

std::vector<std::string> addAll(HWND dialog, int id, std::initializer_list<const char *> names,
                                std::vector<LRESULT> *at = nullptr)
{
    for (const char *n : names) {
        const LRESULT r = send(dialog, id, CB_ADDSTRING, 0, str(n));
        if (at)
            at->push_back(r);
    }
    std::vector<std::string> out;
    const LRESULT count = send(dialog, id, CB_GETCOUNT);
    for (LRESULT i = 0; i < count; ++i) {
        char buffer[64];
        send(dialog, id, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buffer));
        out.emplace_back(buffer);
    }
    return out;
}

// A dialog with an unsorted list and a plain multi-line field, beside the
// options dialog's own controls.
tt::Dialog extendedDialog()
{
    tt::Dialog d = tt::optionsDialog();
    d.items.push_back({2001, tt::kComboBox, 0x50010003, 0, 0, 0, 50, 50, ""});          // unsorted list
    d.items.push_back({2002, tt::kEdit, 0x50010004, 0, 0, 0, 50, 50, ""});              // multi-line, no Enter
    d.items.push_back({2003, tt::kButton, 0x50010006, 0, 0, 0, 50, 10, "&Three"});      // auto 3-state
    d.items.push_back({2004, tt::kButton, 0x50020009, 0, 0, 0, 50, 10, "Other group"}); // radio, own group
    return d;
}

} // namespace

class Controls : public StandInTest {};

// ---------------------------------------------------------------------------
// Drop-down list

TEST_F(Controls, SortedListOrdersIgnoringCaseAndReportsWhereEachEntryWent)
{
    runOptions([](LiveDialog &d) {
        std::vector<LRESULT> at;
        const auto items = addAll(d.window(), kIdFontList,
                                  {"beta", "Alpha", "gamma", "ALPHA2", "alpha", "_under", "Zed", "\xC9tude"}, &at);
        EXPECT_EQ(items,
                  (std::vector<std::string>{"_under", "Alpha", "alpha", "ALPHA2", "beta", "gamma", "Zed", "\xC9tude"}));
        // Each CB_ADDSTRING answers the index the entry took at that moment.
        EXPECT_EQ(at, (std::vector<LRESULT>{0, 0, 2, 1, 1, 0, 6, 7}));
        EXPECT_EQ(d.items(kIdFontList), items);
    });
}

TEST_F(Controls, UnsortedListAppends)
{
    run(extendedDialog(), Script().then("test", [](LiveDialog &d) {
        EXPECT_EQ(addAll(d.window(), 2001, {"b", "A", "c"}), (std::vector<std::string>{"b", "A", "c"}));
    }));
}

TEST_F(Controls, FindStringExactSearchesAfterTheStartIndexAndWrapsRound)
{
    run(extendedDialog(), Script().then("test", [](LiveDialog &d) {
        HWND w = d.window();
        addAll(w, 2001, {"Zeta", "Alpha", "zeta", "Alphabet"});
        struct Row {
            WPARAM start;
            const char *name;
            LRESULT found;
        } rows[] = {
            {static_cast<WPARAM>(-1), "ZETA", 0}, // -1: from the top
            {0, "ZETA", 2},                       // after 0, so 0 itself comes last
            {2, "zeta", 0},                       // wraps round
            {1, "alpha", 1},                      // the start entry is searched last
            {99, "alpha", 1},                     // beyond the end: from the top
            {0, "alph", CB_ERR},                  // exact: no prefixes
            {0, "", CB_ERR},
            {0, "nothing", CB_ERR},
        };
        for (const Row &r : rows)
            EXPECT_EQ(SendMessageA(GetDlgItem(w, 2001), CB_FINDSTRINGEXACT, r.start, str(r.name)), r.found)
                << r.name << " from " << static_cast<intptr_t>(r.start);
        EXPECT_EQ(SendMessageA(GetDlgItem(w, 2001), CB_FINDSTRINGEXACT, 0, 0), CB_ERR);
        EXPECT_EQ(send(w, 2001, 0x014C /* CB_FINDSTRING */, static_cast<WPARAM>(-1), str("ALPH")), 1);
        EXPECT_EQ(send(w, 2001, 0x014C, 1, str("ALPH")), 3);
    }));
}

TEST_F(Controls, SelectionAndEntryText)
{
    runOptions([](LiveDialog &d) {
        HWND w = d.window();
        addAll(w, kIdFontList, {"Courier", "Arial"});
        EXPECT_EQ(send(w, kIdFontList, CB_GETCURSEL), CB_ERR);
        EXPECT_EQ(send(w, kIdFontList, CB_SETCURSEL, 1), 1);
        EXPECT_EQ(send(w, kIdFontList, CB_GETCURSEL), 1);
        EXPECT_EQ(d.text(kIdFontList), "Courier");                // the window text is the selected entry
        EXPECT_EQ(send(w, kIdFontList, CB_SETCURSEL, 2), CB_ERR); // out of range clears
        EXPECT_EQ(send(w, kIdFontList, CB_GETCURSEL), CB_ERR);
        EXPECT_EQ(d.text(kIdFontList), "");
        send(w, kIdFontList, CB_SETCURSEL, 0);
        EXPECT_EQ(send(w, kIdFontList, CB_SETCURSEL, static_cast<WPARAM>(-1)), CB_ERR);
        EXPECT_EQ(send(w, kIdFontList, CB_GETCURSEL), CB_ERR);

        EXPECT_EQ(send(w, kIdFontList, CB_GETLBTEXTLEN, 1), 7);
        EXPECT_EQ(send(w, kIdFontList, CB_GETLBTEXTLEN, 2), CB_ERR);
        EXPECT_EQ(send(w, kIdFontList, CB_GETLBTEXTLEN, static_cast<WPARAM>(-1)), CB_ERR);
        char buffer[9];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(send(w, kIdFontList, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(buffer)), 7);
        EXPECT_STREQ(buffer, "Courier");
        EXPECT_EQ(buffer[8], '#'); // exactly length + 1 bytes written
        EXPECT_EQ(send(w, kIdFontList, CB_GETLBTEXT, 5, reinterpret_cast<LPARAM>(buffer)), CB_ERR);
        EXPECT_EQ(send(w, kIdFontList, CB_ADDSTRING, 0, 0), CB_ERR);
    });
}

TEST_F(Controls, InsertingAndDeletingKeepTheSelectedEntry)
{
    run(extendedDialog(), Script().then("test", [](LiveDialog &d) {
        HWND w = d.window();
        addAll(w, 2001, {"a", "b", "c"});
        send(w, 2001, CB_SETCURSEL, 1);
        EXPECT_EQ(send(w, 2001, 0x014A /* CB_INSERTSTRING */, 0, str("first")), 0);
        EXPECT_EQ(d.selectedItem(2001), "b");
        EXPECT_EQ(send(w, 2001, 0x014A, static_cast<WPARAM>(-1), str("last")), 4);
        EXPECT_EQ(send(w, 2001, 0x014A, 9, str("nowhere")), CB_ERR);
        EXPECT_EQ(send(w, 2001, 0x0144 /* CB_DELETESTRING */, 0), 4);
        EXPECT_EQ(d.selectedItem(2001), "b");
        EXPECT_EQ(send(w, 2001, 0x0144, 1), 3); // the selected one goes
        EXPECT_EQ(d.selection(2001), -1);
        EXPECT_EQ(send(w, 2001, 0x0144, 7), CB_ERR);
        send(w, 2001, 0x014B /* CB_RESETCONTENT */);
        EXPECT_EQ(send(w, 2001, CB_GETCOUNT), 0);
    }));
}

TEST_F(Controls, UserSelectsEntriesByKeyAndByPickingAndTheDialogHearsOfIt)
{
    runOptions([](LiveDialog &d) {
        addAll(d.window(), kIdFontList, {"Arial", "Courier", "Georgia", "Garamond"});
        d.focus(kIdFontList);
        d.type("g");
        EXPECT_EQ(d.selectedItem(kIdFontList), "Garamond");
        d.type("g");
        EXPECT_EQ(d.selectedItem(kIdFontList), "Georgia");
        d.press(Key::Up);
        EXPECT_EQ(d.selectedItem(kIdFontList), "Garamond");
        d.press(Key::Home);
        EXPECT_EQ(d.selectedItem(kIdFontList), "Arial");
        d.press(Key::Up); // already first: no change, no notification
        d.press(Key::End);
        EXPECT_EQ(d.selectedItem(kIdFontList), "Georgia");
        d.press(Key::Down);
        d.pickFont("COURIER"); // no exact entry: the one equal but for case
        EXPECT_EQ(d.selectedItem(kIdFontList), "Courier");
        EXPECT_THROW(d.pickFont("Helvetica"), ScriptError);
        EXPECT_EQ(d.focusedId(), kIdFontList);
    });
    int selChanges = 0, selEndOk = 0;
    for (auto [id, code] : commands()) {
        if (id == kIdFontList && code == 1)
            ++selChanges;
        if (id == kIdFontList && code == 9)
            ++selEndOk;
    }
    EXPECT_EQ(selChanges, 6);
    EXPECT_EQ(selEndOk, 1);
}

// ---------------------------------------------------------------------------
// Buttons

TEST_F(Controls, AutoCheckBoxesToggleOnClickAndSpaceAndTellTheDialog)
{
    runOptions([](LiveDialog &d) {
        d.click(kIdBoldBox);
        EXPECT_TRUE(d.isChecked(kIdBoldBox));
        EXPECT_EQ(IsDlgButtonChecked(d.window(), kIdBoldBox), BST_CHECKED);
        EXPECT_EQ(d.focusedId(), kIdBoldBox);
        d.press(Key::Space);
        EXPECT_FALSE(d.isChecked(kIdBoldBox));
        d.setChecked(kIdItalicBox, false); // already clear: no click
        d.setChecked(kIdItalicBox, true);
        d.setChecked(kIdItalicBox, true);
        EXPECT_TRUE(d.isChecked(kIdItalicBox));
        EXPECT_THROW(d.checkState(kIdTextField), ScriptError);
    });
    const auto cmds = commands();
    const std::vector<std::pair<uint16_t, uint16_t>> want = {
        {kIdBoldBox, 0}, {kIdBoldBox, 0}, {kIdItalicBox, 0}, {IDCANCEL, 0}};
    EXPECT_EQ(cmds, want);
    // The notification names the control that sent it.
    for (const Message &m : gMessages) {
        if (m.msg == WM_COMMAND && LOWORD(m.wParam) == kIdBoldBox) {
            EXPECT_NE(m.lParam, 0);
        }
    }
}

TEST_F(Controls, CheckStatesAreHeldToWhatEachKindOfButtonHas)
{
    run(extendedDialog(), Script().then("test", [](LiveDialog &d) {
        HWND w = d.window();
        struct Row {
            int id;
            UINT set;
            UINT got;
        } rows[] = {
            {kIdBoldBox, BST_CHECKED, BST_CHECKED},
            {kIdBoldBox, 2, BST_CHECKED}, // a two-state box shows "indeterminate" as checked
            {kIdBoldBox, BST_UNCHECKED, BST_UNCHECKED},
            {2003, 2, 2},
            {2003, 7, 2},
            {IDOK, BST_CHECKED, BST_UNCHECKED}, // push buttons have no state
            {kIdAlignLeft, 5, BST_CHECKED},
        };
        for (const Row &r : rows) {
            EXPECT_TRUE(CheckDlgButton(w, r.id, r.set));
            EXPECT_EQ(IsDlgButtonChecked(w, r.id), r.got) << r.id << " set to " << r.set;
        }
        EXPECT_FALSE(CheckDlgButton(w, 4242, 1));
        EXPECT_EQ(IsDlgButtonChecked(w, 4242), 0u);
        CheckDlgButton(w, 2003, 0);
        std::vector<uint32_t> cycle;
        for (int i = 0; i < 4; ++i) {
            d.click(2003);
            cycle.push_back(d.checkState(2003));
        }
        EXPECT_EQ(cycle, (std::vector<uint32_t>{1, 2, 0, 1}));
    }));
}

TEST_F(Controls, RadioButtonsClearTheOthersOfTheirGroupOnly)
{
    run(extendedDialog(), Script().then("test", [](LiveDialog &d) {
        HWND w = d.window();
        CheckDlgButton(w, 2004, BST_CHECKED);
        d.chooseRadio(kIdAlignCenter);
        EXPECT_EQ(d.checkState(kIdAlignLeft), 0u);
        EXPECT_EQ(d.checkState(kIdAlignCenter), 1u);
        EXPECT_EQ(d.checkState(kIdAlignRight), 0u);
        d.chooseRadio(kIdAlignRight);
        EXPECT_EQ(d.checkState(kIdAlignCenter), 0u);
        EXPECT_EQ(d.checkState(2004), 1u); // another group
        EXPECT_THROW(d.chooseRadio(kIdBoldBox), ScriptError);
    }));
}

TEST_F(Controls, CheckRadioButtonSetsEveryIdInTheRange)
{
    runOptions([](LiveDialog &d) {
        HWND w = d.window();
        struct Row {
            int check;
            uint32_t left, center, right;
        } rows[] = {{kIdAlignLeft, 1, 0, 0},
                    {kIdAlignCenter, 0, 1, 0},
                    {kIdAlignRight, 0, 0, 1},
                    {1009, 0, 0, 0},
                    {kIdAlignLeft - 1, 0, 0, 0}};
        for (const Row &r : rows) {
            EXPECT_TRUE(CheckRadioButton(w, kIdAlignLeft, kIdAlignRight, r.check));
            EXPECT_EQ(d.checkState(kIdAlignLeft), r.left) << r.check;
            EXPECT_EQ(d.checkState(kIdAlignCenter), r.center) << r.check;
            EXPECT_EQ(d.checkState(kIdAlignRight), r.right) << r.check;
        }
        CheckRadioButton(w, kIdAlignCenter, kIdAlignCenter, kIdAlignCenter);
        CheckRadioButton(w, kIdAlignLeft, kIdAlignLeft, kIdAlignLeft);
        EXPECT_TRUE(d.isChecked(kIdAlignLeft));
        EXPECT_TRUE(d.isChecked(kIdAlignCenter)); // outside the second range: untouched
        EXPECT_FALSE(CheckRadioButton(nullptr, kIdAlignLeft, kIdAlignRight, kIdAlignLeft));
    });
}

TEST_F(Controls, ArrowKeysMoveAlongTheRadioGroupAndSelect)
{
    runOptions([](LiveDialog &d) {
        d.chooseRadio(kIdAlignLeft);
        d.press(Key::Down);
        EXPECT_EQ(d.focusedId(), kIdAlignCenter);
        EXPECT_TRUE(d.isChecked(kIdAlignCenter));
        EXPECT_FALSE(d.isChecked(kIdAlignLeft));
        d.press(Key::Down);
        d.press(Key::Down); // wraps within the group's buttons
        EXPECT_EQ(d.focusedId(), kIdAlignLeft);
        EXPECT_TRUE(d.isChecked(kIdAlignLeft));
        d.press(Key::Up);
        EXPECT_TRUE(d.isChecked(kIdAlignRight));
    });
}

// ---------------------------------------------------------------------------
// Edit fields

TEST_F(Controls, GetDlgItemTextCopiesAtMostOneLessThanTheBufferAndATerminator)
{
    runOptions([](LiveDialog &d) {
        HWND w = d.window();
        ASSERT_TRUE(SetDlgItemTextA(w, kIdTextField, "abcdef"));
        struct Row {
            int max;
            UINT copied;
            const char *text;
        } rows[] = {{1, 0, ""}, {2, 1, "a"}, {4, 3, "abc"}, {6, 5, "abcde"}, {7, 6, "abcdef"}, {100, 6, "abcdef"}};
        for (const Row &r : rows) {
            char buffer[128];
            std::memset(buffer, '#', sizeof buffer);
            EXPECT_EQ(GetDlgItemTextA(w, kIdTextField, buffer, r.max), r.copied) << r.max;
            EXPECT_STREQ(buffer, r.text);
            EXPECT_EQ(buffer[r.copied + 1], '#'); // nothing beyond the terminator
        }
        char buffer[4] = {'#', '#', '#', '#'};
        EXPECT_EQ(GetDlgItemTextA(w, kIdTextField, buffer, 0), 0u);
        EXPECT_EQ(buffer[0], '#');
        EXPECT_EQ(GetDlgItemTextA(w, 4242, buffer, 4), 0u);
        EXPECT_EQ(buffer[0], '\0');
        EXPECT_EQ(GetDlgItemTextA(w, kIdTextField, nullptr, 4), 0u);
        EXPECT_TRUE(SetDlgItemTextA(w, kIdTextField, nullptr));
        EXPECT_EQ(d.text(kIdTextField), "");
        EXPECT_FALSE(SetDlgItemTextA(w, 4242, "x"));
    });
}

TEST_F(Controls, TypingGoesInAtTheCaretAndReplacesTheSelection)
{
    runOptions([](LiveDialog &d) {
        HWND w = d.window();
        SetDlgItemTextA(w, kIdTextField, "world");
        SetFocus(GetDlgItem(w, kIdTextField)); // the program's focus keeps the caret at the start
        d.type("hello ");
        EXPECT_EQ(d.text(kIdTextField), "hello world");
        d.press(Key::SelectAll);
        d.type("\xE9t\xE9"); // code-page bytes stay as they are
        EXPECT_EQ(d.text(kIdTextField), "\xE9t\xE9");
        d.press(Key::Left);
        d.press(Key::Backspace);
        EXPECT_EQ(d.text(kIdTextField), "\xE9\xE9");
        d.press(Key::Home);
        d.press(Key::Delete);
        d.type("\x01\x7F"); // control characters are not text
        EXPECT_EQ(d.text(kIdTextField), "\xE9");
        d.focus(kIdBoldBox);
        d.press(Key::Tab); // Italic
        d.press(Key::Tab);
        d.press(Key::Tab);
        d.press(Key::Tab);
        d.press(Key::Tab); // Tab into the field selects all of it
        EXPECT_EQ(d.focusedId(), kIdTextField);
        d.type("new");
        EXPECT_EQ(d.text(kIdTextField), "new");
        d.focus(kIdTextField); // a click puts the caret at the end
        d.type("er");
        EXPECT_EQ(d.text(kIdTextField), "newer");
    });
    int changes = 0;
    for (auto [id, code] : commands())
        if (id == kIdTextField && code == 0x0300)
            ++changes;
    EXPECT_GT(changes, 0);
}

TEST_F(Controls, EnterInsertsALineBreakAndTheCaretStepsOverItAsOne)
{
    runOptions([](LiveDialog &d) {
        d.focus(kIdTextField);
        d.type("ab\ncd");
        EXPECT_EQ(d.text(kIdTextField), "ab\r\ncd");
        EXPECT_TRUE(d.isOpen());
        d.press(Key::Left);
        d.press(Key::Left);
        d.press(Key::Backspace); // the whole CR LF
        EXPECT_EQ(d.text(kIdTextField), "abcd");
        d.press(Key::Enter);
        d.press(Key::Up);
        d.press(Key::End);
        d.type("!");
        d.press(Key::Down);
        d.press(Key::Home);
        d.press(Key::Delete);
        EXPECT_EQ(d.text(kIdTextField), "ab!\r\nd");
        d.press(Key::CtrlHome);
        d.press(Key::Right);
        d.press(Key::Right);
        d.press(Key::Right);
        d.press(Key::Delete); // the line break again, as one
        EXPECT_EQ(d.text(kIdTextField), "ab!d");
        d.press(Key::CtrlEnd);
        d.type("\r\n"); // one Enter
        EXPECT_EQ(d.text(kIdTextField), "ab!d\r\n");
        EXPECT_EQ(SendMessageA(GetDlgItem(d.window(), kIdTextField), 0x00BA /* EM_GETLINECOUNT */, 0, 0), 2);
    });
    EXPECT_EQ(report().result, 0); // closed by the Escape that ends every script
}

TEST_F(Controls, EnterInAFieldWithoutWantReturnPressesTheDefaultButton)
{
    EXPECT_EQ(run(extendedDialog(), Script().focus(2002).type("x").enter()), 1);
    EXPECT_TRUE(report().error.empty()) << report().error;
    EXPECT_EQ(commands().back(), (std::pair<uint16_t, uint16_t>{IDOK, 0}));
}

TEST_F(Controls, TheFieldTakesNoLineBeyondTheTenItShows)
{
    runOptions([](LiveDialog &d) {
        d.focus(kIdTextField);
        d.type(std::string(9, '\n'));
        EXPECT_EQ(SendMessageA(GetDlgItem(d.window(), kIdTextField), 0x00BA, 0, 0), 10);
        EXPECT_TRUE(d.report().refusals.empty());
        d.press(Key::Enter);
        EXPECT_EQ(SendMessageA(GetDlgItem(d.window(), kIdTextField), 0x00BA, 0, 0), 10);
        EXPECT_EQ(d.report().refusals.size(), 1u);
        d.type("still typing on the last line");
        EXPECT_EQ(d.text(kIdTextField).size(), 9 * 2 + 29u);
        // The program may put in more lines than show.
        SetDlgItemTextA(d.window(), kIdTextField, "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n9\r\n10\r\n11\r\n12");
        EXPECT_EQ(SendMessageA(GetDlgItem(d.window(), kIdTextField), 0x00BA, 0, 0), 12);
    });
}

TEST_F(Controls, TypingStopsAtTheTextLimit)
{
    runOptions([](LiveDialog &d) {
        HWND edit = GetDlgItem(d.window(), kIdTextField);
        EXPECT_EQ(SendMessageA(edit, 0x00D5 /* EM_GETLIMITTEXT */, 0, 0), 32767);
        d.focus(kIdTextField);
        d.type(std::string(300, 'x'));
        EXPECT_EQ(d.text(kIdTextField).size(), 300u);
        SendMessageA(edit, 0x00C5 /* EM_LIMITTEXT */, 5, 0);
        SetDlgItemTextA(d.window(), kIdTextField, "");
        d.type("1234567");
        EXPECT_EQ(d.text(kIdTextField), "12345");
        EXPECT_EQ(d.report().refusals.size(), 2u);
        d.press(Key::SelectAll);
        d.type("ab"); // replacing a selection frees its room
        EXPECT_EQ(d.text(kIdTextField), "ab");
    });
    int maxText = 0;
    for (auto [id, code] : commands())
        if (id == kIdTextField && code == 0x0501)
            ++maxText;
    EXPECT_EQ(maxText, 2);
}

TEST_F(Controls, SelectionMessagesFollowTheProgram)
{
    runOptions([](LiveDialog &d) {
        HWND edit = GetDlgItem(d.window(), kIdTextField);
        SetDlgItemTextA(d.window(), kIdTextField, "abcdef");
        SendMessageA(edit, 0x00B1 /* EM_SETSEL */, 1, 3);
        DWORD start = 0, end = 0;
        EXPECT_EQ(SendMessageA(edit, 0x00B0 /* EM_GETSEL */, reinterpret_cast<WPARAM>(&start),
                               reinterpret_cast<LPARAM>(&end)),
                  (3 << 16) | 1);
        EXPECT_EQ(start, 1u);
        EXPECT_EQ(end, 3u);
        SendMessageA(edit, 0x00C2 /* EM_REPLACESEL */, 0, str("XYZ"));
        EXPECT_EQ(d.text(kIdTextField), "aXYZdef");
        SendMessageA(edit, 0x00B1, 2, static_cast<LPARAM>(-1)); // to the end
        d.focus(kIdBoldBox);
        SetFocus(edit);
        d.type("!");
        EXPECT_EQ(d.text(kIdTextField), "aX!");
    });
}
