// The stand-in's windows: a dialog and the controls its template creates.
// Internal to libCorvaneWin32.
//
// An HWND is the address of a Window; every entry point looks the handle up
// among the live windows first, so a stale or foreign handle is refused
// rather than followed.
#pragma once

#include "dialog_template.h"
#include "scripted_user.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace corvane::win32 {

// Style bits and messages beyond what the module's header declares.
inline constexpr uint32_t kWsTabStop = 0x00010000;
inline constexpr uint32_t kWsGroup = 0x00020000;
inline constexpr uint32_t kWsVScroll = 0x00200000;
inline constexpr uint32_t kWsDisabled = 0x08000000;
inline constexpr uint32_t kWsVisible = 0x10000000;

inline constexpr uint32_t kBsTypeMask = 0x0F;
inline constexpr uint32_t kBsPushButton = 0;
inline constexpr uint32_t kBsDefPushButton = 1;
inline constexpr uint32_t kBsCheckBox = 2;
inline constexpr uint32_t kBsAutoCheckBox = 3;
inline constexpr uint32_t kBsRadioButton = 4;
inline constexpr uint32_t kBs3State = 5;
inline constexpr uint32_t kBsAuto3State = 6;
inline constexpr uint32_t kBsGroupBox = 7;
inline constexpr uint32_t kBsAutoRadioButton = 9;

inline constexpr uint32_t kEsMultiline = 0x0004;
inline constexpr uint32_t kEsAutoVScroll = 0x0040;
inline constexpr uint32_t kEsReadOnly = 0x0800;
inline constexpr uint32_t kEsWantReturn = 0x1000;

inline constexpr uint32_t kCbsTypeMask = 0x03;
inline constexpr uint32_t kCbsDropDownList = 0x03;
inline constexpr uint32_t kCbsSort = 0x0100;

inline constexpr UINT kWmDestroy = 0x0002;
inline constexpr UINT kBmGetCheck = 0x00F0;
inline constexpr UINT kBmSetCheck = 0x00F1;
inline constexpr UINT kBmClick = 0x00F5;
inline constexpr UINT kEmGetSel = 0x00B0;
inline constexpr UINT kEmSetSel = 0x00B1;
inline constexpr UINT kEmGetLineCount = 0x00BA;
inline constexpr UINT kEmReplaceSel = 0x00C2;
inline constexpr UINT kEmLimitText = 0x00C5;
inline constexpr UINT kEmGetLimitText = 0x00D5;
inline constexpr UINT kCbDeleteString = 0x0144;
inline constexpr UINT kCbInsertString = 0x014A;
inline constexpr UINT kCbResetContent = 0x014B;
inline constexpr UINT kCbFindString = 0x014C;
inline constexpr UINT kCbSelectString = 0x014D;
inline constexpr UINT kDmGetDefId = 0x0400;

inline constexpr uint16_t kBnClicked = 0;
inline constexpr uint16_t kEnChange = 0x0300;
inline constexpr uint16_t kEnUpdate = 0x0400;
inline constexpr uint16_t kEnMaxText = 0x0501;
inline constexpr uint16_t kCbnSelChange = 1;
inline constexpr uint16_t kCbnSelEndOk = 9;

inline constexpr uint32_t kBstIndeterminate = 2;
inline constexpr int32_t kDcHasDefId = 0x534B;

class Window {
public:
    Window(Dialog *dialog, const ItemTemplate *item);
    virtual ~Window();
    Window(const Window &) = delete;
    Window &operator=(const Window &) = delete;

    HWND handle() { return reinterpret_cast<HWND>(this); }
    // The live window a handle names, or null.
    static Window *from(HWND handle);
    static int32_t liveCount();

    virtual const char *className() const = 0;
    // WM_SETTEXT, WM_GETTEXT and WM_GETTEXTLENGTH on the window text; 0 for
    // anything else.
    virtual LRESULT message(UINT msg, WPARAM wParam, LPARAM lParam);

    // How the dialog manager treats the control.
    virtual bool canFocus() const { return false; }
    virtual bool wantsChars() const { return false; } // typed characters go to it
    virtual bool wantsEnter() const { return false; }
    virtual bool wantsArrows() const { return false; }
    virtual void key(Key) {}
    virtual void character(uint8_t) {}
    virtual void focusedByTab() {} // an edit selects its text
    virtual void click() {}        // what a mouse click does after focusing
    virtual void clickedInto() {}  // an edit puts its caret at the end

    bool visibleAndEnabled() const { return (style & kWsVisible) != 0 && (style & kWsDisabled) == 0; }
    int32_t signedId() const { return static_cast<int32_t>(id); }
    // The letter after '&' in the caption, folded; 0 when none.
    uint8_t mnemonicLetter() const;

    Dialog *dialog; // null for the dialog itself
    uint32_t id = 0;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    std::string text;

protected:
    // WM_COMMAND from this control to its dialog.
    void notify(uint16_t code);
    void refuse(std::string why);
};

class Button final : public Window {
public:
    using Window::Window;
    const char *className() const override { return "Button"; }
    LRESULT message(UINT msg, WPARAM wParam, LPARAM lParam) override;
    bool canFocus() const override { return type() != kBsGroupBox; }
    void click() override;

