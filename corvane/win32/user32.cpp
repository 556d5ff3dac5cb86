// The USER entry points: modal dialogs and their controls. Each looks its
// handles up among the live windows and answers a stale or foreign one as
// the system does, with a failure value; nothing throws across them.
#include "window.h"

#include "res_file.h"
#include "state.h"

#include "codepage.h"

#include <cstdlib>
#include <cstring>
#include <optional>

using namespace corvane::win32;

namespace {

Dialog *dialogFrom(HWND handle)
{
    return dynamic_cast<Dialog *>(Window::from(handle));
}

Window *itemOf(HWND dialog, int id)
{
    Dialog *d = dialogFrom(dialog);
    return d ? d->find(static_cast<uint32_t>(id)) : nullptr;
}

// The compiled resources of the Linux module that `instance` names; on
// failure returns nothing and says why.
std::optional<corvane::ResourceFile> moduleResources(HINSTANCE instance, std::string &why)
{
    const auto *module = reinterpret_cast<const QmModuleDescriptor *>(instance);
    if (!module) {
        why = "no module instance to load the dialog from";
        return {};
    }
    if (module->magic != QM_MODULE_DESCRIPTOR_MAGIC || !module->resources) {
        why = "the instance handle does not name a module";
        return {};
    }
    try {
        return corvane::ResourceFile::parse(std::span(module->resources, module->resourceSize));
    } catch (const std::exception &e) {
        why = std::string("the module's resources are damaged: ") + e.what();
        return {};
    }
}

// Finds a dialog template among a module's resources; on failure returns an
// empty span and says why.
std::span<const uint8_t> findDialogTemplate(const corvane::ResourceFile &resources, LPCSTR name, int32_t &resourceId,
                                            std::string &why)
{
    const auto value = reinterpret_cast<uintptr_t>(name);
    const corvane::Resource *found = nullptr;
    std::string label;
    if (value <= 0xFFFF) {
        resourceId = static_cast<int32_t>(value);
        found = resources.find(corvane::kResTypeDialog, static_cast<uint16_t>(value));
        label = std::to_string(value);
    } else if (name[0] == '#') {
        resourceId = std::atoi(name + 1);
        found = resources.find(corvane::kResTypeDialog, static_cast<uint16_t>(resourceId));
        label = name;
    } else {
        label = name;
        for (const auto &r : resources.resources())
            if (r.type == corvane::ResName{true, corvane::kResTypeDialog, {}} && !r.name.isId &&
                equalNoCase(r.name.name, name)) {
                found = &r;
                break;
            }
    }
    if (!found) {
        why = "the module has no dialog resource " + label;
        return {};
    }
    return found->data;
}

// Runs the dialog resource `name` from `resources`, or, when they could not
// be read, records why no dialog ran.
INT_PTR runDialogResource(const corvane::ResourceFile *resources, LPCSTR name, HWND owner, DLGPROC proc, LPARAM param,
                          std::string why)
{
    try {
        int32_t resourceId = -1;
        std::span<const uint8_t> found;
        if (resources)
            found = findDialogTemplate(*resources, name, resourceId, why);
        return runDialogTemplate(found, owner, proc, param, resourceId, why);
    } catch (...) {
        return -1;
    }
}

} // namespace

INT_PTR corvane::win32::dialogBoxFromResources(const ResourceFile &resources, LPCSTR templateName, HWND owner,
                                               DLGPROC proc, LPARAM param)
{
    return runDialogResource(&resources, templateName, owner, proc, param, {});
}

extern "C" {

INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC proc, LPARAM param)
{
    std::string why;
    const auto resources = moduleResources(instance, why);
    return runDialogResource(resources ? &*resources : nullptr, templateName, owner, proc, param, why);
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result)
{
    Dialog *d = dialogFrom(dialog);
    if (!d)
        return FALSE;
    d->end(result);
    return TRUE;
}

HWND WINAPI GetDlgItem(HWND dialog, int id)
{
    Window *w = itemOf(dialog, id);
    return w ? w->handle() : nullptr;
}

BOOL WINAPI CheckDlgButton(HWND dialog, int id, UINT check)
{
    Window *w = itemOf(dialog, id);
    if (!w)
        return FALSE;
    w->message(kBmSetCheck, check, 0);
    return TRUE;
}

UINT WINAPI IsDlgButtonChecked(HWND dialog, int id)
{
    Window *w = itemOf(dialog, id);
    return w ? static_cast<UINT>(w->message(kBmGetCheck, 0, 0)) : 0;
}

BOOL WINAPI CheckRadioButton(HWND dialog, int first, int last, int check)
{
    Dialog *d = dialogFrom(dialog);
    if (!d)
        return FALSE;
    // Every control whose id lies in the range, whatever its group.
    for (const auto &w : d->controls()) {
        const int32_t id = w->signedId();
        if (id >= first && id <= last)
            w->message(kBmSetCheck, id == check ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    return TRUE;
}

BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text)
{
    try {
        Window *w = itemOf(dialog, id);
        return w ? static_cast<BOOL>(w->message(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text))) : FALSE;
    } catch (...) {
        return FALSE;
    }
}

UINT WINAPI GetDlgItemTextA(HWND dialog, int id, LPSTR text, int max)
{
    if (!text || max <= 0)
        return 0;
    Window *w = itemOf(dialog, id);
    if (!w) {
        text[0] = '\0';
        return 0;
    }
    return static_cast<UINT>(w->message(WM_GETTEXT, static_cast<WPARAM>(max), reinterpret_cast<LPARAM>(text)));
}

HWND WINAPI SetFocus(HWND window)
{
    // A null or unknown window takes nothing away from anyone here.
    Window *w = Window::from(window);
    if (!w)
        return nullptr;
    auto *d = dynamic_cast<Dialog *>(w);
    Window *previous;
    if (d) {
        // The dialog passes the focus on to a control of its own.
        previous = d->focus();
        if (!previous)
            d->setFocus(d->firstTabStop());
    } else if (w->dialog) {
        // An edit keeps its selection: the program, not a click, moved the focus.
        previous = w->dialog->setFocus(w);
    } else {
        return nullptr;
    }
    return previous ? previous->handle() : nullptr;
}

LRESULT WINAPI SendMessageA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    try {
        Window *w = Window::from(window);
        return w ? w->message(msg, wParam, lParam) : 0;
    } catch (...) {
        return 0;
    }
}

} // extern "C"
