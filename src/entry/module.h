/*
 * Declarations shared across the module: command handlers, module-level
 * values, the string table and the effect's own error codes.
 *
 * Every handler has one shape: (in, out, params, output) -> 32-bit error,
 * 0 for success, which `main` returns unchanged.
 */
#ifndef QUILLOMARK_ENTRY_MODULE_H
#define QUILLOMARK_ENTRY_MODULE_H

#include "settings.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t (*CommandHandler)(HostInData *in, HostOutData *out, ParamDef **params, EffectWorld *output);

/* The effect's own error codes; every other non-zero code is passed through. */
enum {
    kErrNoMemory = -108,       /* no memory for a settings record */
    kErrSettingsDamaged = 512, /* wrong magic in the settings record */
    kErrDialogCancelled = 517, /* options dialog cancelled */
    kErrNoGlobalBlock = 4      /* no memory for the global block */
};

/* Flag words written to HostOutData.outFlags */
enum { kGlobalOutFlags = 0x61, kGlobalSetupFailedFlag = 0x100, kInstanceOutFlags = 128, kErrorMessageFlags = 256 };

#define kEffectVersion 0x00190600
#define kStringTableId 4087
#define kEffectName "Quillomark"

/* String table indexes */
enum {
    kStrAbout = 0,
    kStrSize = 1,
    kStrPosition = 2,
    kStrTextColor = 3,
    kStrComposite = 4,
    kStrNoMemory = 5,
    kStrDamaged = 6,
    kStrNoTextBuffer = 7,
    kStrGeneva = 8,
    kStrChannels = 9,
    kStringCount = 10
};

extern const char *const gStringTable[kStringCount + 1];

/* The module's instance handle, written once at process attach. */
extern void *gModuleHandle;

/* The module entry: stores the handle on attach (reason 1), returns 1. */
int32_t ModuleEntry(void *instance, uint32_t reason, void *reserved);

/* The command entry, exported as `main`. */
int32_t EffectMain(int32_t command, HostInData *in, HostOutData *out, ParamDef **params, EffectWorld *output);

/* The string-table handle kept in the global block. */
StringTableRef GetStringTableRef(const HostInData *in);
/* Whether the host presents a global block (global setup succeeded). */
int32_t HasGlobalBlock(const HostInData *in);
/* A command that needs the string table arrived without the global block:
 * the damaged-structure message, quoted from the table itself, flags 256
 * and 512. */
int32_t ReportNoGlobalBlock(const HostInData *in, HostOutData *out);
/* Copies string-table entry `index` into out->returnMessage. */
void ReportMessage(const HostInData *in, HostOutData *out, StringTableRef table, int32_t index);

/*
 * The command handlers. "Presents" is what the host hands in; "leaves" is
 * what the module writes back; the result is what `main` returns. Every
 * handler other than global setup and about answers a command that arrives
 * without the global block with 512, the damaged-structure message and
 * flags 256 (ReportNoGlobalBlock).
 */

/* About. Presents: the global block, or none. Leaves: the formatted about
 * text in returnMessage. Returns 0. */
int32_t CmdAboutHandler(HostInData *in, HostOutData *out, ParamDef **params, EffectWorld *output);

/* Global setup. Presents: no global block. Leaves: a new global block holding
 * the string table's value in out->globalData, effectVersion and outFlags
 * 0x61. On failure nothing stays open or allocated; 0x100 is added to
 * outFlags with the module's own message, and the host's or library's code
 * (4 for no block) is returned. */
int32_t CmdGlobalSetupHandler(HostInData *in, HostOutData *out, ParamDef **params, EffectWorld *output);

/* Global teardown. Presents: the global block. Leaves: the table closed, the
 * block disposed and out->globalData null. A missing or empty block is left
 * where it was. Returns 0. */
int32_t CmdGlobalTeardownHandler(HostInData *in, HostOutData *out, ParamDef **params, EffectWorld *output);

/* Parameter setup. Presents: the global block. Leaves: Size, Position, Text
 * Color and the check box added through addParam, one reused record, and
 * numParams 5. Returns addParam's first non-zero code, else 0. */
int32_t CmdParamSetupHandler(HostInData *in, HostOutData *out, ParamDef **params, EffectWorld *output);

/* Instance setup. Presents: the global block, no record. Leaves: a blank
 * record in out->sequenceData and outFlags 128. No memory: -108 with entry 5
 * and flags 256. */
int32_t CmdInstanceSetupHandler(HostInData *in, HostOutData *out, ParamDef **params, EffectWorld *output);

/* Instance re-setup. Presents: a stored record (or none). Leaves: the record
 * kept as it is, or a blank one in out->sequenceData in place of none or of
 * a record of an unknown version. An empty handle or a wrong magic: 512 with
 * entry 6 and flags 256, the record left with the host. */
int32_t CmdInstanceResetupHandler(HostInData *in, HostOutData *out, ParamDef **params, EffectWorld *output);

/* Instance teardown. Presents: the record, or none. Leaves: the record
 * disposed and out->sequenceData null. Returns 0. */
int32_t CmdInstanceTeardownHandler(HostInData *in, HostOutData *out, ParamDef **params, EffectWorld *output);

/* The options command. Presents: the record. Leaves: the text, font, style
 * and alignment the user chose written into the record, or every byte as it
 * was on Cancel (517). A damaged record: 512 with entry 6 and flags 256. */
int32_t RunOptionsDialog(HostInData *in, HostOutData *out);

/* Render. Presents: the record, the five parameters (slot 0 the input layer)
 * and the output world. Leaves: every output pixel written (the text over
 * transparent black, or over the input) and every world, offscreen and lock
 * it took released. A damaged record: 512 with entry 6 and flags 256, the
 * output untouched. Host, library and cancel codes are passed back. */
int32_t CmdRenderHandler(HostInData *in, HostOutData *out, ParamDef **params, EffectWorld *output);

#ifdef __cplusplus
}
#endif

#endif
