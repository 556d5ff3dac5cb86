// Window text, buttons, statics, edit fields and combo boxes.
#include "window.h"

#include "codepage.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

namespace corvane::win32 {
namespace {

std::unordered_set<const Window *> &windowRegistry()
{
    static std::unordered_set<const Window *> live;
    return live;
}

// WM_GETTEXT: at most max - 1 bytes and a terminating zero; the count copied.
LRESULT copyOut(std::string_view text, WPARAM max, char *buffer)
{
    if (!buffer || max == 0)
        return 0;
    const size_t n = std::min<size_t>(text.size(), static_cast<size_t>(max) - 1);
    if (n > 0)
        std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return static_cast<LRESULT>(n);
}

const char *textArg(LPARAM lParam)
{
    return lParam ? reinterpret_cast<const char *>(lParam) : "";
}

// A WPARAM that callers fill from a signed int (list indexes, -1 for none).
int64_t signedIndex(WPARAM w)
{
    return static_cast<int64_t>(static_cast<intptr_t>(w));
}

} // namespace

// ---------------------------------------------------------------------------
// Window

Window::Window(Dialog *owner, const ItemTemplate *item) : dialog(owner)
{
    if (item) {
        id = item->id;
        style = item->style;
        exStyle = item->exStyle;
        x = item->x;
        y = item->y;
        cx = item->cx;
        cy = item->cy;
        if (!item->titleIsOrdinal)
            text = item->title;
    }
    windowRegistry().insert(this);
}

Window::~Window()
{
    windowRegistry().erase(this);
}

Window *Window::from(HWND handle)
{
    auto *w = reinterpret_cast<Window *>(handle);
    return handle && windowRegistry().count(w) ? w : nullptr;
}

int32_t Window::liveCount()
{
    return static_cast<int32_t>(windowRegistry().size());
}

LRESULT Window::message(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_SETTEXT:
        text = textArg(lParam);
        return TRUE;
    case WM_GETTEXT:
        return copyOut(text, wParam, reinterpret_cast<char *>(lParam));
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(text.size());
    default:
        return 0;
    }
}

uint8_t Window::mnemonicLetter() const
{
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '&')
            continue;
        if (text[i + 1] == '&') { // "&&" is a plain ampersand
            ++i;
            continue;
        }
        return cp1252Fold(static_cast<uint8_t>(text[i + 1]));
    }
    return 0;
}

void Window::notify(uint16_t code)
{
    if (dialog)
        dialog->command(static_cast<uint16_t>(id & 0xFFFF), code, this);
}

void Window::refuse(std::string why)
{
    if (dialog)
        dialog->report().refusals.push_back(std::move(why));
}

// ---------------------------------------------------------------------------
// Button

uint32_t Button::maxState() const
{
    switch (type()) {
    case kBsCheckBox:
    case kBsAutoCheckBox:
    case kBsRadioButton:
    case kBsAutoRadioButton:
        return BST_CHECKED;
    case kBs3State:
    case kBsAuto3State:
        return kBstIndeterminate;
    default:
        return 0; // push buttons and group boxes have no check state
    }
}

LRESULT Button::message(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case kBmGetCheck:
        return maxState() ? static_cast<LRESULT>(state) : 0;
    case kBmSetCheck:
        // A two-state box asked for "indeterminate" shows checked.
        if (maxState())
            state = static_cast<uint32_t>(std::min<WPARAM>(wParam, maxState()));
        return 0;
    case kBmClick:
        if (visibleAndEnabled()) {
            if (dialog)
                dialog->setFocus(this);
            click();
        }
        return 0;
    default:
        return Window::message(msg, wParam, lParam);
    }
}

void Button::click()
{
    switch (type()) {
    case kBsAutoCheckBox:
        state = state == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
        break;
    case kBsAuto3State:
        state = (state + 1) % 3;
        break;
    case kBsAutoRadioButton:
        state = BST_CHECKED;
        if (dialog)
            for (Window *w : dialog->groupOf(this)) {
                auto *other = dynamic_cast<Button *>(w);
                if (other && other != this && other->type() == kBsAutoRadioButton)
                    other->state = BST_UNCHECKED;
            }
        break;
    case kBsGroupBox:
        return;
    default:
        break;
    }
    notify(kBnClicked);
}

// ---------------------------------------------------------------------------
// Edit

