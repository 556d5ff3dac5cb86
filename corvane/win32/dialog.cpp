// The dialog window and the dialog manager: focus, Tab order, the default
// button, Escape, mnemonics, and the modal run of a dialog against the next
// queued script.
#include "window.h"

#include "codepage.h"
#include "state.h"

#include <algorithm>

namespace corvane::win32 {
namespace {

constexpr uint32_t kWsBorder = 0x00800000;
constexpr uint32_t kEsAutoHScroll = 0x0080;

WPARAM makeWParam(uint16_t low, uint16_t high)
{
    return static_cast<WPARAM>(static_cast<uint32_t>(low) | (static_cast<uint32_t>(high) << 16));
}

} // namespace

StandInState &standIn()
{
    static StandInState state;
    return state;
}

Dialog::Dialog(const DialogTemplate &dialogTemplate, HWND owner, DLGPROC proc, DialogReport &report)
    : Window(nullptr, nullptr), template_(dialogTemplate), owner_(owner), proc_(proc), report_(report)
{
    style = template_.style;
    exStyle = template_.exStyle;
    x = template_.x;
    y = template_.y;
    cx = template_.cx;
    cy = template_.cy;
    text = template_.title;
}

Dialog::~Dialog()
{
    focus_ = nullptr;
    controls_.clear();
}

int32_t Dialog::editLinesThatFit(const ItemTemplate &item) const
{
    // Only a multi-line field that neither scrolls vertically nor wraps has
    // a fixed number of lines.
    const uint32_t s = item.style;
    if (!(s & kEsMultiline) || (s & kEsAutoVScroll) || (s & kWsVScroll) || !(s & kEsAutoHScroll))
        return 0;
    // A line is as high as the dialog font, which is also the vertical base
    // unit: 13 pixels for an 8-point face, 16 for the system font.
    const int32_t lineHeight = template_.hasFont ? std::max(1, (template_.pointSize * 13 + 4) / 8) : 16;
    const int32_t height = (item.cy * lineHeight + 4) / 8;
    const int32_t frame = (s & kWsBorder) ? 4 : 0; // sunken edge, two pixels a side
    return std::max(1, (height - frame) / lineHeight);
}

void Dialog::createControls()
{
    int32_t index = 0;
    for (const ItemTemplate &item : template_.items) {
        ++index;
        uint16_t ordinal = item.classOrdinal;
        if (!item.classIsOrdinal) {
            static const std::pair<const char *, uint16_t> kNamed[] = {{"Button", 0x80},    {"Edit", 0x81},
                                                                       {"Static", 0x82},    {"ListBox", 0x83},
                                                                       {"ScrollBar", 0x84}, {"ComboBox", 0x85}};
            ordinal = 0;
            for (const auto &[name, value] : kNamed)
                if (equalNoCase(item.className, name))
                    ordinal = value;
        }
        StandInState &s = standIn();
        if (++s.controlsCreated == s.controlFailsAt) {
            s.controlFailsAt = 0;
            throw TemplateError("control " + std::to_string(index) + " could not be created (set to fail)");
        }
        std::unique_ptr<Window> w;
        switch (static_cast<ControlClass>(ordinal)) {
        case ControlClass::Button:
            w = std::make_unique<Button>(this, &item);
            break;
        case ControlClass::Edit:
            w = std::make_unique<Edit>(this, &item, editLinesThatFit(item));
            break;
        case ControlClass::Static:
            w = std::make_unique<Static>(this, &item);
            break;
        case ControlClass::ComboBox:
            w = std::make_unique<ComboBox>(this, &item);
            break;
        default:
            throw TemplateError(
                "control " + std::to_string(index) + " has a window class (" +
                (item.classIsOrdinal ? "ordinal " + std::to_string(item.classOrdinal) : item.className) +
                ") that is not available");
        }
        controls_.push_back(std::move(w));
    }
}

INT_PTR Dialog::callProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    return proc_ ? proc_(handle(), msg, wParam, lParam) : 0;
}

LRESULT Dialog::message(UINT msg, WPARAM wParam, LPARAM lParam)
{
    const INT_PTR handled = callProc(msg, wParam, lParam);
    if (handled)
        return handled;
    // What the default dialog procedure answers.
    if (msg == kDmGetDefId)
        return static_cast<LRESULT>(makeWParam(defaultId(), static_cast<uint16_t>(kDcHasDefId)));
    return Window::message(msg, wParam, lParam);
}

void Dialog::end(INT_PTR result)
{
    ended_ = true;
    result_ = result;
}

