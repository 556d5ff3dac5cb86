#include "module.h"

namespace {

int32_t OptionsCommand(HostInData *in, HostOutData *out, ParamDef **, EffectWorld *)
{
    return RunOptionsDialog(in, out);
}

// Indexed by command code; codes without a handler are answered with 0.
const CommandHandler kDispatch[] = {
    CmdAboutHandler,            // 0
    CmdGlobalSetupHandler,      // 1
    nullptr,                    // 2
    CmdGlobalTeardownHandler,   // 3
    CmdParamSetupHandler,       // 4
    CmdInstanceSetupHandler,    // 5
    CmdInstanceResetupHandler,  // 6
    nullptr,                    // 7
    CmdInstanceTeardownHandler, // 8
    OptionsCommand,             // 9
    nullptr,                    // 10
    CmdRenderHandler,           // 11
};

} // namespace

extern "C" int32_t EffectMain(int32_t command, HostInData *in, HostOutData *out, ParamDef **params, EffectWorld *output)
{
    if (in->sequenceData)
        swapSettings(in->sequenceData);

    int32_t result = 0;
    // Unsigned, so negative codes fall outside the table with the large ones.
    const uint32_t code = static_cast<uint32_t>(command);
    if (code < sizeof kDispatch / sizeof kDispatch[0] && kDispatch[code])
        result = kDispatch[code](in, out, params, output);

    // Keyed on the output record: after setup it names the new record, after
    // a replacing re-setup the replacement, after teardown nothing.
    if (out->sequenceData)
        swapSettings(out->sequenceData);
    return result;
}
