/*
 * The options dialog: edits the text, font, style and alignment of one
 * instance's settings record in the modal dialog of template 101.
 *
 * While the dialog is open the record's `text` is length-prefixed (the
 * command converts it on the way in and back on the way out); `fontName`
 * stays length-prefixed. All Win32 calls are the 8-bit variants.
 */
#ifndef QUILLOMARK_DIALOG_OPTIONS_DIALOG_H
#define QUILLOMARK_DIALOG_OPTIONS_DIALOG_H

#include "../entry/settings.h"
#include "../host/win32.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The record the open dialog edits; set each time the dialog is shown. */
extern TextSettings *gDialogSettings;
/* The font confirmed by the last OK in any instance, zero-terminated;
 * empty until then. */
extern char gLastFontName[256];

/* Runs the dialog on `settings` (text length-prefixed): 1 after OK, 0 after
 * Cancel, -1 when the dialog cannot be created. */
int32_t ShowOptionsDialog(TextSettings *settings);
INT_PTR CALLBACK OptionsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void InitOptionsDialog(HWND dialog, TextSettings *settings);
void ReadOptionsDialog(HWND dialog, TextSettings *settings);
/* EnumFontsA callback: `font` is the ENUMLOGFONTA the system passes; `list`
 * the font list's window. Always 1, so the enumeration runs to its end. */
int CALLBACK AddFontProc(const LOGFONTA *font, const TEXTMETRICA *metrics, DWORD fontType, LPARAM list);
/* The vertical at-sign faces of the Far East character sets. */
bool IsVerticalFarEastFont(const BYTE *fullName, const LOGFONTA *font);

#ifdef __cplusplus
}
#endif

#endif
