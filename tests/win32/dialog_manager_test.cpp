// The dialog manager and the modal run: initialisation and focus, Tab,
// Enter, Escape, mnemonics, scripts that fail or run out, and loading a
// template from a module's resources.
#include "test_dialog.h"

#include "host/porting.h"
#include "res_builder.h"
#include "res_file.h"

using namespace corvane::win32;
using namespace qmtest;
namespace tt = qmtest;

namespace {

std::vector<uint8_t> optionsRes(uint16_t id = 101)
{
    return qmtest::buildRes({{uint16_t{4}, uint16_t{1}, 1033, {1, 2, 3, 4}},
                             {corvane::kResTypeDialog, id, 1033, tt::build(tt::optionsDialog())}});
}

QmModuleDescriptor descriptorOf(const std::vector<uint8_t> &res)
{
    return QmModuleDescriptor{QM_MODULE_DESCRIPTOR_MAGIC, static_cast<uint32_t>(res.size()), res.data()};
}

} // namespace

class DialogManager : public StandInTest {};

TEST_F(DialogManager, TabVisitsTheTabStopsInTemplateOrderAndNeverTheRadioButtons)
{
    runOptions([](LiveDialog &d) {
        const std::vector<int32_t> order = {IDOK,          IDCANCEL,        kIdBoldBox,  kIdItalicBox,
                                            kIdOutlineBox, kIdUnderlineBox, kIdFontList, kIdTextField};
        EXPECT_EQ(d.tabOrder(), order);
        d.focus(IDOK);
        std::vector<int32_t> visited;
        for (size_t i = 0; i < order.size(); ++i) {
            d.press(Key::Tab);
            visited.push_back(*d.focusedId());
        }
        const std::vector<int32_t> forward = {IDCANCEL,        kIdBoldBox,  kIdItalicBox, kIdOutlineBox,
                                              kIdUnderlineBox, kIdFontList, kIdTextField, IDOK};
        EXPECT_EQ(visited, forward);
        visited.clear();
        for (size_t i = 0; i < order.size(); ++i) {
            d.press(Key::ShiftTab);
            visited.push_back(*d.focusedId());
        }
        const std::vector<int32_t> backward = {kIdTextField, kIdFontList, kIdUnderlineBox, kIdOutlineBox,
                                               kIdItalicBox, kIdBoldBox,  IDCANCEL,        IDOK};
        EXPECT_EQ(visited, backward);
    });
}

TEST_F(DialogManager, InitialisationGetsTheFirstTabStopAndTheParameter)
{
    run(tt::optionsDialog(), Script());
    ASSERT_GE(gMessages.size(), 1u);
    EXPECT_EQ(gMessages[0].msg, static_cast<UINT>(WM_INITDIALOG));
    EXPECT_EQ(gMessages[0].lParam, 0x1234);
    // wParam names the control that gets the focus unless the procedure says otherwise.
    EXPECT_NE(gMessages[0].wParam, 0u);
    EXPECT_EQ(gMessages.back().msg, 0x0002u); // WM_DESTROY last
}

TEST_F(DialogManager, WhereTheFocusStartsDependsOnWhatInitialisationAnswers)
{
    struct Row {
        INT_PTR answer;
        bool focusText;
        int32_t expected;
    } rows[] = {
        {1, false, IDOK},        // the dialog manager's choice
        {1, true, IDOK},         // ...even over the procedure's
        {0, true, kIdTextField}, // the procedure's choice
        {0, false, IDOK},        // nothing chosen: the first tab stop once shown
    };
    for (const Row &r : rows) {
        gBehaviour = {};
        gBehaviour.initResult = r.answer;
        if (r.focusText)
            gBehaviour.onInit = [](HWND dialog) { SetFocus(GetDlgItem(dialog, kIdTextField)); };
        std::optional<int32_t> focused;
        runOptions([&](LiveDialog &d) { focused = d.focusedId(); });
        EXPECT_EQ(focused, r.expected) << "answer " << r.answer << ", focus set " << r.focusText;
    }
}

TEST_F(DialogManager, EscapeSendsCancelFromAnywhere)
{
    for (int from : {IDOK, kIdBoldBox, kIdFontList, kIdTextField}) {
        gMessages.clear();
        EXPECT_EQ(run(tt::optionsDialog(), Script().focus(from).escape()), 0) << from;
        EXPECT_TRUE(report().closedByScript);
        EXPECT_EQ(commands().back(), (std::pair<uint16_t, uint16_t>{IDCANCEL, 0}));
        // ...with the Cancel button's window as the sender.
        const Message &m = [] {
            for (auto it = gMessages.rbegin(); it != gMessages.rend(); ++it)
                if (it->msg == WM_COMMAND)
                    return *it;
            return Message{};
        }();
        EXPECT_NE(m.lParam, 0);
    }
}

