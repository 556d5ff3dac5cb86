// The user of the stand-in's dialogs.
//
// A test or the command-line host queues, before it triggers a dialog, what
// the user will do in it: a Script of steps. When DialogBoxParamA opens the
// next dialog it takes the oldest queued script and plays it against the
// live dialog, step by step, with the message semantics of the real system:
// keystrokes go through the dialog manager (Tab order, Enter for the default
// button, Escape for Cancel, mnemonics), clicks reach the controls, and the
// dialog procedure sees the WM_COMMAND notifications they cause. A step can
// also look at the dialog (focus, check states, list entries, edit text).
//
// A dialog with no script, or whose script ends while it is still open, is
// closed as a user would walk away from it: with Escape. Everything that
// happened is kept in a DialogReport.
//
// Text is Windows-1252 bytes, as the controls hold it. In typed text '\n'
// (or "\r\n") is the Enter key and '\t' the Tab key.
//
// Also here: the test hooks of the GDI part (the font list EnumFontsA
// reports, a failing CreateDCA) and of dialog creation.
#pragma once

#include "host/win32.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {
class ResourceFile;
}

namespace corvane::win32 {

// A step that cannot be carried out: a missing control, an entry that is not
// in the list, an action on a dialog that has already closed.
struct ScriptError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

enum class Key {
    Tab,
    ShiftTab,
    Enter,
    Escape,
    Space,
    Backspace,
    Delete,
    Left,
    Right,
    Up,
    Down,
    Home,     // start of the line (edit), first entry (list)
    End,      // end of the line (edit), last entry (list)
    CtrlHome, // start of the text
    CtrlEnd,  // end of the text
    SelectAll // Ctrl+A in an edit field
};

class Dialog;
struct DialogReport;

// The dialog that is open, as the user sees it and acts on it. Control ids
// are the template's, -1 for unnamed ones. Every query and action throws
// ScriptError for a control the dialog does not have; actions also throw
// once the dialog has closed.
class LiveDialog {
public:
    explicit LiveDialog(Dialog &dialog) : dialog_(&dialog) {}

    // What is on screen.
    bool isOpen() const; // false from the moment EndDialog is called
    HWND window() const;
    std::string title() const;
    uint32_t style() const;
    int16_t width() const;  // dialog units
    int16_t height() const; // dialog units
    std::string fontFace() const;
    uint16_t fontPointSize() const;
    std::vector<int32_t> controlIds() const; // template order
    bool has(int32_t id) const;
    std::string className(int32_t id) const; // "Button", "Edit", "Static", "ComboBox"
    uint32_t controlStyle(int32_t id) const;
    std::string text(int32_t id) const;           // window text: caption, edit text, selected entry
    int32_t idOf(std::string_view caption) const; // caption without '&', case ignored
    std::optional<int32_t> focusedId() const;
    uint32_t checkState(int32_t id) const; // BST_UNCHECKED, BST_CHECKED, 2 (indeterminate)
    bool isChecked(int32_t id) const { return checkState(id) == BST_CHECKED; }
    std::vector<std::string> items(int32_t comboId) const;
    int32_t selection(int32_t comboId) const;        // -1 when nothing is selected
    std::string selectedItem(int32_t comboId) const; // empty when nothing is selected
    int32_t fontListId() const;                      // the dialog's first combo box
    std::vector<int32_t> tabOrder() const;           // the controls Tab visits, from the first
    const DialogReport &report() const;              // this dialog's report so far

    // What the user does.
    void type(std::string_view text); // to the focused control
    void press(Key key);
    void click(int32_t id);                             // mouse click: focus, then the control acts
    void setChecked(int32_t id, bool on);               // clicks the box only if its state differs
    void chooseRadio(int32_t id);                       // clicks the radio button
    void pick(int32_t comboId, std::string_view entry); // exact entry, else one equal ignoring case
    void pickFont(std::string_view name) { pick(fontListId(), name); }
    void focus(int32_t id);     // clicks into the control
    void mnemonic(char letter); // Alt+letter

private:
    Dialog *dialog_;
};

using Step = std::function<void(LiveDialog &)>;

// What the user does in one dialog, in order.
class Script {
public:
    struct Entry {
        std::string description;
        Step run;
    };

