#include "module.h"
#include "../host/porting.h"

namespace {

// A blank record in native order: magic and version, everything else zero.
Handle NewSettingsRecord()
{
    Handle h = NewHandleClear(kSettingsSize);
    if (h) {
        TextSettings *s = reinterpret_cast<TextSettings *>(*h);
        s->magic = kSettingsMagic;
        s->version = kSettingsVersion;
    }
    return h;
}

int32_t ReportNoMemory(const HostInData *in, HostOutData *out, StringTableRef table)
{
    ReportMessage(in, out, table, kStrNoMemory);
    out->outFlags = kErrorMessageFlags;
    return kErrNoMemory;
}

} // namespace

extern "C" int32_t CmdInstanceSetupHandler(HostInData *in, HostOutData *out, ParamDef **, EffectWorld *)
{
    if (!HasGlobalBlock(in))
        return ReportNoGlobalBlock(in, out);
    const StringTableRef table = GetStringTableRef(in);
    Handle h = NewSettingsRecord();
    if (!h)
        return ReportNoMemory(in, out, table);
    out->outFlags = kInstanceOutFlags;
    out->sequenceData = h;
    return 0;
}

extern "C" int32_t CmdInstanceResetupHandler(HostInData *in, HostOutData *out, ParamDef **params, EffectWorld *output)
{
    // A host that presents no record gets a blank one, as at setup.
    if (!in->sequenceData)
        return CmdInstanceSetupHandler(in, out, params, output);

    if (!HasGlobalBlock(in))
        return ReportNoGlobalBlock(in, out);
    const StringTableRef table = GetStringTableRef(in);
    const TextSettings *s = reinterpret_cast<const TextSettings *>(*in->sequenceData);
    // An empty handle is as unusable as a wrong magic, and stays the host's.
    if (!s || s->magic != kSettingsMagic) {
        ReportMessage(in, out, table, kStrDamaged);
        out->outFlags = kErrorMessageFlags;
        return kErrSettingsDamaged;
    }
    if ((s->version & 0xFF00u) == kSettingsVersion)
        return 0;

    // Right magic but a layout this module does not know: start blank.
    DisposeHandle(in->sequenceData);
    Handle h = NewSettingsRecord();
    if (!h) {
        // The old record is gone; nothing may be converted on exit.
        out->sequenceData = nullptr;
        return ReportNoMemory(in, out, table);
    }
    out->sequenceData = h;
    return 0;
}

extern "C" int32_t CmdInstanceTeardownHandler(HostInData *in, HostOutData *out, ParamDef **, EffectWorld *)
{
    if (in->sequenceData)
        DisposeHandle(in->sequenceData);
    out->sequenceData = nullptr;
    return 0;
}