Edit::Edit(Dialog *owner, const ItemTemplate *item, int32_t linesThatFit)
    : Window(owner, item), linesThatFit_(linesThatFit)
{
}

int32_t Edit::lineCount() const
{
    int32_t lines = 1;
    for (size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] == '\r' && text[i + 1] == '\n')
            ++lines;
    return lines;
}

LRESULT Edit::message(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_SETTEXT:
        // Text put in by the program is not held to the typing limits.
        text = textArg(lParam);
        caret_ = anchor_ = 0;
        return TRUE;
    case kEmGetSel: {
        const auto start = static_cast<DWORD>(selectionStart());
        const auto end = static_cast<DWORD>(selectionEnd());
        if (wParam)
            *reinterpret_cast<DWORD *>(wParam) = start;
        if (lParam)
            *reinterpret_cast<DWORD *>(lParam) = end;
        return static_cast<LRESULT>((start & 0xFFFF) | ((end & 0xFFFF) << 16));
    }
    case kEmSetSel: {
        const int64_t start = signedIndex(wParam);
        const int64_t end = static_cast<int64_t>(lParam);
        if (start < 0) { // -1 drops the selection, keeping the caret
            anchor_ = caret_;
            return 0;
        }
        const size_t size = text.size();
        const size_t s = std::min<size_t>(static_cast<size_t>(start), size);
        const size_t e = end < 0 ? size : std::min<size_t>(static_cast<size_t>(end), size);
        select(s, e);
        return 0;
    }
    case kEmReplaceSel: {
        const std::string_view s = textArg(lParam);
        const size_t from = selectionStart();
        text.replace(from, selectionEnd() - from, s);
        caret_ = anchor_ = from + s.size();
        return 0;
    }
    case kEmLimitText:
        limit_ = wParam ? static_cast<size_t>(wParam) : 0x7FFFFFFE;
        return 0;
    case kEmGetLimitText:
        return static_cast<LRESULT>(limit_);
    case kEmGetLineCount:
        return lineCount();
    default:
        return Window::message(msg, wParam, lParam);
    }
}

void Edit::select(size_t anchor, size_t caret)
{
    anchor_ = std::min(anchor, text.size());
    caret_ = std::min(caret, text.size());
}

void Edit::insert(std::string_view s)
{
    if (style & kEsReadOnly) {
        refuse("the field is read-only");
        return;
    }
    const size_t from = selectionStart();
    const size_t to = selectionEnd();
    if (text.size() - (to - from) + s.size() > limit_) {
        refuse("the field holds at most " + std::to_string(limit_) + " characters");
        notify(kEnMaxText);
        return;
    }
    std::string next = text;
    next.replace(from, to - from, s);
    if (linesThatFit_ > 0 && s.find("\r\n") != std::string_view::npos) {
        const int32_t before = lineCount();
        std::swap(text, next);
        const int32_t after = lineCount();
        std::swap(text, next);
        // Without ES_AUTOVSCROLL the field takes no line beyond what it shows.
        if (after > before && after > linesThatFit_) {
            refuse("no more lines fit in the field (" + std::to_string(linesThatFit_) + " lines)");
            notify(kEnMaxText);
            return;
        }
    }
    text = std::move(next);
    caret_ = anchor_ = from + s.size();
    notify(kEnUpdate);
    notify(kEnChange);
}

void Edit::erase(size_t from, size_t to)
{
    if (style & kEsReadOnly) {
        refuse("the field is read-only");
        return;
    }
    if (from >= to)
        return;
    text.erase(from, to - from);
    caret_ = anchor_ = from;
    notify(kEnUpdate);
    notify(kEnChange);
}

// A line break is the pair CR LF, and the caret steps over it as one.
size_t Edit::stepLeft(size_t pos) const
{
    if (pos >= 2 && text[pos - 2] == '\r' && text[pos - 1] == '\n')
        return pos - 2;
    return pos > 0 ? pos - 1 : 0;
}

size_t Edit::stepRight(size_t pos) const
{
    if (pos + 1 < text.size() && text[pos] == '\r' && text[pos + 1] == '\n')
        return pos + 2;
    return pos < text.size() ? pos + 1 : pos;
}

size_t Edit::lineStart(size_t pos) const
{
    for (size_t i = std::min(pos, text.size()); i >= 2; --i)
        if (text[i - 2] == '\r' && text[i - 1] == '\n')
            return i;
    return 0;
}