    uint32_t type() const { return style & kBsTypeMask; }
    bool isPushButton() const { return type() == kBsPushButton || type() == kBsDefPushButton; }
    bool isRadio() const { return type() == kBsRadioButton || type() == kBsAutoRadioButton; }
    uint32_t state = BST_UNCHECKED;

private:
    uint32_t maxState() const;
};

class Static final : public Window {
public:
    using Window::Window;
    const char *className() const override { return "Static"; }
};

class Edit final : public Window {
public:
    Edit(Dialog *dialog, const ItemTemplate *item, int32_t linesThatFit);
    const char *className() const override { return "Edit"; }
    LRESULT message(UINT msg, WPARAM wParam, LPARAM lParam) override;
    bool canFocus() const override { return true; }
    bool wantsChars() const override { return true; }
    bool wantsEnter() const override
    {
        return (style & (kEsMultiline | kEsWantReturn)) == (kEsMultiline | kEsWantReturn);
    }
    bool wantsArrows() const override { return true; }
    void key(Key k) override;
    void character(uint8_t c) override;
    void focusedByTab() override { select(0, text.size()); }
    void clickedInto() override { select(text.size(), text.size()); }

    size_t caret() const { return caret_; }
    size_t selectionStart() const { return caret_ < anchor_ ? caret_ : anchor_; }
    size_t selectionEnd() const { return caret_ < anchor_ ? anchor_ : caret_; }
    int32_t lineCount() const;

private:
    bool multiline() const { return (style & kEsMultiline) != 0; }
    void select(size_t anchor, size_t caret);
    // Replaces the selection by typed text, as far as the limits allow.
    void insert(std::string_view s);
    void erase(size_t from, size_t to);
    size_t lineStart(size_t pos) const;
    size_t lineEnd(size_t pos) const;
    size_t stepLeft(size_t pos) const;
    size_t stepRight(size_t pos) const;

    size_t caret_ = 0, anchor_ = 0;
    size_t limit_ = 32767; // what a user may type before EM_LIMITTEXT
    int32_t linesThatFit_; // 0: no limit on lines
};

class ComboBox final : public Window {
public:
    using Window::Window;
    const char *className() const override { return "ComboBox"; }
    LRESULT message(UINT msg, WPARAM wParam, LPARAM lParam) override;
    bool canFocus() const override { return true; }
    bool wantsChars() const override { return true; }
    bool wantsArrows() const override { return true; }
    void key(Key k) override;
    void character(uint8_t c) override;

    const std::vector<std::string> &items() const { return items_; }
    int32_t selection() const { return selection_; }
    // What the user does when picking an entry from the dropped-down list.
    void pickByUser(int32_t index);

private:
    bool sorted() const { return (style & kCbsSort) != 0; }
    int32_t find(WPARAM start, const char *s, bool exact) const;
    LRESULT add(const char *s, int32_t at);
    void selectByUser(int32_t index);

    std::vector<std::string> items_;
    int32_t selection_ = -1;
};

class Dialog final : public Window {
public:
    Dialog(const DialogTemplate &dialogTemplate, HWND owner, DLGPROC proc, DialogReport &report);
    ~Dialog() override;
    const char *className() const override { return "#32770"; }
    LRESULT message(UINT msg, WPARAM wParam, LPARAM lParam) override;

    // Creates the controls; throws TemplateError for a class the stand-in lacks.
    void createControls();

    INT_PTR callProc(UINT msg, WPARAM wParam, LPARAM lParam);
    void end(INT_PTR result);
    bool ended() const { return ended_; }
    INT_PTR result() const { return result_; }

    Window *find(uint32_t id) const;
    Window *findSigned(int32_t id) const { return find(static_cast<uint32_t>(id)); }
    const std::vector<std::unique_ptr<Window>> &controls() const { return controls_; }
    Window *focus() const { return focus_; }
    Window *setFocus(Window *w); // returns the previous focus
    Window *nextTabStop(Window *from, bool backwards) const;
    Window *firstTabStop() const { return nextTabStop(nullptr, false); }
    // The controls of w's group: from the nearest WS_GROUP at or before it to
    // the next WS_GROUP.
    std::vector<Window *> groupOf(const Window *w) const;

    // The dialog manager.
    void pressKey(Key k);
    void typeCharacter(uint8_t c);
    bool mnemonic(uint8_t letter);
    void command(uint16_t id, uint16_t code, Window *from);
    uint16_t defaultId() const;

    const DialogTemplate &dialogTemplate() const { return template_; }
    DialogReport &report() { return report_; }
    HWND owner() const { return owner_; }

private:
    void tabTo(Window *w);
    void moveInGroup(bool backwards);
    int32_t editLinesThatFit(const ItemTemplate &item) const;

    DialogTemplate template_;
    HWND owner_;
    DLGPROC proc_;
    DialogReport &report_;
    std::vector<std::unique_ptr<Window>> controls_;
    Window *focus_ = nullptr;
    bool ended_ = false;
    INT_PTR result_ = 0;
};

// Runs a dialog modally against the next queued script and records its
// report. A non-empty lookupError means the template could not be found.
INT_PTR runDialogTemplate(std::span<const uint8_t> dialogTemplate, HWND owner, DLGPROC proc, LPARAM param,
                          int32_t resourceId, const std::string &lookupError);

} // namespace corvane::win32
