// The options command and its dialog.
#include "options_dialog.h"

#include "../../resources/resource_ids.h"
#include "../entry/module.h"
#include "../host/porting.h"

#include <string.h>

extern "C" {
TextSettings *gDialogSettings = nullptr;
char gLastFontName[256] = {0};
}

namespace {

struct StyleBox {
    int id;
    uint16_t bit;
};

// The order in which the boxes are set and read back.
constexpr StyleBox kStyleBoxes[] = {
    {kIdBoldBox, kFaceBold},
    {kIdItalicBox, kFaceItalic},
    {kIdOutlineBox, kFaceOutline},
    {kIdUnderlineBox, kFaceUnderline},
};

constexpr char kFallbackFont[] = "System";

int32_t ReportDamaged(const HostInData *in, HostOutData *out, const char *message)
{
    if (in->utils && in->utils->copyString)
        in->utils->copyString(out->returnMessage, message);
    out->outFlags = kErrorMessageFlags;
    return kErrSettingsDamaged;
}

LRESULT FindFont(HWND list, const char *name)
{
    // Start index 0: the search wraps round, so the whole list is searched.
    return SendMessageA(list, CB_FINDSTRINGEXACT, 0, reinterpret_cast<LPARAM>(name));
}

} // namespace

extern "C" int32_t RunOptionsDialog(HostInData *in, HostOutData *out)
{
    // Without the global block there is no string table to take the message
    // from; the table's own entry is quoted instead.
    if (!in->globalData || !*in->globalData)
        return ReportDamaged(in, out, gStringTable[kStrDamaged]);
    const StringTableRef table = GetStringTableRef(in);

    Handle record = in->sequenceData;
    if (!record || !*record || reinterpret_cast<const TextSettings *>(*record)->magic != kSettingsMagic)
        return ReportDamaged(in, out, in->getString(table, kStrDamaged));

    HLock(record);
    TextSettings *settings = reinterpret_cast<TextSettings *>(*record);
    // A text that fills its whole field has no room for the length byte:
    // it loses its last character rather than running into fontName.
    if (!memchr(settings->text, 0, sizeof settings->text))
        settings->text[sizeof settings->text - 1] = '\0';
    c2pstr(settings->text);

    const int32_t result = ShowOptionsDialog(settings);

    p2cstr(reinterpret_cast<unsigned char *>(settings->text));
    HUnlock(record);
    return (result & 0xFFFF) == 0 ? kErrDialogCancelled : 0;
}

extern "C" int32_t ShowOptionsDialog(TextSettings *settings)
{
    gDialogSettings = settings;
    return static_cast<int32_t>(DialogBoxParamA(static_cast<HINSTANCE>(gModuleHandle),
                                                MAKEINTRESOURCEA(kIdOptionsDialog), static_cast<HWND>(hWndMain),
                                                OptionsDialogProc, 0));
}

extern "C" INT_PTR CALLBACK OptionsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        InitOptionsDialog(dialog, gDialogSettings);
        return 0; // the focus stays where initialisation put it
    }
    if (message != WM_COMMAND)
        return 0;
    switch (static_cast<int16_t>(LOWORD(wParam))) {
    case IDOK:
        ReadOptionsDialog(dialog, gDialogSettings);
        EndDialog(dialog, 1);
        return 1;
    case IDCANCEL:
        EndDialog(dialog, 0);
        return 1;
    default:
        return 0;
    }
}

extern "C" void InitOptionsDialog(HWND dialog, TextSettings *settings)
{
    for (const StyleBox &box : kStyleBoxes)
        CheckDlgButton(dialog, box.id, (settings->style & box.bit) ? BST_CHECKED : BST_UNCHECKED);
    CheckRadioButton(dialog, kIdAlignLeft, kIdAlignRight, kIdAlignLeft + settings->alignment);

    HWND list = GetDlgItem(dialog, kIdFontList);
    HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    if (!display)
        return; // no fonts to list: the list and the text stay empty
    EnumFontsA(display, nullptr, AddFontProc, reinterpret_cast<LPARAM>(list));
    DeleteDC(display);

    // The name is searched as a zero-terminated copy, so the record keeps
    // its bytes even when the stored name holds a zero.
    unsigned char name[sizeof settings->fontName];
    memcpy(name, settings->fontName, sizeof name);
    p2cstr(name);
    LRESULT found = FindFont(list, reinterpret_cast<const char *>(name));
    if (static_cast<int16_t>(found) == CB_ERR)
        found = FindFont(list, gLastFontName);
    if (static_cast<int16_t>(found) == CB_ERR)
        found = 0;
    SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(found), 0);

    char text[sizeof settings->text];
    const uint8_t length = static_cast<uint8_t>(settings->text[0]);
    memcpy(text, settings->text + 1, length);
    text[length] = '\0';
    SetDlgItemTextA(dialog, kIdTextField, text);

    SetFocus(GetDlgItem(dialog, kIdTextField));
}

