#include "entry/module.h"

// Rendering is not built yet: the command is answered with 0.
extern "C" int32_t CmdRenderHandler(HostInData *, HostOutData *, ParamDef **, EffectWorld *)
{
    return 0;
}
