// The scripted user: scripts, their text form, and the live dialog they act on.
#include "scripted_user.h"

#include "codepage.h"
#include "state.h"
#include "window.h"

#include <cctype>
#include <charconv>
#include <utility>

namespace corvane::win32 {
namespace {

std::string quoted(std::string_view s)
{
    return "\"" + std::string(s) + "\"";
}

std::string captionWithoutAmpersands(std::string_view caption)
{
    std::string out;
    for (size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == '&' && i + 1 < caption.size())
            ++i; // "&&" leaves one '&', "&B" leaves 'B'
        out.push_back(caption[i]);
    }
    return out;
}

} // namespace

// ---------------------------------------------------------------------------
// LiveDialog: queries

namespace {

Window &controlOf(const Dialog &dialog, int32_t id)
{
    Window *w = dialog.findSigned(id);
    if (!w)
        throw ScriptError("the dialog has no control " + std::to_string(id));
    return *w;
}

template <typename T> T &controlAs(const Dialog &dialog, int32_t id, const char *what)
{
    auto *w = dynamic_cast<T *>(&controlOf(dialog, id));
    if (!w)
        throw ScriptError("control " + std::to_string(id) + " is not " + what);
    return *w;
}

void requireOpen(const Dialog &dialog)
{
    if (dialog.ended())
        throw ScriptError("the dialog has already closed");
}

} // namespace

bool LiveDialog::isOpen() const
{
    return !dialog_->ended();
}
HWND LiveDialog::window() const
{
    return dialog_->handle();
}
std::string LiveDialog::title() const
{
    return dialog_->text;
}
uint32_t LiveDialog::style() const
{
    return dialog_->style;
}
int16_t LiveDialog::width() const
{
    return dialog_->cx;
}
int16_t LiveDialog::height() const
{
    return dialog_->cy;
}
std::string LiveDialog::fontFace() const
{
    return dialog_->dialogTemplate().typeface;
}
uint16_t LiveDialog::fontPointSize() const
{
    return dialog_->dialogTemplate().pointSize;
}

std::vector<int32_t> LiveDialog::controlIds() const
{
    std::vector<int32_t> ids;
    for (const auto &w : dialog_->controls())
        ids.push_back(w->signedId());
    return ids;
}

bool LiveDialog::has(int32_t id) const
{
    return dialog_->findSigned(id) != nullptr;
}
std::string LiveDialog::className(int32_t id) const
{
    return controlOf(*dialog_, id).className();
}
uint32_t LiveDialog::controlStyle(int32_t id) const
{
    return controlOf(*dialog_, id).style;
}

std::string LiveDialog::text(int32_t id) const
{
    Window &w = controlOf(*dialog_, id);
    std::string s(static_cast<size_t>(w.message(WM_GETTEXTLENGTH, 0, 0)) + 1, '\0');
    const LRESULT n = w.message(WM_GETTEXT, s.size(), reinterpret_cast<LPARAM>(s.data()));
    s.resize(static_cast<size_t>(n));
    return s;
}

int32_t LiveDialog::idOf(std::string_view caption) const
{
    for (const auto &w : dialog_->controls())
        if (equalNoCase(captionWithoutAmpersands(w->text), caption))
            return w->signedId();
    throw ScriptError("the dialog has no control captioned " + quoted(caption));
}

std::optional<int32_t> LiveDialog::focusedId() const
{
    if (Window *w = dialog_->focus())
        return w->signedId();
    return std::nullopt;
}

uint32_t LiveDialog::checkState(int32_t id) const
{
    return static_cast<uint32_t>(controlAs<Button>(*dialog_, id, "a button").message(kBmGetCheck, 0, 0));
}

std::vector<std::string> LiveDialog::items(int32_t comboId) const
{
    return controlAs<ComboBox>(*dialog_, comboId, "a combo box").items();
}

int32_t LiveDialog::selection(int32_t comboId) const
{
    return controlAs<ComboBox>(*dialog_, comboId, "a combo box").selection();
}

