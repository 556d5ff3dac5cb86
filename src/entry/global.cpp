#include "module.h"

// The effect's strings, registered with the host at global setup and
// fetched back by index; the end mark lets a host count the entries.
extern "C" const char *const gStringTable[kStringCount + 1] = {
    "Quillomark, v%ld.%ld\r\r"
    "Copyright 2026 Quillomark Ltd\r\r"
    "Performs very basic character generation."
    "                                              ",
    "Size",
    "Position",
    "Text Color",
    "Composite On Original",
    "Not enough memory to execute Quillomark.",
    "Quillomark internal structure damaged.",
    "Quillomark is unable to allocate a text buffer.",
    "Geneva",
    "Affect All Channels|Affect Color Channels Only|Affect Alpha Channel Only",
    reinterpret_cast<const char *>(~static_cast<uintptr_t>(0)),
};

extern "C" StringTableRef GetStringTableRef(const HostInData *in)
{
    return *reinterpret_cast<const StringTableRef *>(*in->globalData);
}

extern "C" int32_t HasGlobalBlock(const HostInData *in)
{
    return in->globalData && *in->globalData;
}

extern "C" int32_t ReportNoGlobalBlock(const HostInData *in, HostOutData *out)
{
    // The table is not registered, so the message cannot come through it.
    in->utils->copyString(out->returnMessage, gStringTable[kStrDamaged]);
    out->outFlags = kErrorMessageFlags;
    return kErrSettingsDamaged;
}

extern "C" void ReportMessage(const HostInData *in, HostOutData *out, StringTableRef table, int32_t index)
{
    in->utils->copyString(out->returnMessage, in->getString(table, index));
}

extern "C" int32_t CmdGlobalSetupHandler(HostInData *in, HostOutData *out, ParamDef **, EffectWorld *)
{
    StringTableRef table = 0;
    int32_t err = in->openStringTable(gStringTable, kStringTableId, kEffectName, 1, &table);
    if (err == 0) {
        Handle block = in->utils->newHandle(sizeof(StringTableRef));
        if (block) {
            *reinterpret_cast<StringTableRef *>(*block) = table;
            out->globalData = block;
        } else {
            err = kErrNoGlobalBlock;
        }
    }
    if (err != 0) {
        if (table != 0) {
            in->closeStringTable(table);
            table = 0;
        }
        out->outFlags |= kGlobalSetupFailedFlag;
        // The table is not open, so this message cannot come from it.
        in->utils->copyString(out->returnMessage, "Quillomark could not be initialized.");
        return err;
    }
    out->effectVersion = kEffectVersion;
    out->outFlags = kGlobalOutFlags;
    return 0;
}

extern "C" int32_t CmdGlobalTeardownHandler(HostInData *in, HostOutData *out, ParamDef **, EffectWorld *)
{
    // Nothing was registered (setup failed or never ran): nothing to undo. A
    // presented block that is empty stays the host's, named where it was.
    if (!HasGlobalBlock(in))
        return 0;
    in->closeStringTable(GetStringTableRef(in));
    *reinterpret_cast<StringTableRef *>(*out->globalData) = 0;
    in->utils->disposeHandle(in->globalData);
    out->globalData = nullptr;
    return 0;
}

extern "C" int32_t CmdAboutHandler(HostInData *in, HostOutData *out, ParamDef **, EffectWorld *)
{
    // Without a registered table the module's own entry serves.
    const char *format = HasGlobalBlock(in) ? in->getString(GetStringTableRef(in), kStrAbout) : gStringTable[kStrAbout];
    // %ld is 32 bits to the host on every build.
    in->utils->formatString(out->returnMessage, format, static_cast<int32_t>(3), static_cast<int32_t>(2));
    return 0;
}