TEST_F(DialogManager, EnterPressesTheDefaultButtonOrTheFocusedPushButton)
{
    struct Row {
        int focus;
        INT_PTR result;
    } rows[] = {{kIdBoldBox, 1}, {kIdFontList, 1}, {IDOK, 1}, {IDCANCEL, 0}, {kIdAlignCenter, 1}};
    for (const Row &r : rows) {
        EXPECT_EQ(run(tt::optionsDialog(), Script().focus(r.focus).enter()), r.result) << r.focus;
        EXPECT_TRUE(report().closedByScript);
    }
    // In the text field Enter is a line break, and the dialog stays open.
    run(tt::optionsDialog(), Script().focus(kIdTextField).enter().inspect([](LiveDialog &d) {
        EXPECT_TRUE(d.isOpen());
        EXPECT_EQ(d.text(kIdTextField), "\r\n");
    }));
    EXPECT_FALSE(report().closedByScript);
}

TEST_F(DialogManager, LettersOutsideATextControlAreMnemonics)
{
    runOptions([](LiveDialog &d) {
        d.focus(IDOK);
        d.type("b"); // &Bold
        EXPECT_TRUE(d.isChecked(kIdBoldBox));
        EXPECT_EQ(d.focusedId(), kIdBoldBox);
        d.type("U");
        EXPECT_TRUE(d.isChecked(kIdUnderlineBox));
        d.mnemonic('e'); // C&enter, from a radio button too
        EXPECT_TRUE(d.isChecked(kIdAlignCenter));
        d.focus(kIdTextField);
        d.mnemonic('i'); // Alt works from inside the field
        EXPECT_TRUE(d.isChecked(kIdItalicBox));
        EXPECT_THROW(d.mnemonic('q'), ScriptError);
        d.focus(IDOK);
        d.type("q"); // refused, and noted
        EXPECT_EQ(d.report().refusals.size(), 1u);
        EXPECT_TRUE(d.isOpen());
    });
    EXPECT_EQ(report().result, 0);
}

TEST_F(DialogManager, AMnemonicOnAPushButtonPressesIt)
{
    EXPECT_EQ(run(tt::optionsDialog(), Script().focus(kIdBoldBox).type("o")), 0); // &Outline, a box
    EXPECT_EQ(report().closedByScript, false);
    EXPECT_EQ(run(tt::optionsDialog(), Script().focus(kIdBoldBox).mnemonic('O')), 0);
    EXPECT_EQ(run(tt::optionsDialog(), Script().focus(kIdBoldBox).mnemonic('c')), 0); // &Cancel
    EXPECT_TRUE(report().closedByScript);
    EXPECT_EQ(run(tt::optionsDialog(), Script().mnemonic('o').ok()), 1);
}

TEST_F(DialogManager, ADialogWithoutAScriptIsClosedWithEscape)
{
    const auto bytes = tt::build(tt::optionsDialog());
    EXPECT_EQ(runDialogTemplate(bytes, nullptr, RecordingProc, 0), 0);
    EXPECT_FALSE(report().scripted);
    EXPECT_FALSE(report().closedByScript);
    EXPECT_TRUE(report().created);
    EXPECT_EQ(report().error, "");
    EXPECT_EQ(commands(), (std::vector<std::pair<uint16_t, uint16_t>>{{IDCANCEL, 0}}));
}

TEST_F(DialogManager, AFailingStepIsReportedAndTheDialogStillCloses)
{
    EXPECT_EQ(run(tt::optionsDialog(), Script().check(kIdBoldBox).click(4242).check(kIdItalicBox), false), 0);
    EXPECT_EQ(report().stepsRun, 1u);
    EXPECT_NE(report().error.find("step 2 (click 4242)"), std::string::npos) << report().error;
    EXPECT_NE(report().error.find("no control 4242"), std::string::npos) << report().error;

    EXPECT_EQ(run(tt::optionsDialog(), Script().then("throws", [](LiveDialog &) { throw std::runtime_error("boom"); }),
                  false),
              0);
    EXPECT_NE(report().error.find("boom"), std::string::npos);
}

TEST_F(DialogManager, StepsAfterTheDialogClosedAreAnError)
{
    EXPECT_EQ(run(tt::optionsDialog(), Script().ok().type("late"), false), 1);
    EXPECT_TRUE(report().closedByScript);
    EXPECT_NE(report().error.find("already closed"), std::string::npos) << report().error;
    // Typing that closes the dialog half way says how much was left.
    EXPECT_EQ(run(tt::optionsDialog(), Script().focus(kIdBoldBox).type("x\nyz"), false), 1);
    EXPECT_NE(report().error.find("2 characters"), std::string::npos) << report().error;
}