std::string LiveDialog::selectedItem(int32_t comboId) const
{
    const auto &combo = controlAs<ComboBox>(*dialog_, comboId, "a combo box");
    return combo.selection() < 0 ? std::string() : combo.items()[static_cast<size_t>(combo.selection())];
}

int32_t LiveDialog::fontListId() const
{
    for (const auto &w : dialog_->controls())
        if (dynamic_cast<const ComboBox *>(w.get()))
            return w->signedId();
    throw ScriptError("the dialog has no font list");
}

std::vector<int32_t> LiveDialog::tabOrder() const
{
    std::vector<int32_t> order;
    Window *first = dialog_->firstTabStop();
    for (Window *w = first; w;) {
        order.push_back(w->signedId());
        w = dialog_->nextTabStop(w, false);
        if (w == first)
            break;
    }
    return order;
}

const DialogReport &LiveDialog::report() const
{
    return dialog_->report();
}

// ---------------------------------------------------------------------------
// LiveDialog: actions

void LiveDialog::type(std::string_view text)
{
    requireOpen(*dialog_);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            dialog_->pressKey(Key::Enter);
        } else if (c == '\t') {
            dialog_->pressKey(Key::Tab);
        } else {
            dialog_->typeCharacter(static_cast<uint8_t>(c));
        }
        if (dialog_->ended() && i + 1 < text.size())
            throw ScriptError("the dialog closed while typing; " + std::to_string(text.size() - i - 1) +
                              " characters were left untyped");
    }
}

void LiveDialog::press(Key key)
{
    requireOpen(*dialog_);
    dialog_->pressKey(key);
}

void LiveDialog::click(int32_t id)
{
    requireOpen(*dialog_);
    Window &w = controlOf(*dialog_, id);
    if (!w.visibleAndEnabled())
        throw ScriptError("control " + std::to_string(id) + " is hidden or disabled");
    if (w.canFocus()) {
        dialog_->setFocus(&w);
        w.clickedInto();
    }
    w.click();
}

void LiveDialog::setChecked(int32_t id, bool on)
{
    const auto &box = controlAs<Button>(*dialog_, id, "a button");
    if ((box.state == BST_CHECKED) != on)
        click(id);
}

void LiveDialog::chooseRadio(int32_t id)
{
    if (!controlAs<Button>(*dialog_, id, "a button").isRadio())
        throw ScriptError("control " + std::to_string(id) + " is not a radio button");
    click(id);
}

void LiveDialog::pick(int32_t comboId, std::string_view entry)
{
    requireOpen(*dialog_);
    auto &combo = controlAs<ComboBox>(*dialog_, comboId, "a combo box");
    const auto &items = combo.items();
    int32_t found = -1;
    for (size_t i = 0; i < items.size() && found < 0; ++i)
        if (items[i] == entry)
            found = static_cast<int32_t>(i);
    for (size_t i = 0; i < items.size() && found < 0; ++i)
        if (equalNoCase(items[i], entry))
            found = static_cast<int32_t>(i);
    if (found < 0)
        throw ScriptError("no entry " + quoted(entry) + " among the " + std::to_string(items.size()) +
                          " entries of list " + std::to_string(comboId));
    dialog_->setFocus(&combo);
    combo.pickByUser(found);
}

void LiveDialog::focus(int32_t id)
{
    requireOpen(*dialog_);
    Window &w = controlOf(*dialog_, id);
    if (!w.canFocus() || !w.visibleAndEnabled())
        throw ScriptError("control " + std::to_string(id) + " cannot take the focus");
    dialog_->setFocus(&w);
    w.clickedInto();
}

void LiveDialog::mnemonic(char letter)
{
    requireOpen(*dialog_);
    if (!dialog_->mnemonic(static_cast<uint8_t>(letter)))
        throw ScriptError(std::string("no control has the mnemonic '") + letter + "'");
}

// ---------------------------------------------------------------------------
// Script