size_t Edit::lineEnd(size_t pos) const
{
    const size_t at = text.find("\r\n", pos);
    return at == std::string::npos ? text.size() : at;
}

void Edit::character(uint8_t c)
{
    if (c < 0x20 || c == 0x7F)
        return; // control characters are not text
    insert(std::string_view(reinterpret_cast<const char *>(&c), 1));
}

void Edit::key(Key k)
{
    const size_t size = text.size();
    switch (k) {
    case Key::Enter:
        if (wantsEnter())
            insert("\r\n");
        return;
    case Key::Space:
        character(' ');
        return;
    case Key::Backspace:
        if (selectionStart() != selectionEnd())
            erase(selectionStart(), selectionEnd());
        else if (caret_ > 0)
            erase(stepLeft(caret_), caret_);
        return;
    case Key::Delete:
        if (selectionStart() != selectionEnd())
            erase(selectionStart(), selectionEnd());
        else if (caret_ < size)
            erase(caret_, stepRight(caret_));
        return;
    case Key::Left:
        caret_ = selectionStart() != selectionEnd() ? selectionStart() : stepLeft(caret_);
        anchor_ = caret_;
        return;
    case Key::Right:
        caret_ = selectionStart() != selectionEnd() ? selectionEnd() : stepRight(caret_);
        anchor_ = caret_;
        return;
    case Key::Home:
        caret_ = anchor_ = lineStart(caret_);
        return;
    case Key::End:
        caret_ = anchor_ = lineEnd(caret_);
        return;
    case Key::CtrlHome:
        caret_ = anchor_ = 0;
        return;
    case Key::CtrlEnd:
        caret_ = anchor_ = size;
        return;
    case Key::Up:
    case Key::Down: {
        if (!multiline())
            return;
        const size_t start = lineStart(caret_);
        const size_t column = caret_ - start;
        if (k == Key::Up) {
            if (start == 0)
                return;
            const size_t prevStart = lineStart(start - 2);
            caret_ = std::min(prevStart + column, start - 2);
        } else {
            const size_t end = lineEnd(caret_);
            if (end >= size)
                return;
            const size_t nextStart = end + 2;
            caret_ = std::min(nextStart + column, lineEnd(nextStart));
        }
        anchor_ = caret_;
        return;
    }
    case Key::SelectAll:
        select(0, size);
        return;
    default:
        return;
    }
}

// ---------------------------------------------------------------------------
// ComboBox

int32_t ComboBox::find(WPARAM start, const char *s, bool exact) const
{
    if (!s || items_.empty())
        return CB_ERR;
    const std::string_view wanted(s);
    const int64_t count = static_cast<int64_t>(items_.size());
    // The search starts after `start` and wraps round to it; -1 (or any index
    // outside the list) searches from the top.
    int64_t first = signedIndex(start);
    first = (first < 0 || first >= count) ? 0 : first + 1;
    for (int64_t n = 0; n < count; ++n) {
        const int64_t i = (first + n) % count;
        const std::string &item = items_[static_cast<size_t>(i)];
        const bool match = exact ? equalNoCase(item, wanted)
                                 : item.size() >= wanted.size() &&
                                       equalNoCase(std::string_view(item).substr(0, wanted.size()), wanted);
        if (match)
            return static_cast<int32_t>(i);
    }
    return CB_ERR;
}

LRESULT ComboBox::add(const char *s, int32_t at)
{
    if (!s)
        return CB_ERR;
    size_t index;
    if (at < 0 && sorted()) {
        // After every entry that does not sort after it.
        auto pos = std::upper_bound(items_.begin(), items_.end(), std::string_view(s),
                                    [](std::string_view a, const std::string &b) { return compareNoCase(a, b) < 0; });
        index = static_cast<size_t>(pos - items_.begin());
    } else if (at < 0) {
        index = items_.size();
    } else {
        if (static_cast<size_t>(at) > items_.size())
            return CB_ERR;
        index = static_cast<size_t>(at);
    }
    items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(index), s);
    if (selection_ >= 0 && static_cast<size_t>(selection_) >= index)
        ++selection_;
    return static_cast<LRESULT>(index);
}