TEST_F(DialogManager, ADialogThatWillNotCloseIsAbandoned)
{
    gBehaviour.endOnOkCancel = false;
    EXPECT_EQ(run(tt::optionsDialog(), Script().ok(), false), -1);
    EXPECT_NE(report().error.find("stayed open"), std::string::npos);
}

TEST_F(DialogManager, EndDialogDuringInitialisationSkipsTheScript)
{
    gBehaviour.onInit = [](HWND dialog) { EndDialog(dialog, 77); };
    EXPECT_EQ(run(tt::optionsDialog(), Script().check(kIdBoldBox)), 77);
    EXPECT_EQ(report().stepsRun, 0u);
    EXPECT_EQ(queuedScripts(), 0u); // the script was this dialog's
    EXPECT_EQ(commands().size(), 0u);
}

TEST_F(DialogManager, ScriptsGoToDialogsInTurnIncludingNestedOnes)
{
    // Bold opens a second dialog from inside the first.
    gBehaviour.onCommand = [](HWND, WPARAM w) {
        if (LOWORD(w) == kIdBoldBox) {
            const auto bytes = tt::build(tt::optionsDialog());
            runDialogTemplate(bytes, nullptr, RecordingProc, 7);
        }
    };
    queueScript(Script().click(kIdBoldBox).ok());
    queueScript(Script().type("inner").ok());
    queueScript(Script().cancel());
    const auto bytes = tt::build(tt::optionsDialog());
    EXPECT_EQ(runDialogTemplate(bytes, nullptr, RecordingProc, 1), 1);
    ASSERT_EQ(dialogReports().size(), 2u);
    EXPECT_EQ(dialogReports()[0].stepsRun, 2u); // the inner one finishes first
    EXPECT_EQ(dialogReports()[1].stepsRun, 2u);
    EXPECT_EQ(queuedScripts(), 1u);
    clearScripts();
    EXPECT_EQ(queuedScripts(), 0u);
}

TEST_F(DialogManager, HandlesOfAClosedDialogAreRefused)
{
    HWND dialog = nullptr, edit = nullptr;
    runOptions([&](LiveDialog &d) {
        dialog = d.window();
        edit = GetDlgItem(dialog, kIdTextField);
        EXPECT_EQ(liveWindows(), 15); // the dialog and its 14 controls
        EXPECT_EQ(GetDlgItem(dialog, 4242), nullptr);
        EXPECT_EQ(GetDlgItem(edit, kIdTextField), nullptr); // a control is no dialog
        EXPECT_FALSE(EndDialog(edit, 1));
    });
    EXPECT_EQ(liveWindows(), 0);
    EXPECT_EQ(SendMessageA(edit, WM_GETTEXTLENGTH, 0, 0), 0);
    EXPECT_EQ(GetDlgItem(dialog, kIdTextField), nullptr);
    EXPECT_FALSE(EndDialog(dialog, 1));
    EXPECT_EQ(SetFocus(edit), nullptr);
    EXPECT_EQ(IsDlgButtonChecked(dialog, kIdBoldBox), 0u);
}

TEST_F(DialogManager, SetFocusAnswersThePreviousFocus)
{
    runOptions([](LiveDialog &d) {
        HWND w = d.window();
        d.focus(kIdBoldBox);
        EXPECT_EQ(SetFocus(GetDlgItem(w, kIdTextField)), GetDlgItem(w, kIdBoldBox));
        EXPECT_EQ(d.focusedId(), kIdTextField);
        EXPECT_EQ(SetFocus(nullptr), nullptr);
        EXPECT_EQ(SetFocus(w), GetDlgItem(w, kIdTextField)); // the dialog keeps its control focused
        EXPECT_EQ(d.focusedId(), kIdTextField);
    });
}

TEST_F(DialogManager, WhatTheUserSeesOfTheDialog)
{
    runOptions([](LiveDialog &d) {
        EXPECT_EQ(d.title(), "");
        EXPECT_EQ(d.style(), 0x800008C4u);
        EXPECT_EQ(d.width(), 236);
        EXPECT_EQ(d.height(), 156);
        EXPECT_EQ(d.fontFace(), "MS Sans Serif");
        EXPECT_EQ(d.fontPointSize(), 8);
        EXPECT_EQ(d.controlIds().size(), 14u);
        EXPECT_EQ(d.className(IDOK), "Button");
        EXPECT_EQ(d.className(kIdTextField), "Edit");
        EXPECT_EQ(d.className(kIdFontList), "ComboBox");
        EXPECT_EQ(d.className(-1), "Static");
        EXPECT_EQ(d.text(-1), "Style:"); // the first of the unnamed controls
        EXPECT_EQ(d.idOf("bold"), kIdBoldBox);
        EXPECT_EQ(d.idOf("Center"), kIdAlignCenter);
        EXPECT_THROW(d.idOf("Shadow"), ScriptError);
        EXPECT_EQ(d.controlStyle(kIdTextField), 0x50811084u);
        EXPECT_EQ(d.fontListId(), kIdFontList);
        EXPECT_FALSE(d.has(4242));
        EXPECT_EQ(SendMessageA(d.window(), 0x0400 /* DM_GETDEFID */, 0, 0), 0x534B0001);
    });
}