namespace {

const std::pair<const char *, Key> kKeyNames[] = {
    {"tab", Key::Tab},          {"shift-tab", Key::ShiftTab},
    {"enter", Key::Enter},      {"escape", Key::Escape},
    {"space", Key::Space},      {"backspace", Key::Backspace},
    {"delete", Key::Delete},    {"left", Key::Left},
    {"right", Key::Right},      {"up", Key::Up},
    {"down", Key::Down},        {"home", Key::Home},
    {"end", Key::End},          {"ctrl-home", Key::CtrlHome},
    {"ctrl-end", Key::CtrlEnd}, {"select-all", Key::SelectAll},
};

const char *keyName(Key key)
{
    for (const auto &[name, k] : kKeyNames)
        if (k == key)
            return name;
    return "?";
}

} // namespace

Script &Script::then(std::string description, Step step)
{
    steps_.push_back({std::move(description), std::move(step)});
    return *this;
}

Script &Script::type(std::string text)
{
    std::string description = "type " + quoted(text);
    return then(std::move(description), [text = std::move(text)](LiveDialog &d) { d.type(text); });
}

Script &Script::press(Key key)
{
    return then(std::string("key ") + keyName(key), [key](LiveDialog &d) { d.press(key); });
}

Script &Script::click(int32_t id)
{
    return then("click " + std::to_string(id), [id](LiveDialog &d) { d.click(id); });
}

Script &Script::setChecked(int32_t id, bool on)
{
    return then((on ? "check " : "uncheck ") + std::to_string(id), [id, on](LiveDialog &d) { d.setChecked(id, on); });
}

Script &Script::chooseRadio(int32_t id)
{
    return then("radio " + std::to_string(id), [id](LiveDialog &d) { d.chooseRadio(id); });
}

Script &Script::pick(int32_t comboId, std::string entry)
{
    std::string description = "pick " + quoted(entry) + " in " + std::to_string(comboId);
    return then(std::move(description), [comboId, entry = std::move(entry)](LiveDialog &d) { d.pick(comboId, entry); });
}

Script &Script::pickFont(std::string name)
{
    std::string description = "font " + quoted(name);
    return then(std::move(description), [name = std::move(name)](LiveDialog &d) { d.pickFont(name); });
}

Script &Script::focus(int32_t id)
{
    return then("focus " + std::to_string(id), [id](LiveDialog &d) { d.focus(id); });
}

Script &Script::mnemonic(char letter)
{
    return then(std::string("alt ") + letter, [letter](LiveDialog &d) { d.mnemonic(letter); });
}

namespace {

// Splits the text form into steps at unescaped newlines and semicolons,
// keeping escapes for the arguments to decode.
std::vector<std::pair<size_t, std::string>> splitSteps(std::string_view text)
{
    std::vector<std::pair<size_t, std::string>> steps;
    std::string current;
    size_t line = 1, stepLine = 1;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\' && i + 1 < text.size() && text[i + 1] != '\n') {
            current.push_back(c);
            current.push_back(text[++i]);
            continue;
        }
        if (c == '\n' || c == ';') {
            steps.emplace_back(stepLine, std::move(current));
            current.clear();
            if (c == '\n')
                ++line;
            stepLine = line;
            continue;
        }
        current.push_back(c);
    }
    steps.emplace_back(stepLine, std::move(current));
    return steps;
}

std::string unescape(std::string_view s, size_t line)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\') {
            out.push_back(s[i]);
            continue;
        }
        if (++i == s.size())
            throw ScriptError("script line " + std::to_string(line) + ": a lone '\\' ends the step");
        switch (s[i]) {
        case 'n':
            out.push_back('\n');
            break;
        case 't':
            out.push_back('\t');
            break;
        case '\\':
            out.push_back('\\');
            break;
        case ';':
            out.push_back(';');
            break;
        default:
            throw ScriptError("script line " + std::to_string(line) + ": unknown escape '\\" + s[i] + "'");
        }
    }
    return out;
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// A control named by id or caption; captions are looked up in the live dialog.
std::function<int32_t(const LiveDialog &)> controlRef(std::string_view arg, size_t line)
{
    if (arg.empty())
        throw ScriptError("script line " + std::to_string(line) + ": the step names no control");
    int32_t id = 0;
    const auto [end, ec] = std::from_chars(arg.data(), arg.data() + arg.size(), id);
    if (ec == std::errc() && end == arg.data() + arg.size())
        return [id](const LiveDialog &) { return id; };
    return [caption = std::string(arg)](const LiveDialog &d) { return d.idOf(caption); };
}

} // namespace