LRESULT ComboBox::message(UINT msg, WPARAM wParam, LPARAM lParam)
{
    const int64_t count = static_cast<int64_t>(items_.size());
    const int64_t index = signedIndex(wParam);
    const bool valid = index >= 0 && index < count;
    switch (msg) {
    case CB_ADDSTRING:
        return add(reinterpret_cast<const char *>(lParam), -1);
    case kCbInsertString:
        return add(reinterpret_cast<const char *>(lParam),
                   index < 0 ? static_cast<int32_t>(count) : static_cast<int32_t>(std::min<int64_t>(index, INT32_MAX)));
    case kCbDeleteString:
        if (!valid)
            return CB_ERR;
        items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
        if (selection_ == index)
            selection_ = -1;
        else if (selection_ > index)
            --selection_;
        return static_cast<LRESULT>(items_.size());
    case kCbResetContent:
        items_.clear();
        selection_ = -1;
        return 0;
    case CB_GETCOUNT:
        return static_cast<LRESULT>(count);
    case CB_SETCURSEL:
        if (!valid) {
            selection_ = -1;
            return CB_ERR;
        }
        selection_ = static_cast<int32_t>(index);
        return selection_;
    case CB_GETCURSEL:
        return selection_;
    case CB_GETLBTEXTLEN:
        return valid ? static_cast<LRESULT>(items_[static_cast<size_t>(index)].size()) : CB_ERR;
    case CB_GETLBTEXT: {
        // The caller's buffer is as long as CB_GETLBTEXTLEN said, plus one.
        auto *out = reinterpret_cast<char *>(lParam);
        if (!valid || !out)
            return CB_ERR;
        const std::string &item = items_[static_cast<size_t>(index)];
        std::memcpy(out, item.c_str(), item.size() + 1);
        return static_cast<LRESULT>(item.size());
    }
    case CB_FINDSTRINGEXACT:
        return find(wParam, reinterpret_cast<const char *>(lParam), true);
    case kCbFindString:
        return find(wParam, reinterpret_cast<const char *>(lParam), false);
    case kCbSelectString: {
        const int32_t found = find(wParam, reinterpret_cast<const char *>(lParam), false);
        if (found != CB_ERR)
            selection_ = found;
        return found;
    }
    case WM_GETTEXT:
        return copyOut(selection_ >= 0 ? std::string_view(items_[static_cast<size_t>(selection_)]) : std::string_view(),
                       wParam, reinterpret_cast<char *>(lParam));
    case WM_GETTEXTLENGTH:
        return selection_ >= 0 ? static_cast<LRESULT>(items_[static_cast<size_t>(selection_)].size()) : 0;
    case WM_SETTEXT: {
        // A list without an edit part can only show one of its entries.
        const int32_t found = find(static_cast<WPARAM>(-1), textArg(lParam), true);
        if (found == CB_ERR)
            return CB_ERR;
        selection_ = found;
        return TRUE;
    }
    default:
        return Window::message(msg, wParam, lParam);
    }
}

void ComboBox::selectByUser(int32_t index)
{
    if (index == selection_ || index < 0 || static_cast<size_t>(index) >= items_.size())
        return;
    selection_ = index;
    notify(kCbnSelChange);
}

void ComboBox::pickByUser(int32_t index)
{
    selectByUser(index);
    notify(kCbnSelEndOk);
}

void ComboBox::character(uint8_t c)
{
    // Typing a letter selects the next entry that starts with it.
    if (items_.empty() || c < 0x20)
        return;
    const size_t count = items_.size();
    const size_t first = selection_ < 0 ? 0 : static_cast<size_t>(selection_) + 1;
    for (size_t n = 0; n < count; ++n) {
        const size_t i = (first + n) % count;
        if (!items_[i].empty() && cp1252Fold(static_cast<uint8_t>(items_[i][0])) == cp1252Fold(c)) {
            selectByUser(static_cast<int32_t>(i));
            return;
        }
    }
    refuse(std::string("no entry starts with '") + static_cast<char>(c) + "'");
}

void ComboBox::key(Key k)
{
    if (items_.empty())
        return;
    const int32_t last = static_cast<int32_t>(items_.size()) - 1;
    switch (k) {
    case Key::Up:
    case Key::Left:
        selectByUser(selection_ <= 0 ? 0 : selection_ - 1);
        return;
    case Key::Down:
    case Key::Right:
        selectByUser(selection_ < 0 ? 0 : std::min(selection_ + 1, last));
        return;
    case Key::Home:
        selectByUser(0);
        return;
    case Key::End:
        selectByUser(last);
        return;
    default:
        return;
    }
}

} // namespace corvane::win32
