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

int32_t CmdAboutHandler(HostInData *in, HostOutData *out, ParamDef **params, EffectWorld *output);
int32_t CmdGlobalSetupHandler(HostInData *in, HostOutData *out, ParamDef **params, EffectWorld *output);
int32_t CmdGlobalTeardownHandler(HostInData *in, HostOutData *out, ParamDef **params, EffectWorld *output);
int32_t CmdParamSetupHandler(HostInData *in, HostOutData *out, ParamDef **params, EffectWorld *output);
int32_t CmdInstanceSetupHandler(HostInData *in, HostOutData *out, ParamDef **params, EffectWorld *output);
int32_t CmdInstanceResetupHandler(HostInData *in, HostOutData *out, ParamDef **params, EffectWorld *output);
int32_t CmdInstanceTeardownHandler(HostInData *in, HostOutData *out, ParamDef **params, EffectWorld *output);
/* The options command: edits the record named by in->sequenceData. */
int32_t RunOptionsDialog(HostInData *in, HostOutData *out);
int32_t CmdRenderHandler(HostInData *in, HostOutData *out, ParamDef **params, EffectWorld *output);

#ifdef __cplusplus
}
#endif

#endif