Script Script::parse(std::string_view text)
{
    Script script;
    for (const auto &[line, raw] : splitSteps(text)) {
        // The leading blanks go, but "type" keeps every character after its one separating space.
        std::string_view step(raw);
        while (!step.empty() && (step.front() == ' ' || step.front() == '\t'))
            step.remove_prefix(1);
        if (trim(step).empty() || step.front() == '#')
            continue;
        const size_t space = step.find(' ');
        const std::string verb(step.substr(0, space));
        const std::string_view rest = space == std::string_view::npos ? std::string_view() : step.substr(space + 1);
        const std::string_view arg = trim(rest);
        const std::string where = "script line " + std::to_string(line) + ": ";

        if (verb == "type") {
            std::string_view kept = rest;
            while (!kept.empty() && kept.back() == '\r')
                kept.remove_suffix(1);
            script.type(unescape(kept, line));
        } else if (verb == "key") {
            bool known = false;
            for (const auto &[name, k] : kKeyNames)
                if (arg == name) {
                    script.press(k);
                    known = true;
                }
            if (!known)
                throw ScriptError(where + "unknown key " + quoted(arg));
        } else if (verb == "font") {
            if (arg.empty())
                throw ScriptError(where + "the step names no font");
            script.pickFont(unescape(arg, line));
        } else if (verb == "ok" || verb == "cancel") {
            if (!arg.empty())
                throw ScriptError(where + verb + " takes no argument");
            verb == "ok" ? script.ok() : script.cancel();
        } else if (verb == "alt") {
            if (arg.size() != 1)
                throw ScriptError(where + "alt takes one letter");
            script.mnemonic(arg[0]);
        } else if (verb == "click" || verb == "check" || verb == "uncheck" || verb == "radio" || verb == "focus") {
            auto ref = controlRef(arg, line);
            const std::string description = verb + " " + std::string(arg);
            if (verb == "click")
                script.then(description, [ref](LiveDialog &d) { d.click(ref(d)); });
            else if (verb == "check")
                script.then(description, [ref](LiveDialog &d) { d.setChecked(ref(d), true); });
            else if (verb == "uncheck")
                script.then(description, [ref](LiveDialog &d) { d.setChecked(ref(d), false); });
            else if (verb == "radio")
                script.then(description, [ref](LiveDialog &d) { d.chooseRadio(ref(d)); });
            else
                script.then(description, [ref](LiveDialog &d) { d.focus(ref(d)); });
        } else {
            throw ScriptError(where + "unknown step " + quoted(verb));
        }
    }
    return script;
}

// ---------------------------------------------------------------------------
// Queue, reports, hooks

void queueScript(Script script)
{
    standIn().scripts.push_back(std::move(script));
}

size_t queuedScripts()
{
    return standIn().scripts.size();
}

void clearScripts()
{
    standIn().scripts.clear();
}

const std::vector<DialogReport> &dialogReports()
{
    return standIn().reports;
}

const DialogReport &lastDialogReport()
{
    if (standIn().reports.empty())
        throw ScriptError("no dialog has run");
    return standIn().reports.back();
}

void clearDialogReports()
{
    standIn().reports.clear();
}

void setDialogCreationFails(bool fails)
{
    standIn().dialogCreationFails = fails;
}

void setControlCreationFailsAt(int32_t n)
{
    StandInState &s = standIn();
    s.controlFailsAt = n == 0 ? 0 : s.controlsCreated + n;
}

int32_t liveWindows()
{
    return Window::liveCount();
}

void resetStandIn()
{
    StandInState &s = standIn();
    s.scripts.clear();
    s.reports.clear();
    s.fontList.reset();
    s.createDCFails = false;
    s.dialogCreationFails = false;
    s.controlFailsAt = 0;
}

} // namespace corvane::win32