Window *Dialog::find(uint32_t wanted) const
{
    for (const auto &w : controls_)
        if (w->id == wanted)
            return w.get();
    return nullptr;
}

Window *Dialog::setFocus(Window *w)
{
    Window *previous = focus_;
    focus_ = w;
    return previous;
}

Window *Dialog::nextTabStop(Window *from, bool backwards) const
{
    auto isStop = [](const Window *w) { return (w->style & kWsTabStop) && w->canFocus() && w->visibleAndEnabled(); };
    const size_t count = controls_.size();
    if (count == 0)
        return nullptr;
    size_t start = count; // no control: begin before the first (or after the last)
    for (size_t i = 0; i < count; ++i)
        if (controls_[i].get() == from)
            start = i;
    for (size_t n = 1; n <= count; ++n) {
        size_t i;
        if (start == count)
            i = backwards ? count - n : n - 1;
        else
            i = backwards ? (start + count - n) % count : (start + n) % count;
        if (isStop(controls_[i].get()))
            return controls_[i].get();
    }
    return nullptr;
}

std::vector<Window *> Dialog::groupOf(const Window *w) const
{
    const size_t count = controls_.size();
    size_t at = count;
    for (size_t i = 0; i < count; ++i)
        if (controls_[i].get() == w)
            at = i;
    if (at == count)
        return {};
    size_t first = at;
    while (first > 0 && !(controls_[first]->style & kWsGroup))
        --first;
    size_t last = at + 1;
    while (last < count && !(controls_[last]->style & kWsGroup))
        ++last;
    std::vector<Window *> group;
    for (size_t i = first; i < last; ++i)
        group.push_back(controls_[i].get());
    return group;
}

uint16_t Dialog::defaultId() const
{
    for (const auto &w : controls_) {
        auto *b = dynamic_cast<const Button *>(w.get());
        if (b && b->type() == kBsDefPushButton)
            return static_cast<uint16_t>(b->id & 0xFFFF);
    }
    return IDOK;
}

void Dialog::command(uint16_t commandId, uint16_t code, Window *from)
{
    callProc(WM_COMMAND, makeWParam(commandId, code), reinterpret_cast<LPARAM>(from ? from->handle() : nullptr));
}

void Dialog::tabTo(Window *w)
{
    setFocus(w);
    w->focusedByTab();
}

void Dialog::moveInGroup(bool backwards)
{
    std::vector<Window *> buttons;
    for (Window *w : groupOf(focus_))
        if (dynamic_cast<Button *>(w) && w->canFocus() && w->visibleAndEnabled())
            buttons.push_back(w);
    auto at = std::find(buttons.begin(), buttons.end(), focus_);
    if (buttons.size() < 2 || at == buttons.end())
        return;
    const size_t i = static_cast<size_t>(at - buttons.begin());
    const size_t n = buttons.size();
    auto *next = static_cast<Button *>(buttons[backwards ? (i + n - 1) % n : (i + 1) % n]);
    setFocus(next);
    // Arriving on an automatic radio button selects it.
    if (next->type() == kBsAutoRadioButton)
        next->click();
}

void Dialog::pressKey(Key k)
{
    switch (k) {
    case Key::Tab:
    case Key::ShiftTab:
        if (Window *next = nextTabStop(focus_, k == Key::ShiftTab))
            tabTo(next);
        return;
    case Key::Escape:
        command(IDCANCEL, kBnClicked, find(IDCANCEL));
        return;
    case Key::Enter: {
        if (focus_ && focus_->wantsEnter()) {
            focus_->key(Key::Enter);
            return;
        }
        // A focused push button is the default for as long as it has the focus.
        auto *b = dynamic_cast<Button *>(focus_);
        if (b && b->isPushButton()) {
            command(static_cast<uint16_t>(b->id & 0xFFFF), kBnClicked, b);
            return;
        }
        const uint16_t id = defaultId();
        Window *w = find(id);
        if (w && !w->visibleAndEnabled()) {
            report_.refusals.push_back("Enter: the default button is disabled");
            return;
        }
        command(id, kBnClicked, w);
        return;
    }
    case Key::Space:
        if (focus_ && focus_->wantsChars())
            focus_->character(' ');
        else if (auto *button = dynamic_cast<Button *>(focus_))
            button->click();
        return;
    default:
        if (!focus_)
            return;
        if (focus_->wantsArrows() || focus_->wantsChars()) {
            focus_->key(k);
            return;
        }
        if (k == Key::Up || k == Key::Down || k == Key::Left || k == Key::Right)
            moveInGroup(k == Key::Up || k == Key::Left);
        return;
    }
}

