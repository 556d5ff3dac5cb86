/*
 * The per-instance settings record and the module's shared declarations.
 *
 * The host holds the record between commands in stored form: numeric fields
 * big-endian. `main` converts it to native order on the way in and back on
 * the way out, so every handler sees native values.
 */
#ifndef QUILLOMARK_ENTRY_SETTINGS_H
#define QUILLOMARK_ENTRY_SETTINGS_H

#include "../host/host_records.h"

#ifdef __cplusplus
extern "C" {
#endif

enum { kSettingsSize = 522, kSettingsTextSize = 256, kSettingsFontNameSize = 256 };

#define kSettingsMagic 0x00FF2BEDu
#define kSettingsVersion 0x0100u

/* Alignment values */
enum { kAlignLeft = 0, kAlignCenter = 1, kAlignRight = 2 };

#pragma pack(push, 1)
typedef struct TextSettings {
    uint32_t magic;
    uint16_t version;
    char text[kSettingsTextSize];                  /* zero-terminated; lines end with CR */
    unsigned char fontName[kSettingsFontNameSize]; /* length-prefixed */
    uint16_t style;                                /* kFace... bits */
    uint16_t alignment;                            /* kAlign... */
} TextSettings;
#pragma pack(pop)

/* Converts the record between stored and native order, in place. Its own
 * inverse; looks at no field. */
void swapSettings(Handle settings);

#ifdef __cplusplus
}
#endif

static_assert(sizeof(TextSettings) == kSettingsSize, "the settings record is 522 bytes on every build");
static_assert(offsetof(TextSettings, version) == 4, "version at 4");
static_assert(offsetof(TextSettings, text) == 6, "text at 6");
static_assert(offsetof(TextSettings, fontName) == 262, "fontName at 262");
static_assert(offsetof(TextSettings, style) == 518, "style at 518");
static_assert(offsetof(TextSettings, alignment) == 520, "alignment at 520");

#endif