TEST_F(DialogManager, AnUnknownControlClassFailsCreation)
{
    tt::Dialog d = tt::optionsDialog();
    d.items.push_back({3000, 0, 0x50000000, 0, 0, 0, 10, 10, "", "SysListView32"});
    EXPECT_EQ(run(d, Script(), false), -1);
    EXPECT_FALSE(report().created);
    EXPECT_NE(report().error.find("SysListView32"), std::string::npos);
    EXPECT_TRUE(gMessages.empty()); // the procedure never heard of it
    d.items.back() = {3000, tt::kListBox, 0x50000000};
    EXPECT_EQ(run(d, Script(), false), -1);
}

// ---------------------------------------------------------------------------
// DialogBoxParamA

TEST_F(DialogManager, DialogBoxParamFindsTheTemplateAmongTheModulesResources)
{
    const auto res = optionsRes();
    QmModuleDescriptor module = descriptorOf(res);
    queueScript(Script().check(kIdBoldBox).ok());
    EXPECT_EQ(DialogBoxParamA(reinterpret_cast<HINSTANCE>(&module), MAKEINTRESOURCEA(101), nullptr, RecordingProc, 5),
              1);
    EXPECT_EQ(report().resourceId, 101);
    EXPECT_EQ(report().stepsRun, 2u);
    queueScript(Script().cancel());
    EXPECT_EQ(DialogBoxParamA(reinterpret_cast<HINSTANCE>(&module), "#101", nullptr, RecordingProc, 5), 0);
}

TEST_F(DialogManager, DialogBoxParamFailsWithMinusOneAndSaysWhy)
{
    const auto res = optionsRes();
    QmModuleDescriptor module = descriptorOf(res);
    QmModuleDescriptor wrongMagic = module;
    wrongMagic.magic = 0;
    const std::vector<uint8_t> junk(40, 0xEE);
    QmModuleDescriptor damaged = descriptorOf(junk);
    struct Row {
        const char *what;
        HINSTANCE instance;
        LPCSTR name;
        const char *why;
    } rows[] = {
        {"no instance", nullptr, MAKEINTRESOURCEA(101), "no module instance"},
        {"not a module", reinterpret_cast<HINSTANCE>(&wrongMagic), MAKEINTRESOURCEA(101), "does not name a module"},
        {"damaged resources", reinterpret_cast<HINSTANCE>(&damaged), MAKEINTRESOURCEA(101), "damaged"},
        {"no such dialog", reinterpret_cast<HINSTANCE>(&module), MAKEINTRESOURCEA(102), "no dialog resource 102"},
        {"not a dialog", reinterpret_cast<HINSTANCE>(&module), MAKEINTRESOURCEA(1), "no dialog resource 1"},
        {"no such name", reinterpret_cast<HINSTANCE>(&module), "OPTIONS", "no dialog resource OPTIONS"},
    };
    for (const Row &r : rows) {
        gMessages.clear();
        EXPECT_EQ(DialogBoxParamA(r.instance, r.name, nullptr, RecordingProc, 0), -1) << r.what;
        EXPECT_NE(report().error.find(r.why), std::string::npos) << r.what << ": " << report().error;
        EXPECT_TRUE(gMessages.empty()) << r.what;
    }
}

TEST_F(DialogManager, DialogCreationCanBeMadeToFail)
{
    const auto res = optionsRes();
    QmModuleDescriptor module = descriptorOf(res);
    setDialogCreationFails(true);
    queueScript(Script().ok());
    EXPECT_EQ(DialogBoxParamA(reinterpret_cast<HINSTANCE>(&module), MAKEINTRESOURCEA(101), nullptr, RecordingProc, 0),
              -1);
    EXPECT_TRUE(gMessages.empty());
    EXPECT_FALSE(report().created);
    EXPECT_EQ(queuedScripts(), 1u); // no dialog took it
    setDialogCreationFails(false);
    EXPECT_EQ(DialogBoxParamA(reinterpret_cast<HINSTANCE>(&module), MAKEINTRESOURCEA(101), nullptr, RecordingProc, 0),
              1);
}