void Dialog::typeCharacter(uint8_t c)
{
    if (focus_ && focus_->wantsChars()) {
        focus_->character(c);
        return;
    }
    // A control that takes no typing leaves the letter to the mnemonics.
    if (!mnemonic(c))
        report_.refusals.push_back(std::string("'") + static_cast<char>(c) + "': no control takes it");
}

bool Dialog::mnemonic(uint8_t letter)
{
    const uint8_t wanted = cp1252Fold(letter);
    const size_t count = controls_.size();
    size_t start = 0;
    for (size_t i = 0; i < count; ++i)
        if (controls_[i].get() == focus_)
            start = i + 1;
    for (size_t n = 0; n < count; ++n) {
        Window *w = controls_[(start + n) % count].get();
        if (w->mnemonicLetter() != wanted || !w->visibleAndEnabled())
            continue;
        if (dynamic_cast<Static *>(w)) {
            // A label's letter leads to the control after it.
            const size_t at = (start + n) % count;
            for (size_t j = at + 1; j < count; ++j) {
                Window *next = controls_[j].get();
                if (next->canFocus() && next->visibleAndEnabled()) {
                    tabTo(next);
                    return true;
                }
            }
            return false;
        }
        if (!w->canFocus())
            continue;
        setFocus(w);
        w->click();
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// The modal run.

namespace {

class RunningScript {
public:
    explicit RunningScript(StandInState &state)
    {
        if (!state.scripts.empty()) {
            script_ = std::move(state.scripts.front());
            state.scripts.pop_front();
            present_ = true;
        }
    }
    bool present() const { return present_; }
    const Script &script() const { return script_; }

private:
    Script script_;
    bool present_ = false;
};

void playScript(Dialog &dialog, const Script &script, DialogReport &report)
{
    const auto &steps = script.steps();
    for (size_t i = 0; i < steps.size(); ++i) {
        const std::string where = "step " + std::to_string(i + 1) + " (" + steps[i].description + ")";
        if (dialog.ended()) {
            report.error = where + ": the dialog had already closed";
            return;
        }
        try {
            LiveDialog live(dialog);
            steps[i].run(live);
            ++report.stepsRun;
        } catch (const std::exception &e) {
            report.error = where + ": " + e.what();
            return;
        }
    }
}

} // namespace

INT_PTR runModal(Dialog &dialog, LPARAM param, DialogReport &report)
{
    RunningScript running(standIn());
    report.scripted = running.present();

    Window *first = dialog.firstTabStop();
    const INT_PTR init =
        dialog.callProc(WM_INITDIALOG, reinterpret_cast<WPARAM>(first ? first->handle() : nullptr), param);
    report.created = true;
    if (!dialog.ended() && first) {
        if (init != 0) {
            // The procedure leaves the focus to the dialog manager.
            dialog.setFocus(first);
            first->focusedByTab();
        } else if (!dialog.focus()) {
            // Shown with nothing focused: activation gives the first tab stop the focus.
            dialog.setFocus(first);
        }
    }

    if (!dialog.ended() && running.present())
        playScript(dialog, running.script(), report);
    report.closedByScript = dialog.ended();

    if (!dialog.ended()) {
        // The user walks away: Escape.
        dialog.pressKey(Key::Escape);
        if (!dialog.ended()) {
            if (report.error.empty())
                report.error = "the dialog stayed open after the script and Escape";
            dialog.end(-1);
        }
    }
    dialog.callProc(kWmDestroy, 0, 0);
    return dialog.result();
}

INT_PTR runDialogTemplate(std::span<const uint8_t> dialogTemplate, HWND owner, DLGPROC proc, LPARAM param,
                          int32_t resourceId, const std::string &lookupError)
{
    DialogReport report;
    report.resourceId = resourceId;
    INT_PTR result = -1;
    try {
        if (!lookupError.empty())
            throw TemplateError(lookupError);
        if (standIn().dialogCreationFails)
            throw TemplateError("dialog creation is set to fail");
        const DialogTemplate parsed = parseDialogTemplate(dialogTemplate);
        Dialog dialog(parsed, owner, proc, report);
        dialog.createControls();
        result = runModal(dialog, param, report);
    } catch (const std::exception &e) {
        if (report.error.empty())
            report.error = e.what();
        if (!report.created)
            result = -1;
    }
    try {
        standIn().reports.push_back(std::move(report));
    } catch (...) {
    }
    return result;
}

INT_PTR runDialogTemplate(std::span<const uint8_t> dialogTemplate, HWND owner, DLGPROC proc, LPARAM param)
{
    return runDialogTemplate(dialogTemplate, owner, proc, param, -1, {});
}

} // namespace corvane::win32