    Script &type(std::string text);
    Script &press(Key key);
    Script &tab() { return press(Key::Tab); }
    Script &enter() { return press(Key::Enter); }
    Script &escape() { return press(Key::Escape); }
    Script &click(int32_t id);
    Script &ok() { return click(IDOK); }
    Script &cancel() { return click(IDCANCEL); }
    Script &check(int32_t id) { return setChecked(id, true); }
    Script &uncheck(int32_t id) { return setChecked(id, false); }
    Script &setChecked(int32_t id, bool on);
    Script &chooseRadio(int32_t id);
    Script &pick(int32_t comboId, std::string entry);
    Script &pickFont(std::string name);
    Script &focus(int32_t id);
    Script &mnemonic(char letter);
    // Any step: look at the dialog (assertions of a test) or act on it.
    Script &then(std::string description, Step step);
    Script &inspect(Step step) { return then("inspect", std::move(step)); }

    // The text form, one step per line (or separated by ';'):
    //   type <text>            rest of the line; \n Enter, \t Tab, \\ \, \; ;
    //   key <name>             tab, shift-tab, enter, escape, space, backspace,
    //                          delete, left, right, up, down, home, end,
    //                          ctrl-home, ctrl-end, select-all
    //   click|check|uncheck|radio|focus <control>
    //   font <name>            pick in the font list
    //   alt <letter>
    //   ok | cancel
    // A control is its id or its caption without '&' ("Bold"). Blank lines
    // and lines starting with '#' are skipped. Throws ScriptError naming the
    // line of the first bad step.
    static Script parse(std::string_view text);

    const std::vector<Entry> &steps() const { return steps_; }
    bool empty() const { return steps_.empty(); }

private:
    std::vector<Entry> steps_;
};

// What happened in one dialog.
struct DialogReport {
    int32_t resourceId = -1;     // when loaded from a module's resources
    bool created = false;        // built and initialised
    INT_PTR result = 0;          // what DialogBoxParamA returned
    bool scripted = false;       // a queued script drove it
    bool closedByScript = false; // EndDialog came during initialisation or a step
    size_t stepsRun = 0;
    std::string error;                 // why it could not be created, or the failing step
    std::vector<std::string> refusals; // keystrokes a control refused, and why
};

// Scripts for the next dialogs, oldest first.
void queueScript(Script script);
size_t queuedScripts();
void clearScripts();

// Reports of the dialogs run so far, oldest first.
const std::vector<DialogReport> &dialogReports();
const DialogReport &lastDialogReport(); // throws ScriptError when none ran
void clearDialogReports();

// Runs a dialog from template bytes, as DialogBoxParamA does once it has
// found the template among a module's resources.
INT_PTR runDialogTemplate(std::span<const uint8_t> dialogTemplate, HWND owner, DLGPROC proc, LPARAM param);

// DialogBoxParamA for a module whose resources the caller has read (a
// Windows image mapped by the loader): the dialog resource named by an
// ordinal, "#101" or a name, with DialogBoxParamA's results.
INT_PTR dialogBoxFromResources(const ResourceFile &resources, LPCSTR templateName, HWND owner, DLGPROC proc,
                               LPARAM param);

// ---------------------------------------------------------------------------
// Fonts, as EnumFontsA reports them.

struct FontEntry {
    std::string faceName; // LOGFONTA.lfFaceName (at most 31 bytes are kept)
    std::string fullName; // ENUMLOGFONTA.elfFullName (at most 63 bytes)
    uint8_t charSet = ANSI_CHARSET;
    uint32_t fontType = TRUETYPE_FONTTYPE; // RASTER_FONTTYPE, DEVICE_FONTTYPE, TRUETYPE_FONTTYPE bits
};

// From now on EnumFontsA reports exactly these, in this order, duplicates
// and all, instead of the porting library's fonts.
void setFontList(std::vector<FontEntry> fonts);
// Back to the porting library's fonts: one entry per family, outline fonts
// as TrueType, bitmap fonts as raster fonts.
void useLibraryFonts();
// What EnumFontsA with no face name reports now.
std::vector<FontEntry> currentFonts();

// ---------------------------------------------------------------------------
// Faults and accounting.

void setCreateDCFails(bool fails);       // CreateDCA returns null
void setDialogCreationFails(bool fails); // DialogBoxParamA returns -1
// The Nth control created from now (1-based) fails, once: the dialog is not
// created and DialogBoxParamA returns -1. 0 clears.
void setControlCreationFailsAt(int32_t n);
int32_t liveDeviceContexts();
int32_t liveWindows();

// Everything back to the start: no scripts, no reports, library fonts, no faults.
void resetStandIn();

} // namespace corvane::win32