extern "C" void ReadOptionsDialog(HWND dialog, TextSettings *settings)
{
    uint16_t style = 0;
    for (const StyleBox &box : kStyleBoxes)
        if (IsDlgButtonChecked(dialog, box.id) == BST_CHECKED)
            style |= box.bit;
    settings->style = style;

    uint16_t alignment = 0;
    if (IsDlgButtonChecked(dialog, kIdAlignLeft) == BST_CHECKED)
        alignment = kAlignLeft;
    if (IsDlgButtonChecked(dialog, kIdAlignCenter) == BST_CHECKED)
        alignment = kAlignCenter;
    if (IsDlgButtonChecked(dialog, kIdAlignRight) == BST_CHECKED)
        alignment = kAlignRight;
    settings->alignment = alignment;

    // The list entry is copied whole, so its length is checked in full
    // before the copy, not as 16 bits.
    char *fontName = reinterpret_cast<char *>(settings->fontName);
    HWND list = GetDlgItem(dialog, kIdFontList);
    const LRESULT selected = SendMessageA(list, CB_GETCURSEL, 0, 0);
    const LRESULT length =
        selected < 0 ? CB_ERR : SendMessageA(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(selected), 0);
    if (selected < 0 || length < 0 || length >= static_cast<LRESULT>(sizeof settings->fontName))
        memcpy(fontName, kFallbackFont, sizeof kFallbackFont);
    else
        SendMessageA(list, CB_GETLBTEXT, static_cast<WPARAM>(selected), reinterpret_cast<LPARAM>(fontName));
    memcpy(gLastFontName, fontName, strlen(fontName) + 1);
    c2pstr(fontName);

    // At most 254 characters and a zero; then moved up one byte to make room
    // for the length.
    UINT count = GetDlgItemTextA(dialog, kIdTextField, settings->text, sizeof settings->text - 1);
    if (count > sizeof settings->text - 2)
        count = sizeof settings->text - 2;
    memmove(settings->text + 1, settings->text, count);
    settings->text[0] = static_cast<char>(count);
}

extern "C" int CALLBACK AddFontProc(const LOGFONTA *font, const TEXTMETRICA *, DWORD fontType, LPARAM list)
{
    if ((fontType & RASTER_FONTTYPE) && !(fontType & TRUETYPE_FONTTYPE))
        return 1;
    // The system passes the full ENUMLOGFONTA, which begins with this LOGFONTA.
    const ENUMLOGFONTA *full = reinterpret_cast<const ENUMLOGFONTA *>(font);
    if (IsVerticalFarEastFont(full->elfFullName, font))
        return 1;

    char face[LF_FACESIZE + 1];
    const size_t length = strnlen(font->lfFaceName, LF_FACESIZE);
    memcpy(face, font->lfFaceName, length);
    face[length] = '\0';

    HWND combo = reinterpret_cast<HWND>(list);
    if (SendMessageA(combo, CB_FINDSTRINGEXACT, 0, reinterpret_cast<LPARAM>(face)) == CB_ERR)
        SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(face));
    return 1;
}

extern "C" bool IsVerticalFarEastFont(const BYTE *fullName, const LOGFONTA *font)
{
    if (fullName[0] != '@')
        return false;
    switch (static_cast<uint8_t>(font->lfCharSet)) {
    case SHIFTJIS_CHARSET:
    case HANGUL_CHARSET:
    case GB2312_CHARSET:
    case CHINESEBIG5_CHARSET:
        return true;
    default:
        return false;
    }
}
